// Where the game looks for its sound files, and what start-up makes of them through the real
// loop: the search order, the one line naming the files it could not use, a file too large, the
// M key, and running as without a device.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "desktop/data_path.h"
#include "media/sound.h"
#include "play/sound_cues.h"
#include "tests/support/game_harness.h"
#include "tests/support/game_state.h"

namespace gh = game_harness;
namespace fs = std::filesystem;

namespace {

fs::path assets() { return fs::path(Q47_BINARY_DIR) / "assets"; }

// Folders of the test's own with XDG_DATA_DIRS and the working directory restored afterwards.
class SoundDataPath : public ::testing::Test {
 protected:
  void SetUp() override {
    home = fs::current_path();
    const char* xdg = std::getenv("XDG_DATA_DIRS");
    had_xdg = xdg != nullptr;
    if (xdg) old_xdg = xdg;
    root = fs::temp_directory_path() / ("q47_path_" + std::to_string(getpid()));
    fs::remove_all(root);
    for (const char* dir : {"work", "one/q47", "two/q47"}) fs::create_directories(root / dir);
    setenv("XDG_DATA_DIRS", ((root / "one").string() + ":" + (root / "two").string()).c_str(), 1);
    fs::current_path(root / "work");
  }
  void TearDown() override {
    if (running) game_end();
    sound_set_play_observer(nullptr);
    sound_cues_set_no_device(0);
    fs::current_path(home);
    if (had_xdg) {
      setenv("XDG_DATA_DIRS", old_xdg.c_str(), 1);
    } else {
      unsetenv("XDG_DATA_DIRS");
    }
    fs::remove_all(root);
  }

  void put(const char* dir, const char* name, const char* text = "x") {
    std::ofstream(root / dir / name) << text;
  }
  void put_asset(const char* dir, const char* name) {
    fs::copy_file(assets() / name, root / dir / name);
  }

  // The real game started on the dummy drivers; returns what it wrote on standard error.
  std::string start() {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    gh::heard.clear();
    sound_set_play_observer(gh::hear);
    ::testing::internal::CaptureStderr();
    game_startup();
    running = true;
    screen_set_frame_rate(0);
    gh::push_focus(true);
    return ::testing::internal::GetCapturedStderr();
  }

  fs::path home;
  fs::path root;
  bool had_xdg = false;
  std::string old_xdg;
  bool running = false;
};

}  // namespace

TEST(SoundDataPathList, WorkingFolderThenTheInstalledFolderThenEachAbsoluteXdgFolder) {
  EXPECT_EQ(data_path_dirs_for("/opt/q47/bin", "/a:/b/:relative::/a"),
            (std::vector<std::string>{".", "/opt/q47/share/q47", "/a/q47", "/b/q47"}));
  const std::vector<std::string> standard = {".", "/opt/q47/share/q47", "/usr/local/share/q47",
                                             "/usr/share/q47"};
  EXPECT_EQ(data_path_dirs_for("/opt/q47/bin", nullptr), standard);
  EXPECT_EQ(data_path_dirs_for("/opt/q47/bin", ""), standard);
  EXPECT_EQ(data_path_dirs_for("", "/a"), (std::vector<std::string>{".", "/a/q47"}));
  // The installed folder is found from wherever this very program lies.
  unsetenv("XDG_DATA_DIRS");
  const fs::path self = fs::read_symlink("/proc/self/exe");
  const std::vector<std::string> dirs = data_path_dirs();
  ASSERT_EQ(dirs.size(), 4u);
  EXPECT_EQ(dirs[1], (self.parent_path() / "../share/q47").lexically_normal().string());
}

TEST_F(SoundDataPath, EachFileIsTakenFromTheFirstFolderThatHasAUsableOne) {
  put("two/q47", "a.wav", "two");
  EXPECT_EQ(data_path_find("a.wav"), (root / "two/q47/a.wav").string());
  put("one/q47", "a.wav", "one");
  EXPECT_EQ(data_path_find("a.wav"), (root / "one/q47/a.wav").string());
  put("work", "a.wav", "work");
  EXPECT_EQ(data_path_find("a.wav"), "a.wav") << "the working folder's own file wins, bare";
  // A FIFO or a folder under the name is passed over, never opened.
  fs::remove(root / "work/a.wav");
  ASSERT_EQ(mkfifo((root / "work/a.wav").c_str(), 0600), 0);
  fs::create_directory(root / "one/q47/a.wav.d");
  fs::remove(root / "one/q47/a.wav");
  fs::rename(root / "one/q47/a.wav.d", root / "one/q47/a.wav");
  EXPECT_EQ(data_path_find("a.wav"), (root / "two/q47/a.wav").string());
  EXPECT_EQ(data_path_find("b.wav"), "");
}

TEST_F(SoundDataPath, StartUpLoadsAlongThePathAndNamesTheFilesItCouldNotUseOnce) {
  // The music and one effect only in the second XDG folder, another effect in the first and in
  // the working folder, a FIFO as the warning and 2 GiB of samples as the loss: the rest missing.
  put_asset("two/q47", "q47.ogg");
  put_asset("two/q47", "click.wav");
  put_asset("one/q47", "take.wav");
  put_asset("work", "take.wav");
  ASSERT_EQ(mkfifo((root / "work/warn.wav").c_str(), 0600), 0);
  {
    std::ifstream header(assets() / "lose.wav", std::ios::binary);
    std::vector<char> head(44);
    header.read(head.data(), 44);
    const uint32_t huge = 0x80000000u;
    std::memcpy(&head[40], &huge, 4);
    std::ofstream(root / "work/lose.wav", std::ios::binary).write(head.data(), 44);
    ASSERT_EQ(truncate((root / "work/lose.wav").c_str(), 44 + off_t{huge}), 0);
  }
  const std::string said = start();
  ASSERT_EQ(GAME.sound_ok, 1);
  const std::string dirs = "., " + data_path_dirs()[1] + ", " + (root / "one/q47").string() + ", " +
                           (root / "two/q47").string();
  EXPECT_EQ(said,
            "q47: lose.wav: sound data too large (2147483648 bytes, limit 33554432)\n"
            "q47: no usable sound file for warn.wav, clean.wav, win.wav, lose.wav, bump.wav, "
            "nitr.wav, cant.wav (looked in: " +
                dirs + ")\n");
  sound_set_play_observer(nullptr);
  EXPECT_EQ(sound_play(SOUND_CLICK), 1);
  EXPECT_EQ(sound_play(SOUND_TAKE), 1);
  EXPECT_EQ(sound_play(SOUND_WARN), 0);
  EXPECT_EQ(sound_play(SOUND_LOSE), 0);
  sound_play(MUSIC_SLOT, SOUND_PLAY_LOOP);
  EXPECT_EQ(sound_playing(MUSIC_SLOT), 1);
}

TEST_F(SoundDataPath, MTogglesMuteInAnyStateWithoutACueOrAChangeOfRules) {
  for (const char* name : {"warn.wav", "take.wav", "q47.ogg"}) put_asset("work", name);
  start();
  ASSERT_EQ(sound_muted(), 0);
  ASSERT_EQ(GAME.game_state, STATE_MESSAGE);
  const size_t cues = gh::heard.size();
  gh::tap(SDL_SCANCODE_M);
  EXPECT_EQ(sound_muted(), 1) << "on a story screen";
  EXPECT_EQ(GAME.game_state, STATE_MESSAGE);
  EXPECT_EQ(GAME.message_line.empty(), false);
  gh::skip_intro();
  const int32_t barriers = GAME.barriers_left;
  const int32_t view = GAME.plain_view;
  const size_t after_intro = gh::heard.size();
  gh::tap(SDL_SCANCODE_M);
  EXPECT_EQ(sound_muted(), 0) << "while playing";
  EXPECT_EQ(gh::heard.size(), after_intro) << "M plays no cue";
  EXPECT_EQ(GAME.barriers_left, barriers);
  EXPECT_EQ(GAME.plain_view, view);
  EXPECT_EQ(GAME.game_state, STATE_PLAYING);
  // Muted, the cues are still asked for as before.
  gh::tap(SDL_SCANCODE_M);
  gh::tap(SDL_SCANCODE_TAB);
  EXPECT_EQ(gh::heard.back().first, SOUND_TAKE);
  EXPECT_GT(gh::heard.size(), cues);
  sound_set_muted(0);
}

TEST_F(SoundDataPath, WithoutADeviceAskedForNoDeviceIsOpenedAndNoFileIsRead) {
  put_asset("work", "warn.wav");
  sound_cues_set_no_device(1);
  start();
  EXPECT_EQ(GAME.sound_ok, 0);
  EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u) << "the audio subsystem was never started";
  sound_set_play_observer(nullptr);
  EXPECT_EQ(sound_play(SOUND_WARN), 0);
  gh::skip_intro();
  EXPECT_EQ(GAME.game_state, STATE_PLAYING);
}
