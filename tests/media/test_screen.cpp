// Window events, the screen's life and its frame pacing, on SDL's dummy video driver. Pacing
// runs on a stepped clock, so its rule is checked exactly and without timing the machine.
#include <cstdlib>
#include <vector>

#include "tests/support/dummy_screen.h"

namespace {

// The stepped clock: every reading advances it by one tick, a sleep jumps to its wake time.
struct FakeClock {
  int64_t now = 1000000000;
  int reads = 0;
  std::vector<int64_t> sleeps;  // wake times asked for
  int64_t oversleep = 0;        // how late each sleep ends, as a busy machine's would
};
FakeClock CLOCK;

int64_t fake_now() {
  ++CLOCK.reads;
  return ++CLOCK.now;
}
void fake_sleep_until(int64_t when) {
  CLOCK.sleeps.push_back(when);
  if (when > CLOCK.now) CLOCK.now = when + CLOCK.oversleep;
}

constexpr int64_t PERIOD_50 = 1000000000 / 51;  // 1/51 s in nanosecond ticks

// A frame's window events: the pump, then every event the window hands out.
std::vector<int> drain_events() {
  events_pump();
  std::vector<int> codes;
  for (int code; (code = window_poll_event()) != 0;) codes.push_back(code);
  return codes;
}

}  // namespace

class Pacing : public DummyScreen {
 protected:
  void SetUp() override {
    DummyScreen::SetUp();
    CLOCK = FakeClock{};
    screen_set_pacing_clock(fake_now, fake_sleep_until);
  }
  void TearDown() override {
    screen_set_pacing_clock(nullptr, nullptr);
    DummyScreen::TearDown();
  }
};

TEST_F(Pacing, FlipsComeOneFiftyFirstOfASecondApart) {
  ASSERT_EQ(screen_set_frame_rate(50), 1);
  ASSERT_EQ(screen_flip(), 1);
  EXPECT_TRUE(CLOCK.sleeps.empty());  // the first flip after setting the rate never waits
  const int64_t first = CLOCK.now;
  CLOCK.now += 5000000;  // 5 ms of work
  ASSERT_EQ(screen_flip(), 1);
  // Slept until 100 us before the deadline, then spun just past it.
  ASSERT_EQ(CLOCK.sleeps.size(), 1u);
  EXPECT_EQ(CLOCK.sleeps[0], first + PERIOD_50 - 100000);
  EXPECT_GT(CLOCK.now - first, PERIOD_50);
  EXPECT_LT(CLOCK.now - first, PERIOD_50 + 1000);
}

TEST_F(Pacing, SpinMarginTracksHowLateSleepsEnd) {
  screen_set_frame_rate(50);
  screen_flip();
  // Returns how long before the deadline the frame's sleep was to end, and checks that the
  // frame still ended just past its deadline whenever the sleep ended before it.
  auto paced_frame = [](int64_t oversleep) {
    CLOCK.oversleep = oversleep;
    const int64_t start = CLOCK.now;
    const size_t sleeps = CLOCK.sleeps.size();
    CLOCK.now += 3000000;
    screen_flip();
    EXPECT_EQ(CLOCK.sleeps.size(), sleeps + 1);
    const int64_t margin = start + PERIOD_50 - CLOCK.sleeps.back();
    if (oversleep < margin) {
      EXPECT_GT(CLOCK.now - start, PERIOD_50);
      EXPECT_LT(CLOCK.now - start, PERIOD_50 + 1000);
    }
    return margin;
  };
  // Sleeps on time: the margin comes down 1 us a frame to its 20 us floor.
  EXPECT_EQ(paced_frame(0), 100000);
  EXPECT_EQ(paced_frame(0), 99000);
  int64_t margin = 0;
  for (int i = 0; i < 100; ++i) margin = paced_frame(0);
  EXPECT_EQ(margin, 20000);
  // Every sleep 300 us late: the margin climbs until it covers them, and the frames are on
  // time again.
  int overruns = 0;
  for (int i = 0; i < 40; ++i) {
    margin = paced_frame(300000);
    overruns += margin < 300000;
  }
  EXPECT_EQ(overruns, 15);  // (300 - 20) / 19 frames, rounded up
  EXPECT_GE(margin, 300000);
  EXPECT_LT(margin, 320000);
  // One sleep in forty 5 ms late, the rest on time: stalls rarer than one frame in twenty
  // are not followed, whatever their length.
  for (int i = 0; i < 1200; ++i) margin = paced_frame(i % 40 == 0 ? 5000000 : 0);
  EXPECT_LT(margin, 60000);
  // The margin never passes 2 ms however late the sleeps end.
  for (int i = 0; i < 200; ++i) margin = paced_frame(10000000);
  EXPECT_EQ(margin, 2000000);
  // A new frame rate starts afresh.
  screen_set_frame_rate(50);
  screen_flip();
  EXPECT_EQ(paced_frame(0), 100000);
}

TEST_F(Pacing, LateFramesAreNotMadeUp) {
  screen_set_frame_rate(50);
  screen_flip();
  const int64_t start = CLOCK.now;
  CLOCK.now += 40000000;  // a 40 ms frame
  screen_flip();
  EXPECT_TRUE(CLOCK.sleeps.empty());  // no wait for a late frame
  const int64_t late_end = CLOCK.now;
  EXPECT_LT(late_end - start, 40000000 + 1000);
  screen_flip();  // the next period counts from the end of the late frame
  EXPECT_GT(CLOCK.now - late_end, PERIOD_50);
  EXPECT_LT(CLOCK.now - late_end, PERIOD_50 + 1000);
}

TEST_F(Pacing, RateZeroDoesNotWaitAndBadRatesChangeNothing) {
  screen_set_frame_rate(0);
  const int64_t start = CLOCK.now;
  for (int i = 0; i < 10; ++i) EXPECT_EQ(screen_flip(), 1);
  EXPECT_TRUE(CLOCK.sleeps.empty());
  EXPECT_EQ(CLOCK.now, start);  // the clock was not even read

  screen_set_frame_rate(50);
  screen_flip();
  EXPECT_EQ(screen_set_frame_rate(-1), 0);
  CLOCK.now += 1000000;
  screen_flip();
  EXPECT_EQ(CLOCK.sleeps.size(), 1u);  // still paced at 50
}

TEST_F(Pacing, InactiveFullScreenSkipsPresentingButKeepsPacing) {
  screen_close();
  window_close(0);
  ASSERT_EQ(screen_open_full(640, 480, 32, "Q-47 full"), 1);
  focus(true);
  screen_set_frame_rate(50);
  events_pump();
  screen_flip();
  EXPECT_EQ(screen_is_active(), 1);
  focus(false);
  events_pump();
  EXPECT_EQ(screen_flip(), 1);
  EXPECT_EQ(screen_is_active(), 0);
  EXPECT_EQ(CLOCK.sleeps.size(), 1u);
  focus(true);
  events_pump();
  screen_flip();
  EXPECT_EQ(screen_is_active(), 1);
}

using Window = DummyScreen;

TEST_F(Window, CloseRequestGivesOneEventAndKeepsTheWindow) {
  drain_events();
  push_window(SDL_WINDOWEVENT_CLOSE);
  SDL_Event quit{};
  quit.type = SDL_QUIT;  // SDL may add a quit request for the same click
  SDL_PushEvent(&quit);
  EXPECT_EQ(drain_events(), std::vector<int>{EVENT_CLOSE_WINDOW});
  EXPECT_NE(window_handle(0), 0);
  EXPECT_EQ(window_poll_event(), 0);
  push_window(SDL_WINDOWEVENT_CLOSE);  // a second click is a second request
  EXPECT_EQ(drain_events(), std::vector<int>{EVENT_CLOSE_WINDOW});
}

TEST_F(Window, EventsAreTranslatedAndRepeatsCollapse) {
  drain_events();
  push_window(SDL_WINDOWEVENT_MOVED);
  push_window(SDL_WINDOWEVENT_MOVED);
  push_window(SDL_WINDOWEVENT_MINIMIZED);
  push_window(SDL_WINDOWEVENT_RESTORED);
  push_window(SDL_WINDOWEVENT_MAXIMIZED);
  push_window(SDL_WINDOWEVENT_RESTORED);
  push_window(SDL_WINDOWEVENT_MOVED, screen_window_id() + 100);  // not one of our windows
  push_key(SDL_SCANCODE_R, true);  // input is sorted away, not returned
  push_window(SDL_WINDOWEVENT_FOCUS_GAINED);
  EXPECT_EQ(drain_events(),
            (std::vector<int>{EVENT_MOVE_WINDOW, EVENT_MINIMIZE_WINDOW, EVENT_RESTORE_WINDOW,
                              EVENT_SIZE_WINDOW, EVENT_MAXIMIZE_WINDOW, EVENT_SIZE_WINDOW,
                              EVENT_RESTORE_WINDOW, EVENT_SIZE_WINDOW, EVENT_ACTIVATE_WINDOW}));
}

TEST_F(Window, ClosingDropsQueuedEventsAndBadIdsDoNothing) {
  ASSERT_NE(window_open(3, 0, 0, 200, 100, nullptr, WINDOW_INVISIBLE), 0);
  const uint32_t third = SDL_GetWindowID(reinterpret_cast<SDL_Window*>(window_handle(3)));
  push_window(SDL_WINDOWEVENT_CLOSE, third);
  push_window(SDL_WINDOWEVENT_MOVED, third);
  events_pump();
  EXPECT_EQ(window_poll_event(), EVENT_CLOSE_WINDOW);
  EXPECT_EQ(window_close(3), 1);
  EXPECT_EQ(window_poll_event(), 0);  // its queued move went with it
  EXPECT_EQ(window_close(3), 0);
  EXPECT_EQ(window_hide(42, 1), 0);
  EXPECT_EQ(window_handle(-1), 0);
  EXPECT_EQ(window_open(-7, 0, 0, 10, 10, "", 0), 0);
  const intptr_t automatic = window_open(-1, 0, 0, 10, 10, "", WINDOW_INVISIBLE);
  EXPECT_GT(automatic, 0);
  EXPECT_NE(window_handle(static_cast<int32_t>(automatic)), 0);
}

TEST_F(Window, OpensCentredWithTheClientSizeAsked) {
  SDL_Window* w = reinterpret_cast<SDL_Window*>(window_handle(0));
  int width = 0, height = 0, x = 0, y = 0;
  SDL_GetWindowSize(w, &width, &height);
  SDL_GetWindowPosition(w, &x, &y);
  SDL_Rect desktop;
  SDL_GetDisplayUsableBounds(0, &desktop);
  EXPECT_EQ(width, 640);
  EXPECT_EQ(height, 480);
  EXPECT_EQ(x, desktop.x + (desktop.w - 640) / 2);
  EXPECT_EQ(y, desktop.y + (desktop.h - 480) / 2);
  EXPECT_STREQ(SDL_GetWindowTitle(w), "Q-47 test");
  EXPECT_FALSE(SDL_GetWindowFlags(w) & SDL_WINDOW_RESIZABLE);
}

TEST_F(Window, MessageBoxAlsoWritesToStandardError) {
  // No display to show a box on: standard error is what the player gets.
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(message_box("ZORARUVO Q-47 - Error", "Screen could not be opened!", MESSAGE_BOX_ERROR),
            1);
  const std::string written = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(written.find("ZORARUVO Q-47 - Error"), std::string::npos);
  EXPECT_NE(written.find("Screen could not be opened!"), std::string::npos);
}

using Screen = DummyScreen;

// What the 640 x 480 window shows, as 0x00BBGGRR pixels; empty when it cannot be read back.
std::vector<uint32_t> window_pixels() {
  std::vector<uint32_t> shown(640 * 480);
  if (SDL_RenderReadPixels(SDL_GetRenderer(events_screen().window), nullptr,
                           SDL_PIXELFORMAT_XBGR8888, shown.data(), 640 * 4) != 0) {
    return {};
  }
  for (uint32_t& pixel : shown) pixel &= 0xFFFFFF;
  return shown;
}

TEST_F(Screen, OpensBlackAndPresentsTheBackBuffer) {
  const uint32_t* pixels = screen_pixels();
  ASSERT_NE(pixels, nullptr);
  for (int i = 0; i < 640 * 480; ++i) ASSERT_EQ(pixels[i], 0u);
  screen_clear(rgb(10, 20, 30));
  DrawTarget* t = screen_output();
  ASSERT_EQ(draw_begin(t), 1);
  draw_box(100, 50, 10, 10, rgb(200, 0, 0));
  draw_end();
  EXPECT_EQ(pixels[0], rgb(10, 20, 30));
  EXPECT_EQ(pixels[50 * 640 + 100], rgb(200, 0, 0));
  ASSERT_EQ(screen_flip(), 1);
  // What reached the window is the back buffer, pixel for pixel.
  const std::vector<uint32_t> shown = window_pixels();
  ASSERT_EQ(shown.size(), 640u * 480);
  EXPECT_EQ(shown[0], rgb(10, 20, 30));
  EXPECT_EQ(shown[50 * 640 + 100], rgb(200, 0, 0));
  EXPECT_EQ(shown[60 * 640 + 110], rgb(10, 20, 30));
}

TEST_F(Screen, DeviceResetIsRecoveredBeforePresenting) {
  const int before = screen_recoveries();
  SDL_Event reset{};
  reset.type = SDL_RENDER_DEVICE_RESET;
  SDL_PushEvent(&reset);
  frame();  // the frame's pump records the reset, and the screen takes it before presenting
  EXPECT_EQ(screen_recoveries(), before + 1);
  screen_clear(rgb(0, 90, 0));
  EXPECT_EQ(screen_flip(), 1);
  const std::vector<uint32_t> shown = window_pixels();
  ASSERT_EQ(shown.size(), 640u * 480);
  EXPECT_EQ(shown[1234], rgb(0, 90, 0));
}

TEST_F(Screen, FullScreenNeedsSixteenOrThirtyTwoBitsAndHidesThePointer) {
  screen_close();
  window_close(0);
  EXPECT_EQ(screen_open_full(640, 480, 24, "Q-47"), 0);
  EXPECT_EQ(screen_pixels(), nullptr);
  ASSERT_EQ(screen_open_full(640, 480, 32, "Q-47"), 1);
  EXPECT_EQ(screen_is_active(), 1);
  EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
  EXPECT_NE(screen_pixels(), nullptr);
  screen_close();
  EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
  EXPECT_EQ(screen_open_full(640, 480, 16, "Q-47"), 1);
}

TEST_F(Screen, ClosedScreenIsHarmless) {
  screen_close();
  screen_close();
  screen_clear(0);
  EXPECT_EQ(screen_pixels(), nullptr);
  EXPECT_EQ(screen_output(), nullptr);
  EXPECT_EQ(screen_flip(), 0);
  EXPECT_EQ(screen_is_active(), 0);
  EXPECT_EQ(screen_system_init(), 0);  // already initialised
  EXPECT_EQ(screen_open_windowed(0, 0, 0, 640, 480, 0, 0, 0), 0);
  EXPECT_EQ(screen_open_windowed(12345, 0, 0, 640, 480, 0, 0, 0), 0);  // not our window
}

TEST_F(Screen, ClosingTheScreenEndsATargetDrawingIntoIt) {
  DrawTarget* t = screen_output();
  ASSERT_EQ(draw_begin(t), 1);
  screen_close();
  draw_box(0, 0, 10, 10, rgb(1, 2, 3));  // must not touch the freed buffer
  draw_end();
  EXPECT_EQ(screen_pixels(), nullptr);
}

TEST_F(Screen, EveryPixelOfARowReachesTheWindowWhateverTheWidth) {
  // 637 is no multiple of the four pixels converted at once: the row's end goes one by one.
  ASSERT_EQ(screen_open_windowed(window_handle(0), 0, 0, 637, 480, 0, 0, 0), 1);
  screen_clear(0);
  std::vector<uint32_t> drawn(637);
  DrawTarget* t = screen_output();
  ASSERT_EQ(draw_begin(t), 1);
  for (int x = 0; x < 637; ++x) {
    drawn[x] = rgb(x % 256, (x * 7) % 256, 255 - x % 256);
    draw_box(x, 7, 1, 1, drawn[x]);
  }
  draw_end();
  ASSERT_EQ(screen_flip(), 1);
  const std::vector<uint32_t> shown = window_pixels();
  ASSERT_EQ(shown.size(), 640u * 480);
  for (int x = 0; x < 637; ++x) ASSERT_EQ(shown[7 * 640 + x], drawn[x]) << "x " << x;
  EXPECT_EQ(shown[7 * 640 + 638], 0u);  // the black bar beside the picture
}

TEST_F(Screen, APictureRunningPastTheWindowShowsItsVisiblePartInPlace) {
  // Placed 30 right and 20 down in a window of its own size: the last columns and rows fall
  // outside the window, and the strips left and above stay black.
  ASSERT_EQ(screen_open_windowed(window_handle(0), 30, 20, 640, 480, 0, 0, 0), 1);
  DrawTarget* t = screen_output();
  ASSERT_EQ(draw_begin(t), 1);
  for (int y = 0; y < 480; ++y) {
    for (int x = 0; x < 640; x += 8) draw_box(x, y, 8, 1, rgb(x / 3, y / 2, (x + y) % 256));
  }
  draw_end();
  ASSERT_EQ(screen_flip(), 1);
  const std::vector<uint32_t> shown = window_pixels();
  ASSERT_EQ(shown.size(), 640u * 480);
  const uint32_t* drawn = screen_pixels();
  for (int y = 0; y < 480; ++y) {
    for (int x = 0; x < 640; ++x) {
      const uint32_t expected = x < 30 || y < 20 ? 0u : drawn[(y - 20) * 640 + (x - 30)];
      ASSERT_EQ(shown[y * 640 + x], expected) << "x " << x << " y " << y;
    }
  }
}
