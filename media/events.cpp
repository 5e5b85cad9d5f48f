// The event pump and the frame's record. This module calls no other module of the layer: it
// only takes from SDL and keeps what it took for the modules above to read.
#include "media/events.h"

#include <signal.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <cstdlib>

#include "media/events_internal.h"

namespace {

// Events taken per pump at most; more than any real frame has, few enough never to stall.
constexpr int EVENTS_PUMP_LIMIT = 4096;

struct EventsState {
  int32_t video_users = 0;           // events_video_acquire calls not yet given back
  uint32_t focus_window = 0;         // SDL window id with input focus; 0 = none of ours
  EventsScreen screen;               // the open screen, as the screen module published it
  uint32_t screen_window_id = 0;     // SDL's id of screen.window; 0 = no screen
  int32_t full_screen_focus = 0;     // full screen: its window has not lost the focus since
  int32_t hangup_handled = 0;        // our SIGHUP handler is installed (and must be removed)
  std::vector<SDL_Window*> windows;  // the window module's open windows
  EventsFrame frame;                 // what the last pump took
  // A press and its release inside one pump are a tap: the press counts in that frame and the
  // release is owed to the next pump, so a frame never misses a key or click a player made.
  uint8_t key_went_down[SDL_NUM_SCANCODES] = {};  // went down during the current pump
  uint8_t key_up_owed[SDL_NUM_SCANCODES] = {};    // released after a press in the last pump
  int32_t button_went_down[EVENTS_BUTTONS] = {};  // as key_went_down, for left, right, middle
  int32_t button_up_owed[EVENTS_BUTTONS] = {};    // as key_up_owed
};

EventsState EVENTS;

// Set by the SIGHUP handler, taken by the pump. A signal handler may do no more than this.
volatile sig_atomic_t HANGUP_PENDING = 0;

// A closed terminal or an ended session sends SIGHUP, whose default ends the process on the
// spot, without the game's shutdown. SDL turns SIGINT and SIGTERM into a quit request itself;
// this makes SIGHUP one too.
extern "C" void on_hangup(int) { HANGUP_PENDING = 1; }

#ifdef _WIN32
// Windows sends no SIGHUP: a closed console window, a logoff or a shutdown comes as a console
// control event, handled on a thread of its own, after which Windows ends the process. The
// handler asks for the same quit as a hangup and gives the game's shutdown a few seconds.
constexpr DWORD EVENTS_CONSOLE_GRACE_MS = 4000;

BOOL WINAPI on_console_event(DWORD kind) {
  if (kind != CTRL_CLOSE_EVENT && kind != CTRL_LOGOFF_EVENT && kind != CTRL_SHUTDOWN_EVENT) {
    return FALSE;  // Ctrl+C and Ctrl+Break reach SDL's SIGINT handler
  }
  HANGUP_PENDING = 1;
  Sleep(EVENTS_CONSOLE_GRACE_MS);
  return TRUE;
}

void take_hangup() {
  if (SetConsoleCtrlHandler(on_console_event, TRUE)) EVENTS.hangup_handled = 1;
}

void give_back_hangup() {
  if (!EVENTS.hangup_handled) return;
  SetConsoleCtrlHandler(on_console_event, FALSE);
  EVENTS.hangup_handled = 0;
}
#else
// Installs the SIGHUP handler unless someone chose otherwise: under nohup the signal stays
// ignored.
void take_hangup() {
  struct sigaction current {};
  if (sigaction(SIGHUP, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) return;
  struct sigaction ours {};
  ours.sa_handler = on_hangup;
  sigemptyset(&ours.sa_mask);
  if (sigaction(SIGHUP, &ours, nullptr) == 0) EVENTS.hangup_handled = 1;
}

void give_back_hangup() {
  if (!EVENTS.hangup_handled) return;
  struct sigaction plain {};
  plain.sa_handler = SIG_DFL;
  sigemptyset(&plain.sa_mask);
  sigaction(SIGHUP, &plain, nullptr);
  EVENTS.hangup_handled = 0;
}

#endif

// The reason given when SDL found no display and fell back to its offscreen driver.
void set_no_display_error() {
  const char* x_display = std::getenv("DISPLAY");
  const char* wayland_display = std::getenv("WAYLAND_DISPLAY");
  if (x_display && *x_display) {
    SDL_SetError("x11: no display \"%s\"", x_display);
  } else if (wayland_display && *wayland_display) {
    SDL_SetError("wayland: no display \"%s\"", wayland_display);
  } else {
    SDL_SetError("no display: neither DISPLAY nor WAYLAND_DISPLAY is set");
  }
}

// Notes one SDL event in the frame's record. Pointer input counts only while the screen may
// take input at that moment: what happens over another program's window is none of ours.
void take(const SDL_Event& event) {
  EventsFrame& frame = EVENTS.frame;
  switch (event.type) {
    case SDL_QUIT:
      frame.windows.push_back({0, EVENTS_QUIT});
      break;
    case SDL_WINDOWEVENT: {
      const uint32_t id = event.window.windowID;
      const bool screen = id != 0 && id == EVENTS.screen_window_id;
      if (event.window.event == SDL_WINDOWEVENT_FOCUS_GAINED) {
        EVENTS.focus_window = id;
        if (screen) EVENTS.full_screen_focus = 1;
      } else if (event.window.event == SDL_WINDOWEVENT_FOCUS_LOST) {
        if (EVENTS.focus_window == id) EVENTS.focus_window = 0;
        if (screen) {
          EVENTS.full_screen_focus = 0;
          frame.screen_focus_lost = 1;
          frame.motion_x = frame.motion_y = 0;
          std::fill(frame.buttons, frame.buttons + EVENTS_BUTTONS, EVENTS_NO_BUTTON_EVENT);
          std::fill(EVENTS.button_up_owed, EVENTS.button_up_owed + EVENTS_BUTTONS, 0);
        }
      } else if (event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED && screen) {
        frame.screen_resized = 1;
      }
      frame.windows.push_back({id, event.window.event});
      break;
    }
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
      const int scancode = event.key.keysym.scancode;
      if (scancode >= 0 && scancode < SDL_NUM_SCANCODES) {
        if (event.type == SDL_KEYDOWN) {
          frame.keys_down[scancode] = 1;
          EVENTS.key_went_down[scancode] = 1;
          EVENTS.key_up_owed[scancode] = 0;
        } else if (EVENTS.key_went_down[scancode]) {
          EVENTS.key_up_owed[scancode] = 1;
        } else {
          frame.keys_down[scancode] = 0;
        }
      }
      break;
    }
    case SDL_MOUSEMOTION:
      if (events_screen_active()) {
        frame.motion_x += event.motion.xrel;
        frame.motion_y += event.motion.yrel;
      }
      break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
      int index = -1;
      if (event.button.button == SDL_BUTTON_LEFT) index = 0;
      if (event.button.button == SDL_BUTTON_RIGHT) index = 1;
      if (event.button.button == SDL_BUTTON_MIDDLE) index = 2;
      if (index >= 0 && events_screen_active()) {
        if (event.type == SDL_MOUSEBUTTONDOWN) {
          frame.buttons[index] = 1;
          EVENTS.button_went_down[index] = 1;
          EVENTS.button_up_owed[index] = 0;
        } else if (EVENTS.button_went_down[index]) {
          EVENTS.button_up_owed[index] = 1;
        } else {
          frame.buttons[index] = 0;
        }
      }
      break;
    }
    case SDL_CONTROLLERDEVICEADDED:
      ++frame.pads_added;
      break;
    case SDL_CONTROLLERDEVICEREMOVED:
      frame.pads_removed.push_back(event.cdevice.which);
      break;
    case SDL_RENDER_TARGETS_RESET:
    case SDL_RENDER_DEVICE_RESET:
      frame.render_reset = 1;
      break;
    default:
      break;
  }
}

}  // namespace

int32_t events_video_acquire() {
  if (EVENTS.video_users == 0) {
    // A failure below leaves its reason in SDL's error for the error box; one left over from
    // an earlier call that went well must not pass for it.
    SDL_ClearError();
    // One close request must give one close event: without this SDL adds a quit event when
    // the last window's close box is pressed.
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    // The game's picture is pixel art: scale it without blurring.
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "nearest");
    // The software renderer blits straight into the window (shared memory on X11), never
    // through an emulated OpenGL that would cost more than the blit.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    // The full-screen display keeps running in the background, as a window would.
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return 0;
    // With no display at all SDL falls back to its invisible offscreen driver, and the game
    // would run where nobody can see or stop it. Only an explicit request gets that driver.
    const char* driver = SDL_GetCurrentVideoDriver();
    const char* requested = SDL_GetHint(SDL_HINT_VIDEODRIVER);
    if (driver && SDL_strcmp(driver, "offscreen") == 0 &&
        !(requested && SDL_strcasecmp(requested, "offscreen") == 0)) {
      SDL_QuitSubSystem(SDL_INIT_VIDEO);
      set_no_display_error();
      return 0;
    }
    take_hangup();
    // The game reads keys, never typed text: no input method should pop up over it.
    SDL_StopTextInput();
  }
  ++EVENTS.video_users;
  return 1;
}

void events_video_release() {
  if (EVENTS.video_users <= 0) return;
  if (--EVENTS.video_users == 0) {
    give_back_hangup();
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    EVENTS.focus_window = 0;
    // A key held when the display went is nobody's any more.
    std::fill(EVENTS.frame.keys_down, EVENTS.frame.keys_down + SDL_NUM_SCANCODES, 0);
    std::fill(EVENTS.key_up_owed, EVENTS.key_up_owed + SDL_NUM_SCANCODES, 0);
    std::fill(EVENTS.button_up_owed, EVENTS.button_up_owed + EVENTS_BUTTONS, 0);
  }
}

void events_pump() {
  EventsFrame& frame = EVENTS.frame;
  ++frame.serial;
  frame.windows.clear();
  frame.motion_x = frame.motion_y = 0;
  std::fill(frame.buttons, frame.buttons + EVENTS_BUTTONS, EVENTS_NO_BUTTON_EVENT);
  frame.screen_focus_lost = frame.screen_resized = frame.render_reset = 0;
  frame.pads_added = 0;
  frame.pads_removed.clear();
  // The releases of the last pump's taps come now, before anything this pump brings.
  for (int scancode = 0; scancode < SDL_NUM_SCANCODES; ++scancode) {
    if (EVENTS.key_up_owed[scancode]) frame.keys_down[scancode] = 0;
  }
  std::fill(EVENTS.key_up_owed, EVENTS.key_up_owed + SDL_NUM_SCANCODES, 0);
  std::fill(EVENTS.key_went_down, EVENTS.key_went_down + SDL_NUM_SCANCODES, 0);
  for (int index = 0; index < EVENTS_BUTTONS; ++index) {
    if (EVENTS.button_up_owed[index]) frame.buttons[index] = 0;
    EVENTS.button_up_owed[index] = EVENTS.button_went_down[index] = 0;
  }
  if (!SDL_WasInit(SDL_INIT_EVENTS)) return;
  if (HANGUP_PENDING) {
    HANGUP_PENDING = 0;
    frame.windows.push_back({0, EVENTS_QUIT});
  }
  SDL_Event event;
  for (int n = 0; n < EVENTS_PUMP_LIMIT && SDL_PollEvent(&event); ++n) take(event);
}

const EventsFrame& events_frame() { return EVENTS.frame; }

uint32_t events_focus_window() { return EVENTS.focus_window; }

void events_note_window(SDL_Window* window) {
  if (window && (SDL_GetWindowFlags(window) & SDL_WINDOW_INPUT_FOCUS)) {
    EVENTS.focus_window = SDL_GetWindowID(window);
  }
}

void events_forget_window(uint32_t window_id) {
  if (EVENTS.focus_window == window_id) EVENTS.focus_window = 0;
}

void events_publish_window(SDL_Window* window, int32_t open) {
  std::erase(EVENTS.windows, window);
  if (open) {
    EVENTS.windows.push_back(window);
  } else {
    events_forget_window(SDL_GetWindowID(window));
  }
}

SDL_Window* events_window(intptr_t handle) {
  for (SDL_Window* window : EVENTS.windows) {
    if (reinterpret_cast<intptr_t>(window) == handle) return window;
  }
  return nullptr;
}

void events_publish_screen(const EventsScreen& screen) {
  EVENTS.screen = screen;
  EVENTS.screen_window_id = screen.window ? SDL_GetWindowID(screen.window) : 0;
  EVENTS.full_screen_focus = screen.window ? 1 : 0;
}

void events_publish_view(int32_t origin_x, int32_t origin_y, int32_t view_width,
                         int32_t view_height) {
  EVENTS.screen.origin_x = origin_x;
  EVENTS.screen.origin_y = origin_y;
  EVENTS.screen.view_width = view_width;
  EVENTS.screen.view_height = view_height;
}

const EventsScreen& events_screen() { return EVENTS.screen; }

int32_t events_screen_active() {
  if (!EVENTS.screen.window) return 0;
  if (!EVENTS.screen.windowed) return EVENTS.full_screen_focus;
  return EVENTS.focus_window != 0 && EVENTS.focus_window == EVENTS.screen_window_id;
}
