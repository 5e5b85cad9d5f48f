// The back buffer, its presentation through an SDL renderer (in a window of ours or in a
// desktop-sized full-screen window), and frame pacing.
#include "media/screen.h"

#ifdef __linux__
#include <sys/prctl.h>
#endif
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "media/draw_target.h"
#include "media/events_internal.h"
#include "media/mouse.h"

// Last: it brings Xlib's macros (None, Bool, Status), which nothing above may meet.
#include <SDL_syswm.h>

namespace {

constexpr int64_t SCREEN_COUNTER_FREQUENCY = 1000000000;  // pacing counter ticks per second
// The pacing wait sleeps until a margin before the deadline and spins the rest: the sleep
// keeps a puzzle game from burning a core, the spin keeps the deadline to the microsecond. The
// margin tracks the 95th percentile of how late the sleeps end: a sleep that ends later than
// the margin raises it by SCREEN_SPIN_STEP_UP, one on time lowers it by SCREEN_SPIN_STEP_DOWN
// (19 to 1: one frame in twenty may overrun it). On an idle machine a sleep ends some 40 us
// late, so the spin costs well under 1 % of a core; a busy machine's rare long stalls, which no
// spin could hide, cannot make it spin for long.
constexpr int64_t SCREEN_SPIN_START_TICKS = 100000;
constexpr int64_t SCREEN_SPIN_MIN_TICKS = 20000;
constexpr int64_t SCREEN_SPIN_MAX_TICKS = 2000000;
constexpr int64_t SCREEN_SPIN_STEP_UP = 19000;
constexpr int64_t SCREEN_SPIN_STEP_DOWN = 1000;
constexpr int32_t SCREEN_MAX_SIDE = 8192;  // larger back buffers are refused

struct ScreenState {
  int32_t initialised = 0;  // screen_system_init succeeded (and holds SDL's video)
  int32_t open = 0;         // a screen is open
  int32_t windowed = 0;     // it shows in a window of ours (0: full screen)
  uint32_t taken = 0;       // serial of the last frame's record taken
  int32_t width = 0;        // back-buffer size in pixels
  int32_t height = 0;
  std::vector<uint32_t> back_buffer;  // the picture being drawn: rows of 0x00BBGGRR
  SDL_Window* window = nullptr;       // the window the screen shows in
  SDL_Window* full_window = nullptr;  // our own full-screen window; null while windowed
  SDL_Renderer* renderer = nullptr;   // presents into window
  SDL_Texture* texture = nullptr;     // the back buffer's copy on the render device
  int32_t swap_red_blue = 0;          // the texture is 0x00RRGGBB: bytes swapped on upload
  int32_t software = 0;               // the renderer draws into the window's surface
  int32_t texture_lost = 0;           // the device dropped its textures; re-create first
  int32_t vsync = 0;                  // the renderer waits for the vertical blank
  SDL_Rect area = {0, 0, 0, 0};       // windowed: the screen's place in the window
  int32_t auto_stretch = 0;           // windowed: area follows the window's size less margins
  int32_t fit_window = 0;             // windowed: the picture fills the window at a whole scale
  int32_t right_margin = 0;
  int32_t bottom_margin = 0;
  int32_t frame_rate = 0;       // frames per second requested; 0 = unpaced
  int32_t frame_period = 0;     // counter ticks between paced frames
  int64_t last_flip_count = 0;  // counter at the end of the last pacing wait
  int64_t spin_ticks =
      SCREEN_SPIN_START_TICKS;             // the pacing sleep ends this long before the deadline
  int32_t display_refresh_rate = 0;        // windowed: the desktop's; full screen: 0 (default)
  int32_t recoveries = 0;                  // textures re-created after the device lost them
  int64_t (*now)() = nullptr;              // pacing clock; null = the monotonic clock
  void (*sleep_until)(int64_t) = nullptr;  // pacing sleep; null = a real sleep
};

ScreenState SCREEN;

int64_t monotonic_now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * SCREEN_COUNTER_FREQUENCY + ts.tv_nsec;
}

void monotonic_sleep_until(int64_t when) {
  timespec ts;
  ts.tv_sec = static_cast<time_t>(when / SCREEN_COUNTER_FREQUENCY);
  ts.tv_nsec = static_cast<long>(when % SCREEN_COUNTER_FREQUENCY);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
  }
}

int64_t counter_now() { return SCREEN.now ? SCREEN.now() : monotonic_now(); }

// Moves the spin margin after a sleep that ended `late` ticks after its wake time.
void adapt_spin(int64_t late) {
  const int64_t step = late > SCREEN.spin_ticks ? SCREEN_SPIN_STEP_UP : -SCREEN_SPIN_STEP_DOWN;
  SCREEN.spin_ticks =
      std::clamp(SCREEN.spin_ticks + step, SCREEN_SPIN_MIN_TICKS, SCREEN_SPIN_MAX_TICKS);
}

// Waits until more than one period has passed since the end of the previous wait. A frame
// that is already late does not wait, and the next period counts from its end: late frames
// are never made up by shorter ones.
void pacing_wait() {
  const int64_t period = SCREEN.frame_period;
  int64_t now = counter_now();
  if (now - SCREEN.last_flip_count <= period) {
    const int64_t wake = SCREEN.last_flip_count + period - SCREEN.spin_ticks;
    if (now < wake) {
      if (SCREEN.sleep_until) {
        SCREEN.sleep_until(wake);
      } else {
        monotonic_sleep_until(wake);
      }
      adapt_spin(counter_now() - wake);
    }
    do {
      now = counter_now();
    } while (now - SCREEN.last_flip_count <= period);
  }
  SCREEN.last_flip_count = now;
}

// Whether renderer draws with OpenGL emulated on the processor (Mesa's llvmpipe, softpipe or
// swrast, as on a machine without graphics drivers or under Xvfb). That is no acceleration:
// it costs several times SDL's own software renderer for our one unscaled copy.
bool on_emulated_gl(SDL_Renderer* renderer) {
  SDL_RendererInfo info;
  if (SDL_GetRendererInfo(renderer, &info) != 0 || std::strncmp(info.name, "opengl", 6) != 0) {
    return false;
  }
  using GetString = const unsigned char* (*)(unsigned int);
  constexpr unsigned int GL_RENDERER_NAME = 0x1F01;
  const auto get_string = reinterpret_cast<GetString>(SDL_GL_GetProcAddress("glGetString"));
  const auto* name =
      get_string ? reinterpret_cast<const char*>(get_string(GL_RENDERER_NAME)) : nullptr;
  return name && (std::strstr(name, "llvmpipe") || std::strstr(name, "softpipe") ||
                  std::strstr(name, "swrast"));
}

// Whether an accelerated renderer is worth trying in window. On X11 only a server that
// offers direct rendering to a graphics processor can give one: DRI3 or DRI2 (the open
// drivers, XWayland on a GPU) or NV-GLX (NVIDIA's own). Without any (Xvfb, a VNC server, a
// plain framebuffer) OpenGL would be emulated, and merely trying it loads the emulation with
// LLVM and its threads, some 70 MB, and re-creates the window: 100 ms more before the window
// shows. Other drivers, and a renderer asked for by name, are tried as they come.
bool may_accelerate(SDL_Window* window) {
  if (SDL_GetHint(SDL_HINT_RENDER_DRIVER)) return true;
#if defined(SDL_VIDEO_DRIVER_X11)
  SDL_SysWMinfo wm;
  SDL_VERSION(&wm.version);
  if (!SDL_GetWindowWMInfo(window, &wm) || wm.subsystem != SDL_SYSWM_X11) return true;
  // SDL already holds the X library; asking it for the call spares us linking against it.
  void* xlib = SDL_LoadObject("libX11.so.6");
  const auto query =
      xlib ? reinterpret_cast<decltype(&XQueryExtension)>(SDL_LoadFunction(xlib, "XQueryExtension"))
           : nullptr;
  bool direct = !query;  // cannot ask: try, as before
  for (const char* extension : {"DRI3", "DRI2", "NV-GLX"}) {
    int opcode = 0, event = 0, error = 0;
    if (query && query(wm.info.x11.display, extension, &opcode, &event, &error)) direct = true;
  }
  if (xlib) SDL_UnloadObject(xlib);
  return direct;
#elif defined(__EMSCRIPTEN__)
  // A browser's accelerated renderer is WebGL, which would take the canvas from the 2D
  // context the page and its tests read the picture back from, and whose present SDL paces by
  // sleeping when it has no vertical blank of its own. The software renderer draws straight
  // into the canvas's image, unscaled; the browser scales the canvas.
  (void)window;
  return false;
#else
  (void)window;
  return true;
#endif
}

SDL_Renderer* make_renderer(SDL_Window* window, int32_t* vsync) {
  SDL_Renderer* renderer = nullptr;
  if (may_accelerate(window)) {
    renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_ACCELERATED | SDL_RENDERER_PRESENTVSYNC);
  }
  if (renderer && on_emulated_gl(renderer)) {
    SDL_DestroyRenderer(renderer);
    renderer = nullptr;
  }
  if (!renderer) renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE);
  // Some drivers (Wayland) have no surface of their own for the software renderer to blit
  // into; there emulated OpenGL is slow but the only picture there is.
  if (!renderer) renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_ACCELERATED);
  if (!renderer) return nullptr;
  SDL_RendererInfo info;
  *vsync = SDL_GetRendererInfo(renderer, &info) == 0 && (info.flags & SDL_RENDERER_PRESENTVSYNC);
  return renderer;
}

SDL_Texture* make_texture() {
  // XBGR8888 is our own packing, 0x00BBGGRR in a 32-bit word, and uploads as it is. The
  // software renderer blits into a window surface that is nearly always 0x00RRGGBB, and its
  // converting blit costs three times a plain one: there the texture takes the window's
  // order and the upload swaps red and blue.
  SDL_RendererInfo info;
  const bool software =
      SDL_GetRendererInfo(SCREEN.renderer, &info) == 0 && (info.flags & SDL_RENDERER_SOFTWARE);
  SCREEN.software = software;
  const Uint32 window_format = SDL_GetWindowPixelFormat(SCREEN.window);
  SCREEN.swap_red_blue = software && (window_format == SDL_PIXELFORMAT_XRGB8888 ||
                                      window_format == SDL_PIXELFORMAT_ARGB8888);
  SDL_Texture* texture = SDL_CreateTexture(
      SCREEN.renderer, SCREEN.swap_red_blue ? SDL_PIXELFORMAT_XRGB8888 : SDL_PIXELFORMAT_XBGR8888,
      SDL_TEXTUREACCESS_STREAMING, SCREEN.width, SCREEN.height);
  if (texture) SDL_SetTextureScaleMode(texture, SDL_ScaleModeNearest);
  return texture;
}

// Copies count pixels from 0x00BBGGRR to 0x00RRGGBB. The compiler leaves the plain loop
// scalar, and it was a sixth of a frame's processor time: four pixels go at once here, in
// whatever vector registers the target has.
void swap_red_blue(const uint32_t* from, uint32_t* to, int count) {
  using Pixels4 = uint32_t __attribute__((vector_size(16)));
  int x = 0;
  for (; x + 4 <= count; x += 4) {
    Pixels4 p;
    std::memcpy(&p, from + x, sizeof p);  // rows need not be 16-byte aligned
    p = (p & 0x0000FF00u) | ((p >> 16) & 0x000000FFu) | ((p & 0x000000FFu) << 16);
    std::memcpy(to + x, &p, sizeof p);
  }
  for (; x < count; ++x) {
    const uint32_t p = from[x];
    to[x] = (p & 0x0000FF00u) | ((p >> 16) & 0x000000FFu) | ((p & 0x000000FFu) << 16);
  }
}

// Copies the back buffer into the texture; 0 when the device refused it.
int32_t upload() {
  const int pitch = SCREEN.width * static_cast<int>(sizeof(uint32_t));
  if (!SCREEN.swap_red_blue) {
    return SDL_UpdateTexture(SCREEN.texture, nullptr, SCREEN.back_buffer.data(), pitch) == 0;
  }
  void* pixels = nullptr;
  int texture_pitch = 0;
  if (SDL_LockTexture(SCREEN.texture, nullptr, &pixels, &texture_pitch) != 0) return 0;
  for (int y = 0; y < SCREEN.height; ++y) {
    const uint32_t* from = SCREEN.back_buffer.data() + static_cast<size_t>(y) * SCREEN.width;
    uint32_t* to = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(pixels) +
                                               static_cast<size_t>(y) * texture_pitch);
    swap_red_blue(from, to, SCREEN.width);
  }
  SDL_UnlockTexture(SCREEN.texture);
  return 1;
}

// Re-creates the texture after the device lost it; when even that fails the renderer itself
// is made anew. 1 when a texture is ready.
int32_t recover_texture() {
  if (SCREEN.texture) SDL_DestroyTexture(SCREEN.texture);
  SCREEN.texture = make_texture();
  if (!SCREEN.texture) {
    SDL_DestroyRenderer(SCREEN.renderer);
    SCREEN.renderer = make_renderer(SCREEN.window, &SCREEN.vsync);
    if (SCREEN.renderer) SCREEN.texture = make_texture();
  }
  if (!SCREEN.texture) return 0;
  SCREEN.texture_lost = 0;
  ++SCREEN.recoveries;
  return 1;
}

// The largest picture with the back buffer's shape that fits out_w x out_h, centred (see
// screen_fit).
SDL_Rect fitted(int out_w, int out_h, bool whole_scale) {
  const ScreenFit fit = screen_fit(SCREEN.width, SCREEN.height, out_w, out_h, whole_scale ? 1 : 0);
  return SDL_Rect{fit.x, fit.y, fit.width, fit.height};
}

// Where the picture goes in the renderer's output, in output pixels.
SDL_Rect destination() {
  int out_w = 0, out_h = 0;
  SDL_GetRendererOutputSize(SCREEN.renderer, &out_w, &out_h);
  // Full screen, whole pixels are not needed: the desktop's size is not the player's choice.
  if (!SCREEN.windowed) return fitted(out_w, out_h, false);
  if (SCREEN.fit_window) return fitted(out_w, out_h, true);
  int win_w = 0, win_h = 0;
  SDL_GetWindowSize(SCREEN.window, &win_w, &win_h);
  SDL_Rect area = SCREEN.area;
  if (SCREEN.auto_stretch) {
    area.w = win_w - area.x - SCREEN.right_margin;
    area.h = win_h - area.y - SCREEN.bottom_margin;
  }
  // On a high-density display the output has more pixels than the window has points.
  if (win_w > 0 && win_h > 0 && (out_w != win_w || out_h != win_h)) {
    area.x = area.x * out_w / win_w;
    area.w = area.w * out_w / win_w;
    area.y = area.y * out_h / win_h;
    area.h = area.h * out_h / win_h;
  }
  return area;
}

// Where the picture is inside the window, in window pixels: the output may have more pixels
// than the window has points (a high-density display).
SDL_Rect view_in_window() {
  SDL_Rect view = destination();
  int out_w = 0, out_h = 0, win_w = 0, win_h = 0;
  SDL_GetRendererOutputSize(SCREEN.renderer, &out_w, &out_h);
  SDL_GetWindowSize(SCREEN.window, &win_w, &win_h);
  if (out_w > 0 && out_h > 0 && win_w > 0 && win_h > 0 && (out_w != win_w || out_h != win_h)) {
    view = SDL_Rect{view.x * win_w / out_w, view.y * win_h / out_h, view.w * win_w / out_w,
                    view.h * win_h / out_h};
  }
  return view;
}

// Takes the frame's record once: a lost render device means a new texture before the next
// present, a resized window a new place for the picture, and a focus loss goes to the mouse at
// once, so that the pointer is free even in a frame that reads no input.
void take_frame() {
  const EventsFrame& frame = events_frame();
  if (SCREEN.taken == frame.serial) return;
  SCREEN.taken = frame.serial;
  if (!SCREEN.open) return;
  if (frame.render_reset) SCREEN.texture_lost = 1;
  if (frame.screen_resized) {
    const SDL_Rect view = view_in_window();
    events_publish_view(view.x, view.y, view.w, view.h);
  }
  if (frame.screen_focus_lost) mouse_take_frame();
}

// The software renderer shows a frame by copying the texture into the window's surface. When
// the picture is shown unscaled (the usual window) the red/blue swap can write into that
// surface itself, and the frame costs one full-screen copy fewer: about a tenth of the
// game's processor time. 1 = shown, 0 = the device failed, -1 = the picture needs the renderer.
int32_t present_direct(const SDL_Rect& dst, bool covers) {
  if (!SCREEN.software || dst.w != SCREEN.width || dst.h != SCREEN.height) return -1;
  SDL_Surface* surface = SDL_GetWindowSurface(SCREEN.window);
  if (!surface || surface->format->format != SDL_PIXELFORMAT_XRGB8888) return -1;
  if (!covers && SDL_FillRect(surface, nullptr, 0) != 0) return 0;
  // The window may be smaller than the picture or place it partly outside; only the part
  // inside the surface is written.
  const SDL_Rect whole{0, 0, surface->w, surface->h};
  SDL_Rect shown;
  if (SDL_IntersectRect(&dst, &whole, &shown)) {
    if (SDL_MUSTLOCK(surface) && SDL_LockSurface(surface) != 0) return 0;
    for (int y = shown.y; y < shown.y + shown.h; ++y) {
      const uint32_t* from = SCREEN.back_buffer.data() +
                             static_cast<size_t>(y - dst.y) * SCREEN.width + (shown.x - dst.x);
      uint32_t* to = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(surface->pixels) +
                                                 static_cast<size_t>(y) * surface->pitch) +
                     shown.x;
      swap_red_blue(from, to, shown.w);
    }
    if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
  }
  return SDL_UpdateWindowSurface(SCREEN.window) == 0;
}

// Shows the back buffer; 0 when the device cannot take it (the texture will be re-made).
int32_t present() {
  if (SCREEN.texture_lost || !SCREEN.texture) {
    if (!recover_texture()) return 0;
  }
  const SDL_Rect dst = destination();
  int out_w = 0, out_h = 0;
  SDL_GetRendererOutputSize(SCREEN.renderer, &out_w, &out_h);
  // Black bars only where the picture leaves some of the output uncovered.
  const bool covers = dst.x <= 0 && dst.y <= 0 && dst.x + dst.w >= out_w && dst.y + dst.h >= out_h;
  const int32_t direct = present_direct(dst, covers);
  if (direct >= 0) {
    if (!direct) SCREEN.texture_lost = 1;
    return direct;
  }
  if (!upload() ||
      (!covers && (SDL_SetRenderDrawColor(SCREEN.renderer, 0, 0, 0, 255) != 0 ||
                   SDL_RenderClear(SCREEN.renderer) != 0)) ||
      (dst.w > 0 && dst.h > 0 && SDL_RenderCopy(SCREEN.renderer, SCREEN.texture, nullptr, &dst))) {
    SCREEN.texture_lost = 1;
    return 0;
  }
  SDL_RenderPresent(SCREEN.renderer);
  return 1;
}

// Renderer, texture and a black back buffer for a screen of width x height shown in window.
int32_t open_on(SDL_Window* window, int32_t width, int32_t height) {
  SCREEN.window = window;
  SCREEN.width = width;
  SCREEN.height = height;
  SCREEN.renderer = make_renderer(window, &SCREEN.vsync);
  if (SCREEN.renderer) SCREEN.texture = make_texture();
  if (!SCREEN.texture) {
    if (SCREEN.renderer) SDL_DestroyRenderer(SCREEN.renderer);
    SCREEN.renderer = nullptr;
    SCREEN.window = nullptr;
    SCREEN.width = SCREEN.height = 0;
    return 0;
  }
  SCREEN.back_buffer.assign(static_cast<size_t>(width) * height, 0);
  SCREEN.texture_lost = 0;
  SCREEN.open = 1;
  // The events pumped before the screen was opened are not about it.
  SCREEN.taken = events_frame().serial;
  const SDL_Rect view = view_in_window();
  events_publish_screen({window, SCREEN.windowed, width, height, view.x, view.y, view.w, view.h});
  // An accelerated renderer may have had SDL re-create the window underneath; the new one
  // must be in front with the focus like the old.
  if (SDL_GetWindowFlags(window) & SDL_WINDOW_SHOWN) {
    SDL_RaiseWindow(window);
    SDL_SetWindowInputFocus(window);
    events_note_window(window);
  }
  return 1;
}

bool size_ok(int32_t width, int32_t height) {
  return width > 0 && height > 0 && width <= SCREEN_MAX_SIDE && height <= SCREEN_MAX_SIDE;
}

// Opens the screen in window parent's client area: in area, or fitted to the whole window.
int32_t open_windowed(intptr_t parent, SDL_Rect area, int32_t auto_stretch, int32_t right_margin,
                      int32_t bottom_margin, int32_t fit_window) {
  screen_close();
  SDL_Window* window = events_window(parent);
  if (!SCREEN.initialised || !window || !size_ok(area.w, area.h)) return 0;
  SCREEN.area = area;
  SCREEN.auto_stretch = auto_stretch;
  SCREEN.right_margin = right_margin;
  SCREEN.bottom_margin = bottom_margin;
  SCREEN.fit_window = fit_window;
  SCREEN.windowed = 1;
  if (!open_on(window, area.w, area.h)) {
    SCREEN.windowed = 0;
    SCREEN.fit_window = 0;
    return 0;
  }
  SDL_DisplayMode mode;
  SCREEN.display_refresh_rate = 0;
  if (SDL_GetCurrentDisplayMode(std::max(0, SDL_GetWindowDisplayIndex(window)), &mode) == 0) {
    SCREEN.display_refresh_rate = mode.refresh_rate;
  }
  return 1;
}

}  // namespace

ScreenFit screen_fit(int32_t width, int32_t height, int32_t out_width, int32_t out_height,
                     int32_t whole) {
  ScreenFit fit;
  if (width <= 0 || height <= 0 || out_width <= 0 || out_height <= 0) return fit;
  const int32_t times = std::min(out_width / width, out_height / height);
  if (whole && times >= 1) {
    fit.width = width * times;
    fit.height = height * times;
  } else {
    // The side that runs out first is filled exactly; the other keeps the shape, rounded.
    if (static_cast<int64_t>(out_width) * height <= static_cast<int64_t>(out_height) * width) {
      fit.width = out_width;
      fit.height = static_cast<int32_t>((static_cast<int64_t>(height) * out_width * 2 + width) /
                                        (2 * width));
    } else {
      fit.height = out_height;
      fit.width = static_cast<int32_t>((static_cast<int64_t>(width) * out_height * 2 + height) /
                                       (2 * height));
    }
  }
  fit.x = (out_width - fit.width) / 2;
  fit.y = (out_height - fit.height) / 2;
  return fit;
}

int32_t screen_system_init() {
  if (SCREEN.initialised) return 0;
  if (!events_video_acquire()) return 0;
  if (SDL_GetNumVideoDisplays() < 1 || SDL_GetNumDisplayModes(0) < 1) {
    events_video_release();
    return 0;
  }
  SCREEN.initialised = 1;
  return 1;
}

void screen_system_shutdown() {
  screen_close();
  if (SCREEN.initialised) events_video_release();
  SCREEN.initialised = 0;
}

int32_t screen_open_windowed(intptr_t parent, int32_t x, int32_t y, int32_t width, int32_t height,
                             int32_t auto_stretch, int32_t right_margin, int32_t bottom_margin) {
  return open_windowed(parent, SDL_Rect{x, y, width, height}, auto_stretch, right_margin,
                       bottom_margin, 0);
}

int32_t screen_open_scaled(intptr_t parent, int32_t width, int32_t height) {
  return open_windowed(parent, SDL_Rect{0, 0, width, height}, 0, 0, 0, 1);
}

int32_t screen_desktop(int32_t* width, int32_t* height, int32_t* usable_width,
                       int32_t* usable_height) {
  *width = *height = *usable_width = *usable_height = 0;
  SDL_Rect bounds, usable;
  if (!SCREEN.initialised || SDL_GetDisplayBounds(0, &bounds) != 0) return 0;
  // A system that cannot tell the usable part leaves all of the display usable.
  if (SDL_GetDisplayUsableBounds(0, &usable) != 0 || usable.w <= 0 || usable.h <= 0) {
    usable = bounds;
  }
  *width = bounds.w;
  *height = bounds.h;
  *usable_width = usable.w;
  *usable_height = usable.h;
  return 1;
}

int32_t screen_open_full(int32_t width, int32_t height, int32_t depth, const char* title) {
  width = static_cast<uint16_t>(width);
  height = static_cast<uint16_t>(height);
  depth = static_cast<uint16_t>(depth);
  if (!SCREEN.initialised || !size_ok(width, height) || (depth != 16 && depth != 32)) return 0;
  // A screen left open would keep its renderer on a window nobody shows any more.
  screen_close();
  // A borderless window over the whole desktop, which a window manager then marks full
  // screen; with no window manager (a bare X server) the size asked for is all it gets.
  SDL_Rect desktop{0, 0, width, height};
  SDL_GetDisplayBounds(0, &desktop);
  SDL_Window* window = SDL_CreateWindow(
      title ? title : "", desktop.x, desktop.y, desktop.w, desktop.h,
      SDL_WINDOW_FULLSCREEN_DESKTOP | SDL_WINDOW_BORDERLESS | SDL_WINDOW_ALLOW_HIGHDPI);
  if (!window) return 0;
  SCREEN.windowed = 0;
  SCREEN.full_window = window;
  if (!open_on(window, width, height)) {
    SDL_DestroyWindow(window);
    SCREEN.full_window = nullptr;
    return 0;
  }
  SCREEN.display_refresh_rate = 0;
  mouse_show_pointer(0);
  return 1;
}

void screen_close() {
  if (!SCREEN.open) return;
  // The pointer is given back before its window goes, and no drawing target may keep
  // pointing into the buffer freed below.
  mouse_let_go();
  events_publish_screen({});
  draw_forget_pixels(SCREEN.back_buffer.data());
  if (SCREEN.texture) SDL_DestroyTexture(SCREEN.texture);
  if (SCREEN.renderer) SDL_DestroyRenderer(SCREEN.renderer);
  SCREEN.texture = nullptr;
  SCREEN.renderer = nullptr;
  if (SCREEN.full_window) {
    events_forget_window(SDL_GetWindowID(SCREEN.full_window));
    SDL_DestroyWindow(SCREEN.full_window);
    SCREEN.full_window = nullptr;
    mouse_show_pointer(1);
  }
  SCREEN.window = nullptr;
  SCREEN.back_buffer.clear();
  SCREEN.back_buffer.shrink_to_fit();
  SCREEN.width = SCREEN.height = 0;
  SCREEN.windowed = 0;
  SCREEN.fit_window = 0;
  SCREEN.open = 0;
}

int32_t screen_set_frame_rate(int32_t fps) {
  if (fps < 0) return 0;
  SCREEN.frame_rate = fps;
  SCREEN.frame_period = static_cast<int32_t>(SCREEN_COUNTER_FREQUENCY / (int64_t{fps} + 1));
  SCREEN.last_flip_count = 0;
  SCREEN.spin_ticks = SCREEN_SPIN_START_TICKS;
  // Linux lets a sleep end up to 50 us late by default, to wake several sleepers at once; the
  // pacing sleep wants its time, so that the spin after it can stay short.
#ifdef __linux__
  if (fps > 0) prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
  return 1;
}

void screen_clear(uint32_t colour) {
  if (!SCREEN.open) return;
  const uint32_t pixel = colour & 0x00FFFFFF;
  if (pixel == 0) {
    // The game clears to black every frame, and memset fills the 1.2 MB buffer several times
    // faster than a loop of 32-bit stores.
    std::memset(SCREEN.back_buffer.data(), 0, SCREEN.back_buffer.size() * sizeof(uint32_t));
  } else {
    std::fill(SCREEN.back_buffer.begin(), SCREEN.back_buffer.end(), pixel);
  }
}

int32_t screen_present() {
  if (!SCREEN.open) return 0;
  take_frame();
  // Full screen presents only while it has the focus; a window is shown whatever is in front.
  if (SCREEN.windowed || events_screen_active()) return present();
  return 1;
}

void screen_pace() {
  if (!SCREEN.open) return;
  // A frame rate equal to the refresh rate is paced by the vertical blank alone, when the
  // renderer really waits for it; otherwise the counter paces.
  const bool vblank_paces = SCREEN.vsync && SCREEN.frame_rate == SCREEN.display_refresh_rate;
  if (SCREEN.frame_rate != 0 && !vblank_paces) pacing_wait();
}

int32_t screen_flip() {
  const int32_t result = screen_present();
  screen_pace();
  return result;
}

int32_t screen_windowed() { return SCREEN.open && SCREEN.windowed ? 1 : 0; }

int32_t screen_is_active() {
  take_frame();
  return events_screen_active();
}

DrawTarget* screen_output() {
  if (!SCREEN.open) return nullptr;
  take_frame();
  return draw_target_on_pixels(SCREEN.back_buffer.data(), SCREEN.width, SCREEN.height,
                               SCREEN.width);
}

const uint32_t* screen_pixels() { return SCREEN.open ? SCREEN.back_buffer.data() : nullptr; }

int32_t screen_recoveries() { return SCREEN.recoveries; }

void screen_set_pacing_clock(int64_t (*now)(), void (*sleep_until)(int64_t)) {
  SCREEN.now = now;
  SCREEN.sleep_until = sleep_until;
}
