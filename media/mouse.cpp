// The virtual pointer: moved by the relative motion the pump collects, clamped to the screen,
// with three buttons. While the game holds the mouse in a window the system pointer is
// confined to the window and kept on the virtual pointer; in full screen SDL's relative mode
// gives raw motion with the pointer hidden. In a window the picture may be shown larger than
// the screen's pixels: there the window's motion is converted into screen pixels, keeping the
// pointer's place inside its pixel so that no fraction of a slow movement is lost. Where the
// system cannot move its pointer (Wayland) the virtual pointer is simply where SDL reports it.
#include "media/mouse.h"

#include <SDL.h>

#include <algorithm>

#include "media/events.h"
#include "media/screen.h"

namespace {

constexpr int MOUSE_BUTTONS = 3;
constexpr int32_t MOUSE_NO_EVENT = -1;  // pending button state: no event since the last examine

struct MouseState {
  int32_t initialised = 0;     // mouse_init ran (and holds SDL's event subsystem)
  int32_t x = 0;               // the virtual pointer, screen pixels
  int32_t y = 0;
  int32_t buttons[MOUSE_BUTTONS] = {};  // left, right, middle: 1 while down
  int64_t pending_dx = 0;      // motion sorted in by the pump since the last examine
  int64_t pending_dy = 0;
  int32_t pending_buttons[MOUSE_BUTTONS] = {MOUSE_NO_EVENT, MOUSE_NO_EVENT, MOUSE_NO_EVENT};
  // (the last state each button's events left; the last one wins)
  int32_t released = 0;        // the game gave the pointer back with mouse_release(1)
  int32_t captured = 0;        // the game holds the mouse (confined or relative mode)
  int32_t pointer_shown = 1;   // whether this layer last showed (1) or hid (0) the pointer
  int32_t pointer_counter = 0; // display counter: the pointer is visible while it is >= 0
  SDL_Window* grabbed = nullptr;  // the window the pointer is confined to
  int32_t relative = 0;        // SDL's relative mode is on
  // Windowed: where inside its screen pixel the pointer is, counted in 1/rest_view_width
  // (1/rest_view_height) of a pixel, rest_view_* being the picture's size in window pixels
  // when it was measured. A size of 0 means not measured: the middle of the pixel.
  int64_t rest_x = 0;
  int64_t rest_y = 0;
  int32_t rest_view_width = 0;
  int32_t rest_view_height = 0;
};

// The screen's picture in its window, as the screen reports it.
struct View {
  int32_t x = 0, y = 0;           // top-left in window pixels
  int32_t width = 0, height = 0;  // size in window pixels
};

MouseState MOUSE;

void apply_pointer_visibility() {
  if (SDL_WasInit(SDL_INIT_VIDEO)) {
    SDL_ShowCursor(MOUSE.pointer_counter >= 0 ? SDL_ENABLE : SDL_DISABLE);
  }
}

void forget_pending() {
  MOUSE.pending_dx = MOUSE.pending_dy = 0;
  std::fill(MOUSE.pending_buttons, MOUSE.pending_buttons + MOUSE_BUTTONS, MOUSE_NO_EVENT);
}

// Gives the pointer back to the system: free to leave the window, visible, absolute again.
void let_go() {
  if (MOUSE.grabbed) {
    SDL_SetWindowMouseGrab(MOUSE.grabbed, SDL_FALSE);
    MOUSE.grabbed = nullptr;
  }
  if (screen_is_windowed() && !MOUSE.pointer_shown) {
    MOUSE.pointer_shown = 1;
    mouse_show_pointer(1);
  }
  if (MOUSE.relative) {
    SDL_SetRelativeMouseMode(SDL_FALSE);
    MOUSE.relative = 0;
  }
  MOUSE.captured = 0;
  forget_pending();
}

// Takes the pointer for the game: confined to and hidden over the window, or relative mode
// in full screen. The buttons start from what the system says now, since a release that
// happened while the pointer was elsewhere never reached us.
void capture(SDL_Window* window) {
  if (screen_is_windowed()) {
    // Asked again while not in force: a grab the X server refused once may succeed later.
    if (MOUSE.grabbed != window || !SDL_GetWindowMouseGrab(window)) {
      SDL_SetWindowMouseGrab(window, SDL_TRUE);
      MOUSE.grabbed = window;
    }
    if (MOUSE.pointer_shown) {
      MOUSE.pointer_shown = 0;
      mouse_show_pointer(0);
    }
  }
  if (MOUSE.captured) return;
  if (!screen_is_windowed() && SDL_SetRelativeMouseMode(SDL_TRUE) == 0) MOUSE.relative = 1;
  const Uint32 held = SDL_GetGlobalMouseState(nullptr, nullptr);
  MOUSE.buttons[0] = (held & SDL_BUTTON_LMASK) ? 1 : 0;
  MOUSE.buttons[1] = (held & SDL_BUTTON_RMASK) ? 1 : 0;
  MOUSE.buttons[2] = (held & SDL_BUTTON_MMASK) ? 1 : 0;
  MOUSE.captured = 1;
}

View screen_view_now() {
  View view;
  screen_view(&view.x, &view.y, &view.width, &view.height);
  return view;
}

// Whether SDL can move the system pointer. Wayland lets no program move the pointer: there
// a warp only makes SDL forget where its pointer was, and the next movement is lost.
bool warps_work() {
  const char* driver = SDL_GetCurrentVideoDriver();
  return !(driver && SDL_strcmp(driver, "wayland") == 0);
}

int64_t floor_div(int64_t value, int64_t divisor) {
  const int64_t quotient = value / divisor;
  return quotient * divisor > value ? quotient - 1 : quotient;
}

// Re-counts rest in 1/view of a pixel when the picture changed size (the window was resized)
// since it was counted in 1/counted_in; an unmeasured rest becomes the middle of the pixel.
void rescale_rest(int64_t& rest, int32_t& counted_in, int32_t view) {
  if (counted_in == view) return;
  rest = counted_in > 0 ? rest * view / counted_in : view / 2;
  counted_in = view;
}

// Moves one axis of the virtual pointer by delta window pixels on a picture of size screen
// pixels shown view window pixels wide, clamped to the screen. rest keeps the place inside
// the pixel, so that at scale 3 three one-pixel movements make one screen pixel.
void move_axis(int32_t& position, int64_t& rest, int64_t delta, int32_t size, int32_t view) {
  if (size <= 0 || view <= 0) return;
  const int64_t total = int64_t{position} * view + rest + delta * size;
  const int64_t moved = floor_div(total, view);
  if (moved < 0) {
    position = 0;
    rest = 0;
  } else if (moved >= size) {
    position = size - 1;
    rest = view - 1;
  } else {
    position = static_cast<int32_t>(moved);
    rest = total - moved * view;
  }
}

// The window pixel the virtual pointer is on along one axis.
int32_t window_axis(int32_t position, int64_t rest, int32_t size, int32_t view, int32_t origin) {
  if (size <= 0 || view <= 0) return origin + position;
  return origin + static_cast<int32_t>(floor_div(int64_t{position} * view + rest, size));
}

// Moves the system pointer onto the virtual one when they differ. The motion the warp itself
// causes must not move the virtual pointer a second time: SDL 2.26 reports it as no movement,
// older SDL 2 releases as the jump, so whatever motion is queued once the warp is done is
// taken out of SDL's queue. A real movement lost that way shows as a difference between the
// two pointers, which the next examine puts right.
void keep_pointer_on_virtual(SDL_Window* window, const View& view) {
  const int target_x = window_axis(MOUSE.x, MOUSE.rest_x, screen_width(), view.width, view.x);
  const int target_y = window_axis(MOUSE.y, MOUSE.rest_y, screen_height(), view.height, view.y);
  int at_x = 0, at_y = 0;
  SDL_GetMouseState(&at_x, &at_y);
  if (SDL_GetMouseFocus() == window && at_x == target_x && at_y == target_y) return;
  SDL_WarpMouseInWindow(window, target_x, target_y);
  SDL_PumpEvents();
  SDL_Event stale[64];
  while (SDL_PeepEvents(stale, 64, SDL_GETEVENT, SDL_MOUSEMOTION, SDL_MOUSEMOTION) > 0) {
  }
}

int32_t clamp_axis(int64_t value, int32_t size) {
  if (value < 0) return 0;
  if (value >= size) return std::max(size - 1, 0);
  return static_cast<int32_t>(value);
}

// Puts the virtual pointer where SDL last saw the system pointer over the window. While the
// pointer is elsewhere the virtual one stays where it was.
void follow_system_pointer(SDL_Window* window, const View& view) {
  if (SDL_GetMouseFocus() != window) return;
  int at_x = 0, at_y = 0;
  SDL_GetMouseState(&at_x, &at_y);
  MOUSE.x = MOUSE.y = 0;
  MOUSE.rest_x = MOUSE.rest_y = 0;
  move_axis(MOUSE.x, MOUSE.rest_x, at_x - view.x, screen_width(), view.width);
  move_axis(MOUSE.y, MOUSE.rest_y, at_y - view.y, screen_height(), view.height);
}

}  // namespace

int32_t mouse_init() {
  if (!MOUSE.initialised) {
    if (SDL_InitSubSystem(SDL_INIT_EVENTS) != 0) return 0;
    MOUSE.initialised = 1;
  }
  MOUSE.released = 0;
  MOUSE.pointer_shown = 1;
  MOUSE.captured = 0;
  forget_pending();
  return 1;
}

void mouse_shutdown() {
  if (!MOUSE.initialised) return;
  let_go();
  SDL_QuitSubSystem(SDL_INIT_EVENTS);
  MOUSE = MouseState{};
}

int32_t mouse_examine() {
  events_pump();
  if (!MOUSE.initialised) return 0;
  SDL_Window* window = screen_sdl_window();
  if (MOUSE.released || !screen_is_active() || !window) {
    let_go();
    return 0;
  }
  capture(window);
  // Every event of the frame counts: all motion is summed, and each button ends as its last
  // event left it.
  for (int b = 0; b < MOUSE_BUTTONS; ++b) {
    if (MOUSE.pending_buttons[b] != MOUSE_NO_EVENT) MOUSE.buttons[b] = MOUSE.pending_buttons[b];
  }
  if (!screen_is_windowed()) {
    // Full screen, relative mode's raw motion counts in screen pixels.
    MOUSE.x = clamp_axis(int64_t{MOUSE.x} + MOUSE.pending_dx, screen_width());
    MOUSE.y = clamp_axis(int64_t{MOUSE.y} + MOUSE.pending_dy, screen_height());
    forget_pending();
    return 1;
  }
  const View view = screen_view_now();
  rescale_rest(MOUSE.rest_x, MOUSE.rest_view_width, view.width);
  rescale_rest(MOUSE.rest_y, MOUSE.rest_view_height, view.height);
  if (!warps_work()) {
    follow_system_pointer(window, view);
    forget_pending();
    return 1;
  }
  move_axis(MOUSE.x, MOUSE.rest_x, MOUSE.pending_dx, screen_width(), view.width);
  move_axis(MOUSE.y, MOUSE.rest_y, MOUSE.pending_dy, screen_height(), view.height);
  forget_pending();
  keep_pointer_on_virtual(window, view);
  return 1;
}

int32_t mouse_x() { return MOUSE.x; }

int32_t mouse_y() { return MOUSE.y; }

int32_t mouse_button(int32_t button) {
  if (button < 1 || button > MOUSE_BUTTONS) return 0;
  return MOUSE.buttons[button - 1];
}

void mouse_release(int32_t release) {
  if (release == 1) {
    MOUSE.released = 1;
    let_go();
  } else {
    MOUSE.released = 0;
  }
}

void mouse_locate(int32_t x, int32_t y) {
  MOUSE.x = x;
  MOUSE.y = y;
  // The middle of the pixel, wherever the last movement had left the pointer inside it.
  MOUSE.rest_x = MOUSE.rest_y = 0;
  MOUSE.rest_view_width = MOUSE.rest_view_height = 0;
}

int32_t mouse_show_pointer(int32_t show) {
  MOUSE.pointer_counter += show ? 1 : -1;
  apply_pointer_visibility();
  return MOUSE.pointer_counter;
}

// --- What the event pump tells the mouse ---

void mouse_on_motion(int32_t dx, int32_t dy) {
  // Motion counts only while the game may hold the mouse; what happens over another
  // program's window is none of ours.
  if (!MOUSE.initialised || MOUSE.released || !screen_is_active()) return;
  MOUSE.pending_dx += dx;
  MOUSE.pending_dy += dy;
}

void mouse_on_button(int32_t sdl_button, int32_t down) {
  if (!MOUSE.initialised || MOUSE.released || !screen_is_active()) return;
  int index = -1;
  if (sdl_button == SDL_BUTTON_LEFT) index = 0;
  if (sdl_button == SDL_BUTTON_RIGHT) index = 1;
  if (sdl_button == SDL_BUTTON_MIDDLE) index = 2;
  if (index >= 0) MOUSE.pending_buttons[index] = down ? 1 : 0;
}

void mouse_on_focus_lost() {
  if (MOUSE.captured || MOUSE.grabbed || MOUSE.relative) let_go();
}
