// Text drawing and the font chain. Fonts are looked up under fontconfig configurations made
// here, each listing only chosen font folders, so the tests know which faces exist.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "media/draw.h"
#include "media/draw_target.h"
#include "media/font.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* LIBERATION_DIR = "/usr/share/fonts/truetype/liberation";
constexpr const char* DEJAVU_DIR = "/usr/share/fonts/truetype/dejavu";
constexpr uint32_t BACKGROUND = 0x00408020;
constexpr uint32_t YELLOW = rgb(255, 255, 0);

// This process's own folder for its configurations and font cache: ctest runs tests in parallel
// processes, and one writing a configuration while another reads it made fontconfig fail.
// Removed when the process ends.
const fs::path& fixture_folder() {
  struct Folder {
    fs::path path;
    Folder() {
      std::string pattern = (fs::temp_directory_path() / "q47-test-fonts-XXXXXX").string();
      if (mkdtemp(pattern.data())) path = pattern;
    }
    ~Folder() {
      std::error_code ignored;
      if (!path.empty()) fs::remove_all(path, ignored);
    }
  };
  static const Folder folder;
  return folder.path;
}

// Writes a fontconfig configuration with the stock family rules but only the given font
// folders, and makes the layer use it.
void use_fonts(const std::string& name, const std::vector<std::string>& dirs) {
  const fs::path& base = fixture_folder();
  ASSERT_FALSE(base.empty()) << "no temporary folder for the font configurations";
  fs::create_directories(base / "cache");
  fs::create_directories(base / "empty");
  const fs::path file = base / (name + ".conf");
  std::ofstream out(file);
  out << "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"urn:fontconfig:fonts.dtd\">\n"
      << "<fontconfig>\n";
  for (const std::string& dir : dirs) out << "  <dir>" << dir << "</dir>\n";
  out << "  <dir>" << (base / "empty").string() << "</dir>\n"
      << "  <cachedir>" << (base / "cache").string() << "</cachedir>\n";
  // Debian's stock family rules, without the ones that add a user's own font folders.
  for (const char* rules :
       {"30-metric-aliases", "40-nonlatin", "45-generic", "45-latin", "48-spacing", "49-sansserif",
        "60-generic", "60-latin", "65-nonlatin"}) {
    out << "  <include ignore_missing=\"yes\">/usr/share/fontconfig/conf.avail/" << rules
        << ".conf</include>\n";
  }
  out << "</fontconfig>\n";
  out.close();
  ASSERT_EQ(font_use_config(file.string().c_str()), 1);
}

class Text : public ::testing::Test {
 protected:
  static constexpr int WIDTH = 320;
  static constexpr int HEIGHT = 60;
  std::vector<uint32_t> pixels = std::vector<uint32_t>(WIDTH * HEIGHT, BACKGROUND);

  void SetUp() override {
    drawing_system_init();
    use_fonts("both", {LIBERATION_DIR, DEJAVU_DIR});
  }
  void TearDown() override {
    draw_end();
    drawing_system_shutdown();
    font_use_config(nullptr);
  }
  void begin() {
    ASSERT_NE(draw_begin(draw_target_on_pixels(pixels.data(), WIDTH, HEIGHT, WIDTH)), 0);
  }
  uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y * WIDTH + x)]; }
  // Pixels that changed, inside and outside the rectangle (x, y, w, h).
  void count_changes(int x, int y, int w, int h, int* inside, int* outside) const {
    *inside = *outside = 0;
    for (int py = 0; py < HEIGHT; ++py) {
      for (int px = 0; px < WIDTH; ++px) {
        if (at(px, py) == BACKGROUND) continue;
        const bool in = px >= x && px < x + w && py >= y && py < y + h;
        ++*(in ? inside : outside);
      }
    }
  }
};

// Each channel of pixel lies between the same channel of a and b.
bool between(uint32_t pixel, uint32_t a, uint32_t b) {
  for (int shift = 0; shift < 24; shift += 8) {
    const uint32_t p = (pixel >> shift) & 0xFF,
                   lo = std::min((a >> shift) & 0xFF, (b >> shift) & 0xFF),
                   hi = std::max((a >> shift) & 0xFF, (b >> shift) & 0xFF);
    if (p < lo || p > hi) return false;
  }
  return true;
}

}  // namespace

TEST_F(Text, OpaqueTextFillsItsCellWithTheBackColour) {
  begin();
  const int width = text_width("Q-47 leak");
  const int height = text_height("Q-47 leak");
  ASSERT_GT(width, 0);
  ASSERT_GT(height, 0);
  EXPECT_EQ(draw_text(10, 20, "Q-47 leak", YELLOW), 10 + width);
  int inside = 0, outside = 0;
  count_changes(10, 20, width, height, &inside, &outside);
  EXPECT_EQ(inside, width * height);  // no background left in the cell
  EXPECT_EQ(outside, 0);
  int black = 0, front = 0;
  for (int y = 20; y < 20 + height; ++y) {
    for (int x = 10; x < 10 + width; ++x) {
      EXPECT_TRUE(between(at(x, y), 0, YELLOW)) << x << "," << y;  // anti-aliased on black
      black += at(x, y) == 0;
      front += at(x, y) == YELLOW;
    }
  }
  EXPECT_GT(black, 0);
  EXPECT_GT(front, 0);

  // draw_text_colors paints its own back colour instead of black.
  draw_text_colors(10, 0, "Q", YELLOW, rgb(0, 0, 200));
  EXPECT_EQ(at(10, 0), rgb(0, 0, 200));
}

TEST_F(Text, TransparentTextLeavesThePixelsBetweenGlyphs) {
  begin();
  draw_set_mode(DRAW_TRANSPARENT | DRAW_INVERT);  // invert does not apply to text
  const int width = text_width("H I");
  const int height = text_height("H I");
  EXPECT_EQ(draw_text(5, 5, "H I", YELLOW), 5 + width);
  int inside = 0, outside = 0;
  count_changes(5, 5, width, height, &inside, &outside);
  EXPECT_GT(inside, 0);
  EXPECT_LT(inside, width * height / 2);
  EXPECT_EQ(outside, 0);
  for (int y = 5; y < 5 + height; ++y) {
    for (int x = 5; x < 5 + width; ++x) EXPECT_TRUE(between(at(x, y), BACKGROUND, YELLOW));
  }
}

TEST_F(Text, EmptyOrMissingTextDrawsNothingAndMeasuresZero) {
  begin();
  EXPECT_EQ(draw_text(17, 3, "", YELLOW), 17);
  EXPECT_EQ(draw_text(17, 3, nullptr, YELLOW), 17);
  EXPECT_EQ(text_width(""), 0);
  EXPECT_EQ(text_height(""), 0);
  EXPECT_EQ(text_width(nullptr), 0);
  int inside = 0, outside = 0;
  count_changes(0, 0, 0, 0, &inside, &outside);
  EXPECT_EQ(outside, 0);
}

TEST_F(Text, ArialStandsInForTahomaAtNineteenPixels) {
  // The game asks for Tahoma, then Arial, then Helvetica, 14 points.
  EXPECT_EQ(font_load(0, "Tahoma", 14), 0);
  const FontHandle arial = font_load(0, "Arial", 14);
  ASSERT_NE(arial, 0);
  EXPECT_NE(std::string(font_file(arial)).find("LiberationSans-Regular"), std::string::npos);
  EXPECT_EQ(font_pixel_size(14), 19);  // 14 points at 96 dots per inch

  // The selected font is the one measured and drawn.
  begin();
  const int default_width = text_width("WWWW iiii");
  draw_set_font(arial);
  const int arial_width = text_width("WWWW iiii");
  EXPECT_NE(arial_width, default_width);
  EXPECT_EQ(draw_text(0, 0, "WWWW iiii", YELLOW), arial_width);

  // Loading again under the same id replaces the font; the old handle is no longer valid.
  const FontHandle again = font_load(0, "DejaVu Sans", 14);
  ASSERT_NE(again, 0);
  EXPECT_NE(again, arial);
  EXPECT_EQ(std::string(font_file(arial)), std::string(font_file(0)));
}

TEST_F(Text, WithoutAnyOfTheThreeFacesTheDefaultFontIsUsed) {
  use_fonts("dejavu-only", {DEJAVU_DIR});
  EXPECT_EQ(font_load(0, "Tahoma", 14), 0);
  EXPECT_EQ(font_load(0, "Arial", 14), 0);
  EXPECT_EQ(font_load(0, "Helvetica", 14), 0);
  EXPECT_NE(std::string(font_file(0)).find("DejaVuSans"), std::string::npos);
  begin();
  draw_set_font(0);
  EXPECT_GT(draw_text(0, 0, "SCORE", YELLOW), 0);
}

TEST_F(Text, WithNoFontOnTheSystemTextIsSkipped) {
  use_fonts("none", {});
  EXPECT_EQ(font_load(0, "Arial", 14), 0);
  EXPECT_STREQ(font_file(0), "");
  begin();
  EXPECT_EQ(text_width("SCORE"), 0);
  EXPECT_EQ(text_height("SCORE"), 0);
  EXPECT_EQ(draw_text(30, 10, "SCORE", YELLOW), 30);
  int inside = 0, outside = 0;
  count_changes(0, 0, 0, 0, &inside, &outside);
  EXPECT_EQ(outside, 0);
}

TEST(FontLoad, RefusesBadArguments) {
  EXPECT_EQ(font_load(0, nullptr, 14), 0);
  EXPECT_EQ(font_load(0, "", 14), 0);
  EXPECT_EQ(font_load(0, "DejaVu Sans", 0), 0);
  EXPECT_EQ(font_load(-2, "DejaVu Sans", 14), 0);
  const FontHandle automatic = font_load(-1, "DejaVu Sans", 14);
  EXPECT_NE(automatic, 0);
  drawing_system_shutdown();
}
