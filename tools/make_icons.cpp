// make_icons DIR NAME: draws the game's icon, a leak of green chemical walled in by grey barriers
// on the black board, with the game's own rasteriser, and writes it into the hicolor layout under
// DIR: DIR/hicolor/NxN/apps/NAME.png for each theme size and DIR/hicolor/scalable/apps/NAME.svg,
// the same shapes as vectors. Each file is written to a temporary name and renamed. For the web
// page's manifest it also writes DIR/web/NAME-512.png, the design at 512 px (the size an
// installed page's splash screen asks for, above the theme's largest), and
// DIR/web/NAME-maskable-512.png, the tile shrunk onto a full square of the frame's grey so a
// launcher may cut it to a circle or any rounded shape without cutting into the board.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "media/draw.h"
#include "media/draw_target.h"
#include "media/png.h"

namespace {

constexpr int32_t ICON_SIZES[] = {16, 32, 48, 64, 128, 256};
constexpr int32_t ICON_SVG_SIZE = 256;  // the vector icon's view box: the largest raster size
constexpr int32_t ICON_WEB_SIZE = 512;  // the page's largest icon, plain and maskable
// The maskable icon's tile, as a share of its side: with its rounded corners it lies within the
// circle of 40 % of the side that every launcher's cut keeps.
constexpr int32_t ICON_MASKABLE_TILE_FIFTHS = 3;
constexpr int32_t ICON_GRID = 5;  // cells across the board: a ring of walls and the pool

// Colours as the game packs them (rgb: red + green * 256 + blue * 65536).
constexpr uint32_t ICON_FRAME = 0x404040;              // the board frame's dark grey
constexpr uint32_t ICON_BOARD = 0x000000;              // the board's black
constexpr uint32_t ICON_WALL = rgb(96, 96, 96);        // a wall at its pulse's centre
constexpr uint32_t ICON_BEVEL = 0xA0A0A0 - ICON_WALL;  // its inner face, as the board draws it
constexpr uint32_t ICON_SOURCE = rgb(139, 255, 139);   // the thick chemical at the source
constexpr uint32_t ICON_FRESH = rgb(0, 255, 0);        // a full cell next to it
// Cells further from the source, still filling up: the chemical's ramp towards dark green.
constexpr uint32_t ICON_FILLING[] = {rgb(0, 204, 0), rgb(0, 153, 0), rgb(0, 102, 0)};
constexpr uint32_t ICON_SPECK = rgb(0, 64, 0);  // the darker dots on chemical
// Pixels the drawing never reaches keep this colour and come out transparent; the design never
// paints it.
constexpr uint32_t ICON_CLEAR = rgb(255, 0, 255);

// One shape of the design, in pixels of an icon of a given size.
struct IconShape {
  bool circle;      // a circle centred on pixel (x, y) of radius w; otherwise a w x h box
  int32_t x;        // box's left column, or the circle's centre column
  int32_t y;        // box's top row, or the circle's centre row
  int32_t w;        // box's width, or the circle's radius
  int32_t h;        // box's height (unused for a circle)
  uint32_t colour;  // packed as the game packs colours
};

// A square with corners rounded to radius, as two boxes and four circles.
void add_rounded(std::vector<IconShape>& shapes, int32_t left, int32_t top, int32_t side,
                 int32_t radius, uint32_t colour) {
  shapes.push_back({false, left + radius, top, side - 2 * radius, side, colour});
  shapes.push_back({false, left, top + radius, side, side - 2 * radius, colour});
  const int32_t near_left = left + radius, far_left = left + side - 1 - radius;
  const int32_t near_top = top + radius, far_top = top + side - 1 - radius;
  for (const int32_t x : {near_left, far_left}) {
    for (const int32_t y : {near_top, far_top}) shapes.push_back({true, x, y, radius, 0, colour});
  }
}

// The design at size x size pixels: a rounded tile in the frame's grey holding the black board,
// on it a ring of walls around a 3 x 3 pool of chemical, thickest at the source in its top-left
// corner and thinner the further it has spread. Cell edges fall
// where the game's own board puts them (size * i / cells), so every size stays crisp.
std::vector<IconShape> icon_shapes(int32_t size) {
  std::vector<IconShape> shapes;
  const int32_t frame = size / 32 > 0 ? size / 32 : 1;
  add_rounded(shapes, 0, 0, size, size / 8, ICON_FRAME);
  add_rounded(shapes, frame, frame, size - 2 * frame, size / 8 - frame, ICON_BOARD);

  const int32_t inset = size / 16;
  const int32_t board = size - 2 * inset;
  const auto edge = [&](int32_t i) { return inset + board * i / ICON_GRID; };
  for (int32_t y = 0; y < ICON_GRID; ++y) {
    for (int32_t x = 0; x < ICON_GRID; ++x) {
      const int32_t left = edge(x), top = edge(y);
      const int32_t w = edge(x + 1) - left, h = edge(y + 1) - top;
      const int32_t from_source = std::abs(x - 1) + std::abs(y - 1);
      const bool ring = x == 0 || y == 0 || x == ICON_GRID - 1 || y == ICON_GRID - 1;
      if (ring) {
        shapes.push_back({false, left, top, w, h, ICON_WALL});
        // The bevel needs room to read; on the smallest icons a wall is one flat grey.
        const int32_t bevel = w / 16 > 0 ? w / 16 : 1;
        if (w >= 8) {
          shapes.push_back(
              {false, left + bevel, top + bevel, w - 2 * bevel, h - 2 * bevel, ICON_BEVEL});
        }
        continue;
      }
      const uint32_t colour = from_source == 0   ? ICON_SOURCE
                              : from_source == 1 ? ICON_FRESH
                                                 : ICON_FILLING[from_source - 2];
      shapes.push_back({false, left, top, w, h, colour});
      // Two dots on the thinner cells, placed by the cell's position so the design repeats.
      if (w >= 16 && from_source >= 2) {
        const int32_t dot = w / 8;
        shapes.push_back(
            {false, left + w * (1 + x) / 6, top + h * (1 + y) / 7, dot, dot, ICON_SPECK});
        shapes.push_back(
            {false, left + w * (5 - y) / 7, top + h * (4 - x % 3) / 6, dot, dot, ICON_SPECK});
      }
    }
  }
  return shapes;
}

// The design at tile x tile pixels drawn into a size x size pixel array (0x00BBGGRR), its top
// left corner at (at, at), over background, by the game's drawing front end.
std::vector<uint32_t> icon_pixels(int32_t size, int32_t tile, int32_t at, uint32_t background) {
  std::vector<uint32_t> pixels(static_cast<size_t>(size) * size, background);
  draw_begin(draw_target_on_pixels(pixels.data(), size, size, size));
  draw_set_mode(0);
  for (const IconShape& shape : icon_shapes(tile)) {
    if (shape.circle) {
      draw_circle(at + shape.x, at + shape.y, shape.w, shape.colour);
    } else {
      draw_box(at + shape.x, at + shape.y, shape.w, shape.h, shape.colour);
    }
  }
  draw_end();
  return pixels;
}
std::vector<uint32_t> icon_pixels(int32_t size) { return icon_pixels(size, size, 0, ICON_CLEAR); }

// "#rrggbb" of a colour packed as the game packs it.
std::string svg_colour(uint32_t colour) {
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", colour & 0xFF, (colour >> 8) & 0xFF,
                (colour >> 16) & 0xFF);
  return text;
}

// The same shapes as an SVG document. The rasteriser's circle of radius r covers the pixels
// within r + 1/2 of the centre pixel's middle, so that is the vector circle too.
std::string svg_document() {
  std::string svg =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
      std::to_string(ICON_SVG_SIZE) + "\" height=\"" + std::to_string(ICON_SVG_SIZE) +
      "\" viewBox=\"0 0 " + std::to_string(ICON_SVG_SIZE) + " " + std::to_string(ICON_SVG_SIZE) +
      "\" shape-rendering=\"crispEdges\">\n"
      "  <title>Q-47</title>\n";
  for (const IconShape& shape : icon_shapes(ICON_SVG_SIZE)) {
    if (shape.circle) {
      svg += "  <circle cx=\"" + std::to_string(shape.x) + ".5\" cy=\"" + std::to_string(shape.y) +
             ".5\" r=\"" + std::to_string(shape.w) + ".5\" fill=\"" + svg_colour(shape.colour) +
             "\"/>\n";
    } else {
      svg += "  <rect x=\"" + std::to_string(shape.x) + "\" y=\"" + std::to_string(shape.y) +
             "\" width=\"" + std::to_string(shape.w) + "\" height=\"" + std::to_string(shape.h) +
             "\" fill=\"" + svg_colour(shape.colour) + "\"/>\n";
    }
  }
  svg += "</svg>\n";
  return svg;
}

// Writes bytes to path through a temporary name in the same folder; prints why on failure.
bool write_file(const std::filesystem::path& path, const std::string& bytes) {
  std::error_code error;
  std::filesystem::create_directories(path.parent_path(), error);
  if (error) {
    std::fprintf(stderr, "make_icons: %s: %s\n", path.parent_path().c_str(),
                 error.message().c_str());
    return false;
  }
  const std::string temporary = path.string() + ".tmp";
  FILE* file = std::fopen(temporary.c_str(), "wb");
  if (!file) {
    std::fprintf(stderr, "make_icons: %s: %s\n", temporary.c_str(), std::strerror(errno));
    return false;
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed || std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::fprintf(stderr, "make_icons: %s: %s\n", path.c_str(), std::strerror(errno));
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || !*argv[1] || !*argv[2]) {
    std::fputs(
        "Usage: make_icons DIR NAME\n"
        "Draw the game's icon into DIR/hicolor/<size>/apps/NAME.png and .svg, and the web\n"
        "page's into DIR/web/NAME-512.png and NAME-maskable-512.png.\n",
        stderr);
    return 2;
  }
  const std::filesystem::path theme = std::filesystem::path(argv[1]) / "hicolor";
  const std::string name = argv[2];
  const auto write_png = [](const std::filesystem::path& path, const std::vector<uint32_t>& pixels,
                            int32_t size) {
    const std::string png = png_encode(pixels, size, size, &ICON_CLEAR);
    if (png.empty()) {
      std::fprintf(stderr, "make_icons: cannot compress the %d px icon\n", size);
      return false;
    }
    return write_file(path, png);
  };
  for (const int32_t size : ICON_SIZES) {
    const std::string folder = std::to_string(size) + "x" + std::to_string(size);
    if (!write_png(theme / folder / "apps" / (name + ".png"), icon_pixels(size), size)) return 1;
  }
  const std::filesystem::path web = std::filesystem::path(argv[1]) / "web";
  const int32_t tile = ICON_WEB_SIZE * ICON_MASKABLE_TILE_FIFTHS / 5;
  if (!write_png(web / (name + "-512.png"), icon_pixels(ICON_WEB_SIZE), ICON_WEB_SIZE) ||
      !write_png(web / (name + "-maskable-512.png"),
                 icon_pixels(ICON_WEB_SIZE, tile, (ICON_WEB_SIZE - tile) / 2, ICON_FRAME),
                 ICON_WEB_SIZE)) {
    return 1;
  }
  return write_file(theme / "scalable" / "apps" / (name + ".svg"), svg_document()) ? 0 : 1;
}
