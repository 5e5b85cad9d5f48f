// Top-level windows over SDL, our own queue of the window events the event pump recorded, and
// the message box.
#include "media/window.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <vector>

#include "media/events_internal.h"
#include "media/screen.h"
#include "media/window_internal.h"

namespace {

// Window styles of the platform the callers' flags are written for; the ones that change an
// SDL window are mapped, the rest (system menu, minimise box) every SDL window has anyway.
constexpr uint32_t WINDOW_STYLE_CAPTION = 0x00C00000;
constexpr uint32_t WINDOW_STYLE_SIZING = 0x00040000;
constexpr uint32_t WINDOW_STYLE_POPUP = 0x80000000;
constexpr uint32_t WINDOW_OWN_BITS =
    WINDOW_SCREEN_CENTERED | WINDOW_PARENT_CENTERED | WINDOW_NO_CONTROLS | WINDOW_INVISIBLE;
constexpr int32_t WINDOW_DEFAULT_POSITION = -65535;  // "let the system place it"
constexpr int32_t WINDOW_MAX_ID = 1023;              // higher ids are refused
constexpr int32_t WINDOW_MAX_SIDE = 16384;           // larger client sizes are refused
constexpr size_t WINDOW_QUEUE_LIMIT = 1024;          // queued events kept at most
constexpr int32_t MESSAGE_BOX_OK = 1;                // the OK button's result

struct Window {
  SDL_Window* window = nullptr;        // null = free slot
  uint32_t sdl_id = 0;                 // SDL's id of the window, which its events carry
  int32_t minimised_or_maximised = 0;  // so that a restore can be told from a plain resize
};

struct WindowEvent {
  int32_t code;       // EVENT_*
  int32_t object;     // object number (0: the window itself)
  int32_t window_id;  // our id of the window
  intptr_t data;      // first data word
};

struct WindowState {
  std::vector<Window> table;      // open windows by id
  std::deque<WindowEvent> queue;  // events not yet returned, oldest first
  int32_t video_held = 0;         // this module holds an events_video_acquire
  uint32_t taken = 0;             // serial of the last frame's record taken into the queue
  int32_t last_code = 0;          // code the last window_poll_event returned
  int32_t last_window = -1;       // and its window id
};

WindowState WINDOWS;

Window* window_at(int32_t id) {
  if (id < 0 || id >= static_cast<int32_t>(WINDOWS.table.size())) return nullptr;
  Window* w = &WINDOWS.table[static_cast<size_t>(id)];
  return w->window ? w : nullptr;
}

int32_t id_of_sdl(uint32_t sdl_id) {
  for (size_t i = 0; i < WINDOWS.table.size(); ++i) {
    if (WINDOWS.table[i].window && WINDOWS.table[i].sdl_id == sdl_id) {
      return static_cast<int32_t>(i);
    }
  }
  return -1;
}

// Queues an event, unless it repeats the newest queued one (a burst of moves is one move).
void post(int32_t code, int32_t window_id, intptr_t data = 0) {
  if (!WINDOWS.queue.empty()) {
    const WindowEvent& newest = WINDOWS.queue.back();
    if (newest.code == code && newest.object == 0 && newest.window_id == window_id &&
        newest.data == data) {
      return;
    }
  }
  if (WINDOWS.queue.size() >= WINDOW_QUEUE_LIMIT) return;
  WINDOWS.queue.push_back(WindowEvent{code, 0, window_id, data});
}

void drop_events_of(int32_t id) {
  std::erase_if(WINDOWS.queue, [id](const WindowEvent& e) { return e.window_id == id; });
}

// Puts a shown window in front with the keyboard focus. Without a window manager (a bare X
// server, as in tests) nobody else would give it focus, and it would never see a key.
void bring_to_front(SDL_Window* window) {
  SDL_RaiseWindow(window);
  SDL_SetWindowInputFocus(window);
  events_note_window(window);
}

// Queues ours of one recorded SDL window event.
void take_window_event(const EventsWindowEvent& event) {
  const int32_t id = id_of_sdl(event.window_id);
  if (id < 0) {
    // The full-screen display's window is the screen's own, not one of ours; its close
    // request (the window manager's close, a session ending) is the game's close request.
    const EventsScreen& screen = events_screen();
    if (event.what == SDL_WINDOWEVENT_CLOSE && screen.window && !screen.windowed &&
        SDL_GetWindowID(screen.window) == event.window_id) {
      post(EVENT_CLOSE_WINDOW, -1);
    }
    return;
  }
  Window& w = WINDOWS.table[static_cast<size_t>(id)];
  switch (event.what) {
    case SDL_WINDOWEVENT_MOVED:
      post(EVENT_MOVE_WINDOW, id);
      break;
    case SDL_WINDOWEVENT_SIZE_CHANGED:
      if (!(SDL_GetWindowFlags(w.window) & SDL_WINDOW_MINIMIZED)) post(EVENT_SIZE_WINDOW, id);
      break;
    case SDL_WINDOWEVENT_MINIMIZED:
      w.minimised_or_maximised = 1;
      post(EVENT_MINIMIZE_WINDOW, id);
      break;
    case SDL_WINDOWEVENT_MAXIMIZED:
      w.minimised_or_maximised = 1;
      post(EVENT_MAXIMIZE_WINDOW, id);
      post(EVENT_SIZE_WINDOW, id);
      break;
    case SDL_WINDOWEVENT_RESTORED:
      if (w.minimised_or_maximised) {
        w.minimised_or_maximised = 0;
        post(EVENT_RESTORE_WINDOW, id);
        post(EVENT_SIZE_WINDOW, id);
      }
      break;
    case SDL_WINDOWEVENT_FOCUS_GAINED:
      post(EVENT_ACTIVATE_WINDOW, id);
      break;
    case SDL_WINDOWEVENT_EXPOSED:
      post(EVENT_REPAINT, id);
      break;
    case SDL_WINDOWEVENT_CLOSE:
      post(EVENT_CLOSE_WINDOW, id);
      break;
    default:
      break;
  }
}

void take_quit() {
  // A quit request (a signal, or the session ending) is the close box of our first window,
  // or, with none open (the full-screen display), a close request of no window.
  for (size_t id = 0; id < WINDOWS.table.size(); ++id) {
    if (WINDOWS.table[id].window) {
      post(EVENT_CLOSE_WINDOW, static_cast<int32_t>(id));
      return;
    }
  }
  post(EVENT_CLOSE_WINDOW, -1);
}

// Queues the window events of the frame's record, once per record. Taken all at once, one
// request that arrives as several SDL events (a close click and its quit) meets the rule
// against repeats.
void take_frame() {
  const EventsFrame& frame = events_frame();
  if (WINDOWS.taken == frame.serial) return;
  WINDOWS.taken = frame.serial;
  for (const EventsWindowEvent& event : frame.windows) {
    if (event.what == EVENTS_QUIT) {
      take_quit();
    } else {
      take_window_event(event);
    }
  }
}

}  // namespace

void window_system_init() {
  WINDOWS.queue.clear();
  WINDOWS.taken = events_frame().serial;
  WINDOWS.last_code = 0;
  WINDOWS.last_window = -1;
}

void window_system_shutdown() {
  for (size_t id = 0; id < WINDOWS.table.size(); ++id) window_close(static_cast<int32_t>(id));
  WINDOWS.table.clear();
  WINDOWS.queue.clear();
  if (WINDOWS.video_held) events_video_release();
  WINDOWS.video_held = 0;
}

intptr_t window_open(int32_t id, int32_t x, int32_t y, int32_t width, int32_t height,
                     const char* title, uint32_t flags) {
  SDL_ClearError();  // a failure's reason is SDL's error, not one left over
  if (id < -1 || id > WINDOW_MAX_ID) return 0;
  if (width < 1 || height < 1 || width > WINDOW_MAX_SIDE || height > WINDOW_MAX_SIDE) return 0;
  if (!WINDOWS.video_held) {
    if (!events_video_acquire()) return 0;
    WINDOWS.video_held = 1;
  }
  const bool automatic = id == -1;
  if (automatic) {
    // Automatic ids start at 1 so that the id returned is never mistaken for failure.
    id = 1;
    while (window_at(id)) ++id;
    if (id > WINDOW_MAX_ID) return 0;
  } else {
    window_close(id);
  }

  if ((flags & ~WINDOW_OWN_BITS) == 0) flags |= WINDOW_STYLE_CAPTION;
#ifdef __EMSCRIPTEN__
  // In a browser high density would make the canvas devicePixelRatio times the window's size;
  // the canvas keeps the game's pixels, and the page scales what it shows.
  Uint32 sdl_flags = 0;
#else
  Uint32 sdl_flags = SDL_WINDOW_ALLOW_HIGHDPI;
#endif
  if (flags & WINDOW_INVISIBLE) sdl_flags |= SDL_WINDOW_HIDDEN;
  if (flags & WINDOW_STYLE_SIZING) sdl_flags |= SDL_WINDOW_RESIZABLE;
  if (flags & WINDOW_TOOL) {
    sdl_flags |= SDL_WINDOW_UTILITY;
  } else {
    if (flags & WINDOW_MAXIMIZE) sdl_flags |= SDL_WINDOW_MAXIMIZED;
    if (flags & WINDOW_MINIMIZE) sdl_flags |= SDL_WINDOW_MINIMIZED;
  }
  if ((flags & WINDOW_STYLE_POPUP) && !(flags & WINDOW_STYLE_CAPTION)) {
    sdl_flags |= SDL_WINDOW_BORDERLESS;
  }

  int pos_x = x, pos_y = y;
  if (flags & WINDOW_SCREEN_CENTERED) {
    // A window larger than the desktop is shrunk to it, then centred.
    SDL_Rect bounds;
    if (SDL_GetDisplayUsableBounds(0, &bounds) == 0 && bounds.w > 0 && bounds.h > 0) {
      width = std::min(width, bounds.w);
      height = std::min(height, bounds.h);
    }
    pos_x = pos_y = static_cast<int>(SDL_WINDOWPOS_CENTERED);
  } else if (flags & WINDOW_PARENT_CENTERED) {
    const int32_t active = id_of_sdl(events_focus_window());
    if (active >= 0) {
      int px, py, pw, ph;
      SDL_GetWindowPosition(WINDOWS.table[static_cast<size_t>(active)].window, &px, &py);
      SDL_GetWindowSize(WINDOWS.table[static_cast<size_t>(active)].window, &pw, &ph);
      pos_x = std::max(0, px + (pw - width) / 2);
      pos_y = std::max(0, py + (ph - height) / 2);
    }
  } else if (x == WINDOW_DEFAULT_POSITION || y == WINDOW_DEFAULT_POSITION) {
    pos_x = pos_y = static_cast<int>(SDL_WINDOWPOS_UNDEFINED);
  }

  SDL_Window* window = SDL_CreateWindow(title ? title : "", pos_x, pos_y, width, height, sdl_flags);
  if (!window) return 0;
  if (static_cast<size_t>(id) >= WINDOWS.table.size()) {
    WINDOWS.table.resize(static_cast<size_t>(id) + 1);
  }
  Window& w = WINDOWS.table[static_cast<size_t>(id)];
  w.window = window;
  w.sdl_id = SDL_GetWindowID(window);
  w.minimised_or_maximised = (flags & (WINDOW_MAXIMIZE | WINDOW_MINIMIZE)) != 0;
  events_publish_window(window, 1);
  if (!(flags & WINDOW_INVISIBLE)) bring_to_front(window);
  return automatic ? id : reinterpret_cast<intptr_t>(window);
}

WindowHandle window_handle(int32_t id) {
  Window* w = window_at(id);
  return w ? reinterpret_cast<WindowHandle>(w->window) : 0;
}

int32_t window_poll_event() {
  take_frame();
  if (WINDOWS.queue.empty()) {
    WINDOWS.last_code = 0;
    WINDOWS.last_window = -1;
    return 0;
  }
  const WindowEvent event = WINDOWS.queue.front();
  WINDOWS.queue.pop_front();
  WINDOWS.last_code = event.code;
  WINDOWS.last_window = event.window_id;
  return event.code;
}

int32_t window_hide(int32_t id, int32_t hide) {
  Window* w = window_at(id);
  if (!w) return 0;
  const int32_t was_visible = (SDL_GetWindowFlags(w->window) & SDL_WINDOW_SHOWN) ? 1 : 0;
  if (hide) {
    SDL_HideWindow(w->window);
  } else {
    // SDL keeps the maximised or minimised state across hiding, so showing restores it.
    SDL_ShowWindow(w->window);
    bring_to_front(w->window);
  }
  return was_visible;
}

int32_t window_close(int32_t id) {
  Window* w = window_at(id);
  if (!w) return 0;
  // A screen still shown in the window goes first: its renderer must not outlive the window.
  if (events_screen().window == w->window) screen_close();
  events_publish_window(w->window, 0);
  SDL_DestroyWindow(w->window);
  *w = Window{};
  drop_events_of(id);
  return 1;
}

int32_t message_box(const char* title, const char* text, uint32_t flags) {
  if (!title) title = "";
  if (!text) text = "";
  // Written first: without a display this is all a player gets, and it is there even if the
  // box below never returns. An error gets the library's own reason for the failure beside
  // it, which would mean nothing in the box.
  const char* reason = SDL_GetError();
  if ((flags & 0xF0) == MESSAGE_BOX_ERROR && reason && *reason) {
    std::fprintf(stderr, "%s: %s (%s)\n", title, text, reason);
  } else {
    std::fprintf(stderr, "%s: %s\n", title, text);
  }
  std::fflush(stderr);
  Uint32 kind = SDL_MESSAGEBOX_INFORMATION;
  if ((flags & 0xF0) == MESSAGE_BOX_ERROR) kind = SDL_MESSAGEBOX_ERROR;
  if ((flags & 0xF0) == 0x30) kind = SDL_MESSAGEBOX_WARNING;
  SDL_Window* owner = nullptr;
  const int32_t focused = id_of_sdl(events_focus_window());
  if (focused >= 0) owner = WINDOWS.table[static_cast<size_t>(focused)].window;
  SDL_ShowSimpleMessageBox(kind, title, text, owner);
  return MESSAGE_BOX_OK;
}

void clipboard_set_text(const char* text) {
  if (SDL_WasInit(SDL_INIT_VIDEO)) SDL_SetClipboardText(text);
}

std::string clipboard_text() {
  if (!SDL_WasInit(SDL_INIT_VIDEO)) return {};
#if defined(__linux__) && !defined(__EMSCRIPTEN__)
  const char* driver = SDL_GetCurrentVideoDriver();
  std::string text;
  if (driver && std::string(driver) == "x11" && window_x11_clipboard_text(text)) return text;
#endif
  char* text_of_sdl = SDL_GetClipboardText();
  std::string copy = text_of_sdl ? text_of_sdl : "";
  SDL_free(text_of_sdl);
  return copy;
}
