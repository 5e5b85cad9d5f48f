// The window's scale from the desktop, and the pointer over a picture shown larger (or smaller)
// than the screen's pixels: a window of ours on SDL's dummy driver, driven by pushed events.
#include "desktop/display.h"
#include "desktop/options.h"
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
