// The drawing target of one pass and its back-end operation table. Inside the media layer and
// its tests only; the game holds a DrawTarget* without looking into it.
#pragma once

#include <cstdint>

#include "media/font.h"

// Operations of one kind of surface, in the order the front end knows them. The front end
// reaches every primitive only through this table, so another surface kind needs only a table.
struct DrawBackend {
  void (*set_back_colour)(DrawTarget* target, uint32_t colour);  // text background
  void (*box)(DrawTarget* target, int32_t x, int32_t y, int32_t w, int32_t h);
  void (*circle)(DrawTarget* target, int32_t x, int32_t y, int32_t radius);
  void (*select_font)(DrawTarget* target, FontHandle font);
  void (*set_mode)(DrawTarget* target, int32_t mode);
  // Draws text with its top-left at (x, y); returns the x just right of it.
  int32_t (*text)(DrawTarget* target, int32_t x, int32_t y, const char* text);
  void (*set_front_colour)(DrawTarget* target, uint32_t colour);
  int32_t (*start)(DrawTarget* target);  // non-zero when the pass may draw
  void (*stop)(DrawTarget* target);
  int32_t (*text_height)(DrawTarget* target, const char* text);
  int32_t (*text_width)(DrawTarget* target, const char* text);
};

// No colour applied yet: differs from every colour the game can pass through rgb.
constexpr uint32_t DRAW_NO_COLOUR = 0xFFFFFFFF;

struct DrawTarget {
  const DrawBackend* backend;  // operations of the surface kind
  uint32_t* pixels;            // top-left pixel of the surface, 0x00BBGGRR
  int32_t width;               // surface size in pixels
  int32_t height;
  int32_t pitch;              // pixels from one row to the next
  int32_t started;            // draw_begin succeeded; primitives draw only while set
  uint32_t front_cache;       // front colour last handed to the back end (DRAW_NO_COLOUR: none)
  uint32_t back_cache;        // text background last handed to the back end
  uint32_t default_back;      // background of draw_text: black, never changed
  int32_t mode;               // DRAW_* bits
  uint32_t front;             // back end's pen, brush and text colour
  uint32_t back;              // back end's text background
  FontHandle font;            // selected font; 0 = the default font
  int32_t front_colour_sets;  // times the back end took a new front colour (pen and brush made)
};

// A new target drawing into pixels (width x height, pitch pixels per row) with the software
// back end; it becomes this thread's current target, replacing (and freeing) any earlier one.
// Null when the size is not positive.
DrawTarget* draw_target_on_pixels(uint32_t* pixels, int32_t width, int32_t height, int32_t pitch);
// Frees this thread's current target if it draws into pixels (the surface is going away).
void draw_forget_pixels(const uint32_t* pixels);
// This thread's current target, or null.
DrawTarget* draw_current_target();
