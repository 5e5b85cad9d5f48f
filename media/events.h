// The media layer's one event pump. Every SDL event is taken here and sorted: window events to
// the window queue, keys to the keyboard table, motion and buttons to the mouse, focus to the
// screen. All input and window state is derived from this stream, so a test that pushes SDL
// events drives the layer exactly like a player. Inside the media layer only.
#pragma once

#include <SDL.h>

#include <cstdint>

// Initialises SDL's video (with the layer's hints) for one more user; 1 on success.
int32_t events_video_acquire();
// Gives back one events_video_acquire.
void events_video_release();
// Takes every pending SDL event (up to a bound, so a flood cannot hang a frame) and sorts it.
void events_pump();
// Sorts one SDL event to whichever module it concerns.
void events_sort(const SDL_Event& event);
// SDL window id holding the input focus as the event stream told it; 0 = none of ours.
uint32_t events_focus_window();
// Records what SDL says about window's focus when it is created or shown.
void events_note_window(SDL_Window* window);
// Forgets the focus of a window that is being destroyed.
void events_forget_window(uint32_t window_id);

// --- What the sorting calls in the other modules ---

// Window module: an SDL window event, and a quit request (signal or last window closing).
void window_on_event(const SDL_WindowEvent& event);
void window_on_quit();
// The SDL window behind a handle that window_open returned, or null for anything else.
SDL_Window* window_sdl(intptr_t handle);

// Screen module: focus gained or lost by an SDL window; the render device lost its textures.
void screen_on_focus(uint32_t window_id, int32_t gained);
void screen_on_render_reset();
// The SDL window the open screen shows in, or null.
SDL_Window* screen_sdl_window();
// 1 while the open screen is a windowed screen.
int32_t screen_is_windowed();
// Back-buffer size, 0 x 0 without a screen.
int32_t screen_width();
int32_t screen_height();
// The screen's picture inside its window: top-left and size, in window coordinates.
void screen_view(int32_t* x, int32_t* y, int32_t* width, int32_t* height);

// Keyboard module: an SDL scan code went down (1) or up (0).
void keyboard_on_key(int32_t sdl_scancode, int32_t down);

// Mouse module: relative motion, a button going down (1) or up (0) (SDL numbering), and the
// screen's window losing focus or the screen closing (the pointer is let go at once).
void mouse_on_motion(int32_t dx, int32_t dy);
void mouse_on_button(int32_t sdl_button, int32_t down);
void mouse_on_focus_lost();
