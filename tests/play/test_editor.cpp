// The level editor under a player who presses anything: a seeded session of random keys, clicks
// and drags through the program's frame, saving often. Every text it saves must open again in
// the editor, as a file the player wrote and will come back to.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "core/edit.h"
#include "core/level_pack.h"
#include "core/level_stream.h"
#include "play/editor.h"
#include "tests/support/game_harness.h"
#include "tests/support/virtual_pad.h"

namespace gh = game_harness;

namespace {

class EditorSession : public ::testing::Test {
 protected:
  void SetUp() override { gh::start(); }
  void TearDown() override {
    sound_set_play_observer(nullptr);
    game_end();
  }
};

// The keys a player might press in the editor, test-play and its quit question aside.
const SDL_Scancode KEYS[] = {
    SDL_SCANCODE_1,      SDL_SCANCODE_2,      SDL_SCANCODE_3,         SDL_SCANCODE_4,
    SDL_SCANCODE_5,      SDL_SCANCODE_6,      SDL_SCANCODE_P,         SDL_SCANCODE_L,
    SDL_SCANCODE_R,      SDL_SCANCODE_O,      SDL_SCANCODE_F,         SDL_SCANCODE_X,
    SDL_SCANCODE_LEFT,   SDL_SCANCODE_RIGHT,  SDL_SCANCODE_UP,        SDL_SCANCODE_DOWN,
    SDL_SCANCODE_SPACE,  SDL_SCANCODE_DELETE, SDL_SCANCODE_B,         SDL_SCANCODE_E,
    SDL_SCANCODE_H,      SDL_SCANCODE_PAGEUP, SDL_SCANCODE_PAGEDOWN,  SDL_SCANCODE_INSERT,
    SDL_SCANCODE_I,      SDL_SCANCODE_S,      SDL_SCANCODE_G,         SDL_SCANCODE_A,
    SDL_SCANCODE_RETURN, SDL_SCANCODE_TAB,    SDL_SCANCODE_BACKSPACE, SDL_SCANCODE_F1,
};
// Pressed with Ctrl: undo, redo, duplicate, delete a level, grow or shrink a side.
const SDL_Scancode CTRL_KEYS[] = {SDL_SCANCODE_Z,      SDL_SCANCODE_Y,    SDL_SCANCODE_D,
                                  SDL_SCANCODE_DELETE, SDL_SCANCODE_LEFT, SDL_SCANCODE_RIGHT,
                                  SDL_SCANCODE_UP,     SDL_SCANCODE_DOWN};

TEST_F(EditorSession, EveryPackARandomSessionSavesOpensAgain) {
  EditSession edit;
  edit_start(edit, edit_new_pack());
  app_edit(std::move(edit), "");
  std::mt19937 random(47);
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  std::vector<AppAsk> asks;
  auto frames = [&](int n) {
    for (int i = 0; i < n; ++i) game_frame(&asks);
    gh::moves_pending = false;
  };
  int saves = 0, without_leak = 0, reopened_files = 0;
  std::string last_saved;
  for (int action = 0; action < 1500; ++action) {
    const int kind = pick(20);
    if (kind < 6) {  // a click or a drag on the board, either button
      const int button = pick(3) == 0 ? 2 : 1;
      gh::push_move_to(80 + pick(480), pick(480));
      gh::push_button(button, true);
      frames(1);
      for (int step = pick(3); step > 0; --step) {
        gh::push_move_to(80 + pick(480), pick(480));
        frames(1);
      }
      gh::push_button(button, false);
    } else if (kind < 8) {
      const SDL_Scancode key = CTRL_KEYS[pick(std::size(CTRL_KEYS))];
      gh::push_key(SDL_SCANCODE_LCTRL, true);
      gh::push_key(key, true);
      frames(1);
      gh::push_key(key, false);
      gh::push_key(SDL_SCANCODE_LCTRL, false);
    } else if (kind < 9) {
      // Escape leaves a story line or the help, or asks before quitting; an arrow then goes
      // back from the question.
      gh::push_key(SDL_SCANCODE_ESCAPE, true);
      frames(1);
      gh::push_key(SDL_SCANCODE_ESCAPE, false);
      frames(1);
      gh::push_key(SDL_SCANCODE_LEFT, true);
      frames(1);
      gh::push_key(SDL_SCANCODE_LEFT, false);
    } else {
      const bool shifted = pick(4) == 0;
      const SDL_Scancode key = KEYS[pick(std::size(KEYS))];
      if (shifted) gh::push_key(SDL_SCANCODE_LSHIFT, true);
      gh::push_key(key, true);
      frames(1);
      gh::push_key(key, false);
      if (shifted) gh::push_key(SDL_SCANCODE_LSHIFT, false);
    }
    frames(1);
    if (action % 25 == 24) {  // Ctrl+S, and Escape first in case a question is open
      gh::push_key(SDL_SCANCODE_LCTRL, true);
      gh::push_key(SDL_SCANCODE_S, true);
      frames(1);
      gh::push_key(SDL_SCANCODE_S, false);
      gh::push_key(SDL_SCANCODE_LCTRL, false);
      frames(1);
    }
    for (const AppAsk& ask : asks) {
      if (ask.kind != AppAsk::Kind::SAVE_PACK) continue;
      ++saves;
      EditSession reopened;
      std::string problems;
      ASSERT_TRUE(edit_open(reopened, ask.text, "saved.q47l", problems))
          << "after action " << action << ":\n"
          << problems << ask.text;
      without_leak += !edit_problems(reopened).empty();
      last_saved = ask.text;
      app_saved("");
    }
    asks.clear();
    if (app_mode() == AppMode::ENDED) {  // Escape on a saved pack quits: open the file again
      EditSession file;
      std::string problems;
      ASSERT_TRUE(edit_open(file, last_saved, "saved.q47l", problems)) << problems;
      app_edit(std::move(file), "");
      ++reopened_files;
    }
  }
  EXPECT_GE(saves, 30);
  std::printf("%d saves, %d of them with a level not yet playable; opened again %d times\n", saves,
              without_leak, reopened_files);
}

}  // namespace

namespace {

// Ctrl+C of the largest kind of pack a player saves (long comments make it 3.9 MB) and Ctrl+V in
// a new, untouched file: the same text comes back, byte for byte, ready to save.
TEST_F(EditorSession, ABigPacksCodeIsPastedBackWholeIntoANewFile) {
  std::string text = level_pack_format(level_pack_from_stream(level_stream_builtin()));
  std::mt19937 random(3);
  while (text.size() < 3900000) {
    std::string comment = "# ";
    for (int i = 0; i < 70; ++i) comment += static_cast<char>('a' + random() % 26);
    text += comment + "\n";
  }
  EditSession big;
  std::string problems;
  ASSERT_TRUE(edit_open(big, text, "big.q47l", problems)) << problems;
  app_edit(std::move(big), "");
  gh::frames(1);
  gh::push_key(SDL_SCANCODE_LCTRL, true);
  gh::tap(SDL_SCANCODE_C);
  gh::push_key(SDL_SCANCODE_LCTRL, false);
  EditSession fresh;
  edit_start(fresh, edit_new_pack());
  app_edit(std::move(fresh), "");
  gh::frames(1);
  gh::push_key(SDL_SCANCODE_LCTRL, true);
  gh::tap(SDL_SCANCODE_V);
  gh::push_key(SDL_SCANCODE_LCTRL, false);
  gh::frames(1);
  EXPECT_EQ(editor_session().pack.levels.size(), 10u);
  EXPECT_TRUE(editor_session().changed);
  EXPECT_TRUE(edit_text(editor_session()) == text);
}

}  // namespace

namespace {

class EditorPad : public EditorSession {
 protected:
  void SetUp() override {
    // The dummy video driver never gives the window SDL's focus, without which SDL drops a pad.
    SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
    EditorSession::SetUp();
  }
};

// Presses the pad's buttons one a character: d-pad r l u d, A B Y, LB < RB >, Start S, Back K
// tapped; [ and ] hold and let go of A, ( and ) of Back. Frames' asks go to asks.
void press_pad(VirtualPad& pad, const std::string& buttons, std::vector<AppAsk>& asks) {
  auto frames = [&asks](int n) {
    for (int i = 0; i < n; ++i) game_frame(&asks);
  };
  for (char c : buttons) {
    if (c == '[' || c == ']' || c == '(' || c == ')') {
      const bool a = c == '[' || c == ']';
      pad.set(a ? SDL_CONTROLLER_BUTTON_A : SDL_CONTROLLER_BUTTON_BACK, c == '[' || c == '(');
      frames(a ? 1 : 3);
      continue;
    }
    const SDL_GameControllerButton button = c == 'r'   ? SDL_CONTROLLER_BUTTON_DPAD_RIGHT
                                            : c == 'l' ? SDL_CONTROLLER_BUTTON_DPAD_LEFT
                                            : c == 'u' ? SDL_CONTROLLER_BUTTON_DPAD_UP
                                            : c == 'd' ? SDL_CONTROLLER_BUTTON_DPAD_DOWN
                                            : c == 'A' ? SDL_CONTROLLER_BUTTON_A
                                            : c == 'B' ? SDL_CONTROLLER_BUTTON_B
                                            : c == 'Y' ? SDL_CONTROLLER_BUTTON_Y
                                            : c == '<' ? SDL_CONTROLLER_BUTTON_LEFTSHOULDER
                                            : c == '>' ? SDL_CONTROLLER_BUTTON_RIGHTSHOULDER
                                            : c == 'S' ? SDL_CONTROLLER_BUTTON_START
                                                       : SDL_CONTROLLER_BUTTON_BACK;
    pad.set(button, true);
    frames(1);
    pad.set(button, false);
    frames(1);
  }
}

char cell(int x, int y) { return edit_level(editor_session()).rows[y][x]; }

// A level changed with the pad alone, step by step from cell (2, 2) of a new pack: what each
// step's buttons must leave behind.
TEST_F(EditorPad, APadAloneEditsTestPlaysUndoesAndSaves) {
  EditSession edit;
  edit_start(edit, edit_new_pack());
  app_edit(std::move(edit), "");
  gh::push_move_to(80 + 2 * 40 + 20, 2 * 40 + 20);  // 12 x 12 cells of 40 pixels
  gh::frames(2);
  VirtualPad pad;
  gh::frames(1);
  EXPECT_EQ(editor_preview().view.key_cursor, 0);  // no outline before the pad steers
  const int32_t barriers = edit_level(editor_session()).barriers;
  std::vector<AppAsk> asks;
  struct Step {
    const char* what;
    const char* buttons;
    std::function<void()> check;
  };
  const Step steps[] = {
      {"the d-pad moves the outlined cursor, A paints a wall", "rA",
       [] {
         EXPECT_EQ(cell(3, 2), 'W');
         EXPECT_EQ(editor_preview().view.key_cursor, 1);
       }},
      {"A held while moving paints a stroke, undone as one", "d[dd]",
       [] {
         for (int y = 3; y <= 5; ++y) EXPECT_EQ(cell(3, y), 'W') << y;
         EXPECT_EQ(cell(3, 6), '.');
       }},
      {"RB takes the next kind, a fixed wall", ">rA", [] { EXPECT_EQ(cell(4, 5), 'D'); }},
      {"LB twice goes back past the wall to the leak", "<<rA", [] { EXPECT_EQ(cell(5, 5), 'I'); }},
      {"B paints the floor", "B", [] { EXPECT_EQ(cell(5, 5), '.'); }},
      {"Y takes the line tool: A, move, A draws it", ">YuAuuA",
       [] {
         for (int y = 2; y <= 4; ++y) EXPECT_EQ(cell(5, y), 'W') << y;
         EXPECT_EQ(cell(5, 1), '.');
       }},
      {"Y back round to painting; the menu raises the barriers, the B that closes it paints "
       "nothing",
       "YYYYSddddddrB",
       [&] {
         EXPECT_EQ(edit_level(editor_session()).barriers, barriers + 1);
         EXPECT_EQ(cell(5, 2), 'W');
       }},
      {"the menu's undo takes that back, then the line", "SdddAAB",
       [&] {
         EXPECT_EQ(edit_level(editor_session()).barriers, barriers);
         EXPECT_EQ(cell(5, 3), '.');
         EXPECT_EQ(cell(3, 4), 'W');
       }},
      {"test-play from the menu", "SA", [] { EXPECT_EQ(app_mode(), AppMode::TEST_PLAY); }},
      {"Back leaves it and, still held, does not quit the editor", "()r",
       [] {
         EXPECT_EQ(app_mode(), AppMode::EDIT);
         EXPECT_EQ(cell(3, 2), 'W');
         // Editing, the d-pad steering the outlined cursor, not asking about unsaved changes.
         EXPECT_EQ(editor_preview().view.key_cursor, 1);
       }},
      {"the menu saves", "SdddddA",
       [&] {
         const auto save = std::find_if(asks.begin(), asks.end(), [](const AppAsk& ask) {
           return ask.kind == AppAsk::Kind::SAVE_PACK;
         });
         ASSERT_NE(save, asks.end());
         EditSession saved;
         std::string problems;
         ASSERT_TRUE(edit_open(saved, save->text, "saved.q47l", problems)) << problems;
         EXPECT_EQ(saved.pack.levels[0].rows[4][3], 'W');
       }},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    asks.clear();
    press_pad(pad, step.buttons, asks);
    step.check();
  }
}

}  // namespace
