// Keyboard and mouse driven by pushed SDL events through the real pump, frame by frame.
#include <set>
#include <vector>

#include "tests/support/dummy_screen.h"

namespace {

// Set-1 codes held in the current snapshot.
std::set<int> held_codes() {
  std::set<int> held;
  for (int code = 0; code < 256; ++code) {
    if (key_down(code)) held.insert(code);
  }
  return held;
}

}  // namespace

using Keyboard = DummyScreen;
using Mouse = DummyScreen;

TEST_F(Keyboard, GameKeysReadAsTheirScanCodes) {
  const std::pair<SDL_Scancode, int> keys[] = {{SDL_SCANCODE_ESCAPE, KEY_ESCAPE},
                                               {SDL_SCANCODE_TAB, KEY_TAB},
                                               {SDL_SCANCODE_R, KEY_R},
                                               {SDL_SCANCODE_RETURN, KEY_RETURN},
                                               {SDL_SCANCODE_LCTRL, KEY_LCONTROL},
                                               {SDL_SCANCODE_F, KEY_F},
                                               {SDL_SCANCODE_SPACE, KEY_SPACE},
                                               {SDL_SCANCODE_RCTRL, KEY_RCONTROL}};
  for (const auto& [scancode, code] : keys) {
    SCOPED_TRACE(code);
    push_key(scancode, true);
    frame();
    EXPECT_EQ(held_codes(), std::set<int>{code});
    EXPECT_EQ(key_down(code), 128);
    EXPECT_EQ(key_down(-1), 1);
    push_key(scancode, false);
    frame();
    EXPECT_EQ(key_down(code), 0);
    EXPECT_EQ(key_down(-1), 0);
  }
}

TEST_F(Keyboard, EveryKeyOfAStandardKeyboardHasItsOwnCode) {
  std::vector<SDL_Scancode> keys;
  for (int k = SDL_SCANCODE_A; k <= SDL_SCANCODE_KP_PERIOD; ++k) {
    // Letters, digits, punctuation, F1-F12, editing block, arrows, keypad; the ISO '#' key
    // is not on a 104-key board.
    if (k != SDL_SCANCODE_NONUSHASH) keys.push_back(static_cast<SDL_Scancode>(k));
  }
  for (int k = SDL_SCANCODE_LCTRL; k <= SDL_SCANCODE_RGUI; ++k) {
    keys.push_back(static_cast<SDL_Scancode>(k));  // the eight modifiers
  }
  keys.push_back(SDL_SCANCODE_APPLICATION);
  ASSERT_EQ(keys.size(), 104u);
  std::set<int> seen;
  for (SDL_Scancode key : keys) {
    SCOPED_TRACE(SDL_GetScancodeName(key));
    push_key(key, true);
    frame();
    const std::set<int> held = held_codes();
    ASSERT_EQ(held.size(), 1u);
    EXPECT_TRUE(seen.insert(*held.begin()).second) << "code shared with another key";
    push_key(key, false);
    frame();
  }
  // The arrows and the editing block are extended keys.
  for (int code : {0xC8, 0xCB, 0xCD, 0xD0, 0xC7, 0xCF, 0xC9, 0xD1, 0xD2, 0xD3, 0x9C, 0xB5}) {
    EXPECT_TRUE(seen.count(code)) << code;
  }
}

TEST_F(Keyboard, ReleaseIsReportedOnceToTheFirstCaller) {
  push_key(SDL_SCANCODE_R, true);
  frame();
  EXPECT_EQ(key_released(KEY_R), 0);  // held: arms the latch
  push_key(SDL_SCANCODE_R, false);
  frame();
  EXPECT_EQ(key_released(KEY_R), 1);
  EXPECT_EQ(key_released(KEY_R), 0);
  EXPECT_EQ(key_released(-1), 0);
  frame();
  EXPECT_EQ(key_released(KEY_R), 0);

  // A release nobody saw held is not reported: the latch is armed only by key_released.
  push_key(SDL_SCANCODE_TAB, true);
  frame();
  push_key(SDL_SCANCODE_TAB, false);
  frame();
  EXPECT_EQ(key_released(KEY_TAB), 0);

  // The any-key form updates every latch on its way, and reports through it.
  push_key(SDL_SCANCODE_SPACE, true);
  push_key(SDL_SCANCODE_RETURN, true);
  frame();
  EXPECT_EQ(key_released(-1), 0);
  push_key(SDL_SCANCODE_SPACE, false);
  push_key(SDL_SCANCODE_RETURN, false);
  frame();
  EXPECT_EQ(key_released(-1), 1);
  EXPECT_EQ(key_released(KEY_SPACE), 0);
  EXPECT_EQ(key_released(KEY_RETURN), 0);
}

// A tap (a key or button pressed and let go between two frames, as xdotool and tap-to-click
// send them) is a press in its frame and a release in the next, as the player meant.
TEST_F(Keyboard, ATapIsAPressInItsFrameAndAReleaseInTheNext) {
  push_key(SDL_SCANCODE_ESCAPE, true);
  push_key(SDL_SCANCODE_ESCAPE, false);
  push_key(SDL_SCANCODE_SPACE, true);  // tapped twice in one frame: still one press
  push_key(SDL_SCANCODE_SPACE, false);
  push_key(SDL_SCANCODE_SPACE, true);
  push_key(SDL_SCANCODE_SPACE, false);
  push_key(SDL_SCANCODE_R, true);  // pressed, let go and pressed again: held
  push_key(SDL_SCANCODE_R, false);
  push_key(SDL_SCANCODE_R, true);
  frame();
  EXPECT_EQ(held_codes(), (std::set<int>{KEY_ESCAPE, KEY_SPACE, KEY_R}));
  EXPECT_EQ(key_released(KEY_ESCAPE), 0);
  EXPECT_EQ(key_released(KEY_SPACE), 0);
  frame();
  EXPECT_EQ(held_codes(), (std::set<int>{KEY_R}));
  EXPECT_EQ(key_released(KEY_ESCAPE), 1);
  EXPECT_EQ(key_released(KEY_SPACE), 1);
  frame();
  EXPECT_EQ(key_released(KEY_ESCAPE), 0);
  EXPECT_EQ(held_codes(), (std::set<int>{KEY_R}));
}

TEST_F(Keyboard, LatchSurvivesAFocusLoss) {
  push_key(SDL_SCANCODE_R, true);
  frame();
  EXPECT_EQ(key_released(KEY_R), 0);
  focus(false);
  push_key(SDL_SCANCODE_R, false);  // let go while another program has the focus
  frame();
  EXPECT_EQ(keyboard_examine(), 0);
  EXPECT_EQ(key_down(KEY_R), 0);  // reads fail: nothing is reported
  EXPECT_EQ(key_released(KEY_R), 0);
  focus(true);
  frame();
  EXPECT_EQ(key_released(KEY_R), 1);
}

TEST_F(Keyboard, QueriesAnswerFromTheLastSnapshot) {
  push_key(SDL_SCANCODE_F, true);
  frame();
  push_key(SDL_SCANCODE_F, false);
  while (window_poll_event() != 0) {
  }
  EXPECT_EQ(key_down(KEY_F), 128);  // no examine since the key went up
  EXPECT_EQ(key_down(300), 0);
  EXPECT_EQ(key_released(-7), 0);
}

TEST_F(Mouse, PointerIsClampedAtBothEnds) {
  push_motion(-5000, -3000);
  frame();
  EXPECT_EQ(mouse_x(), 0);
  EXPECT_EQ(mouse_y(), 0);
  push_motion(100, 40);
  push_motion(20, 2);
  frame();
  EXPECT_EQ(mouse_x(), 120);
  EXPECT_EQ(mouse_y(), 42);
  push_motion(5000, 5000);
  frame();
  EXPECT_EQ(mouse_x(), 639);
  EXPECT_EQ(mouse_y(), 479);
}

TEST_F(Mouse, EveryEventOfABusyFrameCounts) {
  // A 1000 Hz mouse sends about twenty events a frame; far more than that must not be lost.
  push_button(SDL_BUTTON_LEFT, true);
  for (int i = 0; i < 300; ++i) push_motion(1, 1);
  frame();
  EXPECT_EQ(mouse_x(), 300);
  EXPECT_EQ(mouse_y(), 300);
  EXPECT_EQ(mouse_button(1), 1);
}

TEST_F(Mouse, ButtonsFollowTheirEventsAndAClickInsideAFrameCounts) {
  push_button(SDL_BUTTON_LEFT, true);
  push_button(SDL_BUTTON_LEFT, false);
  push_button(SDL_BUTTON_RIGHT, false);
  push_button(SDL_BUTTON_RIGHT, true);
  push_button(SDL_BUTTON_MIDDLE, true);
  events_pump();
  EXPECT_EQ(mouse_examine(), 1);
  EXPECT_EQ(mouse_button(1), 1);  // a click inside one frame is down for that frame
  EXPECT_EQ(mouse_button(2), 1);
  EXPECT_EQ(mouse_button(3), 1);
  EXPECT_EQ(mouse_examine(), 1);  // no events: the buttons keep their state
  EXPECT_EQ(mouse_button(2), 1);
  events_pump();
  mouse_examine();
  EXPECT_EQ(mouse_button(1), 0);  // and up in the next
  EXPECT_EQ(mouse_button(2), 1);
  push_button(SDL_BUTTON_RIGHT, false);
  push_button(SDL_BUTTON_MIDDLE, false);
  events_pump();
  mouse_examine();
  EXPECT_EQ(mouse_button(2), 0);
  EXPECT_EQ(mouse_button(3), 0);
  EXPECT_EQ(mouse_button(4), 0);
}

TEST_F(Mouse, APumpCountsOnceAndAFocusLossFreesThePointerBeforeInputIsRead) {
  mouse_locate(100, 100);
  frame();
  push_motion(10, 0);
  events_pump();
  mouse_examine();
  mouse_examine();  // the frame's record is taken once, however often it is asked
  EXPECT_EQ(mouse_x(), 110);
  // The frame's first question already gives the pointer back: nothing of the mouse is asked.
  ASSERT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
  focus(false);
  events_pump();
  EXPECT_EQ(screen_is_active(), 0);
  EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
}

TEST_F(Mouse, LocateIsStoredUnclampedUntilTheNextExamine) {
  mouse_locate(-5, 1000);
  EXPECT_EQ(mouse_x(), -5);
  EXPECT_EQ(mouse_y(), 1000);
  frame();
  EXPECT_EQ(mouse_x(), 0);
  EXPECT_EQ(mouse_y(), 479);
}

TEST_F(Mouse, SystemPointerFollowsWithoutMovingTheVirtualOneTwice) {
  mouse_locate(320, 240);
  frame();
  int x = 0, y = 0;
  SDL_GetMouseState(&x, &y);
  EXPECT_EQ(x, 320);  // the system pointer was put on the virtual one
  EXPECT_EQ(y, 240);
  frame();
  frame();
  EXPECT_EQ(mouse_x(), 320);  // and the warp's own motion did not move it again
  EXPECT_EQ(mouse_y(), 240);
  push_motion(-20, 10);
  frame();
  frame();
  EXPECT_EQ(mouse_x(), 300);
  EXPECT_EQ(mouse_y(), 250);
  SDL_GetMouseState(&x, &y);
  EXPECT_EQ(x, 300);
  EXPECT_EQ(y, 250);
}

TEST_F(Mouse, NothingMovesWhileTheWindowIsInTheBackground) {
  push_motion(50, 60);
  push_button(SDL_BUTTON_LEFT, true);
  frame();
  focus(false);
  frame();
  EXPECT_EQ(screen_is_active(), 0);
  push_motion(100, 100);  // over another program's window
  events_pump();
  EXPECT_EQ(mouse_examine(), 0);
  EXPECT_EQ(mouse_x(), 50);
  EXPECT_EQ(mouse_y(), 60);
  EXPECT_EQ(mouse_button(1), 1);  // a held button reads held until data comes again
  focus(true);
  frame();
  EXPECT_EQ(mouse_x(), 50);
  EXPECT_EQ(mouse_y(), 60);
  // The release happened elsewhere; taking the mouse again starts from the real buttons.
  EXPECT_EQ(mouse_button(1), 0);
}

TEST_F(Mouse, PointerVisibilityIsOneCounterSharedWithTheGame) {
  // Captured since the first frame: the layer hid the pointer once.
  EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
  EXPECT_EQ(mouse_show_pointer(1), 0);  // the game shows it: visible from now on
  EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
  frame();
  EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);  // the layer does not hide it again
  mouse_release(1);                                  // given back: the layer shows what it hid
  EXPECT_EQ(mouse_show_pointer(0), 0);
  EXPECT_EQ(mouse_show_pointer(1), 1);
  frame();  // taken again: hidden by one, still visible
  EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
  EXPECT_EQ(mouse_show_pointer(0), -1);
  EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
}

TEST_F(Mouse, ReleasedPointerIsNotMovedByTheGame) {
  mouse_release(1);
  push_motion(30, 30);
  events_pump();
  EXPECT_EQ(mouse_examine(), 0);
  EXPECT_EQ(mouse_x(), 0);
  mouse_release(0);
  push_motion(30, 30);
  events_pump();
  EXPECT_EQ(mouse_examine(), 1);
  EXPECT_EQ(mouse_x(), 30);
}
