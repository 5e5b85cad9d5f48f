// Taking the mouse back after a focus loss, and close requests that reach the game without a
// window of ours, driven by pushed SDL events through the real pump.
#include <signal.h>

#include "tests/support/dummy_screen.h"

using Capture = DummyScreen;

TEST_F(Capture, OnlyInputAfterTheCaptureMovesTheButtons) {
  push_button(SDL_BUTTON_LEFT, true);
  frame();
  ASSERT_EQ(mouse_button(1), 1);
  focus(false);
  frame();
  // The click that brings the window back comes with the focus and is not a click on the board.
  focus(true);
  push_button(SDL_BUTTON_RIGHT, true);
  frame();
  EXPECT_EQ(mouse_button(1), 0);  // held since before: up until pressed again
  EXPECT_EQ(mouse_button(2), 0);
  push_button(SDL_BUTTON_LEFT, false);
  frame();
  EXPECT_EQ(mouse_button(1), 0);
  push_button(SDL_BUTTON_LEFT, true);
  frame();
  EXPECT_EQ(mouse_button(1), 1);
}

TEST_F(Capture, PointerStartsWhereThePlayerLeftTheSystemPointer) {
  mouse_locate(100, 100);
  frame();
  focus(false);
  frame();
  // Moved over the window while another program had the focus.
  SDL_WarpMouseInWindow(events_screen().window, 300, 200);
  focus(true);
  frame();
  EXPECT_EQ(mouse_x(), 300);
  EXPECT_EQ(mouse_y(), 200);
  int x = 0, y = 0;
  SDL_GetMouseState(&x, &y);
  EXPECT_EQ(x, 300);  // not pulled back to (100, 100)
  EXPECT_EQ(y, 200);
}

TEST_F(Capture, LocateByTheGameWinsOverTheSystemPointer) {
  focus(false);
  frame();
  SDL_WarpMouseInWindow(events_screen().window, 300, 200);
  mouse_locate(320, 240);  // a story screen opened in the background
  focus(true);
  frame();
  EXPECT_EQ(mouse_x(), 320);
  EXPECT_EQ(mouse_y(), 240);
}

TEST_F(Capture, QuitAndCloseRequestsReachTheGameInFullScreen) {
  window_close(0);
  ASSERT_EQ(screen_open_full(640, 480, 32, "Q-47 test"), 1);
  EXPECT_EQ(screen_is_active(), 1);
  SDL_Event quit{};
  quit.type = SDL_QUIT;
  SDL_PushEvent(&quit);
  events_pump();
  EXPECT_EQ(window_poll_event(), EVENT_CLOSE_WINDOW);
  EXPECT_EQ(window_poll_event(), 0);
  push_window(SDL_WINDOWEVENT_CLOSE);  // the window manager's close on the full-screen window
  events_pump();
  EXPECT_EQ(window_poll_event(), EVENT_CLOSE_WINDOW);
  push_window(SDL_WINDOWEVENT_CLOSE, screen_window_id() + 100);  // a window not ours
  events_pump();
  EXPECT_EQ(window_poll_event(), 0);
  // A hangup is one more quit request, unless it was ignored before the game started (nohup).
  struct sigaction hangup {};
  sigaction(SIGHUP, nullptr, &hangup);
  if (hangup.sa_handler != SIG_IGN) {
    raise(SIGHUP);
    events_pump();
    EXPECT_EQ(window_poll_event(), EVENT_CLOSE_WINDOW);
  }
}
