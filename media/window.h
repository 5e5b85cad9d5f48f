// Top-level windows addressed by small ids, their events and the message box.
#pragma once

#include <cstdint>
#include <string>

// Event codes returned by window_poll_event.
constexpr int EVENT_MOVE_WINDOW = 3;
constexpr int EVENT_SIZE_WINDOW = 5;
constexpr int EVENT_REPAINT = 15;
constexpr int EVENT_CLOSE_WINDOW = 16;  // close requested (also of the full-screen display)
constexpr int EVENT_ACTIVATE_WINDOW = 13104;
constexpr int EVENT_MINIMIZE_WINDOW = 13107;
constexpr int EVENT_MAXIMIZE_WINDOW = 13108;
constexpr int EVENT_RESTORE_WINDOW = 13109;

// window_open flags; other bits are platform window styles.
constexpr uint32_t WINDOW_SCREEN_CENTERED = 1;
constexpr uint32_t WINDOW_PARENT_CENTERED = 2;
constexpr uint32_t WINDOW_TOOL = 4;
constexpr uint32_t WINDOW_NO_CONTROLS = 8;
constexpr uint32_t WINDOW_MAXIMIZE = 0x01000000;
constexpr uint32_t WINDOW_INVISIBLE = 0x10000000;
constexpr uint32_t WINDOW_MINIMIZE = 0x20000000;

// message_box flag for the error icon.
constexpr uint32_t MESSAGE_BOX_ERROR = 16;

// Native window handle (opaque to the game; 0 = none).
using WindowHandle = intptr_t;

// Prepares the window table and this thread's event queue (program start).
void window_system_init();
// Closes every open window (program end).
void window_system_shutdown();
// Opens a window with a client area of width x height; the handle for an explicit id,
// the chosen id for -1, 0 on failure.
intptr_t window_open(int32_t id, int32_t x, int32_t y, int32_t width, int32_t height,
                     const char* title, uint32_t flags);
// The native handle of window id, 0 when it has none.
WindowHandle window_handle(int32_t id);
// Takes one window event of those the frame's events_pump found: an EVENT_* code, or 0 when
// none is left.
int32_t window_poll_event();
// Hides (1) or shows (0) window id; 0 for an id without a window.
int32_t window_hide(int32_t id, int32_t hide);
// Destroys window id and drops its queued events; 0 for an id without a window.
int32_t window_close(int32_t id);
// Shows a modal message box (also written to standard error; an error box's copy there adds the
// library's reason for the last failure in the media layer); returns the button pressed.
int32_t message_box(const char* title, const char* text, uint32_t flags);

// Puts text on the system clipboard (nothing without a window system).
void clipboard_set_text(const char* text);
// The text on the system clipboard, or "".
std::string clipboard_text();
