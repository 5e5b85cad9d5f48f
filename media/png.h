// Pictures written as PNG files: the game's icons, and a frame of a run for a bug report or for
// comparing one build's picture with another's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// An 8-bit RGBA PNG of width x height pixels (0x00BBGGRR, rows top to bottom). A pixel equal to
// *clear, when clear is given, becomes fully transparent; all others are opaque. Empty when the
// picture cannot be compressed.
std::string png_encode(const std::vector<uint32_t>& pixels, int32_t width, int32_t height,
                       const uint32_t* clear = nullptr);
