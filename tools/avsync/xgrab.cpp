// X shared-memory grabs.
#include "tools/avsync/xgrab.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <pthread.h>
#include <sched.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <chrono>
#include <new>

struct XGrabState {
    Display* display;
    XImage* image;
    XShmSegmentInfo shm;
    int x, y;
};

std::int64_t xgrab_now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int xgrab_prompt_thread() {
    sched_param p{};
    p.sched_priority = 10;
    return pthread_setschedparam(pthread_self(), SCHED_FIFO, &p) == 0;
}

XGrabState* xgrab_open(int x, int y, int w, int h, int* screen_w, int* screen_h) {
    Display* d = XOpenDisplay(nullptr);
    if (!d) return nullptr;
    const int screen = DefaultScreen(d);
    if (screen_w) *screen_w = DisplayWidth(d, screen);
    if (screen_h) *screen_h = DisplayHeight(d, screen);
    if (!XShmQueryExtension(d) || DefaultDepth(d, screen) != 24) {
        XCloseDisplay(d);
        return nullptr;
    }
    auto* g = new (std::nothrow) XGrabState{};
    if (!g) {
        XCloseDisplay(d);
        return nullptr;
    }
    g->display = d;
    g->x = x;
    g->y = y;
    g->image = XShmCreateImage(d, DefaultVisual(d, screen), 24, ZPixmap, nullptr, &g->shm,
                               static_cast<unsigned>(w), static_cast<unsigned>(h));
    if (!g->image || g->image->bits_per_pixel != 32) {
        xgrab_close(g);
        return nullptr;
    }
    g->shm.shmid = shmget(IPC_PRIVATE, static_cast<std::size_t>(g->image->bytes_per_line) * h,
                          IPC_CREAT | 0600);
    g->shm.shmaddr = g->image->data = static_cast<char*>(shmat(g->shm.shmid, nullptr, 0));
    g->shm.readOnly = False;
    // Marked for removal at once: the segment goes when both sides detach, even after a crash.
    const bool attached = g->shm.shmaddr != reinterpret_cast<char*>(-1) && XShmAttach(d, &g->shm);
    XSync(d, False);
    shmctl(g->shm.shmid, IPC_RMID, nullptr);
    if (!attached) {
        g->image->data = nullptr;
        g->shm.shmaddr = nullptr;
        xgrab_close(g);
        return nullptr;
    }
    return g;
}

const std::uint32_t* xgrab_take(XGrabState* g, int* stride, std::int64_t* mid_ns) {
    const std::int64_t before = xgrab_now_ns();
    const bool ok =
        XShmGetImage(g->display, DefaultRootWindow(g->display), g->image, g->x, g->y, AllPlanes);
    *mid_ns = before + (xgrab_now_ns() - before) / 2;
    if (!ok) return nullptr;
    *stride = g->image->bytes_per_line / 4;
    return reinterpret_cast<const std::uint32_t*>(g->image->data);
}

void xgrab_close(XGrabState* g) {
    if (!g) return;
    if (g->shm.shmaddr) {
        XShmDetach(g->display, &g->shm);
        XSync(g->display, False);
        shmdt(g->shm.shmaddr);
        g->image->data = nullptr;
    }
    if (g->image) XDestroyImage(g->image);
    XCloseDisplay(g->display);
    delete g;
}
