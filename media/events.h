// The media layer's one event pump. Every SDL event is taken here and sorted: window events to
// the window queue, keys to the keyboard table, motion and buttons to the mouse, focus to the
// screen. All input and window state is derived from this stream, so a test that pushes SDL
// events drives the layer exactly like a player. The pump also publishes what it learned (the
// focus) together with what the screen module tells it about the open screen, and the input
// modules read that record instead of asking the screen. Inside the media layer only.
#pragma once

#include <SDL.h>

#include <cstdint>

// The open screen as the screen module publishes it.
struct EventsScreen {
  SDL_Window* window = nullptr;  // the window the screen shows in; null while none is open
  int32_t windowed = 0;          // 1 in a window of ours, 0 full screen
  int32_t width = 0;             // back-buffer size in pixels
  int32_t height = 0;
  int32_t origin_x = 0;          // top-left of the screen's picture inside its window
  int32_t origin_y = 0;
  int32_t view_width = 0;        // the picture's size in window pixels: the back buffer's
  int32_t view_height = 0;       //   at scale 1, N times it in a window scaled by N
};

// Initialises SDL's video (with the layer's hints) for one more user; 1 on success. A failure
// leaves its reason in SDL_GetError().
int32_t events_video_acquire();
// Gives back one events_video_acquire.
void events_video_release();
// Takes every pending SDL event (up to a bound, so a flood cannot hang a frame) and sorts it.
// A hangup signal is sorted here too, as the quit request it is.
void events_pump();
// Sorts one SDL event to whichever module it concerns.
void events_sort(const SDL_Event& event);
// SDL window id holding the input focus as the event stream told it; 0 = none of ours.
uint32_t events_focus_window();
// Records what SDL says about window's focus when it is created or shown.
void events_note_window(SDL_Window* window);
// Forgets the focus of a window that is being destroyed.
void events_forget_window(uint32_t window_id);
// The screen module's news: a screen opened (window set) or closed (the default record). A
// closing screen gives the pointer back before its window goes.
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

// --- What the sorting calls in the window and screen modules ---

// Window module: an SDL window event, and a quit request (signal or last window closing).
void window_on_event(const SDL_WindowEvent& event);
void window_on_quit();
// The SDL window behind a handle that window_open returned, or null for anything else.
SDL_Window* window_sdl(intptr_t handle);

// Screen module: focus gained or lost by an SDL window; the render device lost its textures;
// an SDL window changed size.
void screen_on_focus(uint32_t window_id, int32_t gained);
void screen_on_render_reset();
void screen_on_resize(uint32_t window_id);
// The SDL window the open screen shows in, or null.
SDL_Window* screen_sdl_window();
