// The replay file: a run's frames of input, compactly, with what is needed to play them again
// (level data, seed, starting level) and state checksums to check the result against.
// The layout is described in docs/replay-format.md. Reading never trusts a count it cannot
// check against the bytes that are actually there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/input_frame.h"

struct LevelStream;
struct Rules;

constexpr int32_t REPLAY_VERSION = 1;              // format version written and read
constexpr int32_t REPLAY_CHECKPOINT_FRAMES = 256;  // a state checksum after every this many frames
constexpr size_t REPLAY_GAME_VERSION_MAX = 32;     // bytes of the game's version text
// About a day of play (23.5 hours at the game's 51 frames a second): more is a lying count, not
// a run. The figure is part of the file format, so it stays as first written.
constexpr int64_t REPLAY_MAX_FRAMES = 4320000;
// Far above any real run (a day of play encodes to a few hundred kilobytes): a bigger file is
// refused before it is read into memory.
constexpr size_t REPLAY_FILE_MAX = 64 << 20;

// A whole replay, its frames still encoded (a few bytes per change, one byte per 128 idle
// frames), so even a long run stays small in memory.
struct Replay {
  std::string game_version;           // the game that recorded it ("1.0.0")
  uint32_t level_data_hash = 0;       // replay_hash of the level bytes played on
  uint32_t level_data_size = 0;       // their length
  uint32_t seed = 0;                  // random_seed of the picture's random choices
  int32_t start_level = 0;            // 0 = from the intro, 1..10 = --level
  int64_t frame_count = 0;            // frames in frame_data
  std::vector<uint8_t> frame_data;    // the encoded frames (see ReplayEncoder)
  std::vector<uint32_t> checkpoints;  // state checksum after frames 256, 512, ...
  uint32_t final_checksum = 0;        // state checksum after the last frame
};

// Appends frames to an encoding; each frame is stored as its change from the one before.
class ReplayEncoder {
 public:
  void add(const InputFrame& frame);
  // Appends the encoded frames to out; idle frames still pending are flushed first.
  void finish(std::vector<uint8_t>& out);
  int64_t count() const { return count_; }

 private:
  void flush_repeats();
  std::vector<uint8_t> bytes_;  // encoded so far
  InputFrame last_;             // the frame before the next one (the start state at first)
  int32_t repeats_ = 0;         // frames equal to last_ (no events) not yet written
  int64_t count_ = 0;           // frames added
};

// Reads encoded frames one at a time, as they are played; every frame it yields is valid.
class ReplayDecoder {
 public:
  explicit ReplayDecoder(const std::vector<uint8_t>& data) : data_(data) {}
  // The next frame into frame; false at the end of the data or at a malformed byte.
  bool next(InputFrame& frame);
  // True when the data ended cleanly (not in the middle of a frame).
  bool at_end() const { return pos_ == data_.size() && repeats_ == 0 && !bad_; }

 private:
  const std::vector<uint8_t>& data_;  // the encoded frames (owned by the Replay)
  size_t pos_ = 0;                    // next byte to read
  InputFrame last_;                   // the frame before the next one
  int32_t repeats_ = 0;               // frames equal to last_ still to yield
  bool bad_ = false;                  // a malformed byte was met
};

// FNV-1a over bytes, continuing from hash (start with REPLAY_HASH_START).
constexpr uint32_t REPLAY_HASH_START = 2166136261u;
uint32_t replay_hash(const void* bytes, size_t size, uint32_t hash = REPLAY_HASH_START);

// The file's bytes for replay.
std::vector<uint8_t> replay_encode(const Replay& replay);
// Parses bytes into replay, checking every field and decoding every frame once; on failure
// returns false with a short reason in error ("truncated frames", ...).
bool replay_decode(const uint8_t* bytes, size_t size, Replay& replay, std::string& error);
// All frames of replay (for tools and tests that change a run; play decodes as it goes).
std::vector<InputFrame> replay_frames(const Replay& replay);

// Checksum of everything the rules carry from frame to frame: the grid, the level's numbers,
// the state, the score, the pointer's cell, the story's place (core/rules_state.h names every
// field it takes and every one it leaves out). Nothing only the picture uses (the shake, the
// random generator, the clock) is in it, so a run drawn and a run not drawn agree.
uint32_t replay_state_checksum(const Rules& rules);
// Hash of the level data a run plays on; a replay made on other data is refused.
uint32_t replay_level_data_hash(const LevelStream& stream);
// A replay with no frames yet of a run on stream from start_level (0 = the intro), whose
// picture's random choices start from seed: this game's version and the stream's hash and size.
Replay replay_header(const LevelStream& stream, uint32_t seed, int32_t start_level);
// Why replay cannot be played on stream (other level data, a level that does not exist); empty
// when it can.
std::string replay_unusable(const Replay& replay, const LevelStream& stream);
// value as eight lower-case hexadecimal digits, as checksums are shown.
std::string replay_hex(uint32_t value);
