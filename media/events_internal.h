// What the event pump shares inside the media layer: the frame's record, and what the screen
// and the window modules publish about the open screen and our windows. The input modules read
// the screen from here instead of asking the screen, so nothing below the screen calls it.
// Inside the media layer only (and its tests); the frame's owner needs media/events.h alone.
//
// A module takes the record at its first call of the frame: window at window_poll_event; screen
// at screen_is_active, screen_flip and screen_output; mouse at mouse_examine and mouse_release
// (and when the screen hands it on); keyboard at keyboard_examine; pad at pad_examine. The frame
// asks screen_is_active before it reads input, since it must know whether to, so a resized window's
// picture is placed anew before the mouse converts motion on it.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <vector>

#include "media/events.h"

// The open screen as the screen module publishes it.
struct EventsScreen {
  SDL_Window* window = nullptr;  // the window the screen shows in; null while none is open
  int32_t windowed = 0;          // 1 in a window of ours, 0 full screen
  int32_t width = 0;             // back-buffer size in pixels
  int32_t height = 0;
  int32_t origin_x = 0;  // top-left of the screen's picture inside its window
  int32_t origin_y = 0;
  int32_t view_width = 0;   // the picture's size in window pixels: the back buffer's
  int32_t view_height = 0;  //   at scale 1, N times it in a window scaled by N
};

// EventsWindowEvent::what of a quit request (a signal, the session ending).
constexpr int32_t EVENTS_QUIT = -1;
// Mouse buttons the record follows: left, right, middle.
constexpr int32_t EVENTS_BUTTONS = 3;
// EventsFrame::buttons of a button without an event in the frame.
constexpr int32_t EVENTS_NO_BUTTON_EVENT = -1;

// One window event or quit request, as SDL gave it.
struct EventsWindowEvent {
  uint32_t window_id;  // SDL's id of the window; 0 for a quit request
  int32_t what;        // SDL_WINDOWEVENT_* code, or EVENTS_QUIT
};

// What one events_pump took from SDL. A module compares serial with the last one it took, so
// it takes each frame's record once however often the frame calls it.
struct EventsFrame {
  uint32_t serial = 0;                     // counts the pumps: which one wrote the record
  std::vector<EventsWindowEvent> windows;  // window events and quit requests, in order
  // 1 for each SDL scan code held once the frame's key events are applied in order. Kept
  // across frames: the keyboard is not read while the screen is in the background, and the
  // key-ups SDL sends when the focus goes must still reach it.
  uint8_t keys_down[SDL_NUM_SCANCODES] = {};
  // Pointer motion summed over the events that came while the screen was active, after its
  // last focus loss in the frame: input from before a loss belongs to a capture that ended.
  int64_t motion_x = 0;
  int64_t motion_y = 0;
  // Left, right, middle as the last of their events (counted like the motion) left them: 1
  // down, 0 up, EVENTS_NO_BUTTON_EVENT when none came.
  int32_t buttons[EVENTS_BUTTONS] = {EVENTS_NO_BUTTON_EVENT, EVENTS_NO_BUTTON_EVENT,
                                     EVENTS_NO_BUTTON_EVENT};
  int32_t screen_focus_lost = 0;  // the screen's window lost the focus during the frame
  int32_t screen_resized = 0;     // the screen's window changed size
  int32_t render_reset = 0;       // the render device lost its textures
  // Game pads that arrived (a count: the pad module opens the first it can) and the SDL
  // instance ids of those removed during the frame.
  int32_t pads_added = 0;
  std::vector<int32_t> pads_removed;
};

// Initialises SDL's video (with the layer's hints) for one more user; 1 on success. A failure
// leaves its reason in SDL_GetError().
int32_t events_video_acquire();
// Gives back one events_video_acquire.
void events_video_release();
// The record the last events_pump wrote.
const EventsFrame& events_frame();
// SDL window id holding the input focus as the event stream told it; 0 = none of ours.
uint32_t events_focus_window();
// Records what SDL says about window's focus when it is created or shown.
void events_note_window(SDL_Window* window);
// Forgets the focus of a window that is being destroyed.
void events_forget_window(uint32_t window_id);
// The window module's news: window was opened (open 1) or is about to be destroyed (0).
void events_publish_window(SDL_Window* window, int32_t open);
// The open window of ours behind handle (a window_handle), or null for anything else.
SDL_Window* events_window(intptr_t handle);
// The screen module's news: a screen opened (window set) or closed (the default record).
void events_publish_screen(const EventsScreen& screen);
// The screen module's news that its picture moved or changed size inside its window (the
// window was resized): its top-left and size in window pixels.
void events_publish_view(int32_t origin_x, int32_t origin_y, int32_t view_width,
                         int32_t view_height);
// The open screen as last published.
const EventsScreen& events_screen();
// 1 while the open screen may take input: windowed, its window has the focus; full screen,
// its window has not lost the focus since it opened.
int32_t events_screen_active();
