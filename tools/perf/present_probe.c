/* Measurement probe, preloaded into vorta by measure.sh (never linked into it): the time from
 * launch to the first presented frame, and heap allocations per frame over a steady stretch,
 * split into those made directly by vorta's own code and those made inside libraries. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <execinfo.h>
#include <link.h>
#include <stdatomic.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

extern void* __libc_malloc(size_t);
extern void* __libc_calloc(size_t, size_t);
extern void* __libc_realloc(void*, size_t);
extern void* __libc_memalign(size_t, size_t);
extern void __libc_free(void*);

enum { skip_frames = 120, window_frames = 600, max_callers = 8 };

static atomic_long frames;         /* presents so far */
static atomic_long counted_frames; /* presents inside the steady stretch */
static atomic_int reported;
static atomic_int counting; /* inside the steady stretch */
static atomic_long allocs_main, allocs_other, allocs_ours;
static uintptr_t exe_lo, exe_hi; /* the main program's mapped range */
static uintptr_t callers[max_callers];
static atomic_int caller_count;
static __thread int busy; /* no accounting inside our own bookkeeping */
static long long launch_ns;
static double first_present_ms = -1;

static void report(void);

static long long now_ns(void) {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

static int find_exe(struct dl_phdr_info* info, size_t size, void* data) {
    (void)size, (void)data;
    /* The first object is the program itself. */
    for (int i = 0; i < info->dlpi_phnum; i++) {
        const ElfW(Phdr)* p = &info->dlpi_phdr[i];
        if (p->p_type != PT_LOAD) continue;
        uintptr_t lo = info->dlpi_addr + p->p_vaddr, hi = lo + p->p_memsz;
        if (!exe_lo || lo < exe_lo) exe_lo = lo;
        if (hi > exe_hi) exe_hi = hi;
    }
    return 1;
}

__attribute__((destructor)) static void probe_exit(void) {
    atomic_store(&counting, 0);
    busy = 1;
    report();
}

__attribute__((constructor)) static void probe_init(void) {
    busy = 1;
    const char* t0 = getenv("VORTA_PROBE_T0");
    launch_ns = t0 ? atoll(t0) : now_ns();
    dl_iterate_phdr(find_exe, NULL);
    void* warm[2];
    backtrace(warm, 2); /* loads the unwinder now, not inside a counted allocation */
    busy = 0;
}

/* Whether an allocation was asked for directly by vorta's own code: the first caller outside
 * the C and C++ runtimes and this probe lies in the main program. */
static void account(void) {
    if (!atomic_load(&counting) || busy) return;
    busy = 1;
    if (syscall(SYS_gettid) == getpid())
        atomic_fetch_add(&allocs_main, 1);
    else
        atomic_fetch_add(&allocs_other, 1);
    void* bt[24];
    int n = backtrace(bt, 24);
    for (int i = 1; i < n; i++) {
        uintptr_t a = (uintptr_t)bt[i];
        if (a >= exe_lo && a < exe_hi) {
            atomic_fetch_add(&allocs_ours, 1);
            int k = atomic_fetch_add(&caller_count, 1);
            if (k < max_callers) callers[k] = a - exe_lo;
            break;
        }
        Dl_info info;
        if (!dladdr(bt[i], &info) || !info.dli_fname) break;
        const char* f = info.dli_fname;
        if (!strstr(f, "libc.so") && !strstr(f, "libstdc++") && !strstr(f, "libgcc_s") &&
            !strstr(f, "present_probe"))
            break; /* a library asked for it */
    }
    busy = 0;
}

void* malloc(size_t n) {
    account();
    return __libc_malloc(n);
}
void* calloc(size_t a, size_t b) {
    account();
    return __libc_calloc(a, b);
}
void* realloc(void* p, size_t n) {
    account();
    return __libc_realloc(p, n);
}
void* memalign(size_t a, size_t n) {
    account();
    return __libc_memalign(a, n);
}
void* aligned_alloc(size_t a, size_t n) {
    account();
    return __libc_memalign(a, n);
}
int posix_memalign(void** out, size_t a, size_t n) {
    account();
    void* p = __libc_memalign(a, n);
    if (!p) return 12; /* ENOMEM */
    *out = p;
    return 0;
}
void free(void* p) {
    __libc_free(p);
}

/* Once: at the end of the stretch, or at exit for a program too slow to reach it. */
static void report(void) {
    if (atomic_exchange(&reported, 1)) return;
    const long n = counted_frames > 0 ? counted_frames : 1;
    const char* path = getenv("VORTA_PROBE_OUT");
    FILE* f = path ? fopen(path, "w") : stderr;
    if (!f) return;
    fprintf(f, "first_present_ms %.1f\n", first_present_ms);
    fprintf(f, "frames %ld\n", (long)counted_frames);
    fprintf(f, "allocs_per_frame_main_thread %.3f\n", (double)allocs_main / n);
    fprintf(f, "allocs_per_frame_other_threads %.3f\n", (double)allocs_other / n);
    fprintf(f, "allocs_per_frame_ours %.3f\n", (double)allocs_ours / n);
    for (int i = 0; i < caller_count && i < max_callers; i++)
        fprintf(f, "ours_caller_offset 0x%lx\n", (unsigned long)callers[i]);
    if (path) fclose(f);
}

/* Every way a frame reaches the screen. */
static void presented(void) {
    long k = atomic_fetch_add(&frames, 1);
    if (k == 0) first_present_ms = (now_ns() - launch_ns) / 1e6;
    if (k == skip_frames) atomic_store(&counting, 1);
    if (k > skip_frames && k <= skip_frames + window_frames) atomic_fetch_add(&counted_frames, 1);
    if (k == skip_frames + window_frames) {
        atomic_store(&counting, 0);
        busy = 1;
        report();
        busy = 0;
    }
}

typedef struct SDL_Window SDL_Window;
typedef struct SDL_Renderer SDL_Renderer;
typedef struct SDL_Rect SDL_Rect;

int SDL_UpdateWindowSurface(SDL_Window* w) {
    static int (*real)(SDL_Window*);
    if (!real) real = (int (*)(SDL_Window*))dlsym(RTLD_NEXT, "SDL_UpdateWindowSurface");
    int rc = real(w);
    presented();
    return rc;
}

int SDL_UpdateWindowSurfaceRects(SDL_Window* w, const SDL_Rect* rects, int n) {
    static int (*real)(SDL_Window*, const SDL_Rect*, int);
    if (!real)
        real = (int (*)(SDL_Window*, const SDL_Rect*, int))dlsym(RTLD_NEXT,
                                                                 "SDL_UpdateWindowSurfaceRects");
    int rc = real(w, rects, n);
    presented();
    return rc;
}

void SDL_RenderPresent(SDL_Renderer* r) {
    static void (*real)(SDL_Renderer*);
    if (!real) real = (void (*)(SDL_Renderer*))dlsym(RTLD_NEXT, "SDL_RenderPresent");
    real(r);
    presented();
}
