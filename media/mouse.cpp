// The virtual pointer: moved by the relative motion the pump collects, clamped to the screen,
// with three buttons. While the game holds the mouse in a window the system pointer is
// confined to the window and kept on the virtual pointer; in full screen SDL's relative mode
// gives raw motion with the pointer hidden. What it knows of the screen (its window, size and
// origin, and whether it has the focus) it reads from what the event pump published, and its
// motion and buttons from the pump's record of the frame, taken once per frame. In a
// window the picture may be shown larger or smaller than the screen's pixels: there the
// window's motion is converted into screen pixels, keeping the pointer's place inside its
// pixel so that no fraction of a slow movement is lost. Where the system cannot move its
// pointer (Wayland) the virtual pointer is simply where SDL reports the system pointer.
#include "media/mouse.h"

#include <SDL.h>

#include <algorithm>

#include "media/events_internal.h"

namespace {

constexpr int MOUSE_BUTTONS = EVENTS_BUTTONS;
constexpr int32_t MOUSE_NO_EVENT = EVENTS_NO_BUTTON_EVENT;  // pending button: no event

struct MouseState {
  int32_t initialised = 0;  // mouse_init ran (and holds SDL's event subsystem)
  int32_t x = 0;            // the virtual pointer, screen pixels
  int32_t y = 0;
  int32_t buttons[MOUSE_BUTTONS] = {};  // left, right, middle: 1 while down
  uint32_t taken = 0;                   // serial of the last frame's record taken
  int64_t pending_dx = 0;               // motion taken from the records since the last examine
  int64_t pending_dy = 0;
  int32_t pending_buttons[MOUSE_BUTTONS] = {MOUSE_NO_EVENT, MOUSE_NO_EVENT, MOUSE_NO_EVENT};
  // (the last state each button's events left; the last one wins)
  int32_t released = 0;           // the game gave the pointer back with mouse_release(1)
  int32_t captured = 0;           // the game holds the mouse (confined or relative mode)
  int32_t pointer_shown = 1;      // whether this layer last showed (1) or hid (0) the pointer
  int32_t pointer_counter = 0;    // display counter: the pointer is visible while it is >= 0
  SDL_Window* grabbed = nullptr;  // the window the pointer is confined to
  int32_t relative = 0;           // SDL's relative mode is on
  int32_t refocused = 0;          // the focus was lost since the last capture
  int32_t follow_system = 0;      // the next capture starts where the system pointer is
  // Windowed: where inside its screen pixel the pointer is, counted in 1/rest_view_width
  // (1/rest_view_height) of a pixel, rest_view_* being the picture's size in window pixels
  // when it was measured. A size of 0 means not measured: the middle of the pixel.
  int64_t rest_x = 0;
  int64_t rest_y = 0;
  int32_t rest_view_width = 0;
  int32_t rest_view_height = 0;
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
  if (events_screen().windowed && !MOUSE.pointer_shown) {
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

// Takes the frame's record once. A focus loss of the screen lets the pointer go, and the next
// capture starts where the player leaves the system pointer. Motion and buttons count only
// while the game may hold the mouse.
void take_frame() {
  const EventsFrame& frame = events_frame();
  if (MOUSE.taken == frame.serial) return;
  MOUSE.taken = frame.serial;
  if (frame.screen_focus_lost) {
    if (MOUSE.captured || MOUSE.grabbed || MOUSE.relative) let_go();
    MOUSE.refocused = MOUSE.follow_system = 1;
  }
  if (!MOUSE.initialised || MOUSE.released) return;
  MOUSE.pending_dx += frame.motion_x;
  MOUSE.pending_dy += frame.motion_y;
  for (int b = 0; b < MOUSE_BUTTONS; ++b) {
    if (frame.buttons[b] != MOUSE_NO_EVENT) MOUSE.pending_buttons[b] = frame.buttons[b];
  }
}

int32_t clamp_axis(int64_t value, int32_t size) {
  if (value < 0) return 0;
  if (value >= size) return std::max(size - 1, 0);
  return static_cast<int32_t>(value);
}

// Whether SDL can move the system pointer. Wayland lets no program move the pointer: there
// a warp only makes SDL forget where its pointer was, and the next movement is lost. Nor can a
// web page; there SDL reports the pointer in canvas pixels, whatever size the page shows it at.
bool warps_work() {
  const char* driver = SDL_GetCurrentVideoDriver();
  return !(driver && (SDL_strcmp(driver, "wayland") == 0 || SDL_strcmp(driver, "emscripten") == 0));
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

// Puts the virtual pointer on window pixel (x, y) of the screen's window, clamped to the
// picture.
void place_at_window(int x, int y, const EventsScreen& screen) {
  MOUSE.x = MOUSE.y = 0;
  MOUSE.rest_x = MOUSE.rest_y = 0;
  MOUSE.rest_view_width = screen.view_width;
  MOUSE.rest_view_height = screen.view_height;
  move_axis(MOUSE.x, MOUSE.rest_x, int64_t{x} - screen.origin_x, screen.width, screen.view_width);
  move_axis(MOUSE.y, MOUSE.rest_y, int64_t{y} - screen.origin_y, screen.height, screen.view_height);
}

// Puts the virtual pointer where SDL last saw the system pointer over the window. While the
// pointer is elsewhere the virtual one stays where it was.
void follow_system_pointer(SDL_Window* window, const EventsScreen& screen) {
  if (SDL_GetMouseFocus() != window) return;
  int at_x = 0, at_y = 0;
  SDL_GetMouseState(&at_x, &at_y);
  place_at_window(at_x, at_y, screen);
}

// Puts the virtual pointer where the system pointer is over the screen, clamped to it; the
// motion collected so far is in that position already.
void take_system_position(SDL_Window* window, const EventsScreen& screen) {
  int x = 0, y = 0;
  const char* driver = SDL_GetCurrentVideoDriver();
  if (SDL_GetMouseFocus() != window && driver && SDL_strcmp(driver, "x11") == 0) {
    // Outside the window SDL's record is stale; X answers with the desktop position. (Other
    // drivers answer the global query with that same record, relative to the window.)
    int window_x = 0, window_y = 0;
    SDL_GetGlobalMouseState(&x, &y);
    SDL_GetWindowPosition(window, &window_x, &window_y);
    x -= window_x;
    y -= window_y;
  } else {
    SDL_GetMouseState(&x, &y);
  }
  place_at_window(x, y, screen);
  MOUSE.pending_dx = MOUSE.pending_dy = 0;
}

// Takes the pointer for the game: confined to and hidden over the window, or relative mode
// in full screen. Every button starts up, and one held at this moment counts once pressed
// again: a release that happened elsewhere never reached us. After a focus loss only input
// that arrives after the capture counts, since a press sorted before it is the click that
// brought the window back; and the virtual pointer starts where the player left the system
// pointer rather than pulling the system pointer back to where it was.
void capture(SDL_Window* window, const EventsScreen& screen) {
  if (screen.windowed) {
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
  if (!screen.windowed && SDL_SetRelativeMouseMode(SDL_TRUE) == 0) MOUSE.relative = 1;
  std::fill(MOUSE.buttons, MOUSE.buttons + MOUSE_BUTTONS, 0);
  if (MOUSE.refocused) {
    std::fill(MOUSE.pending_buttons, MOUSE.pending_buttons + MOUSE_BUTTONS, MOUSE_NO_EVENT);
  }
  // Full screen the system pointer is hidden and has no place on the picture to take.
  if (screen.windowed && MOUSE.follow_system) take_system_position(window, screen);
  MOUSE.refocused = MOUSE.follow_system = 0;
  MOUSE.captured = 1;
}

// Moves the system pointer onto the virtual one when they differ. The motion the warp itself
// causes must not move the virtual pointer a second time: SDL 2.26 reports it as no movement,
// older SDL 2 releases as the jump, so whatever motion is queued once the warp is done is
// taken out of SDL's queue. A real movement lost that way shows as a difference between the
// two pointers, which the next examine puts right.
void keep_pointer_on_virtual(SDL_Window* window, const EventsScreen& screen) {
  const int target_x =
      window_axis(MOUSE.x, MOUSE.rest_x, screen.width, screen.view_width, screen.origin_x);
  const int target_y =
      window_axis(MOUSE.y, MOUSE.rest_y, screen.height, screen.view_height, screen.origin_y);
  int at_x = 0, at_y = 0;
  SDL_GetMouseState(&at_x, &at_y);
  if (SDL_GetMouseFocus() == window && at_x == target_x && at_y == target_y) return;
  SDL_WarpMouseInWindow(window, target_x, target_y);
  SDL_PumpEvents();
  SDL_Event stale[64];
  while (SDL_PeepEvents(stale, 64, SDL_GETEVENT, SDL_MOUSEMOTION, SDL_MOUSEMOTION) > 0) {
  }
}

}  // namespace

int32_t mouse_init() {
  SDL_ClearError();  // a failure's reason is SDL's error, not one left over
  if (!MOUSE.initialised) {
    if (SDL_InitSubSystem(SDL_INIT_EVENTS) != 0) return 0;
    MOUSE.initialised = 1;
  }
  MOUSE.released = 0;
  MOUSE.pointer_shown = 1;
  MOUSE.captured = 0;
  forget_pending();
  // Input pumped before the mouse existed is none of its business.
  MOUSE.taken = events_frame().serial;
  return 1;
}

void mouse_shutdown() {
  if (!MOUSE.initialised) return;
  let_go();
  SDL_QuitSubSystem(SDL_INIT_EVENTS);
  MOUSE = MouseState{};
}

int32_t mouse_examine() {
  take_frame();
  if (!MOUSE.initialised) return 0;
  const EventsScreen& screen = events_screen();
  SDL_Window* window = screen.window;
  if (MOUSE.released || !events_screen_active() || !window) {
    let_go();
    return 0;
  }
  capture(window, screen);
  // Every event of the frame counts: all motion is summed, and each button ends as its last
  // event left it.
  for (int b = 0; b < MOUSE_BUTTONS; ++b) {
    if (MOUSE.pending_buttons[b] != MOUSE_NO_EVENT) MOUSE.buttons[b] = MOUSE.pending_buttons[b];
  }
  if (!screen.windowed) {
    // Full screen, relative mode's raw motion counts in screen pixels.
    MOUSE.x = clamp_axis(int64_t{MOUSE.x} + MOUSE.pending_dx, screen.width);
    MOUSE.y = clamp_axis(int64_t{MOUSE.y} + MOUSE.pending_dy, screen.height);
    forget_pending();
    return 1;
  }
  rescale_rest(MOUSE.rest_x, MOUSE.rest_view_width, screen.view_width);
  rescale_rest(MOUSE.rest_y, MOUSE.rest_view_height, screen.view_height);
  if (!warps_work()) {
    follow_system_pointer(window, screen);
    forget_pending();
    return 1;
  }
  move_axis(MOUSE.x, MOUSE.rest_x, MOUSE.pending_dx, screen.width, screen.view_width);
  move_axis(MOUSE.y, MOUSE.rest_y, MOUSE.pending_dy, screen.height, screen.view_height);
  forget_pending();
  keep_pointer_on_virtual(window, screen);
  return 1;
}

int32_t mouse_x() { return MOUSE.x; }

int32_t mouse_y() { return MOUSE.y; }

int32_t mouse_button(int32_t button) {
  if (button < 1 || button > MOUSE_BUTTONS) return 0;
  return MOUSE.buttons[button - 1];
}

void mouse_release(int32_t release) {
  // What came while the pointer was held or free counts as it was then.
  take_frame();
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
  // The game's own placing wins over where the system pointer was left.
  MOUSE.follow_system = 0;
  // The middle of the pixel, wherever the last movement had left the pointer inside it.
  MOUSE.rest_x = MOUSE.rest_y = 0;
  MOUSE.rest_view_width = MOUSE.rest_view_height = 0;
}

int32_t mouse_show_pointer(int32_t show) {
  MOUSE.pointer_counter += show ? 1 : -1;
  apply_pointer_visibility();
  return MOUSE.pointer_counter;
}

void mouse_take_frame() { take_frame(); }

void mouse_let_go() {
  if (MOUSE.captured || MOUSE.grabbed || MOUSE.relative) let_go();
}
