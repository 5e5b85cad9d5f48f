// Boxes and circles through the drawing front end, pixel for pixel, on a plain array whose
// rows carry guard pixels past the right edge so that a write outside the surface shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <set>
#include <utility>
#include <vector>

#include "media/draw.h"
#include "media/draw_target.h"

namespace {

using Pixels = std::set<std::pair<int, int>>;

constexpr uint32_t BACKGROUND = 0x00336699;
constexpr uint32_t GUARD = 0x00ABCDEF;
constexpr int GUARD_COLUMNS = 3;

struct Canvas {
  int width;
  int height;
  std::vector<uint32_t> pixels;

  Canvas(int w, int h) : width(w), height(h), pixels(static_cast<size_t>((w + GUARD_COLUMNS) * h)) {
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w + GUARD_COLUMNS; ++x) at(x, y) = x < w ? BACKGROUND : GUARD;
    }
  }
  uint32_t& at(int x, int y) {
    return pixels[static_cast<size_t>(y * (width + GUARD_COLUMNS) + x)];
  }

  // Opens a drawing pass on the canvas; the test draws, then calls draw_end.
  DrawTarget* begin() {
    DrawTarget* t = draw_target_on_pixels(pixels.data(), width, height, width + GUARD_COLUMNS);
    EXPECT_NE(draw_begin(t), 0);
    return t;
  }

  // Every pixel that no longer has the background colour.
  Pixels changed() {
    Pixels out;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        if (at(x, y) != BACKGROUND) out.insert({x, y});
      }
    }
    return out;
  }

  bool guards_intact() {
    for (int y = 0; y < height; ++y) {
      for (int x = width; x < width + GUARD_COLUMNS; ++x) {
        if (at(x, y) != GUARD) return false;
      }
    }
    return true;
  }
};

Pixels rect(int x0, int y0, int x1, int y1) {  // inclusive
  Pixels out;
  for (int y = y0; y <= y1; ++y) {
    for (int x = x0; x <= x1; ++x) out.insert({x, y});
  }
  return out;
}

Pixels border(int x0, int y0, int x1, int y1) {  // inclusive
  Pixels out;
  for (const auto& p : rect(x0, y0, x1, y1)) {
    if (p.first == x0 || p.first == x1 || p.second == y0 || p.second == y1) out.insert(p);
  }
  return out;
}

constexpr uint32_t RED = rgb(255, 0, 0);
constexpr uint32_t INVERTED_BACKGROUND = ~BACKGROUND & 0x00FFFFFF;

}  // namespace

TEST(Raster, BoxFilledAndOutlinedCoverHalfOpenArea) {
  Canvas c(32, 16);
  c.begin();
  draw_box(2, 3, 10, 5, RED);
  draw_end();
  EXPECT_EQ(c.changed(), rect(2, 3, 11, 7));
  EXPECT_EQ(c.at(2, 3), RED);

  Canvas o(32, 16);
  o.begin();
  draw_set_mode(DRAW_OUTLINED);
  draw_box(2, 3, 10, 5, RED);
  draw_end();
  EXPECT_EQ(o.changed(), border(2, 3, 11, 7));

  // Leaving outline mode gives boxes their fill back.
  Canvas back(32, 16);
  back.begin();
  draw_set_mode(DRAW_OUTLINED);
  draw_set_mode(0);
  draw_box(2, 3, 10, 5, RED);
  draw_end();
  EXPECT_EQ(back.changed(), rect(2, 3, 11, 7));
}

TEST(Raster, NegativeSizesReachLeftAndUpExcludingTheCorner) {
  Canvas c(32, 16);
  c.begin();
  draw_box(10, 10, -3, -2, RED);
  draw_end();
  EXPECT_EQ(c.changed(), rect(7, 8, 9, 9));

  Canvas w(32, 16);
  w.begin();
  draw_box(10, 4, -4, 3, RED);  // only the width is negative
  draw_end();
  EXPECT_EQ(w.changed(), rect(6, 4, 9, 6));
}

TEST(Raster, OneByOneBoxIsOnePixelInFrontColourInEveryMode) {
  const int modes[] = {0, DRAW_OUTLINED, DRAW_INVERT, DRAW_OUTLINED | DRAW_INVERT,
                       DRAW_TRANSPARENT};
  for (int mode : modes) {
    SCOPED_TRACE(mode);
    Canvas c(16, 16);
    c.begin();
    draw_set_mode(mode);
    draw_box(5, 6, 1, 1, RED);
    draw_box(9, 9, -1, -1, RED);  // names the pixel up and left of (9, 9)
    draw_box(12, 3, 1, -1, RED);
    draw_box(3, 12, -1, 1, RED);
    draw_end();
    EXPECT_EQ(c.changed(), (Pixels{{5, 6}, {8, 8}, {12, 2}, {2, 12}}));
    EXPECT_EQ(c.at(5, 6), RED);  // set, not inverted
  }
}

TEST(Raster, CirclesAreTwoRadiusPlusOneAcross) {
  Canvas c(100, 100);
  c.begin();
  draw_circle(50, 50, 4, RED);
  draw_end();
  const Pixels filled = c.changed();
  int min_x = 100, max_x = 0, min_y = 100, max_y = 0;
  for (const auto& [x, y] : filled) {
    min_x = std::min(min_x, x);
    max_x = std::max(max_x, x);
    min_y = std::min(min_y, y);
    max_y = std::max(max_y, y);
    EXPECT_TRUE(filled.count({100 - x, y}) && filled.count({x, 100 - y})) << "not symmetric";
  }
  EXPECT_EQ(min_x, 46);
  EXPECT_EQ(max_x, 54);
  EXPECT_EQ(min_y, 46);
  EXPECT_EQ(max_y, 54);
  for (int x = 46; x <= 54; ++x) EXPECT_TRUE(filled.count({x, 50}));  // the widest row is whole
  EXPECT_FALSE(filled.count({46, 46}));  // and the corners of the box are not part of it

  // The outline is the filled circle's rim: inside it, nothing changes; it closes the shape.
  Canvas o(100, 100);
  o.begin();
  draw_set_mode(DRAW_OUTLINED);
  draw_circle(50, 50, 4, RED);
  draw_end();
  const Pixels rim = o.changed();
  for (const auto& p : rim) EXPECT_TRUE(filled.count(p));
  EXPECT_FALSE(rim.count({50, 50}));
  EXPECT_TRUE(rim.count({46, 50}) && rim.count({54, 50}) && rim.count({50, 46}) &&
              rim.count({50, 54}));
  for (const auto& [x, y] : filled) {
    const bool inner = filled.count({x - 1, y}) && filled.count({x + 1, y}) &&
                       filled.count({x, y - 1}) && filled.count({x, y + 1});
    EXPECT_EQ(rim.count({x, y}) == 0, inner) << x << "," << y;
  }
}

TEST(Raster, RadiusOneIsOnePixelThatFollowsTheMode) {
  Canvas c(16, 16);
  c.begin();
  draw_circle(7, 8, 1, RED);
  draw_set_mode(DRAW_INVERT);
  draw_circle(3, 3, 1, RED);
  draw_end();
  EXPECT_EQ(c.changed(), (Pixels{{7, 8}, {3, 3}}));
  EXPECT_EQ(c.at(7, 8), RED);
  EXPECT_EQ(c.at(3, 3), INVERTED_BACKGROUND);
}

TEST(Raster, InvertModeInvertsEachCoveredPixelOnce) {
  Canvas c(32, 32);
  c.begin();
  draw_set_mode(DRAW_INVERT);
  draw_box(2, 3, 10, 5, RED);
  draw_end();
  EXPECT_EQ(c.changed(), rect(2, 3, 11, 7));
  for (const auto& [x, y] : c.changed()) EXPECT_EQ(c.at(x, y), INVERTED_BACKGROUND);

  Canvas o(32, 32);
  o.begin();
  draw_set_mode(DRAW_INVERT | DRAW_OUTLINED);
  draw_box(2, 3, 10, 5, RED);
  draw_circle(20, 20, 6, RED);
  draw_end();
  Canvas plain(32, 32);
  plain.begin();
  draw_set_mode(DRAW_OUTLINED);
  draw_box(2, 3, 10, 5, RED);
  draw_circle(20, 20, 6, RED);
  draw_end();
  // The same pixels as a painted outline, every one inverted (corners not twice).
  EXPECT_EQ(o.changed(), plain.changed());
  for (const auto& [x, y] : o.changed()) EXPECT_EQ(o.at(x, y), INVERTED_BACKGROUND);

  // Inverting twice gives the picture back.
  Canvas twice(32, 32);
  twice.begin();
  draw_set_mode(DRAW_INVERT);
  draw_circle(16, 16, 9, RED);
  draw_circle(16, 16, 9, RED);
  draw_end();
  EXPECT_TRUE(twice.changed().empty());
}

TEST(Raster, EverythingIsClippedAtAllFourEdges) {
  Canvas c(20, 10);
  c.begin();
  draw_box(-3, 2, 5, 2, RED);   // left edge
  draw_box(17, 5, 10, 2, RED);  // right edge
  draw_box(8, -4, 2, 5, RED);   // top edge
  draw_box(12, 8, 2, 9, RED);   // bottom edge
  draw_end();
  Pixels expected = rect(0, 2, 1, 3);
  for (const auto& p : rect(17, 5, 19, 6)) expected.insert(p);
  for (const auto& p : rect(8, 0, 9, 0)) expected.insert(p);
  for (const auto& p : rect(12, 8, 13, 9)) expected.insert(p);
  EXPECT_EQ(c.changed(), expected);
  EXPECT_TRUE(c.guards_intact());

  Canvas o(20, 10);
  o.begin();
  draw_set_mode(DRAW_OUTLINED);
  draw_box(-5, -5, 30, 20, RED);  // outline entirely outside: nothing visible
  draw_end();
  EXPECT_TRUE(o.changed().empty());
  EXPECT_TRUE(o.guards_intact());

  // Circles and extreme coordinates stay inside the array and do not overflow.
  Canvas e(20, 10);
  e.begin();
  draw_circle(0, 0, 5, RED);
  draw_circle(19, 9, 5, RED);
  draw_circle(10, 5, INT32_MAX, RED);
  draw_box(INT32_MAX - 1, INT32_MAX - 1, INT32_MAX, INT32_MAX, RED);
  draw_box(INT32_MIN, INT32_MIN, -5, -5, RED);
  draw_box(1, 1, 1, INT32_MAX, RED);
  draw_end();
  EXPECT_EQ(e.changed(), rect(0, 0, 19, 9));  // the huge circle covers everything
  EXPECT_TRUE(e.guards_intact());
}

TEST(Raster, ColourCacheMakesOnePenForARunOfOneColour) {
  Canvas c(32, 32);
  DrawTarget* t = c.begin();
  const int before = t->front_colour_sets;
  draw_box(1, 1, 4, 4, RED);
  draw_box(10, 10, 4, 4, RED);
  EXPECT_EQ(t->front_colour_sets, before + 1);
  draw_circle(20, 20, 3, RED);
  EXPECT_EQ(t->front_colour_sets, before + 1);
  draw_box(1, 20, 4, 4, rgb(0, 255, 0));
  EXPECT_EQ(t->front_colour_sets, before + 2);
  draw_end();
}

TEST(Raster, DrawingOutsideAPassDoesNothing) {
  Canvas c(16, 16);
  EXPECT_EQ(draw_begin(nullptr), 0);
  draw_box(1, 1, 5, 5, RED);  // no pass open
  DrawTarget* stale = draw_target_on_pixels(c.pixels.data(), 16, 16, 16 + GUARD_COLUMNS);
  draw_box(1, 1, 5, 5, RED);  // target made but not begun
  draw_end();
  EXPECT_EQ(draw_begin(stale), 0);  // ended targets are gone, not reused
  draw_end();                       // and a second end is harmless
  EXPECT_TRUE(c.changed().empty());
}
