// Loading WAV files: the chunk walk, hostile headers, every PCM layout, and failed loads.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include "media/wav.h"
#include "tests/support/sound_test_util.h"

using namespace sound_test;

namespace {

using SoundWav = SoundTest;

int32_t load(int32_t id, const std::vector<uint8_t>& file) {
  return sound_load_memory(id, file.data(), static_cast<int64_t>(file.size()));
}

// Parses a copy of exactly size bytes on the heap, so a read past it is a real overrun that
// the sanitizer builds catch.
int32_t parse_exact(const std::vector<uint8_t>& file, size_t size, WavSound* out) {
  std::unique_ptr<uint8_t[]> copy(new uint8_t[size == 0 ? 1 : size]);
  std::memcpy(copy.get(), file.data(), size);
  const int32_t ok = wav_parse(copy.get(), size, out);
  if (ok) {
    EXPECT_GE(out->samples, copy.get());
    EXPECT_LE(out->samples + out->sample_bytes, copy.get() + size);
  }
  return ok;
}

// The left output of the first frames frames after playing slot id at full volume.
std::vector<int16_t> play_left(int32_t id, int32_t frames) {
  sound_play(id);
  const std::vector<int16_t> out = render(frames);
  std::vector<int16_t> left;
  for (int32_t i = 0; i < frames; ++i) left.push_back(out[2 * i]);
  return left;
}

}  // namespace

TEST_F(SoundWav, ChunksBetweenFmtAndDataAreWalkedWithoutPadBytes) {
  const std::vector<uint8_t> data = bytes16({100, 200, 300});
  std::vector<uint8_t> chunks;
  put_chunk(&chunks, "fmt ", fmt_record(1, 16, RATE), 16);
  put_chunk(&chunks, "LIST", {'I', 'N', 'F', 'O', 'a', 'b', 'c', 'd'}, 8);
  put_chunk(&chunks, "odd ", {1, 2, 3}, 3);  // no pad byte follows its odd size
  put_chunk(&chunks, "data", data, 6);
  ASSERT_TRUE(load(0, riff(chunks)));
  EXPECT_EQ(play_left(0, 4), (std::vector<int16_t>{100, 200, 300, 0}));

  // A longer format record (with its extra size field) moves the walk along with it.
  std::vector<uint8_t> record = fmt_record(1, 16, RATE);
  record.insert(record.end(), {0, 0});
  chunks.clear();
  put_chunk(&chunks, "fmt ", record, 18);
  put_chunk(&chunks, "data", data, 6);
  ASSERT_TRUE(load(1, riff(chunks)));
  EXPECT_EQ(play_left(1, 3), (std::vector<int16_t>{100, 200, 300}));
}

TEST_F(SoundWav, BadLayoutsFailAndLeaveTheOldSoundInPlace) {
  const std::vector<uint8_t> good = wav(1, 16, RATE, bytes16({1000, 1000, 1000, 1000}));
  ASSERT_TRUE(load(5, good));
  const std::vector<uint8_t> data = bytes16({7, 7});
  std::vector<std::pair<const char*, std::vector<uint8_t>>> bad;
  {
    std::vector<uint8_t> chunks;  // another chunk before "fmt "
    put_chunk(&chunks, "LIST", {0, 0, 0, 0}, 4);
    put_chunk(&chunks, "fmt ", fmt_record(1, 16, RATE), 16);
    put_chunk(&chunks, "data", data, 4);
    bad.push_back({"fmt not at byte 12", riff(chunks)});
  }
  {
    std::vector<uint8_t> chunks;
    put_chunk(&chunks, "fmt ", fmt_record(1, 16, RATE), 16);
    put_chunk(&chunks, "junk", data, 4);
    bad.push_back({"no data chunk", riff(chunks)});
  }
  {
    std::vector<uint8_t> record = fmt_record(1, 16, RATE);
    record.resize(14);
    std::vector<uint8_t> chunks;
    put_chunk(&chunks, "fmt ", record, 14);
    put_chunk(&chunks, "data", data, 4);
    bad.push_back({"fmt shorter than 16", riff(chunks)});
  }
  {
    std::vector<uint8_t> chunks;
    put_chunk(&chunks, "fmt ", fmt_record(1, 16, RATE), 0x7ffffff0);
    put_chunk(&chunks, "data", data, 4);
    bad.push_back({"fmt size past the file", riff(chunks)});
  }
  {
    std::vector<uint8_t> chunks;
    put_chunk(&chunks, "fmt ", fmt_record(1, 16, RATE), 16);
    put_chunk(&chunks, "LIST", {0, 0, 0, 0}, 0xfffffff0);
    put_chunk(&chunks, "data", data, 4);
    bad.push_back({"chunk size past the file", riff(chunks)});
  }
  {
    std::vector<uint8_t> chunks;
    put_chunk(&chunks, "fmt ", fmt_record(1, 16, RATE), 16);
    put_chunk(&chunks, "data", {}, 0);
    bad.push_back({"empty data", riff(chunks)});
  }
  {
    std::vector<uint8_t> file = wav(1, 16, RATE, data);
    file[20] = 3;  // IEEE float
    bad.push_back({"not linear PCM", file});
  }
  bad.push_back({"24 bits", wav(1, 24, RATE, {1, 2, 3, 4, 5, 6})});
  bad.push_back({"six channels", wav(6, 16, RATE, std::vector<uint8_t>(24, 0))});
  bad.push_back({"rate 0", wav(1, 16, 0, data)});
  {
    std::vector<uint8_t> file = wav(2, 16, RATE, bytes16({1, 2, 3, 4}));
    file[32] = 2;  // block alignment of 2 for a 4-byte frame
    bad.push_back({"lying block alignment", file});
  }
  bad.push_back({"data shorter than a frame", wav(2, 16, RATE, {1, 2})});
  bad.push_back({"not RIFF and no decoder wants it", {'O', 'g', 'g', 'X', 1, 2, 3}});
  for (const auto& [what, file] : bad) {
    EXPECT_EQ(load(5, file), 0) << what;
    EXPECT_EQ(play_left(5, 1)[0], 1000) << what << ": the old sound must still play";
  }
  EXPECT_EQ(load(5, {}), 0);
  EXPECT_EQ(sound_load_memory(5, nullptr, 100), 0);
  EXPECT_EQ(sound_load(5, "/nonexistent/warn.wav"), 0);
  EXPECT_EQ(play_left(5, 1)[0], 1000);
}

TEST_F(SoundWav, TruncationAtEveryByteNeverReadsOutside) {
  const std::vector<uint8_t> data = bytes16({11, 22, 33, 44});
  std::vector<uint8_t> chunks;
  put_chunk(&chunks, "fmt ", fmt_record(1, 16, RATE), 16);
  put_chunk(&chunks, "LIST", {1, 2, 3}, 3);
  put_chunk(&chunks, "data", data, 8);
  const std::vector<uint8_t> file = riff(chunks);
  const size_t data_body = file.size() - 8;
  for (size_t size = 0; size <= file.size(); ++size) {
    WavSound sound{};
    const int32_t ok = parse_exact(file, size, &sound);
    if (size <= data_body) {
      EXPECT_EQ(ok, 0) << "cut at " << size;
    } else {
      ASSERT_EQ(ok, 1) << "cut at " << size;
      EXPECT_EQ(sound.sample_bytes, size - data_body) << "data is limited to what is there";
      EXPECT_EQ(sound.channels, 1);
      EXPECT_EQ(sound.rate, static_cast<uint32_t>(RATE));
    }
  }
  // A data size that overstates the file plays only the samples present.
  std::vector<uint8_t> lying = wav(1, 16, RATE, data);
  lying[40] = 0xff;
  lying[41] = 0xff;
  ASSERT_TRUE(load(0, lying));
  EXPECT_EQ(play_left(0, 5), (std::vector<int16_t>{11, 22, 33, 44, 0}));
}

TEST_F(SoundWav, EightAndSixteenBitMonoAndStereoMixAsTheirValues) {
  // 8-bit samples are unsigned around 128; each step of one is 256 at 16 bits.
  ASSERT_TRUE(load(0, wav(1, 8, RATE, {128, 129, 127, 255, 0})));
  ASSERT_TRUE(load(1, wav(2, 8, RATE, {128, 130, 200, 60})));
  ASSERT_TRUE(load(2, wav(1, 16, RATE, bytes16({-5, 32767}))));
  ASSERT_TRUE(load(3, wav(2, 16, RATE, bytes16({-300, 400, 32767, -32768}))));
  sound_play(0);
  EXPECT_EQ(render(5),
            (std::vector<int16_t>{0, 0, 256, 256, -256, -256, 32512, 32512, -32768, -32768}))
      << "mono 8-bit goes to both sides";
  sound_play(1);
  EXPECT_EQ(render(2), (std::vector<int16_t>{0, 512, 18432, -17408}));
  sound_play(2);
  EXPECT_EQ(render(2), (std::vector<int16_t>{-5, -5, 32767, 32767}));
  sound_play(3);
  EXPECT_EQ(render(2), (std::vector<int16_t>{-300, 400, 32767, -32768}));
}

TEST_F(SoundWav, FilesLoadFromDiskAndOggIsDecodedWholeWithoutTheStreamFlag) {
  const auto dir = std::filesystem::temp_directory_path() / ("q47_wav_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const auto write = [&](const char* name, const std::vector<uint8_t>& bytes) {
    std::ofstream(dir / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return (dir / name).string();
  };
  const std::string wav_path = write("a.wav", wav(1, 16, RATE, bytes16({9, 8, 7})));
  EXPECT_EQ(sound_load(0, wav_path.c_str()), 1);
  EXPECT_EQ(play_left(0, 3), (std::vector<int16_t>{9, 8, 7}));
  EXPECT_EQ(sound_load(1, wav_path.c_str(), SOUND_LOAD_STREAM), 0) << "no decoder reads WAV";
  EXPECT_EQ(sound_load(2, dir.c_str()), 0) << "a directory is not a sound";
  EXPECT_EQ(sound_load(3, write("empty.wav", {}).c_str()), 0);

  const std::vector<int16_t> samples = track_samples(RATE / 5);
  const std::vector<uint8_t> ogg = ogg_encode(samples, 2, RATE, 0.4f);
  const std::vector<int16_t> decoded = decode_all(ogg);
  ASSERT_EQ(decoded.size(), samples.size());
  EXPECT_EQ(sound_load(4, write("b.ogg", ogg).c_str()), 1);
  sound_play(4);
  EXPECT_EQ(render(RATE / 5), decoded) << "the static copy plays the decoded track";
  EXPECT_FALSE(sound_playing(4));
  std::filesystem::remove_all(dir);
}
