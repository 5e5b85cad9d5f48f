// Software rasteriser on a plain 32-bit pixel array: boxes, circles, filled cells and
// anti-aliased coverage masks, each clipped to the array. No platform code, so tests can draw
// into their own arrays and compare pixels.
#pragma once

#include <cstdint>

// The mode bits of a drawing pass (draw_set_mode), one word for boxes, circles and text: here,
// with the boxes and circles that read most of them.
constexpr int32_t DRAW_TRANSPARENT = 1;  // text without its background cell
constexpr int32_t DRAW_INVERT = 2;       // boxes and circles invert what is under them
constexpr int32_t DRAW_OUTLINED = 4;     // boxes and circles as one-pixel outlines

// A pixel array to draw into; pixels are 0x00BBGGRR.
struct RasterSurface {
  uint32_t* pixels;  // first pixel of the top row
  int32_t width;     // pixels per row
  int32_t height;    // rows
  int32_t pitch;     // pixels from the start of one row to the next
};

// Box of w x h pixels at (x, y) under the DRAW_* mode bits: columns x .. x + w - 1 and rows
// y .. y + h - 1 (a negative size reaches left of x or above y, excluding x or y); filled,
// or its one-pixel border with DRAW_OUTLINED; inverted instead of painted with DRAW_INVERT.
// A box of w and h each 1 or -1 is the single pixel it names, set to colour in any mode.
// A zero width or height draws nothing.
void raster_box(const RasterSurface& surface, int32_t x, int32_t y, int32_t w, int32_t h,
                uint32_t colour, int32_t mode);
// Circle centred on pixel (x, y), 2 * radius + 1 pixels across, filled or (DRAW_OUTLINED) only
// its one-pixel rim, inverted with DRAW_INVERT. Radius 0 and 1 are the single pixel (x, y);
// a negative radius draws nothing.
void raster_circle(const RasterSurface& surface, int32_t x, int32_t y, int32_t radius,
                   uint32_t colour, int32_t mode);
// Paints the w x h area at (x, y) in colour (w, h > 0), whatever the mode.
void raster_fill(const RasterSurface& surface, int32_t x, int32_t y, int32_t w, int32_t h,
                 uint32_t colour);
// Blends colour onto the surface at (x, y) through a coverage mask of w x h bytes
// (0 = untouched, 255 = colour), mask_pitch bytes per mask row.
void raster_blend_mask(const RasterSurface& surface, int32_t x, int32_t y, const uint8_t* mask,
                       int32_t w, int32_t h, int32_t mask_pitch, uint32_t colour);
