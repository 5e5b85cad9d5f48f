// The settings file on the desktop: where it lives, that a damaged one still starts the game with
// the defaults for what is bad, and that its volumes and palette reach the slots and the picture.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "core/edit.h"
#include "core/key_names.h"
#include "core/level_pack.h"
#include "core/rules.h"
#include "desktop/data_path.h"
#include "desktop/files.h"
#include "desktop/options.h"
#include "desktop/settings_file.h"
#include "desktop/submit.h"
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
  // The file with a line break before its first line, for every line to be found alike.
  const auto kept = [&] {
    std::ifstream in(root / "config" / "q47" / "settings");
    return "\n" + std::string(std::istreambuf_iterator<char>(in), {});
  };
  EXPECT_EQ(kept(), "\npalette marked\n");
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

std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A change on the settings screen is one line merged into the file as it is then: what another
// game changed, what the player typed by hand and every comment and unknown name stay; a file
// that cannot be read is kept aside, never rewritten from the defaults.
TEST_F(SettingsFile, AChangeIsOneLineMergedIntoWhatTheFileHoldsNow) {
  const fs::path path = root / "config" / "q47" / "settings";
  std::string unknown;
  for (int i = 0; i < 70; ++i)
    unknown += "later_" + std::to_string(i) + " " + std::to_string(i) + "\n";
  write_settings("# my settings\neffects_volume 100   # loud\n" + unknown);
  std::string error;
  // Two games started on the defaults; the player adds a key by hand meanwhile.
  Settings effects = Settings{};
  effects.effects_volume = 90;
  Settings palette = Settings{};
  palette.palette_marked = 1;
  std::ofstream(path, std::ios::app) << "key_place P";
  ASSERT_TRUE(settings_file_change(path, Settings{}, effects, error)) << error;
  ASSERT_TRUE(settings_file_change(path, Settings{}, palette, error)) << error;
  EXPECT_EQ(read_text(path), "# my settings\neffects_volume 90 # loud\n" + unknown +
                                 "key_place P\npalette marked\n");
  testing::internal::CaptureStderr();
  const Settings read = settings_file_load();
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(read.effects_volume, 90);
  EXPECT_EQ(read.palette_marked, 1);
  EXPECT_EQ(read.keys[ACTION_PLACE], key_code("P"));
  EXPECT_EQ(read.kept.size(), SETTINGS_KEPT_MAX);

  // Too large, then binary: each is set aside whole (said once) and the change starts a new file.
  for (const std::string& held : {std::string(SETTINGS_TEXT_MAX + 1, '#') + "\nmusic_volume 5\n",
                                  std::string("music_volume 5\0\x01", 16)}) {
    fs::remove_all(root / "config");
    write_settings(held);
    testing::internal::CaptureStderr();
    const bool kept = settings_file_change(path, Settings{}, effects, error);
    said = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(kept) << error;
    EXPECT_EQ(read_text(path.string() + ".unreadable-1"), held);
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_NE(said.find("kept as " + path.string() + ".unreadable-1"), std::string::npos) << said;
    EXPECT_EQ(read_text(path), settings_format(effects));
  }
}

// A child process of the test's: in the parent true, the child noted in children (the loop
// goes on to the next); in the child false.
bool forked(std::vector<pid_t>& children) {
  const pid_t child = fork();
  EXPECT_GE(child, 0) << "cannot fork";
  if (child == 0) return false;
  if (child > 0) children.push_back(child);
  return true;
}

// Several games, --hub-key-import and editors at once, each changing its own setting, importing
// keys of its own hubs or saving its own level of one pack over and over, seeded (Q47_SEED): every
// change acknowledged is in the files at the end, and no editor's save replaced what another
// wrote unseen. Q47_KEEP_SECONDS keeps them at it that long (the kept_files_at_once test).
TEST_F(SettingsFile, ProgramsAtOnceAllKeepEveryAcknowledgedChange) {
  const fs::path path = root / "config" / "q47" / "settings";
  fs::create_directories(path.parent_path());
  setenv("XDG_STATE_HOME", (root / "state").c_str(), 1);
  fs::create_directories(root / "state" / "q47");
  const char* seed_text = std::getenv("Q47_SEED");
  const unsigned seed = seed_text ? static_cast<unsigned>(std::stoul(seed_text)) : 47;
  const char* seconds_text = std::getenv("Q47_KEEP_SECONDS");
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::seconds(seconds_text ? std::stoi(seconds_text) : 0);
  // At least 25 changes each, then on until the deadline, never past cap.
  const auto going = [&](int done, int cap) {
    return done < 25 || (done < cap && std::chrono::steady_clock::now() < deadline);
  };
  constexpr int GAMES = 6;
  constexpr int HUBS = 10;
  std::vector<pid_t> children;
  for (int game = 0; game < GAMES; ++game) {
    if (forked(children)) continue;
    // Game g owns the key of action g: it moves it between two letters no other action uses.
    std::mt19937 random(seed + static_cast<unsigned>(game));
    const int32_t letters[] = {0x10, 0x11, 0x12, 0x14, 0x15, 0x16,
                               0x17, 0x18, 0x1E, 0x1F, 0x20, 0x22};  // not F: the game's own
    Settings before;
    int failed = 0;
    for (int change = 0; going(change, 100000); ++change) {
      Settings after = before;
      after.keys[static_cast<size_t>(game)] = letters[2 * game + static_cast<int>(random() % 2)];
      std::string error;
      if (!settings_file_change(path, before, after, error)) ++failed;
      before = after;
      if (random() % 4 == 0) usleep(random() % 2000);
    }
    std::ofstream(root / ("game-" + std::to_string(game)))
        << before.keys[static_cast<size_t>(game)];
    _exit(failed);
  }
  // Importer i imports a key for hub i, then for hubs i + 10, i + 20, ... as long as it runs.
  const auto hub_url = [](int hub) { return "http://127.0.0.1:" + std::to_string(9000 + hub); };
  for (int importer = 0; importer < HUBS; ++importer) {
    if (forked(children)) continue;
    const std::string file = (root / ("key-" + std::to_string(importer))).string();
    int imported = 0;
    int failed = 0;
    // Each import adds a line: a hundred each keeps the keys file far below its limit.
    for (; going(imported * 25, 2500); ++imported) {
      char key[65];
      std::snprintf(key, sizeof key, "%064d", importer + HUBS * imported);
      std::ofstream(file, std::ios::trunc)
          << hub_url(importer + HUBS * imported) << " " << key << "\n";
      if (hub_key_import_main(file) != 0) ++failed;
    }
    std::ofstream(root / ("imported-" + std::to_string(importer))) << imported;
    _exit(failed);
  }
  // Editor e changes the barriers of level e and counts every save in level 0's rate, so a save
  // written over another's unseen leaves the count short. A save refused because the pack
  // changed is answered as a level maker does: T takes theirs, and the edit is made again.
  constexpr int EDITORS = 4;
  const fs::path pack_path = root / "pack.q47l";
  {
    LevelPack pack = edit_new_pack();
    pack.levels.assign(EDITORS, pack.levels[0]);
    pack.levels[0].rate = 1;
    std::ofstream(pack_path) << level_pack_format(pack);
  }
  for (int editor = 0; editor < EDITORS; ++editor) {
    if (forked(children)) continue;
    std::mt19937 random(seed + 100 + static_cast<unsigned>(editor));
    std::string base = read_text(pack_path);
    PackSeen seen = files_pack_seen(pack_path.string(), base);
    int saves = 0;
    int failed = 0;
    int32_t last = -1;
    for (int tries = 0; going(saves, 15000) && tries < 1000000; ++tries) {
      LevelPack pack;
      std::vector<PackProblem> problems;
      if (!level_pack_parse(base, pack, problems, true)) {
        ++failed;
        break;
      }
      const int32_t barriers = 1 + static_cast<int32_t>(random() % 9999);
      pack.levels[static_cast<size_t>(editor)].barriers = barriers;
      pack.levels[0].rate += 1;  // 4 x 15000 saves at most: within a rate's 65535
      const std::string text = level_pack_format(pack);
      std::string theirs;
      bool readable = false;
      std::string error;
      switch (
          files_save_pack(pack_path.string(), seen, base, text, false, theirs, readable, error)) {
        case PackSaved::SAVED:
          base = text;
          last = barriers;
          ++saves;
          break;
        case PackSaved::CHANGED:
          if (readable) {
            base = theirs;
          } else {
            ++failed;
          }
          break;
        default:
          ++failed;
      }
      if (random() % 4 == 0) usleep(random() % 2000);
    }
    std::ofstream(root / ("editor-" + std::to_string(editor))) << saves << " " << last;
    _exit(failed);
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a writer failed: " << status;
  }
  testing::internal::CaptureStderr();
  const Settings read = settings_file_load();
  said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(said, "");
  for (int game = 0; game < GAMES; ++game) {
    EXPECT_EQ(std::to_string(read.keys[static_cast<size_t>(game)]),
              read_text(root / ("game-" + std::to_string(game))))
        << "game " << game << "'s last change was lost; seed " << seed;
  }
  const std::string keys = read_text(root / "state" / "q47" / SUBMIT_KEY_NAME);
  for (int importer = 0; importer < HUBS; ++importer) {
    const int imported = std::stoi(read_text(root / ("imported-" + std::to_string(importer))));
    for (int i = 0; i < imported; ++i) {
      EXPECT_NE(keys.find(hub_url(importer + HUBS * i) + " "), std::string::npos)
          << "a key imported for " << hub_url(importer + HUBS * i) << " was lost; seed " << seed;
    }
  }
  LevelPack pack;
  std::vector<PackProblem> problems;
  ASSERT_TRUE(level_pack_parse(read_text(pack_path), pack, problems, true));
  int32_t saves_in_all = 0;
  for (int editor = 0; editor < EDITORS; ++editor) {
    std::istringstream said_by(read_text(root / ("editor-" + std::to_string(editor))));
    int32_t saves = 0;
    int32_t last = 0;
    said_by >> saves >> last;
    EXPECT_GT(saves, 0) << "editor " << editor << " never saved; seed " << seed;
    EXPECT_EQ(pack.levels[static_cast<size_t>(editor)].barriers, last)
        << "editor " << editor << "'s last save was lost; seed " << seed;
    saves_in_all += saves;
  }
  EXPECT_EQ(pack.levels[0].rate, 1 + saves_in_all)
      << "a save was written over another's unseen; seed " << seed;
  unsetenv("XDG_STATE_HOME");
}

}  // namespace
