// The clipboard of an X11 session, read as the protocol has it (a long text in parts), through
// a connection of its own. The one place that speaks X11 beside SDL.
#include "media/window_internal.h"

#if defined(__linux__) && !defined(__EMSCRIPTEN__)
// Only X11's types and names: the library itself is loaded when the clipboard is read.
#include <SDL.h>
#include <X11/Xlib.h>
#include <dlfcn.h>
#include <poll.h>

#include <type_traits>

namespace {

// X11's clipboard, read in parts. SDL's own reader waits one second for the whole text in one
// piece and takes nothing from an owner that hands a long text over in parts (INCR), as most
// programs do past a few hundred kilobytes: a long share code would not paste. libX11 is loaded
// only here; SDL has it loaded already whenever its video driver is x11.
constexpr size_t CLIPBOARD_TEXT_MAX = 16 << 20;  // no text the game reads is half as long
constexpr int CLIPBOARD_WAIT_MS = 2000;          // for the owner's answer, and for each part

struct X11 {
  Display* (*open_display)(const char* name);
  int (*close_display)(Display* display);
  Atom (*intern_atom)(Display* display, const char* name, Bool only_if_exists);
  Window (*default_root_window)(Display* display);
  Window (*create_simple_window)(Display* display, Window parent, int x, int y, unsigned width,
                                 unsigned height, unsigned border_width, unsigned long border,
                                 unsigned long background);
  int (*destroy_window)(Display* display, Window window);
  int (*select_input)(Display* display, Window window, long mask);
  Window (*get_selection_owner)(Display* display, Atom selection);
  int (*convert_selection)(Display* display, Atom selection, Atom target, Atom property,
                           Window requestor, Time time);
  int (*get_window_property)(Display* display, Window window, Atom property, long offset,
                             long length, Bool remove, Atom wanted, Atom* type, int* format,
                             unsigned long* items, unsigned long* after, unsigned char** data);
  int (*pending)(Display* display);
  int (*next_event)(Display* display, XEvent* event);
  int (*flush)(Display* display);
  int (*connection_number)(Display* display);
  int (*free)(void* data);
};

const X11* x11_loaded() {
  static const X11* loaded = []() -> const X11* {
    static X11 x{};
    void* library = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (!library) return nullptr;
    bool found = true;
    const auto find = [&](auto& function, const char* name) {
      function =
          reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(library, name));
      found = found && function;
    };
    find(x.open_display, "XOpenDisplay");
    find(x.close_display, "XCloseDisplay");
    find(x.intern_atom, "XInternAtom");
    find(x.default_root_window, "XDefaultRootWindow");
    find(x.create_simple_window, "XCreateSimpleWindow");
    find(x.destroy_window, "XDestroyWindow");
    find(x.select_input, "XSelectInput");
    find(x.get_selection_owner, "XGetSelectionOwner");
    find(x.convert_selection, "XConvertSelection");
    find(x.get_window_property, "XGetWindowProperty");
    find(x.pending, "XPending");
    find(x.next_event, "XNextEvent");
    find(x.flush, "XFlush");
    find(x.connection_number, "XConnectionNumber");
    find(x.free, "XFree");
    return found ? &x : nullptr;
  }();
  return loaded;
}

// The next event of display that matches, waiting at most CLIPBOARD_WAIT_MS; false on time out.
template <typename Match>
bool next_matching(const X11& x, Display* display, XEvent& event, Match match) {
  const Uint64 deadline = SDL_GetTicks64() + CLIPBOARD_WAIT_MS;
  for (;;) {
    while (x.pending(display)) {
      x.next_event(display, &event);
      if (match(event)) return true;
    }
    const Uint64 now = SDL_GetTicks64();
    if (now >= deadline) return false;
    pollfd ready{x.connection_number(display), POLLIN, 0};
    poll(&ready, 1, static_cast<int>(deadline - now));
  }
}

}  // namespace

bool window_x11_clipboard_text(std::string& text) {
  const X11* x = x11_loaded();
  Display* display = x ? x->open_display(nullptr) : nullptr;
  if (!display) return false;
  const Atom clipboard = x->intern_atom(display, "CLIPBOARD", False);
  const Atom utf8 = x->intern_atom(display, "UTF8_STRING", False);
  const Atom incr = x->intern_atom(display, "INCR", False);
  const Atom property = x->intern_atom(display, "Q47_CLIPBOARD", False);
  const Window window =
      x->create_simple_window(display, x->default_root_window(display), 0, 0, 1, 1, 0, 0, 0);
  x->select_input(display, window, PropertyChangeMask);
  text.clear();
  // One piece of the property, removed as it is read (which asks an INCR owner for the next):
  // its size in bytes (0 at the end of the parts), or -1 on a failure or past the limit.
  const auto take = [&](Atom& type) -> long {
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    if (x->get_window_property(display, window, property, 0, 0x1FFFFFFF, True, AnyPropertyType,
                               &type, &format, &items, &after, &data) != Success) {
      return -1;
    }
    const size_t bytes = items * static_cast<size_t>(format / 8);
    const bool fits = text.size() + bytes <= CLIPBOARD_TEXT_MAX;
    if (fits && data && type != incr) text.append(reinterpret_cast<const char*>(data), bytes);
    if (data) x->free(data);
    return fits ? static_cast<long>(bytes) : -1;
  };
  if (x->get_selection_owner(display, clipboard) != None) {
    x->convert_selection(display, clipboard, utf8, property, window, CurrentTime);
    x->flush(display);
    XEvent event{};
    const bool answered = next_matching(*x, display, event, [&](const XEvent& e) {
      return e.type == SelectionNotify && e.xselection.requestor == window;
    });
    Atom type = None;
    if (answered && event.xselection.property != None && take(type) >= 0 && type == incr) {
      // In parts: each new value of the property is the next part, an empty one the end. An
      // owner that stops half way, or a text past the limit, gives nothing rather than a part.
      text.clear();
      for (;;) {
        const bool part = next_matching(*x, display, event, [&](const XEvent& e) {
          return e.type == PropertyNotify && e.xproperty.atom == property &&
                 e.xproperty.state == PropertyNewValue;
        });
        const long size = part ? take(type) : -1;
        if (size < 0) text.clear();
        if (size <= 0) break;
      }
    } else if (!answered) {
      text.clear();
    }
  }
  x->destroy_window(display, window);
  x->close_display(display);
  return true;
}

#else

bool window_x11_clipboard_text(std::string&) { return false; }

#endif
