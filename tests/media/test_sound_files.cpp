// Sound files that must not hang or exhaust the game: FIFOs and folders under a sound's name,
// sample data past the limit (judged before it is read or decoded), every sound held once,
// allocation failure, and mute at the mixer's output.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>

#include "media/wav.h"
#include "tests/support/sound_test_util.h"

using namespace sound_test;
namespace fs = std::filesystem;

namespace {

// A fresh folder of the test's own, removed at the end.
struct TempDir {
  fs::path path =
      fs::temp_directory_path() / ("q47_files_" + std::to_string(getpid()) + "_" +
                                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
  TempDir() {
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~TempDir() { fs::remove_all(path); }
  std::string operator/(const char* name) const { return (path / name).string(); }
};

void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// A stereo 16-bit WAV header stating data_bytes of samples, then a file stretched (sparse, so
// it costs no disk) to hold them all.
void write_sparse_wav(const std::string& path, uint32_t data_bytes, uint64_t file_bytes) {
  std::vector<uint8_t> chunks;
  put_chunk(&chunks, "fmt ", fmt_record(2, 16, RATE), 16);
  put_chunk(&chunks, "data", {}, data_bytes);
  write_file(path, riff(chunks));
  ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(file_bytes)), 0);
}

// sound_load run aside; a load still blocked after a few seconds fails the test, and the FIFO
// is then opened for writing so that the stuck load can finish.
int32_t load_unblocked(int32_t id, const std::string& path, int32_t flags) {
  auto load = std::async(std::launch::async, [&] { return sound_load(id, path.c_str(), flags); });
  if (load.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
    ADD_FAILURE() << "sound_load blocked on " << path;
    const int writer = open(path.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) close(writer);
  }
  return load.get();
}

// A decoder of our own for data starting "LONG": it states ten minutes of stereo and counts how
// often it is asked to decode, so a test can tell that a long sound is refused unread.
namespace long_decoder {

std::atomic<int32_t> reads{0};

DecoderHandle* open(std::FILE* file, const void* data, int64_t size, int32_t) {
  char head[4] = {};
  if (file ? std::fread(head, 1, 4, file) != 4 : size < 4) return nullptr;
  if (!file) std::memcpy(head, data, 4);
  if (std::memcmp(head, "LONG", 4) != 0) return nullptr;
  return new DecoderHandle{};
}
int64_t read(DecoderHandle*, void*, int64_t, int32_t) {
  ++reads;
  return 0;
}
void rewind(DecoderHandle*) {}
int32_t channels(DecoderHandle*) { return 2; }
int64_t length(DecoderHandle*) { return static_cast<int64_t>(RATE) * 600; }
int32_t rate(DecoderHandle*) { return RATE; }
void close(DecoderHandle* handle) {
  if (handle->file) std::fclose(handle->file);
  delete handle;
}

const Decoder DECODER = {open, read, rewind, channels, length, rate, close};

}  // namespace long_decoder

// Loads path into slot 3 with the address space limited and then taken up in 1 MB pieces but
// for a few, so that small allocations still succeed and the sound's own cannot. 0 when the
// load failed for want of memory and left the slot silent.
int load_with_little_room(const std::string& path) {
  std::ifstream statm("/proc/self/statm");
  uint64_t pages = 0;
  statm >> pages;
  const rlim_t room = pages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) + (64 << 20);
  const rlimit limit = {room, room};
  if (setrlimit(RLIMIT_AS, &limit) != 0) return 2;
  std::vector<std::unique_ptr<uint8_t[]>> taken;
  taken.reserve(4096);
  while (taken.size() < 4096) {
    std::unique_ptr<uint8_t[]> piece(new (std::nothrow) uint8_t[1 << 20]);
    if (!piece) break;
    taken.push_back(std::move(piece));
  }
  taken.resize(taken.size() > 4 ? taken.size() - 4 : 0);
  const int32_t loaded = sound_load(3, path.c_str());
  const bool silent =
      loaded == 0 && sound_load_failure().reason == SOUND_LOAD_NO_MEMORY && sound_play(3) == 0;
  return silent ? 0 : 1;
}

using SoundFiles = SoundTest;

}  // namespace

TEST_F(SoundFiles, FifosAndFoldersUnderASoundsNameAreRefusedWithoutBlocking) {
  TempDir dir;
  const std::vector<uint8_t> good = wav(1, 16, RATE, bytes16({500, 500}));
  ASSERT_TRUE(sound_load_memory(0, good.data(), static_cast<int64_t>(good.size())));
  ASSERT_EQ(mkfifo((dir / "warn.wav").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo((dir / "q47.ogg").c_str(), 0600), 0);
  fs::create_directory(dir / "lose.wav");
  EXPECT_EQ(load_unblocked(0, dir / "warn.wav", 0), 0);
  EXPECT_EQ(sound_load_failure().reason, SOUND_LOAD_NOT_REGULAR);
  EXPECT_EQ(load_unblocked(8, dir / "q47.ogg", SOUND_LOAD_STREAM), 0);
  EXPECT_EQ(sound_load_failure().reason, SOUND_LOAD_NOT_REGULAR);
  EXPECT_EQ(load_unblocked(4, dir / "lose.wav", 0), 0);
  EXPECT_EQ(sound_load_failure().reason, SOUND_LOAD_NOT_REGULAR);
  EXPECT_EQ(sound_load(5, (dir / "missing.wav").c_str()), 0);
  EXPECT_EQ(sound_load_failure().reason, SOUND_LOAD_UNREADABLE);
  // The slot that held a sound keeps it; the others stay empty.
  EXPECT_EQ(sound_play(0), 1);
  EXPECT_EQ(render(1)[0], 500);
  EXPECT_EQ(sound_playing(8), 0);
  EXPECT_EQ(sound_play(4), 0);
}

TEST_F(SoundFiles, SampleDataPastTheLimitIsRefusedFromTheHeaderAlone) {
  TempDir dir;
  // 2 GiB of silence behind a valid header: refused with its size, and nothing is allocated
  // for it (the mixer holds nothing afterwards).
  const uint64_t huge = (uint64_t{2} << 30) + 44;
  write_sparse_wav(dir / "warn.wav", 0xfffffff0u, huge);
  EXPECT_EQ(sound_load(0, (dir / "warn.wav").c_str()), 0);
  EXPECT_EQ(sound_load_failure().reason, SOUND_LOAD_TOO_LARGE);
  EXPECT_EQ(sound_load_failure().bytes, static_cast<int64_t>(huge - 44));
  EXPECT_EQ(mixer_bytes_held(), 0);

  // Exactly at the limit loads, and is held once; a frame more is refused.
  write_sparse_wav(dir / "edge.wav", SOUND_DATA_LIMIT, SOUND_DATA_LIMIT + 44);
  ASSERT_EQ(sound_load(1, (dir / "edge.wav").c_str()), 1);
  EXPECT_EQ(mixer_bytes_held(), SOUND_DATA_LIMIT);
  write_sparse_wav(dir / "over.wav", SOUND_DATA_LIMIT + 4, SOUND_DATA_LIMIT + 48);
  EXPECT_EQ(sound_load(2, (dir / "over.wav").c_str()), 0);
  EXPECT_EQ(sound_load_failure().bytes, SOUND_DATA_LIMIT + 4);

  // A header that states more than the file holds is judged by what the file holds.
  write_sparse_wav(dir / "short.wav", 0xfffffff0u, 44 + 4000);
  EXPECT_EQ(sound_load(3, (dir / "short.wav").c_str()), 1);
}

TEST_F(SoundFiles, ALongDecodedSoundIsRefusedBeforeItIsDecoded) {
  decoder_register(&long_decoder::DECODER);
  TempDir dir;
  write_file(dir / "nitr.wav", {'L', 'O', 'N', 'G', 0});
  long_decoder::reads = 0;
  EXPECT_EQ(sound_load(7, (dir / "nitr.wav").c_str()), 0);
  EXPECT_EQ(sound_load_failure().reason, SOUND_LOAD_TOO_LARGE);
  EXPECT_EQ(sound_load_failure().bytes, int64_t{RATE} * 600 * 4);
  const uint8_t block[] = {'L', 'O', 'N', 'G', 0};
  EXPECT_EQ(sound_load_memory(7, block, sizeof block), 0);
  EXPECT_EQ(sound_load_failure().reason, SOUND_LOAD_TOO_LARGE);
  EXPECT_EQ(long_decoder::reads, 0) << "nothing was decoded";
  // Streamed, the same track is fine: only the small looping buffer is held.
  EXPECT_EQ(sound_load(8, (dir / "nitr.wav").c_str(), SOUND_LOAD_STREAM), 1);
}

TEST_F(SoundFiles, EverySoundIsHeldOnceWhateverItsFormat) {
  TempDir dir;
  const std::vector<int16_t> tone = sine(RATE, 2, 440, 8000);
  write_file(dir / "take.wav", wav(2, 16, RATE, bytes16(tone)));
  ASSERT_EQ(sound_load(6, (dir / "take.wav").c_str()), 1);
  const int64_t wav_bytes = static_cast<int64_t>(tone.size()) * 2;
  EXPECT_EQ(mixer_bytes_held(), wav_bytes);
  // Overlapping instances share the samples.
  sound_play(6, SOUND_PLAY_INSTANCE);
  sound_play(6, SOUND_PLAY_INSTANCE);
  EXPECT_EQ(mixer_bytes_held(), wav_bytes);
  // An Ogg file under a WAV name is decoded whole into one copy, sample for sample.
  const std::vector<uint8_t> track = ogg_encode(track_samples(RATE / 2), 2, RATE, 0.3f);
  write_file(dir / "bump.wav", track);
  ASSERT_EQ(sound_load(5, (dir / "bump.wav").c_str()), 1);
  const std::vector<int16_t> decoded = decode_all(track);
  EXPECT_EQ(mixer_bytes_held(), wav_bytes + static_cast<int64_t>(decoded.size()) * 2);
  sound_stop(6, -1);
  sound_play(5);
  EXPECT_EQ(render(1000), std::vector<int16_t>(decoded.begin(), decoded.begin() + 2000));
  // A locked region's copy is gone once it is put back.
  const int32_t buffer = mixer_create(2, 16, RATE, 1 << 20);
  const int64_t before = mixer_bytes_held();
  ASSERT_NE(mixer_lock(buffer, 0, 1 << 20), nullptr);
  EXPECT_EQ(mixer_bytes_held(), before + (1 << 20));
  mixer_unlock(buffer);
  EXPECT_EQ(mixer_bytes_held(), before);
}

TEST_F(SoundFiles, MemoryRunningOutLeavesTheSlotSilentInsteadOfEndingTheGame) {
  TempDir dir;
  write_sparse_wav(dir / "win.wav", SOUND_DATA_LIMIT, SOUND_DATA_LIMIT + 44);
  // In a child whose address space has room for little more than it already uses.
  EXPECT_EXIT(std::_Exit(load_with_little_room(dir / "win.wav")), ::testing::ExitedWithCode(0), "");
}

TEST_F(SoundFiles, MuteSilencesTheOutputWhileEverySoundMovesOnInTime) {
  // A ramp, so that the output tells where in the sound the mixer is.
  std::vector<int16_t> ramp;
  for (int16_t i = 0; i < 4000; ++i) ramp.push_back(i);
  const std::vector<uint8_t> file = wav(1, 16, RATE, bytes16(ramp));
  ASSERT_TRUE(sound_load_memory(0, file.data(), static_cast<int64_t>(file.size())));
  sound_play(0);
  EXPECT_EQ(render(100)[198], 99);
  sound_set_muted(1);
  EXPECT_EQ(sound_muted(), 1);
  EXPECT_EQ(render(1000), std::vector<int16_t>(2000, 0));
  EXPECT_TRUE(sound_playing(0));
  sound_set_muted(0);
  EXPECT_EQ(sound_muted(), 0);
  const std::vector<int16_t> after = render(10);
  EXPECT_EQ(after[0], 1100) << "it carries on where it would be had it been heard";
  EXPECT_EQ(after[1], 1100);
  // Muted through its end, a sound that does not loop ends as it would have.
  sound_set_muted(1);
  render(3000);
  EXPECT_FALSE(sound_playing(0));
  sound_set_muted(0);
}

TEST(SoundWavHead, TheHeadAloneTellsWhatTheWholeFileWould) {
  std::vector<uint8_t> chunks;
  put_chunk(&chunks, "fmt ", fmt_record(2, 16, RATE), 16);
  put_chunk(&chunks, "LIST", std::vector<uint8_t>(301, 7), 301);
  put_chunk(&chunks, "data", bytes16(sine(500, 2, 440, 1000)), 2000);
  const std::vector<uint8_t> file = riff(chunks);
  WavSound whole{};
  ASSERT_EQ(wav_parse(file.data(), file.size(), &whole), 1);
  const uint64_t data_at = static_cast<uint64_t>(whole.samples - file.data());
  // Any head that takes in the data chunk's header will do; a shorter one will not.
  for (uint64_t head = 0; head <= file.size(); ++head) {
    WavSound sound{};
    uint64_t at = 0;
    const int32_t found = wav_parse_head(file.data(), head, file.size(), &sound, &at);
    ASSERT_EQ(found, head >= data_at ? 1 : 0) << "head " << head;
    if (found) {
      EXPECT_EQ(at, data_at);
      EXPECT_EQ(sound.sample_bytes, whole.sample_bytes);
      EXPECT_EQ(sound.channels, 2);
      EXPECT_EQ(sound.rate, static_cast<uint32_t>(RATE));
    }
  }
  // The stated size is taken as far as the file reaches, never further.
  WavSound cut{};
  uint64_t at = 0;
  EXPECT_EQ(wav_parse_head(file.data(), data_at, data_at + 10, &cut, &at), 1);
  EXPECT_EQ(cut.sample_bytes, 10u);
}
