#include "media/raster.h"

#include <algorithm>
#include <cmath>

namespace {

// Only the low 24 bits are a colour; the top byte of a pixel stays 0.
constexpr uint32_t RASTER_COLOUR_MASK = 0x00FFFFFF;

// Paints or inverts columns x0 .. x1 (inclusive) of row y, clipped to the surface.
// Coordinates are 64-bit so that x + w never overflows for any 32-bit box.
void span(const RasterSurface& s, int64_t y, int64_t x0, int64_t x1, uint32_t colour, bool invert) {
  if (y < 0 || y >= s.height) return;
  x0 = std::max<int64_t>(x0, 0);
  x1 = std::min<int64_t>(x1, int64_t{s.width} - 1);
  if (x0 > x1) return;
  uint32_t* row = s.pixels + y * s.pitch;
  if (invert) {
    for (int64_t x = x0; x <= x1; ++x) row[x] = ~row[x] & RASTER_COLOUR_MASK;
  } else {
    std::fill(row + x0, row + x1 + 1, colour & RASTER_COLOUR_MASK);
  }
}

// Half-width of row dy of a circle of radius r: the largest dx with dx^2 + dy^2 <= r^2 + r,
// which rounds the true circle of radius r + 1/2 to whole pixels. -1 outside the circle.
int64_t circle_half_width(int64_t r, int64_t dy) {
  if (dy < -r || dy > r) return -1;
  const int64_t limit = r * r + r - dy * dy;
  auto hw = static_cast<int64_t>(std::sqrt(static_cast<double>(limit)));
  while (hw * hw > limit) --hw;
  while ((hw + 1) * (hw + 1) <= limit) ++hw;
  return hw;
}

}  // namespace

void raster_box(const RasterSurface& s, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t colour,
                int32_t mode) {
  if ((w == 1 || w == -1) && (h == 1 || h == -1)) {
    const int64_t px = w == 1 ? x : int64_t{x} - 1;
    const int64_t py = h == 1 ? y : int64_t{y} - 1;
    span(s, py, px, px, colour, false);
    return;
  }
  int64_t left = x, right = int64_t{x} + w, top = y, bottom = int64_t{y} + h;
  if (left > right) std::swap(left, right);
  if (top > bottom) std::swap(top, bottom);
  if (left == right || top == bottom) return;
  --right;  // inclusive from here on
  --bottom;
  const bool invert = (mode & DRAW_INVERT) != 0;
  if (!(mode & DRAW_OUTLINED)) {
    const int64_t first = std::max<int64_t>(top, 0);
    const int64_t last = std::min<int64_t>(bottom, int64_t{s.height} - 1);
    for (int64_t row = first; row <= last; ++row) span(s, row, left, right, colour, invert);
    return;
  }
  span(s, top, left, right, colour, invert);
  if (bottom != top) span(s, bottom, left, right, colour, invert);
  const int64_t first = std::max<int64_t>(top + 1, 0);
  const int64_t last = std::min<int64_t>(bottom - 1, int64_t{s.height} - 1);
  for (int64_t row = first; row <= last; ++row) {
    span(s, row, left, left, colour, invert);
    if (right != left) span(s, row, right, right, colour, invert);
  }
}

void raster_circle(const RasterSurface& s, int32_t x, int32_t y, int32_t radius, uint32_t colour,
                   int32_t mode) {
  if (radius < 0) return;
  const bool invert = (mode & DRAW_INVERT) != 0;
  if (radius <= 1) {
    span(s, y, x, x, colour, invert);
    return;
  }
  const int64_t r = radius;
  // Only the rows that can be on the surface are walked, so a huge radius costs nothing extra.
  const int64_t first = std::max<int64_t>(-r, -int64_t{y});
  const int64_t last = std::min<int64_t>(r, int64_t{s.height} - 1 - y);
  for (int64_t dy = first; dy <= last; ++dy) {
    const int64_t hw = circle_half_width(r, dy);
    if (!(mode & DRAW_OUTLINED)) {
      span(s, y + dy, x - hw, x + hw, colour, invert);
      continue;
    }
    // A pixel belongs to the rim unless all four of its neighbours are inside the circle;
    // walking each pixel once keeps an inverted rim from cancelling itself.
    const int64_t inner =
        std::min({hw - 1, circle_half_width(r, dy - 1), circle_half_width(r, dy + 1)});
    if (inner < 0) {
      span(s, y + dy, x - hw, x + hw, colour, invert);
    } else {
      span(s, y + dy, x - hw, x - inner - 1, colour, invert);
      span(s, y + dy, x + inner + 1, x + hw, colour, invert);
    }
  }
}

void raster_fill(const RasterSurface& s, int32_t x, int32_t y, int32_t w, int32_t h,
                 uint32_t colour) {
  if (w <= 0 || h <= 0) return;
  const int64_t first = std::max<int64_t>(y, 0);
  const int64_t last = std::min<int64_t>(int64_t{y} + h - 1, int64_t{s.height} - 1);
  for (int64_t row = first; row <= last; ++row) {
    span(s, row, x, int64_t{x} + w - 1, colour, false);
  }
}

void raster_blend_mask(const RasterSurface& s, int32_t x, int32_t y, const uint8_t* mask, int32_t w,
                       int32_t h, int32_t mask_pitch, uint32_t colour) {
  const int64_t col0 = std::max<int64_t>(0, -int64_t{x});
  const int64_t col1 = std::min<int64_t>(w, int64_t{s.width} - x);
  const int64_t row0 = std::max<int64_t>(0, -int64_t{y});
  const int64_t row1 = std::min<int64_t>(h, int64_t{s.height} - y);
  for (int64_t my = row0; my < row1; ++my) {
    const uint8_t* coverage = mask + my * mask_pitch;
    uint32_t* row = s.pixels + (y + my) * s.pitch + x;
    for (int64_t mx = col0; mx < col1; ++mx) {
      const uint32_t a = coverage[mx];
      if (a == 0) continue;
      if (a == 255) {
        row[mx] = colour & RASTER_COLOUR_MASK;
        continue;
      }
      uint32_t out = 0;
      for (int shift = 0; shift < 24; shift += 8) {
        const uint32_t src = (colour >> shift) & 0xFF;
        const uint32_t dst = (row[mx] >> shift) & 0xFF;
        out |= ((src * a + dst * (255 - a) + 127) / 255) << shift;
      }
      row[mx] = out;
    }
  }
}
