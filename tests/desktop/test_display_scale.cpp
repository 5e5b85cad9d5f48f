// The window's scale from the desktop, and the pointer over a picture shown larger (or smaller)
// than the screen's pixels: a window of ours on SDL's dummy driver, driven by pushed events.
#include <algorithm>
#include <string>

#include "desktop/display.h"
#include "desktop/options.h"
#include "play/board_view.h"
#include "tests/support/dummy_screen.h"

TEST(DisplayScale, AutoTakesTheLargestWindowWithinTwoThirdsOfTheHeight) {
  const struct {
    int32_t width, height, scale;
  } desktops[] = {{1024, 768, 1},
                  {1920, 1080, 1},
                  {1920, 1200, 1},
                  {2560, 1439, 1},
                  {2560, 1440, 2},
                  {3840, 2160, 3},
                  {7680, 4320, 6},
                  {15360, 8640, 8},
                  // A tall narrow desktop: the width is what stops the window growing.
                  {1280, 2160, 1}};
  for (const auto& d : desktops) {
    SCOPED_TRACE(std::to_string(d.width) + "x" + std::to_string(d.height));
    const DisplayScale chosen = display_choose_scale(OPTIONS_SCALE_AUTO, d.width, d.height);
    EXPECT_EQ(chosen.scale, d.scale);
    EXPECT_EQ(chosen.lowered, 0);
    EXPECT_EQ(chosen.full_screen, 0);
  }
}

TEST(DisplayScale, AScaleAskedForIsLoweredOnlyWhenItsWindowDoesNotFit) {
  DisplayScale chosen = display_choose_scale(8, 1920, 1080);
  EXPECT_EQ(chosen.scale, 2);
  EXPECT_EQ(chosen.lowered, 1);
  chosen = display_choose_scale(3, 1920, 1080);
  EXPECT_EQ(chosen.scale, 2);
  EXPECT_EQ(chosen.lowered, 1);
  // Beyond the two thirds of auto, but inside the desktop with the frame: kept.
  chosen = display_choose_scale(2, 1920, 1080);
  EXPECT_EQ(chosen.scale, 2);
  EXPECT_EQ(chosen.lowered, 0);
  chosen = display_choose_scale(4, 3840, 2160);
  EXPECT_EQ(chosen.scale, 4);
  EXPECT_EQ(chosen.lowered, 0);
  chosen = display_choose_scale(1, 1024, 768);
  EXPECT_EQ(chosen.scale, 1);
  EXPECT_EQ(chosen.lowered, 0);
}

TEST(DisplayScale, ADesktopTooSmallForTheFramedWindowStartsInFullScreen) {
  for (int32_t requested : {OPTIONS_SCALE_AUTO, 1, 5}) {
    SCOPED_TRACE(requested);
    EXPECT_EQ(display_choose_scale(requested, 640, 480).full_screen, 1);
    EXPECT_EQ(display_choose_scale(requested, 800, 480 + DISPLAY_FRAME_HEIGHT - 1).full_screen, 1);
    EXPECT_EQ(display_choose_scale(requested, 640 + DISPLAY_FRAME_WIDTH - 1, 600).full_screen, 1);
    const DisplayScale fits =
        display_choose_scale(requested, 640 + DISPLAY_FRAME_WIDTH, 480 + DISPLAY_FRAME_HEIGHT);
    EXPECT_EQ(fits.full_screen, 0);
    EXPECT_EQ(fits.scale, 1);
  }
}

// Where the 640 x 480 picture goes on a display: in full screen it fills the height (or the
// width), whole multiples where they are the largest fit; in a window, whole multiples only.
// The first rows are a handheld's 1280 x 800 panel, which the window takes at scale 1.
TEST(DisplayScale, FullScreenFillsTheHeightWithBlackBarsBeside) {
  const struct {
    int32_t out_width, out_height, whole;
    ScreenFit fit;
  } rows[] = {
      {1280, 800, 0, {106, 0, 1067, 800}},    // 5/3: each pixel a block of 1 or 2, no blur
      {1280, 800, 1, {320, 160, 640, 480}},   // the window's whole scale
      {800, 1280, 0, {0, 340, 800, 600}},     // the same panel upright: the width is filled
      {1280, 960, 0, {0, 0, 1280, 960}},      // exactly twice
      {1920, 1080, 0, {240, 0, 1440, 1080}},  // 9/4
      {1920, 1440, 0, {0, 0, 1920, 1440}},    // exactly three times
      {2560, 1600, 0, {213, 0, 2133, 1600}},  // 10/3
      {640, 480, 0, {0, 0, 640, 480}},        // the picture itself
      {600, 400, 1, {33, 0, 533, 400}},       // smaller than the picture: no whole scale fits
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(row.out_width) + "x" + std::to_string(row.out_height) +
                 (row.whole ? " whole" : " full"));
    const ScreenFit fit = screen_fit(640, 480, row.out_width, row.out_height, row.whole);
    EXPECT_EQ(fit.x, row.fit.x);
    EXPECT_EQ(fit.y, row.fit.y);
    EXPECT_EQ(fit.width, row.fit.width);
    EXPECT_EQ(fit.height, row.fit.height);
  }
  const DisplayScale deck = display_choose_scale(OPTIONS_SCALE_AUTO, 1280, 800);
  EXPECT_EQ(deck.scale, 1);
  EXPECT_EQ(deck.full_screen, 0);
  EXPECT_EQ(display_choose_scale(2, 1280, 800).scale, 1);  // 1280 x 960 does not fit
}

// The game's text (the one font of the HUD, the stories and the editor) on a 1280 x 800 panel:
// its digits and capitals at least 9 of the panel's pixels tall, in the window and full screen.
TEST_F(DummyScreen, TextOnAHandheldPanelIsAtLeastNinePixelsTall) {
  View view;
  board_view_load_font(view);
  ASSERT_EQ(draw_begin(screen_output()), 1);
  draw_box(0, 0, 640, 480, 0);
  draw_set_font(view.hud_font);
  draw_set_mode(DRAW_TRANSPARENT);
  draw_text(10, 10, "0123456789 ESCAPE", 0xFFFFFF);
  draw_end();
  int32_t top = 480, bottom = -1;
  for (int32_t y = 0; y < 480; ++y) {
    for (int32_t x = 0; x < 640; ++x) {
      if (screen_pixels()[y * 640 + x] & 0x80) {
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
    }
  }
  const int32_t tall = bottom - top + 1;
  ASSERT_GT(tall, 0);
  for (int32_t whole : {0, 1}) {
    const ScreenFit fit = screen_fit(640, 480, 1280, 800, whole);
    EXPECT_GE(tall * fit.height / 480, 9) << "whole " << whole << ", " << tall << " pixels";
  }
}

// The 640 x 480 screen in a window three times its size, which the tests resize.
class ScaledMouse : public DummyScreen {
 protected:
  void SetUp() override {
    DummyScreen::SetUp();
    screen_close();
    window_close(0);
    // Not centred: the dummy desktop is smaller than the window, which must keep its size.
    ASSERT_NE(window_open(0, 0, 0, 1920, 1440, "Q-47 test", 0xCE0008), 0);
    ASSERT_EQ(screen_open_scaled(window_handle(0), 640, 480), 1);
    focus(true);
    frame();
  }

  static void resize(int width, int height) {
    SDL_SetWindowSize(events_screen().window, width, height);
    frame();
  }
  static SDL_Point system_pointer() {
    SDL_Point at{};
    SDL_GetMouseState(&at.x, &at.y);
    return at;
  }
};

TEST_F(ScaledMouse, LocateSendsTheSystemPointerToTheMiddleOfTheBlock) {
  mouse_locate(320, 240);
  frame();
  EXPECT_EQ(system_pointer().x, 961);
  EXPECT_EQ(system_pointer().y, 721);
  frame();  // the warp's own motion moves nothing
  EXPECT_EQ(mouse_x(), 320);
  EXPECT_EQ(mouse_y(), 240);
  mouse_locate(0, 479);
  frame();
  EXPECT_EQ(system_pointer().x, 1);
  EXPECT_EQ(system_pointer().y, 1438);
}

TEST_F(ScaledMouse, ASlowDragMovesOneScreenPixelPerThreeWindowPixels) {
  mouse_locate(320, 240);
  frame();
  const int expected_x[] = {320, 321, 321, 321, 322, 322, 322};
  for (int step = 0; step < 7; ++step) {
    SCOPED_TRACE(step);
    push_motion(1, -1);
    frame();
    EXPECT_EQ(system_pointer().x, 962 + step);  // the system pointer is never pulled back
    EXPECT_EQ(system_pointer().y, 720 - step);
    EXPECT_EQ(mouse_x(), expected_x[step]);
  }
  EXPECT_EQ(mouse_y(), 238);  // from 240 and a half, seven thirds up
  // The fractions add up the same way backwards, and a burst counts as its sum.
  for (int i = 0; i < 7; ++i) push_motion(-1, 1);
  frame();
  EXPECT_EQ(mouse_x(), 320);
  EXPECT_EQ(mouse_y(), 240);
  EXPECT_EQ(system_pointer().x, 961);
  // Clamped at the picture's edge, in screen pixels.
  push_motion(5000, 5000);
  frame();
  EXPECT_EQ(mouse_x(), 639);
  EXPECT_EQ(mouse_y(), 479);
  EXPECT_LT(system_pointer().x, 1920);
  EXPECT_GE(system_pointer().x, 1917);
}

TEST_F(ScaledMouse, AResizedWindowKeepsTheVirtualPointerAndMovesTheSystemOneOntoIt) {
  mouse_locate(100, 50);
  frame();
  // 1000 x 700 holds scale 1 only: the picture sits centred between bars of 180 and 110.
  resize(1000, 700);
  EXPECT_EQ(mouse_x(), 100);
  EXPECT_EQ(mouse_y(), 50);
  EXPECT_EQ(system_pointer().x, 280);
  EXPECT_EQ(system_pointer().y, 160);
  push_motion(7, -3);
  frame();
  EXPECT_EQ(mouse_x(), 107);
  EXPECT_EQ(mouse_y(), 47);
  // 1300 x 1000 holds scale 2, at (10, 20).
  resize(1300, 1000);
  EXPECT_EQ(system_pointer().x, 10 + 2 * 107 + 1);
  EXPECT_EQ(system_pointer().y, 20 + 2 * 47 + 1);
  push_motion(3, 3);  // from the middle of the block: one and a half screen pixels on
  frame();
  EXPECT_EQ(mouse_x(), 109);
  EXPECT_EQ(mouse_y(), 49);
  // Smaller than the screen: 400 x 300 shown in a 500 x 300 window, at (50, 0); five window
  // pixels are eight screen pixels.
  resize(500, 300);
  push_motion(5, 5);
  frame();
  EXPECT_EQ(mouse_x(), 117);
  EXPECT_EQ(mouse_y(), 57);
}
