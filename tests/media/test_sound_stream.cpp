// Streamed music, refilled by its thread and from the frame: looping without a seam, ending,
// restarting, replacing a playing stream, and the Ogg memory source.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>

#include "tests/support/sound_test_util.h"

using namespace sound_test;

namespace {

constexpr int32_t STEREO_HALF_FRAMES = 32768 / 4;  // frames in one refill of a stereo stream

// Each test runs once per way of refilling (MUSIC_REFILL_*) this build has.
class SoundStream : public SoundTest, public ::testing::WithParamInterface<int32_t> {
 protected:
  void SetUp() override {
    SoundTest::SetUp();
    if (!music_set_refill(GetParam())) GTEST_SKIP() << "this build has no refill thread";
    track = ogg_encode(track_samples(RATE), 2, RATE, 0.3f);
    decoded = decode_all(track);
    ASSERT_EQ(decoded.size(), static_cast<size_t>(RATE) * 2) << "a second of stereo";
  }
  void TearDown() override {
    SoundTest::TearDown();
    // The build's own way again: the thread where there is one.
    if (!music_set_refill(MUSIC_REFILL_THREAD)) music_set_refill(MUSIC_REFILL_FRAME);
  }

  // Plays slot 8 and pulls frames of its output without outrunning the refills.
  std::vector<int16_t> play_and_render(int32_t flags, int64_t frames) {
    EXPECT_EQ(sound_play(8, flags), 0) << "playing a stream always reports 0";
    stream = StreamPull{8, STEREO_HALF_FRAMES};
    return stream.pull(frames);
  }

  // The decoded track from frame from, repeated, for frames frames.
  std::vector<int16_t> repeated(int64_t from, int64_t frames) const {
    std::vector<int16_t> out;
    const int64_t length = static_cast<int64_t>(decoded.size()) / 2;
    for (int64_t i = 0; i < frames; ++i) {
      const size_t at = static_cast<size_t>((from + i) % length) * 2;
      out.push_back(decoded[at]);
      out.push_back(decoded[at + 1]);
    }
    return out;
  }

  std::vector<uint8_t> track;    // a second of stereo music, Ogg Vorbis
  std::vector<int16_t> decoded;  // what the decoder makes of it, read once straight through
  StreamPull stream{8, STEREO_HALF_FRAMES};  // the output of the last play_and_render's play
};

// Index of the first sample where two outputs differ, or -1.
int64_t first_difference(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
  if (a.size() != b.size()) return static_cast<int64_t>(std::min(a.size(), b.size()));
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) return static_cast<int64_t>(i);
  }
  return -1;
}

}  // namespace

TEST_P(SoundStream, LoopingStreamRepeatsTheTrackSampleForSample) {
  ASSERT_TRUE(sound_load_memory(8, track.data(), static_cast<int64_t>(track.size()), 1));
  const int64_t frames = RATE * 5 / 2;
  const std::vector<int16_t> out = play_and_render(SOUND_PLAY_LOOP, frames);
  EXPECT_EQ(first_difference(out, repeated(0, frames)), -1);
  EXPECT_TRUE(sound_playing(8));
  // The volume of a playing stream changes at once.
  sound_set_volume(8, 50);
  EXPECT_EQ(sound_volume(8), -603);
}

TEST_P(SoundStream, OneShotStreamStopsByItselfAndReplaysFromTheStart) {
  ASSERT_TRUE(sound_load_memory(8, track.data(), static_cast<int64_t>(track.size()), 1));
  const int64_t length = RATE;
  // Past the end come at most two halves of silence before the thread stops the buffer.
  const std::vector<int16_t> out = play_and_render(0, length + 3 * STEREO_HALF_FRAMES);
  std::vector<int16_t> expected = repeated(0, length);
  expected.resize(out.size(), 0);
  EXPECT_EQ(first_difference(out, expected), -1);
  EXPECT_FALSE(sound_playing(8)) << "the stream ended by itself";
  EXPECT_EQ(first_difference(play_and_render(0, 20000), repeated(0, 20000)), -1)
      << "played again, it starts from the beginning";
}

TEST_P(SoundStream, StopThenPlayStartsFromTheBeginning) {
  ASSERT_TRUE(sound_load_memory(8, track.data(), static_cast<int64_t>(track.size()), 1));
  play_and_render(SOUND_PLAY_LOOP, RATE * 3 / 2);
  sound_stop(8);
  EXPECT_FALSE(sound_playing(8));
  EXPECT_EQ(render(1024), std::vector<int16_t>(2048, 0)) << "a stopped stream is silent";
  EXPECT_EQ(first_difference(play_and_render(SOUND_PLAY_LOOP, 30000), repeated(0, 30000)), -1);
  // Playing while it plays restarts it too.
  EXPECT_EQ(first_difference(play_and_render(SOUND_PLAY_LOOP, 30000), repeated(0, 30000)), -1);
}

TEST_P(SoundStream, StreamWithoutAudioPlaysSilenceAndStopsEvenWhenLooping) {
  const std::vector<uint8_t> empty = ogg_encode({}, 2, RATE, 0.3f);
  ASSERT_TRUE(sound_load_memory(8, empty.data(), static_cast<int64_t>(empty.size()), 1));
  for (int32_t flags : {0, SOUND_PLAY_LOOP}) {
    const std::vector<int16_t> out = play_and_render(flags, 4 * STEREO_HALF_FRAMES);
    EXPECT_EQ(out, std::vector<int16_t>(out.size(), 0));
    EXPECT_FALSE(sound_playing(8)) << "flags " << flags;
  }
  // Loaded whole, a track without audio has nothing to make a sound of.
  EXPECT_EQ(sound_load_memory(9, empty.data(), static_cast<int64_t>(empty.size())), 0);
}

TEST_P(SoundStream, ReplacingAPlayingStreamOpensTheNewFileBeforeEndingTheOld) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("q47_stream_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "q47.ogg").string();
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(track.data()),
             static_cast<std::streamsize>(track.size()));
  ASSERT_EQ(sound_load(8, path.c_str(), SOUND_LOAD_STREAM), 1);
  play_and_render(SOUND_PLAY_LOOP, RATE / 2);
  const int32_t buffers = mixer_buffer_count();
  // A file no decoder takes leaves the playing stream alone.
  EXPECT_EQ(sound_load(8, (dir / "missing.ogg").c_str(), SOUND_LOAD_STREAM), 0);
  const std::string junk = (dir / "junk.ogg").string();
  std::ofstream(junk) << "not an ogg file at all";
  EXPECT_EQ(sound_load(8, junk.c_str(), SOUND_LOAD_STREAM), 0);
  EXPECT_TRUE(sound_playing(8));
  EXPECT_EQ(first_difference(stream.pull(4096), repeated(RATE / 2, 4096)), -1);
  // A good file replaces it: stopped, the old buffer gone, the new stream ready from its start.
  ASSERT_EQ(sound_load(8, path.c_str(), SOUND_LOAD_STREAM), 1);
  EXPECT_FALSE(sound_playing(8));
  EXPECT_EQ(mixer_buffer_count(), buffers);
  EXPECT_EQ(first_difference(play_and_render(SOUND_PLAY_LOOP, 10000), repeated(0, 10000)), -1);
  std::filesystem::remove_all(dir);
}

// A decoder of our own that records when its handles open, read and close, to see the order in
// which a streamed load into a playing slot does things. Its data is "TEST" and a name letter;
// it plays a constant value of 1000 forever.
namespace order {

std::mutex log_lock;
std::vector<std::string> log;

struct TestHandle {
  DecoderHandle head;
  char name;
  int32_t buffers_at_close;  // mixer buffers that existed when the handle closed
};

void note(const std::string& entry) {
  std::lock_guard guard(log_lock);
  log.push_back(entry);
}

char name_of(std::FILE* file, const void* data, int64_t size) {
  char head[5] = {};
  if (file) {
    if (std::fread(head, 1, 5, file) != 5) return 0;
  } else {
    if (size < 5) return 0;
    std::memcpy(head, data, 5);
  }
  return std::memcmp(head, "TEST", 4) == 0 ? head[4] : 0;
}

DecoderHandle* open(std::FILE* file, const void* data, int64_t size, int32_t) {
  const char name = name_of(file, data, size);
  if (!name) return nullptr;
  note(std::string("open ") + name);
  return &(new TestHandle{{}, name, 0})->head;
}

int64_t read(DecoderHandle* handle, void* destination, int64_t bytes, int32_t) {
  int16_t* out = static_cast<int16_t*>(destination);
  for (int64_t i = 0; i < bytes / 2; ++i) out[i] = 1000;
  note(std::string("read ") + reinterpret_cast<TestHandle*>(handle)->name);
  return bytes;
}

void rewind(DecoderHandle*) {}
int32_t channels(DecoderHandle* handle) {
  return reinterpret_cast<TestHandle*>(handle)->name == 'X' ? 3 : 2;  // X: no buffer can be made
}
int64_t length(DecoderHandle*) { return RATE; }
int32_t rate(DecoderHandle*) { return RATE; }

void close(DecoderHandle* handle) {
  TestHandle* test = reinterpret_cast<TestHandle*>(handle);
  note(std::string("close ") + test->name + " with " + std::to_string(mixer_buffer_count()) +
       " buffers");
  if (test->head.file) std::fclose(test->head.file);
  delete test;
}

const Decoder DECODER = {open, read, rewind, channels, length, rate, close};

// The log without reads after the first few, which depend on the refills' timing.
std::vector<std::string> events() {
  std::lock_guard guard(log_lock);
  std::vector<std::string> out;
  for (const std::string& entry : log) {
    if (entry.rfind("read", 0) != 0) out.push_back(entry);
  }
  return out;
}

}  // namespace order

TEST_P(SoundStream, LoadIntoAPlayingSlotOpensNewThenEndsOldThenMakesTheBuffer) {
  decoder_register(&order::DECODER);
  const auto dir =
      std::filesystem::temp_directory_path() / ("q47_order_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const auto file = [&](const char* name) {
    const std::string path = (dir / name).string();
    std::ofstream(path) << "TEST" << name[0];
    return path;
  };
  ASSERT_EQ(sound_load(8, file("A").c_str(), SOUND_LOAD_STREAM), 1);
  sound_play(8, SOUND_PLAY_LOOP);
  StreamPull{8, STEREO_HALF_FRAMES}.pull(3 * STEREO_HALF_FRAMES);
  order::log.clear();
  ASSERT_EQ(sound_load(8, file("B").c_str(), SOUND_LOAD_STREAM), 1);
  {
    std::lock_guard guard(order::log_lock);
    const auto close_a = std::find(order::log.begin(), order::log.end(), "close A with 1 buffers");
    ASSERT_NE(close_a, order::log.end()) << "the old stream closes while its buffer still exists";
    EXPECT_EQ(std::find(close_a, order::log.end(), "read A"), order::log.end())
        << "its thread has ended before the close";
  }
  EXPECT_EQ(order::events(), (std::vector<std::string>{"open B", "close A with 1 buffers"}));
  sound_play(8);
  StreamPull pull_b{8, STEREO_HALF_FRAMES};
  EXPECT_EQ(pull_b.pull(2), (std::vector<int16_t>{1000, 1000, 1000, 1000}));

  // A new stream whose buffer cannot be made still costs the slot its old sound.
  order::log.clear();
  EXPECT_EQ(sound_load(8, file("X").c_str(), SOUND_LOAD_STREAM), 0);
  EXPECT_EQ(order::events(), (std::vector<std::string>{"open X", "close B with 1 buffers",
                                                       "close X with 0 buffers"}));
  EXPECT_EQ(sound_play(8), 0);
  EXPECT_FALSE(sound_playing(8));
  std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Refill, SoundStream,
                         ::testing::Values(MUSIC_REFILL_THREAD, MUSIC_REFILL_FRAME),
                         [](const ::testing::TestParamInfo<int32_t>& info) {
                           return info.param == MUSIC_REFILL_THREAD ? "Thread" : "Frame";
                         });

TEST(SoundOggSource, MemorySeeksAnywhereNeverLeaveTheBlock) {
  ogg_decoder_enable();
  const std::vector<uint8_t> full = ogg_encode(track_samples(RATE / 10), 2, RATE, 0.3f);
  // Every cut of the file either fails to open or decodes what it can without overrunning.
  for (size_t size = 0; size < full.size(); size += 97) {
    std::unique_ptr<uint8_t[]> cut(new uint8_t[size + 1]);
    std::memcpy(cut.get(), full.data(), size);
    DecoderHandle* handle = decoder_open_memory(cut.get(), static_cast<int64_t>(size));
    if (!handle) continue;
    std::vector<uint8_t> out(65536);
    const int64_t got = handle->decoder->read(handle, out.data(), 65536, DECODER_READ_LOOP);
    EXPECT_LE(got, 65536);
    handle->decoder->rewind(handle);
    decoder_close(handle);
  }
}
