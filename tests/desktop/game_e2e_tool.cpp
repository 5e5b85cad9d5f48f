// Helper of the end-to-end test: renders reference pixels with the game's own drawing code and
// checks screenshots (binary PPM files) of the real executable.
//   game_e2e_tool count-reference N OUT.ppm   the bottom-left HUD corner with N barriers of 50
//   game_e2e_tool intro SHOT.ppm              red text above the middle row, none below it
//   game_e2e_tool wall SHOT.ppm PX PY         the level-1 cell under window pixel (PX, PY) is a
//   wall game_e2e_tool same SHOT.ppm REF.ppm X Y   REF matches SHOT at (X, Y) pixel for pixel
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "core/level_stream.h"
#include "desktop/shell.h"
#include "media/draw.h"
#include "media/screen.h"
#include "play/board_view.h"
#include "tests/support/game_state.h"

namespace {

// The HUD corner the count sits in.
constexpr int COUNT_X = 0, COUNT_Y = 400, COUNT_W = 80, COUNT_H = 80;

struct Image {
  int width = 0, height = 0;
  std::vector<unsigned char> rgb;  // 3 bytes a pixel, rows top first
  const unsigned char* at(int x, int y) const {
    return &rgb[(static_cast<size_t>(y) * width + x) * 3];
  }
};

bool read_ppm(const char* path, Image& image) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int maxval = 0;
  in >> magic >> image.width >> image.height >> maxval;
  if (!in || magic != "P6" || maxval != 255) return false;
  in.get();
  image.rgb.resize(static_cast<size_t>(image.width) * image.height * 3);
  in.read(reinterpret_cast<char*>(image.rgb.data()),
          static_cast<std::streamsize>(image.rgb.size()));
  return static_cast<bool>(in);
}

int fail(const char* what) {
  std::fprintf(stderr, "game_e2e_tool: %s\n", what);
  return 1;
}

int count_reference(int barriers, const char* out_path) {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  game_startup();
  load_level(GAME, 1);
  GAME.barriers_left = barriers;
  screen_clear(0);
  if (!draw_begin(screen_output())) return fail("no drawing pass");
  draw_board_view(app_session());
  draw_end();
  std::FILE* out = std::fopen(out_path, "wb");
  if (!out) return fail("cannot write the reference");
  std::fprintf(out, "P6\n%d %d\n255\n", COUNT_W, COUNT_H);
  for (int y = COUNT_Y; y < COUNT_Y + COUNT_H; ++y) {
    for (int x = COUNT_X; x < COUNT_X + COUNT_W; ++x) {
      const uint32_t p = screen_pixels()[y * SCREEN_WIDTH + x];
      const unsigned char bytes[3] = {static_cast<unsigned char>(p),
                                      static_cast<unsigned char>(p >> 8),
                                      static_cast<unsigned char>(p >> 16)};
      std::fwrite(bytes, 1, 3, out);
    }
  }
  std::fclose(out);
  game_end();
  return 0;
}

bool is_red(const unsigned char* p) { return p[0] == 255 && p[1] == 0 && p[2] == 0; }

int check_intro(const Image& shot) {
  int above = 0, below = 0, left = shot.width, right = -1;
  for (int y = 0; y < shot.height; ++y) {
    for (int x = 0; x < shot.width; ++x) {
      if (!is_red(shot.at(x, y))) continue;
      (y < 240 ? above : below) += 1;
      if (x < left) left = x;
      if (x > right) right = x;
    }
  }
  std::printf("red pixels above the middle %d, below %d, from x %d to %d\n", above, below, left,
              right);
  if (above == 0) return fail("no red text above the middle row");
  if (below != 0) return fail("red pixels below the middle row");
  // "WARNING" is centred: its ink is about as far from the left edge as from the right.
  if (std::abs(left - (shot.width - 1 - right)) > 6) return fail("the line is not centred");
  return 0;
}

int check_wall(const Image& shot, int px, int py) {
  const int cell_x = 30 * (px - 80) / 480, cell_y = 30 * py / 480;
  if (px < 80 || px >= 560 || py < 0 || py >= 480) return fail("pointer is off the board");
  const int centre_x = 80 + cell_x * 16 + 8, centre_y = cell_y * 16 + 8;
  const unsigned char* edge = shot.at(80 + cell_x * 16 + 1, cell_y * 16 + 1);
  const unsigned char* centre = shot.at(centre_x, centre_y);
  std::printf("cell (%d, %d): edge %d,%d,%d centre %d,%d,%d\n", cell_x, cell_y, edge[0], edge[1],
              edge[2], centre[0], centre[1], centre[2]);
  // A wall pulses between grey 64 and 128 with a bevel of 160 minus that inside.
  auto grey_in = [](const unsigned char* p, int low, int high) {
    return p[0] == p[1] && p[1] == p[2] && p[0] >= low && p[0] <= high;
  };
  if (!grey_in(edge, 64, 128) || !grey_in(centre, 32, 96)) return fail("that cell is not a wall");
  if (edge[0] + centre[0] != 160) return fail("the wall has no bevel");
  return 0;
}

int check_same(const Image& shot, const Image& ref, int x0, int y0) {
  int differ = 0;
  for (int y = 0; y < ref.height; ++y)
    for (int x = 0; x < ref.width; ++x)
      differ += std::memcmp(shot.at(x0 + x, y0 + y), ref.at(x, y), 3) != 0;
  std::printf("%d of %d pixels differ\n", differ, ref.width * ref.height);
  return differ == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "count-reference" && argc == 4)
    return count_reference(std::atoi(argv[2]), argv[3]);
  Image shot, ref;
  if (argc > 2 && !read_ppm(argv[2], shot)) return fail("cannot read the screenshot");
  if (command == "intro" && argc == 3) return check_intro(shot);
  if (command == "wall" && argc == 5)
    return check_wall(shot, std::atoi(argv[3]), std::atoi(argv[4]));
  if (command == "same" && argc == 6) {
    if (!read_ppm(argv[3], ref)) return fail("cannot read the reference");
    return check_same(shot, ref, std::atoi(argv[4]), std::atoi(argv[5]));
  }
  return fail("usage: count-reference N OUT | intro SHOT | wall SHOT PX PY | same SHOT REF X Y");
}
