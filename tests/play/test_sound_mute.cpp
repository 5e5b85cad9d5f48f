// Mute heard through the real loop on SDL's disk audio driver: the recording is silent while
// muted, and after M again the music goes on exactly where it would be had it never been muted.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "media/sound.h"
#include "tests/support/game_harness.h"
#include "tests/support/game_state.h"
#include "tests/support/sound_test_util.h"

namespace gh = game_harness;
namespace fs = std::filesystem;

namespace {

constexpr int64_t SLACK_FRAMES = 2048;  // a device buffer being rendered while a mark is taken
constexpr int64_t SETTLED = 4096;       // frames into the music from which it matches exactly

std::vector<uint8_t> read_bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Frames of the recording so far.
int64_t recorded_frames(const fs::path& path) {
  std::error_code error;
  const auto bytes = fs::file_size(path, error);
  return error ? 0 : static_cast<int64_t>(bytes / 4);
}

// Runs the loop for about ms milliseconds of wall time (the disk driver records in real time).
void play_for(int32_t ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < until) {
    gh::frames(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace

TEST(SoundMuteRecording, MutedIsSilentAndTheMusicComesBackInTime) {
  const fs::path dir = fs::temp_directory_path() / ("q47_mute_" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const fs::path home = fs::current_path();
  const fs::path recording = dir / "recording.raw";
  fs::current_path(fs::path(Q47_BINARY_DIR) / "assets");
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", recording.c_str(), 1);
  game_startup();
  screen_set_frame_rate(0);
  gh::push_focus(true);
  ASSERT_EQ(GAME.sound_ok, 1);
  // Through the intro, letting each line's effect play out, so the music starts alone.
  gh::heard.clear();
  sound_set_play_observer(gh::hear);
  play_for(2000);
  int64_t intro_left = 0;
  while (GAME.game_state == STATE_MESSAGE) {
    const size_t cues = gh::heard.size();
    intro_left = recorded_frames(recording);
    gh::tap(SDL_SCANCODE_SPACE);
    if (gh::heard.size() > cues && gh::heard.back().first != MUSIC_SLOT) play_for(2000);
  }
  sound_set_play_observer(nullptr);
  ASSERT_EQ(gh::count_heard(MUSIC_SLOT), 1);
  ASSERT_EQ(gh::heard.back().first, MUSIC_SLOT) << "the music starts last";
  const int64_t music_asked = recorded_frames(recording);
  play_for(1000);
  gh::tap(SDL_SCANCODE_M);
  const int64_t muted_from = recorded_frames(recording) + SLACK_FRAMES;
  play_for(1000);
  const int64_t muted_until = recorded_frames(recording);
  gh::tap(SDL_SCANCODE_M);
  const int64_t heard_from = recorded_frames(recording) + SLACK_FRAMES;
  play_for(1500);
  game_end();
  unsetenv("SDL_DISKAUDIOFILE");
  fs::current_path(home);

  const std::vector<uint8_t> bytes = read_bytes(recording);
  std::vector<int16_t> heard(bytes.size() / 2);
  std::memcpy(heard.data(), bytes.data(), heard.size() * 2);
  fs::copy_file(recording, "/tmp/q47_mute_rec.raw", fs::copy_options::overwrite_existing);
  fs::remove_all(dir);
  const std::vector<int16_t> music =
      sound_test::decode_all(read_bytes(fs::path(Q47_BINARY_DIR) / "assets" / "q47.ogg"));
  const int64_t heard_frames = static_cast<int64_t>(heard.size() / 2);
  ASSERT_GT(heard_frames, heard_from + sound_test::RATE);
  ASSERT_GT(muted_until, muted_from + sound_test::RATE / 2);

  // The music begins between the intro's last line and a few device buffers after the frame
  // that asked for it. Its first frames, decoded after a rewind, need not match a fresh decode
  // exactly, so it is placed by its frames 4096 to 8191, which match sample for sample.
  int64_t start = -1;
  for (int64_t at = intro_left; at < music_asked + 8192; ++at) {
    if (std::equal(music.begin() + 2 * SETTLED, music.begin() + 4 * SETTLED,
                   heard.begin() + (at + SETTLED) * 2)) {
      start = at;
      break;
    }
  }
  ASSERT_GE(start, 0) << "no music near frame " << music_asked;

  // Where the music would be at frame t of the recording had it never been muted.
  const int64_t music_frames = static_cast<int64_t>(music.size() / 2);
  auto mismatches = [&](int64_t from, int64_t to) {
    int64_t count = 0;
    for (int64_t t = from; t < to; ++t) {
      const size_t m = static_cast<size_t>((t - start) % music_frames) * 2;
      count += heard[2 * t] != music[m] || heard[2 * t + 1] != music[m + 1];
    }
    return count;
  };
  const int64_t mute_asked = muted_from - SLACK_FRAMES;
  EXPECT_EQ(mismatches(start + SETTLED, mute_asked - SLACK_FRAMES), 0)
      << "the music before the mute";
  int64_t loud = 0;
  for (int64_t t = muted_from; t < muted_until; ++t)
    loud += heard[2 * t] != 0 || heard[2 * t + 1] != 0;
  EXPECT_EQ(loud, 0) << "frames heard while muted, of " << muted_until - muted_from;
  EXPECT_EQ(mismatches(heard_from, heard_frames), 0)
      << "the music after unmuting, over " << heard_frames - heard_from << " frames";
}
