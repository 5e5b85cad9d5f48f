// The settings file on the desktop: where it lives, that a damaged one still starts the game with
// the defaults for what is bad, and that its volumes and palette reach the slots and the picture.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/rules.h"
#include "desktop/data_path.h"
#include "desktop/options.h"
#include "desktop/settings_file.h"
#include "media/screen.h"
#include "media/sound.h"
#include "play/app.h"
#include "tests/support/game_harness.h"
#include "tests/support/game_state.h"

namespace fs = std::filesystem;
namespace gh = game_harness;

namespace {

fs::path assets() { return fs::path(Q47_BINARY_DIR) / "assets"; }

// Hundredths of a decibel for a volume in percent, as the mixer keeps it.
int32_t centibels(int32_t percent) {
  return percent == 0 ? -10000
                      : static_cast<int32_t>(std::lround(2000 * std::log10(percent / 100.0)));
}

class SettingsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() / ("q47_settings_" + std::to_string(getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "sounds");
    for (const char* name : {"warn.wav", "clean.wav", "click.wav", "win.wav", "lose.wav",
                             "bump.wav", "take.wav", "nitr.wav", "cant.wav", "q47.ogg"}) {
      fs::copy_file(assets() / name, root / "sounds" / name);
    }
    const char* old = std::getenv("XDG_CONFIG_HOME");
    old_config = old ? old : "";
    had_config = old != nullptr;
    setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    home = fs::current_path();
  }
  void TearDown() override {
    if (running) game_end();
    fs::current_path(home);
    if (had_config) {
      setenv("XDG_CONFIG_HOME", old_config.c_str(), 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
    game_options = GameOptions{};
    fs::remove_all(root);
  }

  void write_settings(const std::string& text) {
    fs::create_directories(root / "config" / "q47");
    std::ofstream(root / "config" / "q47" / "settings", std::ios::binary) << text;
  }

  // The real game's start-up, on the dummy drivers, with its sounds from root/sounds.
  void start() {
    fs::current_path(root / "sounds");
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    testing::internal::CaptureStderr();
    game_startup();
    said = testing::internal::GetCapturedStderr();
    running = true;
    screen_set_frame_rate(0);
    gh::push_focus(true);
  }

  fs::path root;
  fs::path home;
  std::string old_config;
  bool had_config = false;
  bool running = false;
  std::string said;  // standard error during start-up
};

TEST_F(SettingsFile, ItsVolumesScaleEachSlotAndItsPaletteMarksThePicture) {
  write_settings("effects_volume 50\nmusic_volume 0\npalette marked\n");
  start();
  ASSERT_EQ(GAME.sound_ok, 1);
  EXPECT_EQ(said, "");
  EXPECT_EQ(sound_volume(MUSIC_SLOT), -10000);
  // The quieter slots keep their place below the others: 75 per cent of 50.
  EXPECT_NEAR(sound_volume(SOUND_WARN), centibels(38), 1);
  EXPECT_NEAR(sound_volume(SOUND_TAKE), centibels(38), 1);
  EXPECT_NEAR(sound_volume(SOUND_WIN), centibels(50), 1);
  EXPECT_EQ(app_picture().marked_cells, 1);
}

TEST_F(SettingsFile, TheCommandLinePaletteWinsForTheRunAndIsNotSaved) {
  write_settings("palette marked\n");
  game_options.palette_given = 1;
  game_options.palette_marked = 0;
  start();
  EXPECT_EQ(app_picture().marked_cells, 0);
  const auto kept = [&] {
    std::ifstream in(root / "config" / "q47" / "settings");
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  EXPECT_EQ(kept(), "palette marked\n");
  // Another setting changed on the screen keeps the file's palette, not the command line's; the
  // palette changed there is the player's own and is kept.
  app_play(1);
  gh::tap(SDL_SCANCODE_F2);
  gh::tap(SDL_SCANCODE_RIGHT);  // effects: already at the top, nothing to keep
  gh::tap(SDL_SCANCODE_LEFT);
  EXPECT_NE(kept().find("\neffects_volume 90\n"), std::string::npos) << kept();
  EXPECT_NE(kept().find("\npalette marked\n"), std::string::npos) << kept();
  EXPECT_EQ(app_picture().marked_cells, 0);
  gh::tap(SDL_SCANCODE_DOWN);
  gh::tap(SDL_SCANCODE_DOWN);
  gh::tap(SDL_SCANCODE_RETURN);
  EXPECT_EQ(app_picture().marked_cells, 1);
  EXPECT_NE(kept().find("\npalette marked\n"), std::string::npos);
  gh::tap(SDL_SCANCODE_RETURN);
  EXPECT_NE(kept().find("\npalette plain\n"), std::string::npos);
}

TEST_F(SettingsFile, ADamagedFileStartsTheGameWithTheDefaults) {
  // Binary, then bad values: each is a line or two on standard error and the game plays.
  write_settings(
      std::string("\x7f"
                  "ELF\0\0\x01\x02 music_volume 3",
                  22));
  start();
  EXPECT_EQ(GAME.sound_ok, 1);
  EXPECT_NE(said.find("settings: not a settings file (binary data); the defaults are used"),
            std::string::npos)
      << said;
  EXPECT_EQ(sound_volume(MUSIC_SLOT), 0);
  EXPECT_EQ(app_picture().marked_cells, 0);
  gh::frames(3);
  game_end();
  running = false;

  write_settings("music_volume loud\npalette\n");
  start();
  EXPECT_NE(said.find("settings:1: music_volume must be a whole number from 0 to 100, not 'loud'"),
            std::string::npos)
      << said;
  EXPECT_NE(said.find("settings:2: 'palette' has no value"), std::string::npos) << said;
  EXPECT_EQ(sound_volume(MUSIC_SLOT), 0);
}

TEST_F(SettingsFile, AFolderWhereTheFileShouldBeIsOneLineAndTheDefaults) {
  fs::create_directories(root / "config" / "q47" / "settings");
  const Settings settings = [&] {
    testing::internal::CaptureStderr();
    Settings read = settings_file_load();
    said = testing::internal::GetCapturedStderr();
    return read;
  }();
  EXPECT_EQ(settings, Settings{});
  EXPECT_NE(said.find("the default settings are used"), std::string::npos) << said;
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
}

TEST_F(SettingsFile, WrittenWholeWhereItIsReadAndReadBackAlike) {
  Settings settings;
  settings.music_volume = 20;
  settings.kept = {{"key_jump", "w"}};
  std::string error;
  const std::string path = settings_file_path();
  EXPECT_EQ(path, (root / "config" / "q47" / "settings").string());
  // Reading where there is no file yet makes no folder; a writer makes it first.
  testing::internal::CaptureStderr();
  EXPECT_EQ(settings_file_load(), Settings{});
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_FALSE(fs::exists(root / "config"));
  ASSERT_FALSE(data_path_config_dir(error, true).empty()) << error;
  ASSERT_TRUE(settings_file_write(path, settings, error)) << error;
  testing::internal::CaptureStderr();
  EXPECT_EQ(settings_file_load(), settings);
  testing::internal::GetCapturedStderr();
}

}  // namespace
