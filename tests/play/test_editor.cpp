// The level editor under a player who presses anything: a seeded session of random keys, clicks
// and drags through the program's frame, saving often. Every text it saves must open again in
// the editor, as a file the player wrote and will come back to.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "core/edit.h"
#include "core/level_pack.h"
#include "core/level_stream.h"
#include "play/editor.h"
#include "tests/support/game_harness.h"

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
