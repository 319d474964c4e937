// A fake "ddraw.dll": one DirectDraw object and a flipping chain in plain memory, refusing what its
// test tells it to and writing down every call, so that the display layer can be driven through
// the failures a real display gives without one.
#define FAKE_DDRAW_BUILD
#include "tests/display/ddraw/fake_ddraw.h"

#include <windows.h>
// After windows.h, which it needs.
#include <ddraw.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr int max_pitch = 4096;
constexpr int max_rows = 480;
constexpr std::uint8_t untouched = 0xCD;  // fill of the back buffer before a test draws

struct FakeSurface;

static struct {
    FakeDDrawConfig config;
    std::string log;
    int live;  // objects created and not yet released to zero
    int mode_width, mode_height, mode_bits;
    int locks_failed;
    HWND window;
    std::uint8_t memory[max_pitch * max_rows];
} fake;

void note(const char* format, ...) __attribute__((format(printf, 1, 2)));
void note(const char* format, ...) {
    char line[160];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    fake.log += line;
    fake.log += '\n';
}

HRESULT refused(const char* what) {
    note("%s -> refused", what);
    return DDERR_UNSUPPORTED;
}

int pitch() {
    return fake.config.pitch ? fake.config.pitch : 2048;
}

// A surface of the chain: the primary or its back buffer. Methods the display layer has no
// business calling report themselves and fail.
struct FakeSurface : IDirectDrawSurface {
    const char* name;
    ULONG refs;
    explicit FakeSurface(const char* n) : name(n), refs(0) {}

    HRESULT unexpected(const char* method) {
        note("%s.%s -> not implemented", name, method);
        return E_NOTIMPL;
    }
    STDMETHOD(QueryInterface)(REFIID, void**) override { return unexpected("QueryInterface"); }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs; }
    STDMETHOD_(ULONG, Release)() override {
        note("%s.Release", name);
        if (refs == 0) return 0;
        if (--refs == 0) fake.live--;
        return refs;
    }
    STDMETHOD(AddAttachedSurface)(LPDIRECTDRAWSURFACE) override {
        return unexpected("AddAttachedSurface");
    }
    STDMETHOD(AddOverlayDirtyRect)(LPRECT) override { return unexpected("AddOverlayDirtyRect"); }
    STDMETHOD(Blt)(LPRECT, LPDIRECTDRAWSURFACE, LPRECT, DWORD, LPDDBLTFX) override {
        return unexpected("Blt");
    }
    STDMETHOD(BltBatch)(LPDDBLTBATCH, DWORD, DWORD) override { return unexpected("BltBatch"); }
    STDMETHOD(BltFast)(DWORD, DWORD, LPDIRECTDRAWSURFACE, LPRECT, DWORD) override {
        return unexpected("BltFast");
    }
    STDMETHOD(DeleteAttachedSurface)(DWORD, LPDIRECTDRAWSURFACE) override {
        return unexpected("DeleteAttachedSurface");
    }
    STDMETHOD(EnumAttachedSurfaces)(LPVOID, LPDDENUMSURFACESCALLBACK) override {
        return unexpected("EnumAttachedSurfaces");
    }
    STDMETHOD(EnumOverlayZOrders)(DWORD, LPVOID, LPDDENUMSURFACESCALLBACK) override {
        return unexpected("EnumOverlayZOrders");
    }
    STDMETHOD(Flip)(LPDIRECTDRAWSURFACE target, DWORD flags) override;
    STDMETHOD(GetAttachedSurface)(LPDDSCAPS caps, LPDIRECTDRAWSURFACE* out) override;
    STDMETHOD(GetBltStatus)(DWORD) override { return unexpected("GetBltStatus"); }
    STDMETHOD(GetCaps)(LPDDSCAPS) override { return unexpected("GetCaps"); }
    STDMETHOD(GetClipper)(LPDIRECTDRAWCLIPPER*) override { return unexpected("GetClipper"); }
    STDMETHOD(GetColorKey)(DWORD, LPDDCOLORKEY) override { return unexpected("GetColorKey"); }
    STDMETHOD(GetDC)(HDC*) override { return unexpected("GetDC"); }
    STDMETHOD(GetFlipStatus)(DWORD) override { return unexpected("GetFlipStatus"); }
    STDMETHOD(GetOverlayPosition)(LPLONG, LPLONG) override {
        return unexpected("GetOverlayPosition");
    }
    STDMETHOD(GetPalette)(LPDIRECTDRAWPALETTE*) override { return unexpected("GetPalette"); }
    STDMETHOD(GetPixelFormat)(LPDDPIXELFORMAT format) override;
    STDMETHOD(GetSurfaceDesc)(LPDDSURFACEDESC) override { return unexpected("GetSurfaceDesc"); }
    STDMETHOD(Initialize)(LPDIRECTDRAW, LPDDSURFACEDESC) override {
        return unexpected("Initialize");
    }
    STDMETHOD(IsLost)() override { return unexpected("IsLost"); }
    STDMETHOD(Lock)(LPRECT rect, LPDDSURFACEDESC desc, DWORD flags, HANDLE event) override;
    STDMETHOD(ReleaseDC)(HDC) override { return unexpected("ReleaseDC"); }
    STDMETHOD(Restore)() override {
        note("%s.Restore", name);
        return DD_OK;
    }
    STDMETHOD(SetClipper)(LPDIRECTDRAWCLIPPER) override { return unexpected("SetClipper"); }
    STDMETHOD(SetColorKey)(DWORD, LPDDCOLORKEY) override { return unexpected("SetColorKey"); }
    STDMETHOD(SetOverlayPosition)(LONG, LONG) override { return unexpected("SetOverlayPosition"); }
    STDMETHOD(SetPalette)(LPDIRECTDRAWPALETTE) override { return unexpected("SetPalette"); }
    STDMETHOD(Unlock)(LPVOID address) override {
        note("%s.Unlock %s", name, address == fake.memory ? "locked address" : "other address");
        return DD_OK;
    }
    STDMETHOD(UpdateOverlay)(LPRECT, LPDIRECTDRAWSURFACE, LPRECT, DWORD, LPDDOVERLAYFX) override {
        return unexpected("UpdateOverlay");
    }
    STDMETHOD(UpdateOverlayDisplay)(DWORD) override { return unexpected("UpdateOverlayDisplay"); }
    STDMETHOD(UpdateOverlayZOrder)(DWORD, LPDIRECTDRAWSURFACE) override {
        return unexpected("UpdateOverlayZOrder");
    }
};

FakeSurface primary("primary");
FakeSurface back("back");
int chain_back_buffers;  // back buffers of the chain created: 0 for a lone primary

HRESULT FakeSurface::Flip(LPDIRECTDRAWSURFACE target, DWORD flags) {
    note("%s.Flip target=%s flags=0x%lx", name, target ? "given" : "none", flags);
    return DD_OK;
}

HRESULT FakeSurface::GetAttachedSurface(LPDDSCAPS caps, LPDIRECTDRAWSURFACE* out) {
    char what[80];
    std::snprintf(what, sizeof what, "%s.GetAttachedSurface caps=0x%lx", name, caps->dwCaps);
    if (this != &primary || chain_back_buffers == 0) return refused(what);
    note("%s", what);
    back.refs = 1;  // an attached surface is owned by its chain
    *out = &back;
    return DD_OK;
}

HRESULT FakeSurface::GetPixelFormat(LPDDPIXELFORMAT format) {
    note("%s.GetPixelFormat size=%s", name, format->dwSize == sizeof *format ? "ok" : "wrong");
    const FakeDDrawConfig& c = fake.config;
    format->dwFlags = DDPF_RGB;
    format->dwRGBBitCount = fake.mode_bits;
    format->dwRBitMask = fake.mode_bits == 16 ? 0xF800 : 0xFF0000;
    format->dwGBitMask = fake.mode_bits == 16 ? 0x7E0 : 0xFF00;
    format->dwBBitMask = fake.mode_bits == 16 ? 0x1F : 0xFF;
    if (c.override_format) {
        format->dwFlags = c.format_flags;
        format->dwRGBBitCount = c.format_bits;
        format->dwRBitMask = c.format_masks[0];
        format->dwGBitMask = c.format_masks[1];
        format->dwBBitMask = c.format_masks[2];
    }
    return DD_OK;
}

HRESULT FakeSurface::Lock(LPRECT rect, LPDDSURFACEDESC desc, DWORD flags, HANDLE event) {
    char what[120];
    std::snprintf(what, sizeof what, "%s.Lock rect=%s size=%s flags=0x%lx event=%s", name,
                  rect ? "given" : "none", desc->dwSize == sizeof *desc ? "ok" : "wrong", flags,
                  event ? "given" : "none");
    if (fake.locks_failed < fake.config.failed_locks) {
        fake.locks_failed++;
        return refused(what);
    }
    note("%s", what);
    desc->lpSurface = fake.memory;
    desc->lPitch = pitch();
    desc->dwWidth = fake.mode_width;
    desc->dwHeight = fake.mode_height;
    return DD_OK;
}

struct FakeDraw : IDirectDraw {
    ULONG refs = 0;

    HRESULT unexpected(const char* method) {
        note("ddraw.%s -> not implemented", method);
        return E_NOTIMPL;
    }
    STDMETHOD(QueryInterface)(REFIID, void**) override { return unexpected("QueryInterface"); }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs; }
    STDMETHOD_(ULONG, Release)() override {
        note("ddraw.Release");
        if (refs == 0) return 0;
        if (--refs == 0) fake.live--;
        return refs;
    }
    STDMETHOD(Compact)() override { return unexpected("Compact"); }
    STDMETHOD(CreateClipper)(DWORD, LPDIRECTDRAWCLIPPER*, IUnknown*) override {
        return unexpected("CreateClipper");
    }
    STDMETHOD(CreatePalette)(DWORD, LPPALETTEENTRY, LPDIRECTDRAWPALETTE*, IUnknown*) override {
        return unexpected("CreatePalette");
    }
    STDMETHOD(CreateSurface)
    (LPDDSURFACEDESC desc, LPDIRECTDRAWSURFACE* out, IUnknown* outer) override;
    STDMETHOD(DuplicateSurface)(LPDIRECTDRAWSURFACE, LPDIRECTDRAWSURFACE*) override {
        return unexpected("DuplicateSurface");
    }
    STDMETHOD(EnumDisplayModes)(DWORD, LPDDSURFACEDESC, LPVOID, LPDDENUMMODESCALLBACK) override {
        return unexpected("EnumDisplayModes");
    }
    STDMETHOD(EnumSurfaces)(DWORD, LPDDSURFACEDESC, LPVOID, LPDDENUMSURFACESCALLBACK) override {
        return unexpected("EnumSurfaces");
    }
    STDMETHOD(FlipToGDISurface)() override { return unexpected("FlipToGDISurface"); }
    STDMETHOD(GetCaps)(LPDDCAPS, LPDDCAPS) override { return unexpected("GetCaps"); }
    STDMETHOD(GetDisplayMode)(LPDDSURFACEDESC) override { return unexpected("GetDisplayMode"); }
    STDMETHOD(GetFourCCCodes)(LPDWORD, LPDWORD) override { return unexpected("GetFourCCCodes"); }
    STDMETHOD(GetGDISurface)(LPDIRECTDRAWSURFACE*) override { return unexpected("GetGDISurface"); }
    STDMETHOD(GetMonitorFrequency)(LPDWORD) override { return unexpected("GetMonitorFrequency"); }
    STDMETHOD(GetScanLine)(LPDWORD) override { return unexpected("GetScanLine"); }
    STDMETHOD(GetVerticalBlankStatus)(WINBOOL*) override {
        return unexpected("GetVerticalBlankStatus");
    }
    STDMETHOD(Initialize)(GUID*) override { return unexpected("Initialize"); }
    STDMETHOD(RestoreDisplayMode)() override {
        note("ddraw.RestoreDisplayMode");
        fake.mode_bits = 0;
        return DD_OK;
    }
    STDMETHOD(SetCooperativeLevel)(HWND window, DWORD flags) override {
        char what[80];
        std::snprintf(what, sizeof what, "ddraw.SetCooperativeLevel window=%s flags=0x%lx",
                      window ? "given" : "none", flags);
        if (flags != DDSCL_NORMAL && fake.config.refuse_cooperative) return refused(what);
        note("%s", what);
        if (flags != DDSCL_NORMAL) fake.window = window;
        return DD_OK;
    }
    STDMETHOD(SetDisplayMode)(DWORD width, DWORD height, DWORD bits) override {
        char what[80];
        std::snprintf(what, sizeof what, "ddraw.SetDisplayMode %lux%lux%lu", width, height, bits);
        for (int r : fake.config.refused_bits) {
            if (r != 0 && static_cast<DWORD>(r) == bits) return refused(what);
        }
        note("%s", what);
        fake.mode_width = static_cast<int>(width);
        fake.mode_height = static_cast<int>(height);
        fake.mode_bits = static_cast<int>(bits);
        return DD_OK;
    }
    STDMETHOD(WaitForVerticalBlank)(DWORD, HANDLE) override {
        return unexpected("WaitForVerticalBlank");
    }
};

FakeDraw draw;

HRESULT FakeDraw::CreateSurface(LPDDSURFACEDESC desc, LPDIRECTDRAWSURFACE* out, IUnknown* outer) {
    char what[160];
    std::snprintf(what, sizeof what,
                  "ddraw.CreateSurface size=%s flags=0x%lx caps=0x%lx back=%lu outer=%s",
                  desc->dwSize == sizeof *desc ? "ok" : "wrong", desc->dwFlags,
                  desc->ddsCaps.dwCaps, desc->dwBackBufferCount, outer ? "given" : "none");
    const FakeDDrawConfig& c = fake.config;
    const int max_back = c.max_back_buffers == 0 ? 2 : c.max_back_buffers;
    const int wanted = (desc->dwFlags & DDSD_BACKBUFFERCOUNT) ? int(desc->dwBackBufferCount) : 0;
    // A lone primary (no back buffers asked for) is always there to be had.
    if (c.refuse_every_surface || (wanted > 0 && wanted > max_back)) return refused(what);
    note("%s", what);
    chain_back_buffers = wanted;
    primary.refs = 1;
    fake.live++;
    *out = &primary;
    return DD_OK;
}

}  // namespace

extern "C" __declspec(dllexport) HRESULT WINAPI
    DirectDrawCreate(GUID* guid, LPDIRECTDRAW* out, IUnknown* outer) {
    char what[80];
    std::snprintf(what, sizeof what, "DirectDrawCreate guid=%s outer=%s", guid ? "given" : "none",
                  outer ? "given" : "none");
    if (fake.config.refuse_create) return refused(what);
    note("%s", what);
    draw.refs = 1;
    fake.live++;
    *out = &draw;
    return DD_OK;
}

FAKE_DDRAW_API void fake_ddraw_reset(const FakeDDrawConfig* config) {
    fake.config = *config;
    fake.log.clear();
    fake.live = 0;
    fake.mode_width = fake.mode_height = fake.mode_bits = 0;
    fake.locks_failed = 0;
    fake.window = nullptr;
    draw.refs = primary.refs = back.refs = 0;
    chain_back_buffers = 0;
    std::memset(fake.memory, untouched, sizeof fake.memory);
}

FAKE_DDRAW_API const char* fake_ddraw_log() {
    return fake.log.c_str();
}
FAKE_DDRAW_API const std::uint8_t* fake_ddraw_back_buffer() {
    return fake.memory;
}
FAKE_DDRAW_API int fake_ddraw_mode_bits() {
    return fake.mode_bits;
}
FAKE_DDRAW_API int fake_ddraw_live_objects() {
    return fake.live;
}
FAKE_DDRAW_API void* fake_ddraw_window() {
    return fake.window;
}
