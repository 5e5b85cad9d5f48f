// 2D drawing into the back buffer between draw_begin and draw_end, in the fonts media/font.h
// loads and with the mode bits (DRAW_*) of media/raster.h.
#pragma once

#include <cstdint>

#include "media/font.h"
#include "media/raster.h"

// A drawing pass on a surface (defined by the drawing module).
struct DrawTarget;

// red + green * 256 + blue * 65536, by plain addition (no masking or clamping).
constexpr uint32_t rgb(int32_t red, int32_t green, int32_t blue) {
  return static_cast<uint32_t>(red + green * 256 + blue * 65536);
}

// Prepares the font table and the current-target slot (program start).
void drawing_system_init();
// Deletes every loaded font (program end).
void drawing_system_shutdown();

// Opens a drawing pass on target (which may be null); non-zero on success. A failed begin
// frees the target.
int32_t draw_begin(DrawTarget* target);
// Ends the current pass and frees its target; nothing happens without one.
void draw_end();
// Box of w x h pixels at (x, y) in colour, filled or outlined by the mode.
void draw_box(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t colour);
// Circle of radius r centred on (x, y): 2r + 1 pixels across.
void draw_circle(int32_t x, int32_t y, int32_t radius, uint32_t colour);
// Text with its top-left at (x, y), on the black cell unless DRAW_TRANSPARENT; returns x + width.
int32_t draw_text(int32_t x, int32_t y, const char* text, uint32_t front);
// As draw_text with the given back colour.
int32_t draw_text_colors(int32_t x, int32_t y, const char* text, uint32_t front, uint32_t back);
// Sets the DRAW_* mode bits for the rest of the pass.
void draw_set_mode(int32_t mode);
// Selects a loaded font (0 = the default font).
void draw_set_font(FontHandle font);
// Width in pixels of text in the selected font; 0 for null or empty text.
int32_t text_width(const char* text);
// Height in pixels of text in the selected font; 0 for null or empty text.
int32_t text_height(const char* text);
