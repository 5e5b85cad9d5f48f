// The sounds the build makes: each loads as the game loads it, is audible without clipping, and
// the music loops without a seam.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "media/wav.h"
#include "tests/support/sound_test_util.h"

using namespace sound_test;

namespace {

std::vector<uint8_t> read_asset(const char* name) {
  std::ifstream in(std::string(Q47_BINARY_DIR) + "/assets/" + name, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

using SoundAssets = SoundTest;

}  // namespace

TEST_F(SoundAssets, EffectsAreShortAudible16BitPcm) {
  const char* names[] = {"warn.wav", "clean.wav", "click.wav", "win.wav", "lose.wav",
                         "bump.wav", "take.wav",  "nitr.wav",  "cant.wav"};
  for (const char* name : names) {
    const std::vector<uint8_t> file = read_asset(name);
    WavSound sound{};
    ASSERT_EQ(wav_parse(file.data(), file.size(), &sound), 1) << name;
    EXPECT_EQ(sound.format_tag, 1) << name;
    EXPECT_EQ(sound.bits, 16) << name;
    EXPECT_EQ(sound.rate, static_cast<uint32_t>(RATE)) << name;
    const double seconds = sound.sample_bytes / (2.0 * sound.channels * RATE);
    EXPECT_GT(seconds, 0.03) << name;
    EXPECT_LT(seconds, 2.0) << name;
    int32_t peak = 0;
    for (uint32_t i = 0; i + 1 < sound.sample_bytes; i += 2) {
      const int16_t s = static_cast<int16_t>(sound.samples[i] | (sound.samples[i + 1] << 8));
      peak = std::max(peak, std::abs(static_cast<int32_t>(s)));
    }
    EXPECT_GT(peak, 32768 / 4) << name << " peaks above -12 dBFS";
    EXPECT_LT(peak, 32767) << name << " does not clip";
    EXPECT_NE(sound_load_memory(0, file.data(), static_cast<int64_t>(file.size())), 0) << name;
  }
}

TEST_F(SoundAssets, MusicIsHalfAMinuteOrMoreAndLoopsWithoutASeam) {
  const std::vector<uint8_t> file = read_asset("q47.ogg");
  const std::vector<int16_t> music = decode_all(file);
  const double seconds = static_cast<double>(music.size()) / 2 / RATE;
  EXPECT_GE(seconds, 30.0);
  EXPECT_LE(seconds, 60.0);
  ASSERT_GT(music.size(), 4u);
  // The step from the last frame to the first is no bigger than the steps inside the track.
  std::vector<int32_t> steps;
  for (size_t i = 2; i < music.size(); ++i) steps.push_back(std::abs(music[i] - music[i - 2]));
  std::nth_element(steps.begin(), steps.begin() + steps.size() * 99 / 100, steps.end());
  const int32_t usual = steps[steps.size() * 99 / 100];
  for (size_t side = 0; side < 2; ++side) {
    EXPECT_LE(std::abs(music[side] - music[music.size() - 2 + side]), usual) << "side " << side;
  }
  EXPECT_LT(rms(music), 32768 * 0.15) << "the music sits under the effects";
  EXPECT_GT(rms(music), 32768 * 0.02);
}
