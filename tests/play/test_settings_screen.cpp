// The settings screen over a game, driven as a player drives it: F2, the arrows, Enter, a key
// chosen, a click; what the game keeps, what it plays with after, and that the game waited.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/settings.h"
#include "play/replay.h"
#include "play/settings_screen.h"
#include "tests/support/game_harness.h"

namespace fs = std::filesystem;
namespace gh = game_harness;

namespace {

class SettingsScreen : public ::testing::Test {
 protected:
  void SetUp() override {
    // What the screen keeps goes to a folder of this test's own.
    root = fs::temp_directory_path() / ("q47_settings_screen_" + std::to_string(getpid()));
    fs::remove_all(root);
    const char* old = std::getenv("XDG_CONFIG_HOME");
    old_config = old ? old : "";
    had_config = old != nullptr;
    setenv("XDG_CONFIG_HOME", root.c_str(), 1);
    gh::start();
    app_play(1);
    gh::frames(2);
  }
  void TearDown() override {
    game_end();
    if (had_config) {
      setenv("XDG_CONFIG_HOME", old_config.c_str(), 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
    fs::remove_all(root);
  }

  // A key tapped as gh::tap does, keeping every settings text the frames asked to keep.
  void tap(SDL_Scancode code) {
    gh::push_key(code, true);
    frame();
    gh::push_key(code, false);
    frame();
  }
  void frame() {
    std::vector<AppAsk> asks;
    ASSERT_EQ(game_frame(&asks), 1);
    for (const AppAsk& ask : asks) {
      if (ask.kind == AppAsk::Kind::SAVE_SETTINGS) saved.push_back(ask.text);
    }
  }
  std::string file_text() const {
    std::ifstream in(root / "q47" / "settings");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static std::vector<int32_t> concentrations() {
    std::vector<int32_t> out;
    for (const Cell& cell : GAME.grid) out.push_back(cell.concentration);
    return out;
  }

  fs::path root;
  std::string old_config;
  bool had_config = false;
  std::vector<std::string> saved;  // SAVE_SETTINGS texts, in order
};

TEST_F(SettingsScreen, F2PausesTheGameAndEveryChangeIsHeardSeenAndKept) {
  const std::vector<int32_t> before = concentrations();
  gh::frames(20);
  ASSERT_NE(concentrations(), before);  // the leak spreads while the game runs
  tap(SDL_SCANCODE_F2);
  ASSERT_EQ(settings_screen_is_open(), 1);
  const std::vector<int32_t> opened = concentrations();
  // Music one step down: heard at once, kept whole at once.
  tap(SDL_SCANCODE_DOWN);
  tap(SDL_SCANCODE_LEFT);
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_NE(saved[0].find("\nmusic_volume 90\n"), std::string::npos) << saved[0];
  EXPECT_EQ(file_text(), saved[0]);
  EXPECT_EQ(app_settings().music_volume, 90);
  // The palette: the game's picture changes now, not from the next game on.
  tap(SDL_SCANCODE_DOWN);
  tap(SDL_SCANCODE_RETURN);
  EXPECT_EQ(app_session().view.marked_cells, 1);
  EXPECT_NE(saved.back().find("\npalette marked\n"), std::string::npos);
  // A click on the effects volume's left side lowers it.
  gh::push_move_to(400, 52);
  gh::push_button(1, true);
  frame();
  gh::push_button(1, false);
  frame();
  EXPECT_EQ(settings_screen_row(), SETTINGS_ROW_EFFECTS);
  EXPECT_EQ(app_settings().effects_volume, 90);
  gh::frames(40);
  // The chemical did not move on while the screen showed.
  EXPECT_EQ(concentrations(), opened);
  // Up from the top is the last row: the defaults back, the palette too, and kept.
  tap(SDL_SCANCODE_UP);
  EXPECT_EQ(settings_screen_row(), SETTINGS_ROW_DEFAULTS);
  tap(SDL_SCANCODE_RETURN);
  EXPECT_EQ(app_settings(), Settings{});
  EXPECT_EQ(app_session().view.marked_cells, 0);
  EXPECT_EQ(file_text(), settings_format(Settings{}));
  tap(SDL_SCANCODE_ESCAPE);
  EXPECT_EQ(settings_screen_is_open(), 0);
  gh::frames(5);
  EXPECT_NE(concentrations(), opened);
  // The run with the screen in its middle is the game's own: it replays to the same end.
  const AppFrame stopped = app_stop();
  ASSERT_EQ(stopped.asks.size(), 1u);
  const ReplayVerdict verdict = replay_verify(stopped.asks[0].run, 0, 0, "");
  EXPECT_EQ(verdict.code, 0) << verdict.problem;
}

TEST_F(SettingsScreen, AChosenKeyActsInPlayAndAKeyTakenIsRefused) {
  tap(SDL_SCANCODE_F2);
  for (int i = 0; i < int{SETTINGS_ROW_FIRST_KEY} + ACTION_PLACE; ++i) tap(SDL_SCANCODE_DOWN);
  tap(SDL_SCANCODE_RETURN);
  EXPECT_EQ(settings_screen_waiting(), 1);
  tap(SDL_SCANCODE_P);
  EXPECT_EQ(settings_screen_waiting(), 0);
  ASSERT_FALSE(saved.empty());
  EXPECT_NE(saved.back().find("\nkey_place P\n"), std::string::npos) << saved.back();
  // Pick-up on R: restart's, so refused with whose it is; Escape leaves it as it was.
  tap(SDL_SCANCODE_DOWN);
  tap(SDL_SCANCODE_RETURN);
  tap(SDL_SCANCODE_R);
  EXPECT_STREQ(settings_screen_said(), "R IS ALREADY THE KEY OF RESTART THE LEVEL");
  tap(SDL_SCANCODE_F2);  // never an action's
  EXPECT_STREQ(settings_screen_said(), "F2 CANNOT BE CHOSEN");
  EXPECT_EQ(settings_screen_waiting(), 1);
  tap(SDL_SCANCODE_ESCAPE);
  EXPECT_EQ(settings_screen_waiting(), 0);
  EXPECT_EQ(settings_screen_is_open(), 1);
  EXPECT_EQ(app_settings().keys[ACTION_PICK_UP], Settings{}.keys[ACTION_PICK_UP]);
  EXPECT_EQ(saved.size(), 1u);
  tap(SDL_SCANCODE_F2);
  ASSERT_EQ(settings_screen_is_open(), 0);

  // In play: Space places nothing any more, P places at the keys' cursor.
  tap(SDL_SCANCODE_LEFT);
  const int32_t x = GAME.cursor_x, y = GAME.cursor_y;
  const int32_t left = GAME.barriers_left;
  tap(SDL_SCANCODE_SPACE);
  EXPECT_EQ(GAME.barriers_left, left);
  tap(SDL_SCANCODE_P);
  EXPECT_EQ(GAME.barriers_left, left - 1);
  EXPECT_EQ(GAME.at(x, y).flags & CELL_WALL, CELL_WALL);
}

}  // namespace
