// The sound slots over the mixer: volumes, playing, restarting, instances, mixing and clipping.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/support/sound_test_util.h"

using namespace sound_test;

namespace {

using SoundMixer = SoundTest;

// A stereo 16-bit sound of a sine at 441 Hz, 0.5 s.
std::vector<uint8_t> tone_wav(double amplitude = 16000) {
  return wav(2, 16, RATE, bytes16(sine(RATE / 2, 2, 441, amplitude)));
}

// Frames of a mono ramp 1, 2, 3, ... as a 16-bit WAV.
std::vector<uint8_t> ramp_wav(int32_t frames, uint32_t rate = RATE) {
  std::vector<int16_t> ramp;
  for (int32_t i = 0; i < frames; ++i) ramp.push_back(static_cast<int16_t>(i + 1));
  return wav(1, 16, rate, bytes16(ramp));
}

int32_t load(int32_t id, const std::vector<uint8_t>& file) {
  return sound_load_memory(id, file.data(), static_cast<int64_t>(file.size()));
}

}  // namespace

TEST_F(SoundMixer, VolumeTableGivesTruncatedDecibelsAndClampsPercents) {
  ASSERT_TRUE(load(0, tone_wav()));
  EXPECT_EQ(sound_volume(0), 0) << "a loaded sound starts at full volume";
  const std::pair<int32_t, int32_t> table[] = {
      {0, -10000}, {1, -4000}, {2, -3398}, {5, -2603}, {10, -2000}, {25, -1205}, {50, -603},
      {75, -250},  {90, -92},  {99, -9},   {100, 0},   {150, 0},    {-3, -10000}};
  for (auto [percent, volume] : table) {
    sound_set_volume(0, percent);
    EXPECT_EQ(sound_volume(0), volume) << percent << "%";
  }
  // The volume stays with the slot across plays.
  sound_set_volume(0, 75);
  sound_play(0);
  sound_play(0);
  EXPECT_EQ(sound_volume(0), -250);
  sound_play(0, 0, 10);
  EXPECT_EQ(sound_volume(0), -2000) << "a volume given to play is applied";
}

TEST_F(SoundMixer, HalfVolumeIsSixPointOhThreeDecibelsDownInTheOutput) {
  ASSERT_TRUE(load(0, tone_wav()));
  sound_play(0);
  const double full = rms(render(RATE / 4));
  sound_set_volume(0, 50);
  sound_play(0);
  const double half = rms(render(RATE / 4));
  EXPECT_NEAR(20 * std::log10(half / full), -6.03, 0.005);
  sound_set_volume(0, 0);
  sound_play(0);
  EXPECT_EQ(rms(render(1024)), 0.0) << "volume 0 is silence";
}

TEST_F(SoundMixer, PlayingAgainCutsAndRestartsAndStopRewinds) {
  ASSERT_TRUE(load(3, ramp_wav(5000)));
  EXPECT_EQ(sound_play(3), 1);
  render(1000);
  EXPECT_EQ(sound_play(3), 1);
  std::vector<int16_t> out = render(2);
  EXPECT_EQ(out[0], 1) << "the replay starts from the first frame";
  EXPECT_EQ(out[2], 2);
  render(100);
  sound_stop(3);
  EXPECT_FALSE(sound_playing(3));
  EXPECT_EQ(render(10), std::vector<int16_t>(20, 0)) << "a stopped slot is silent";
  sound_play(3);
  EXPECT_EQ(render(1)[0], 1) << "after a stop, play starts from the beginning";
  // A sound that is not looped ends by itself; a looped one wraps to its first frame.
  render(6000);
  EXPECT_FALSE(sound_playing(3));
  sound_play(3, SOUND_PLAY_LOOP);
  out = render(5002);
  EXPECT_EQ(out[2 * 4999], 5000);
  EXPECT_EQ(out[2 * 5000], 1);
  EXPECT_TRUE(sound_playing(3));
  sound_stop(-1);
  EXPECT_FALSE(sound_playing(3)) << "stop -1 stops every slot";
}

TEST_F(SoundMixer, FinishedInstancesAreReleasedAtTheNextInstancePlayOnly) {
  ASSERT_TRUE(load(2, ramp_wav(1000)));
  const int32_t base = mixer_buffer_count();
  const intptr_t first = sound_play(2, SOUND_PLAY_INSTANCE);
  const intptr_t second = sound_play(2, SOUND_PLAY_INSTANCE, 50);
  ASSERT_NE(first, 0);
  ASSERT_NE(second, 0);
  EXPECT_NE(first, second);
  EXPECT_EQ(mixer_buffer_count(), base + 2);
  std::vector<int16_t> out = render(1000);
  EXPECT_EQ(out[2 * 999], 1000 + 499) << "the second instance, at 50%, is 6.03 dB down";
  render(1000);  // both have finished
  EXPECT_EQ(mixer_buffer_count(), base + 2) << "finished instances wait for the next flag-2 play";
  sound_play(2);
  EXPECT_EQ(mixer_buffer_count(), base + 2) << "a plain play does not release them";
  const intptr_t third = sound_play(2, SOUND_PLAY_INSTANCE);
  EXPECT_EQ(mixer_buffer_count(), base + 1) << "only the new instance is left";
  // The volume of one instance is set only through a handle the slot owns.
  sound_set_volume(2, 10, third);
  EXPECT_EQ(mixer_volume(static_cast<int32_t>(third)), -2000);
  EXPECT_EQ(sound_volume(2), 0) << "the main buffer keeps its volume";
  sound_set_volume(2, 10, 987654);
  sound_stop(2, 987654);
  EXPECT_TRUE(mixer_playing(static_cast<int32_t>(third)));
  sound_stop(2, -1);
  EXPECT_FALSE(mixer_playing(static_cast<int32_t>(third)));
}

TEST_F(SoundMixer, OverlappingSoundsAddAndClipInsteadOfWrapping) {
  const std::vector<int16_t> loud(200, 30000);
  const std::vector<int16_t> quiet(200, -30000);
  ASSERT_TRUE(load(0, wav(1, 16, RATE, bytes16(loud))));
  ASSERT_TRUE(load(1, wav(1, 16, RATE, bytes16(loud))));
  ASSERT_TRUE(load(2, wav(1, 16, RATE, bytes16(quiet))));
  sound_play(0);
  sound_play(1);
  std::vector<int16_t> out = render(10);
  EXPECT_EQ(out[0], 32767);
  EXPECT_EQ(out[1], 32767);
  sound_play(2);
  sound_play(0);
  out = render(10);
  EXPECT_EQ(out[0], 30000) << "two at +30000 and one at -30000";
  sound_stop(1);
  sound_stop(0);
  const std::vector<int16_t> low(200, -30000);
  ASSERT_TRUE(load(3, wav(1, 16, RATE, bytes16(low))));
  sound_play(2);
  sound_play(3);
  EXPECT_EQ(render(1)[0], -32768);
}

TEST_F(SoundMixer, OtherRatesAreConvertedToTheDeviceRate) {
  // At half the device rate every frame lasts two output frames, halfway ones interpolated.
  ASSERT_TRUE(load(0, ramp_wav(100, RATE / 2)));
  sound_play(0);
  std::vector<int16_t> out = render(250);
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(out[2], 2) << "1.5 rounds to 2";
  EXPECT_EQ(out[4], 2);
  EXPECT_EQ(out[2 * 198], 100);
  EXPECT_EQ(out[2 * 200], 0) << "ends after 200 device frames";
  // At twice the rate it is over in half the frames.
  ASSERT_TRUE(load(1, ramp_wav(100, RATE * 2)));
  sound_play(1);
  out = render(60);
  EXPECT_EQ(out[2], 3);
  EXPECT_EQ(out[2 * 49], 99);
  EXPECT_EQ(out[2 * 50], 0);
}

TEST_F(SoundMixer, SlotIdsGrowTheTableAndMinusOneGivesAHandle) {
  const std::vector<uint8_t> file = ramp_wav(100);
  EXPECT_TRUE(load(200, file)) << "ids past the first 64 grow the table";
  EXPECT_TRUE(load(263, file)) << "and the growth leaves 64 more";
  const int32_t handle = load(-1, file);
  EXPECT_GT(handle, 10000) << "a handle is never a small slot number";
  EXPECT_EQ(sound_play(handle), 1);
  EXPECT_TRUE(sound_playing(handle));
  EXPECT_EQ(load(handle, tone_wav()), 1) << "a handle can be loaded into again";
  EXPECT_FALSE(load(1 << 30 | 12345, file)) << "an unknown handle is refused";
  EXPECT_FALSE(load(2000000000, file));
  EXPECT_FALSE(load(-7, file));
  EXPECT_EQ(sound_play(64), 0) << "empty slots play nothing";
  EXPECT_EQ(sound_play(-5), 0);
  sound_set_volume(99999, 50);
  sound_stop(99999);
}

// The real device path, with SDL's dummy driver, and a device that cannot be had.
TEST(SoundDevice, OpensOnADriverAndStaysHarmlessWithout) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  EXPECT_EQ(sound_init(), 1);
  EXPECT_EQ(sound_init(), 1) << "a second init finds the device open";
  const std::vector<uint8_t> file = wav(1, 8, 8000, std::vector<uint8_t>(800, 200));
  EXPECT_TRUE(sound_load_memory(0, file.data(), static_cast<int64_t>(file.size())));
  EXPECT_EQ(sound_play(0), 1);
  sound_shutdown();

  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  EXPECT_EQ(sound_init(), 0);
  EXPECT_EQ(sound_play(8, SOUND_PLAY_LOOP), 0) << "the music start is accepted without sound";
  sound_stop(8);
  sound_set_volume(8, 50);
  sound_shutdown();
  unsetenv("SDL_AUDIODRIVER");
}

// What the device really puts out: SDL's disk driver records the output to a file.
TEST(SoundDevice, DiskDriverRecordsWhatIsPlayed) {
  const std::string path =
      (std::filesystem::temp_directory_path() / ("q47_disk_" + std::to_string(getpid()) + ".raw"))
          .string();
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", path.c_str(), 1);
  ASSERT_EQ(sound_init(), 1);
  const std::vector<int16_t> tone = sine(RATE / 4, 1, 441, 12000);
  const std::vector<uint8_t> file = wav(1, 16, RATE, bytes16(tone));
  ASSERT_TRUE(sound_load_memory(0, file.data(), static_cast<int64_t>(file.size())));
  sound_set_volume(0, 50);
  sound_play(0);
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (sound_playing(0) && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_FALSE(sound_playing(0)) << "the device pulled the whole sound";
  sound_shutdown();
  unsetenv("SDL_AUDIODRIVER");
  unsetenv("SDL_DISKAUDIOFILE");

  std::ifstream in(path, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
  std::filesystem::remove(path);
  std::vector<int16_t> recorded(bytes.size() / 2);
  std::memcpy(recorded.data(), bytes.data(), recorded.size() * 2);
  // Skip the silent buffers before the play; then the tone comes out on both sides at 50%.
  const auto first =
      std::find_if(recorded.begin(), recorded.end(), [](int16_t s) { return s != 0; });
  ASSERT_NE(first, recorded.end()) << "nothing was heard";
  const size_t start = static_cast<size_t>(first - recorded.begin()) & ~size_t{1};
  ASSERT_GE(recorded.size(), start + tone.size() * 2);
  std::vector<int16_t> heard(
      recorded.begin() + static_cast<std::ptrdiff_t>(start),
      recorded.begin() + static_cast<std::ptrdiff_t>(start + tone.size() * 2));
  EXPECT_NEAR(20 * std::log10(rms(heard) / rms(tone)), -6.03, 0.02);
  for (size_t i = 0; i < heard.size(); i += 2) ASSERT_EQ(heard[i], heard[i + 1]) << i;
}

TEST_F(SoundMixer, BuffersLockInsideThemselvesAndPanTakesOffTheOtherSide) {
  const int32_t buffer = mixer_create(1, 16, RATE, 8);
  ASSERT_NE(buffer, 0);
  EXPECT_EQ(mixer_lock(buffer, 4, 8), nullptr) << "a region past the end";
  EXPECT_EQ(mixer_lock(buffer, 0xfffffffc, 8), nullptr) << "an offset that would wrap";
  uint8_t* region = mixer_lock(buffer, 0, 8);
  ASSERT_NE(region, nullptr);
  EXPECT_EQ(mixer_lock(buffer, 0, 8), nullptr) << "one lock at a time";
  const std::vector<uint8_t> samples = bytes16({10000, 10000, 10000, 10000});
  std::memcpy(region, samples.data(), 8);
  mixer_play(buffer, 1);
  EXPECT_EQ(render(1), (std::vector<int16_t>{0, 0})) << "the samples count only once unlocked";
  EXPECT_EQ(mixer_unlock(buffer), 1);
  mixer_set_pan(buffer, 602);  // about 6 dB off the left
  std::vector<int16_t> out = render(2);
  EXPECT_EQ(out[0], 5000);
  EXPECT_EQ(out[1], 10000);
  mixer_set_pan(buffer, -20000);
  EXPECT_EQ(mixer_pan(buffer), -10000);
  out = render(1);
  EXPECT_EQ(out[0], 10000);
  EXPECT_EQ(out[1], 0) << "full pan to the left silences the right";
  mixer_release(buffer);
  EXPECT_EQ(mixer_unlock(buffer), 0);
  EXPECT_EQ(mixer_create(1, 16, RATE, 1), 0) << "smaller than one frame";
}
