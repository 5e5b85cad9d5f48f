// Helper of the scaled-window tests: renders the game's own frames as references and checks
// screenshots (binary PPM files) of the real executable in a window of any size.
//   game_scale_tool intro-reference OUT.ppm      the intro's first frame, 640 x 480
//   game_scale_tool scaled SHOT REF N X Y        SHOT shows REF at (X, Y), each pixel an N x N
//                                                block, and black everywhere else
//   game_scale_tool find SHOT REF                prints "X Y": where REF's lit pixels sit in SHOT
//   game_scale_tool sample SHOT N X Y OUT.ppm    every Nth pixel of SHOT from (X, Y): 640 x 480
//   game_scale_tool floor-cells K                K plain floor cells of level 1, far from the
//                                                chemical and from each other: "COLUMN ROW" lines
//   game_scale_tool walls SHOT C R [C R]...      in a 640 x 480 frame of level 1, the cells
//                                                listed are barriers, no other floor cell is
//   game_scale_tool highlight SHOT PX PY         in a 640 x 480 frame of level 1, the one cell
//                                                with the pointer's red outline is under (PX, PY)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "core/level_stream.h"
#include "desktop/shell.h"
#include "media/screen.h"
#include "tests/support/game_state.h"

namespace {

constexpr int BOARD_LEFT = 80;  // level 1: a 30 x 30 grid of 16-pixel cells from (80, 0)
constexpr int CELL = 16;
constexpr int GRID = 30;

struct Image {
  int width = 0, height = 0;
  std::vector<unsigned char> rgb;  // 3 bytes a pixel, rows top first
  const unsigned char* at(int x, int y) const {
    return &rgb[(static_cast<size_t>(y) * width + x) * 3];
  }
  unsigned char* at(int x, int y) { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
};

int fail(const std::string& what) {
  std::fprintf(stderr, "game_scale_tool: %s\n", what.c_str());
  return 1;
}

bool read_ppm(const char* path, Image& image) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int maxval = 0;
  in >> magic >> image.width >> image.height >> maxval;
  if (!in || magic != "P6" || maxval != 255 || image.width <= 0 || image.height <= 0) return false;
  in.get();
  image.rgb.resize(static_cast<size_t>(image.width) * image.height * 3);
  in.read(reinterpret_cast<char*>(image.rgb.data()),
          static_cast<std::streamsize>(image.rgb.size()));
  return static_cast<bool>(in);
}

bool write_ppm(const char* path, const Image& image) {
  std::FILE* out = std::fopen(path, "wb");
  if (!out) return false;
  std::fprintf(out, "P6\n%d %d\n255\n", image.width, image.height);
  const bool ok = std::fwrite(image.rgb.data(), 1, image.rgb.size(), out) == image.rgb.size();
  return std::fclose(out) == 0 && ok;
}

// Brings the game up on SDL's dummy drivers, as the game itself starts.
void start_offscreen() {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  game_startup();
}

int intro_reference(const char* out_path) {
  start_offscreen();
  game_frame();  // the first frame of the intro, drawn by the loop
  Image image;
  image.width = SCREEN_WIDTH;
  image.height = SCREEN_HEIGHT;
  image.rgb.resize(static_cast<size_t>(SCREEN_WIDTH) * SCREEN_HEIGHT * 3);
  for (int i = 0; i < SCREEN_WIDTH * SCREEN_HEIGHT; ++i) {
    const uint32_t p = screen_pixels()[i];
    image.rgb[i * 3] = static_cast<unsigned char>(p);
    image.rgb[i * 3 + 1] = static_cast<unsigned char>(p >> 8);
    image.rgb[i * 3 + 2] = static_cast<unsigned char>(p >> 16);
  }
  game_end();
  return write_ppm(out_path, image) ? 0 : fail("cannot write the reference");
}

int check_scaled(const Image& shot, const Image& ref, int n, int x0, int y0) {
  if (n < 1 || x0 < 0 || y0 < 0 || x0 + ref.width * n > shot.width ||
      y0 + ref.height * n > shot.height) {
    return fail("the scaled reference does not fit the screenshot");
  }
  long differ = 0, bars = 0;
  for (int y = 0; y < shot.height; ++y) {
    for (int x = 0; x < shot.width; ++x) {
      const bool inside = x >= x0 && y >= y0 && x < x0 + ref.width * n && y < y0 + ref.height * n;
      const unsigned char* p = shot.at(x, y);
      if (!inside) {
        bars += p[0] != 0 || p[1] != 0 || p[2] != 0;
      } else {
        differ += std::memcmp(p, ref.at((x - x0) / n, (y - y0) / n), 3) != 0;
      }
    }
  }
  std::printf("%ld of %d picture pixels differ from the reference at scale %d; %ld lit outside\n",
              differ, ref.width * ref.height * n * n, n, bars);
  return differ == 0 && bars == 0 ? 0 : 1;
}

bool lit(const unsigned char* p) { return p[0] || p[1] || p[2]; }

// The top-left of the lit pixels' bounding box.
bool lit_corner(const Image& image, int& left, int& top) {
  left = image.width;
  top = image.height;
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      if (!lit(image.at(x, y))) continue;
      left = std::min(left, x);
      top = std::min(top, y);
    }
  }
  return left < image.width;
}

int find(const Image& shot, const Image& ref) {
  int ref_left = 0, ref_top = 0;
  if (!lit_corner(ref, ref_left, ref_top)) return fail("the reference is black");
  // Every offset whose first lit pixel matches is tried with all of the reference's lit pixels.
  for (int oy = 0; oy + ref.height <= shot.height; ++oy) {
    for (int ox = 0; ox + ref.width <= shot.width; ++ox) {
      if (std::memcmp(shot.at(ox + ref_left, oy + ref_top), ref.at(ref_left, ref_top), 3) != 0) {
        continue;
      }
      bool same = true;
      for (int y = 0; y < ref.height && same; ++y) {
        for (int x = 0; x < ref.width && same; ++x) {
          if (lit(ref.at(x, y))) same = std::memcmp(shot.at(ox + x, oy + y), ref.at(x, y), 3) == 0;
        }
      }
      if (same) {
        std::printf("%d %d\n", ox, oy);
        return 0;
      }
    }
  }
  return fail("the reference's picture is nowhere in the screenshot");
}

int sample(const Image& shot, int n, int x0, int y0, const char* out_path) {
  if (n < 1 || x0 < 0 || y0 < 0 || x0 + (SCREEN_WIDTH - 1) * n >= shot.width ||
      y0 + (SCREEN_HEIGHT - 1) * n >= shot.height) {
    return fail("the sampled picture does not fit the screenshot");
  }
  Image out;
  out.width = SCREEN_WIDTH;
  out.height = SCREEN_HEIGHT;
  out.rgb.resize(static_cast<size_t>(out.width) * out.height * 3);
  for (int y = 0; y < out.height; ++y) {
    for (int x = 0; x < out.width; ++x)
      std::memcpy(out.at(x, y), shot.at(x0 + x * n, y0 + y * n), 3);
  }
  return write_ppm(out_path, out) ? 0 : fail("cannot write the sample");
}

// Level 1's cells as loaded: which are plain floor.
std::vector<std::vector<bool>> level1_floor() {
  start_offscreen();
  load_level(GAME, 1);
  std::vector<std::vector<bool>> floor(GRID, std::vector<bool>(GRID));
  for (int x = 0; x < GRID; ++x) {
    for (int y = 0; y < GRID; ++y) floor[x][y] = GAME.at(x, y).flags == 0;
  }
  std::vector<std::pair<int, int>> chemical;
  for (int x = 0; x < GRID; ++x) {
    for (int y = 0; y < GRID; ++y) {
      if (GAME.at(x, y).flags & CELL_CHEMICAL) chemical.emplace_back(x, y);
    }
  }
  game_end();
  // Cells the chemical could reach within a few seconds are no floor for a test's click.
  for (int x = 0; x < GRID; ++x) {
    for (int y = 0; y < GRID; ++y) {
      for (const auto& [cx, cy] : chemical) {
        if (std::abs(cx - x) + std::abs(cy - y) < 6) floor[x][y] = false;
      }
    }
  }
  return floor;
}

int floor_cells(int wanted) {
  const auto floor = level1_floor();
  std::vector<std::pair<int, int>> chosen;
  // Away from the board's outer ring and from each other, spread over the board.
  for (int y = 2; y < GRID - 2 && static_cast<int>(chosen.size()) < wanted; y += 5) {
    for (int x = 2 + (y / 5) % 3; x < GRID - 2 && static_cast<int>(chosen.size()) < wanted;
         x += 7) {
      if (floor[x][y]) chosen.emplace_back(x, y);
    }
  }
  if (static_cast<int>(chosen.size()) < wanted) return fail("not enough floor in level 1");
  for (const auto& [x, y] : chosen) std::printf("%d %d\n", x, y);
  return 0;
}

// A barrier: a grey edge with a bevel of 160 minus that grey inside.
bool is_wall(const Image& shot, int column, int row) {
  const unsigned char* edge = shot.at(BOARD_LEFT + column * CELL + 1, row * CELL + 1);
  const unsigned char* centre =
      shot.at(BOARD_LEFT + column * CELL + CELL / 2, row * CELL + CELL / 2);
  auto grey_in = [](const unsigned char* p, int low, int high) {
    return p[0] == p[1] && p[1] == p[2] && p[0] >= low && p[0] <= high;
  };
  return grey_in(edge, 64, 128) && grey_in(centre, 32, 96) && edge[0] + centre[0] == 160;
}

int check_walls(const Image& shot, const std::vector<std::pair<int, int>>& cells) {
  if (shot.width != SCREEN_WIDTH || shot.height != SCREEN_HEIGHT)
    return fail("not a 640 x 480 frame");
  const auto floor = level1_floor();
  int wrong = 0;
  for (int x = 0; x < GRID; ++x) {
    for (int y = 0; y < GRID; ++y) {
      bool listed = false;
      for (const auto& cell : cells) listed = listed || cell == std::make_pair(x, y);
      if (listed != is_wall(shot, x, y) && (listed || floor[x][y])) {
        std::printf("cell (%d, %d): %s\n", x, y, listed ? "no barrier" : "an unexpected barrier");
        ++wrong;
      }
    }
  }
  std::printf("%zu barriers asked for, %d cells wrong\n", cells.size(), wrong);
  return wrong == 0 ? 0 : 1;
}

int check_highlight(const Image& shot, int px, int py) {
  if (shot.width != SCREEN_WIDTH || shot.height != SCREEN_HEIGHT)
    return fail("not a 640 x 480 frame");
  const int column = (px - BOARD_LEFT) / CELL, row = py / CELL;
  std::vector<std::pair<int, int>> outlined;
  for (int x = 0; x < GRID; ++x) {
    for (int y = 0; y < GRID; ++y) {
      const unsigned char* corner = shot.at(BOARD_LEFT + x * CELL, y * CELL);
      if (corner[0] > 0 && corner[1] == 0 && corner[2] == 0) outlined.emplace_back(x, y);
    }
  }
  std::printf("pointer (%d, %d) over cell (%d, %d); outlined:", px, py, column, row);
  for (const auto& [x, y] : outlined) std::printf(" (%d, %d)", x, y);
  std::printf("\n");
  return outlined.size() == 1 && outlined[0] == std::make_pair(column, row) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "intro-reference" && argc == 3) return intro_reference(argv[2]);
  if (command == "floor-cells" && argc == 3) return floor_cells(std::atoi(argv[2]));
  Image shot, ref;
  if (argc > 2 && !read_ppm(argv[2], shot)) return fail("cannot read the screenshot");
  if ((command == "scaled" && argc == 7) || (command == "find" && argc == 4)) {
    if (!read_ppm(argv[3], ref)) return fail("cannot read the reference");
    if (command == "find") return find(shot, ref);
    return check_scaled(shot, ref, std::atoi(argv[4]), std::atoi(argv[5]), std::atoi(argv[6]));
  }
  if (command == "sample" && argc == 7) {
    return sample(shot, std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]), argv[6]);
  }
  if (command == "walls" && argc >= 5 && argc % 2 == 1) {
    std::vector<std::pair<int, int>> cells;
    for (int i = 3; i + 1 < argc; i += 2)
      cells.emplace_back(std::atoi(argv[i]), std::atoi(argv[i + 1]));
    return check_walls(shot, cells);
  }
  if (command == "highlight" && argc == 5)
    return check_highlight(shot, std::atoi(argv[3]), std::atoi(argv[4]));
  return fail(
      "usage: intro-reference OUT | scaled SHOT REF N X Y | find SHOT REF | "
      "sample SHOT N X Y OUT | floor-cells K | walls SHOT C R... | highlight SHOT PX PY");
}
