// Fonts: system faces found by family through fontconfig, rendered with SDL2_ttf into the
// software rasteriser. The drawing operations (media/draw.h) select them by handle.
#pragma once

#include <cstdint>

#include "media/raster.h"

// Font handle; 0 = none.
using FontHandle = intptr_t;

// Loads the system face name at size points under id; the handle, or 0 when the face is missing.
FontHandle font_load(int32_t id, const char* face, int32_t size, int32_t style = 0);
// Points to pixels at the 96 dots per inch the game's sizes are meant for: 14 pt = 19 px.
int32_t font_pixel_size(int32_t points);
// Prepares the font engine; harmless to call again.
void font_system_init();
// Closes every loaded font and the default font.
void font_system_shutdown();
// Width of text in font (0 or an unknown handle = the default font); 0 for null or empty text
// and when there is no font at all.
int32_t font_text_width(FontHandle font, const char* text);
// Cell height of font; 0 for null or empty text and when there is no font at all.
int32_t font_text_height(FontHandle font, const char* text);
// Draws text with its top-left at (x, y) in front, anti-aliased; when opaque the cell (text
// width x font height) is first filled with back. Returns the width drawn (0 = nothing).
int32_t font_draw_text(const RasterSurface& surface, FontHandle font, int32_t x, int32_t y,
                       const char* text, uint32_t front, uint32_t back, int32_t opaque);
// Looks fonts up in the fontconfig configuration file config_file from now on instead of the
// system's (null = the system's again), and forgets the default font. 1 on success. For tests.
int32_t font_use_config(const char* config_file);
// The file the font handle was loaded from, or the default font's for 0; empty when none.
const char* font_file(FontHandle font);
