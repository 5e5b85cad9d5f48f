#include "core/replay_codec.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "core/bytes.h"
#include "core/level_stream.h"
#include "core/rules.h"
#include "core/rules_state.h"

#ifndef Q47_VERSION
#define Q47_VERSION "0.0.0"
#endif

namespace {

constexpr char REPLAY_MAGIC[8] = {'Q', '4', '7', 'R', 'P', 'L', 'A', 'Y'};
constexpr int32_t REPLAY_REPEAT_MAX = 128;  // idle frames one repeat byte stands for
constexpr uint8_t REPLAY_CHANGED = 0x80;    // a frame byte at or above this is a changed frame
constexpr uint8_t REPLAY_HAS_POINTER = 1;   // the pointer's move follows (two zigzag varints)
constexpr uint8_t REPLAY_HAS_HELD = 2;      // the held byte follows
constexpr uint8_t REPLAY_HAS_EVENTS = 4;    // the events byte follows
constexpr uint8_t REPLAY_HAS_NUDGE = 8;     // a move of -8..7 each way follows in one byte
constexpr uint8_t REPLAY_HAS_ALL = 15;
constexpr int32_t REPLAY_NUDGE_MIN = -8;  // the smallest step a nudge holds (4-bit signed)
constexpr int32_t REPLAY_NUDGE_MAX = 7;
constexpr int REPLAY_VARINT_MAX_BYTES = 10;  // a 64-bit value in 7-bit groups
void put_u32(std::vector<uint8_t>& out, uint32_t value) { bytes_put_le32(out, value); }

void put_varint(std::vector<uint8_t>& out, int64_t value) {
  // Zigzag keeps small moves either way in one byte.
  uint64_t bits = (static_cast<uint64_t>(value) << 1) ^ static_cast<uint64_t>(value >> 63);
  while (bits >= 0x80) {
    out.push_back(static_cast<uint8_t>(bits | 0x80));
    bits >>= 7;
  }
  out.push_back(static_cast<uint8_t>(bits));
}

// A frame as the one before it stands when the next frame is compared: events last one frame.
InputFrame without_events(InputFrame frame) {
  frame.events = 0;
  return frame;
}

// Reads the file's fields in order; every read checks the bytes left first.
class Reader {
 public:
  Reader(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}
  size_t left() const { return size_ - pos_; }
  bool take(void* out, size_t n) {
    if (left() < n) return false;
    if (n == 0) return true;  // out may be the null data of an empty vector
    std::memcpy(out, bytes_ + pos_, n);
    pos_ += n;
    return true;
  }
  bool u8(uint8_t& value) { return take(&value, 1); }
  bool u16(uint16_t& value) {
    uint8_t b[2];
    if (!take(b, 2)) return false;
    value = bytes_le16(b);
    return true;
  }
  bool u32(uint32_t& value) {
    uint8_t b[4];
    if (!take(b, 4)) return false;
    value = bytes_le32(b);
    return true;
  }

 private:
  const uint8_t* bytes_;  // the file
  size_t size_;           // its length
  size_t pos_ = 0;        // next byte to read
};

// One reason per field, so a damaged file says where it broke.
bool fail(std::string& error, const char* reason) {
  error = reason;
  return false;
}

// Continues hash with one 32-bit value, byte by byte in little-endian order.
uint32_t hash_int(uint32_t hash, int64_t value) {
  const auto v = static_cast<uint32_t>(value);
  const uint8_t bytes[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                            static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
  return replay_hash(bytes, 4, hash);
}

}  // namespace

uint32_t replay_hash(const void* bytes, size_t size, uint32_t hash) {
  const auto* p = static_cast<const uint8_t*>(bytes);
  for (size_t i = 0; i < size; ++i) hash = (hash ^ p[i]) * 16777619u;
  return hash;
}

void ReplayEncoder::flush_repeats() {
  while (repeats_ > 0) {
    const int32_t run = repeats_ < REPLAY_REPEAT_MAX ? repeats_ : REPLAY_REPEAT_MAX;
    bytes_.push_back(static_cast<uint8_t>(run - 1));
    repeats_ -= run;
  }
}

void ReplayEncoder::add(const InputFrame& frame) {
  count_ += 1;
  if (frame == last_) {
    repeats_ += 1;
    return;
  }
  flush_repeats();
  uint8_t has = 0;
  const int64_t dx = static_cast<int64_t>(frame.pointer_x) - last_.pointer_x;
  const int64_t dy = static_cast<int64_t>(frame.pointer_y) - last_.pointer_y;
  const auto small = [](int64_t d) { return d >= REPLAY_NUDGE_MIN && d <= REPLAY_NUDGE_MAX; };
  // A pointer dragged along moves a few pixels a frame: such a frame costs two bytes, so even a
  // run that moves the pointer in every frame stays small.
  if (dx != 0 || dy != 0) has |= small(dx) && small(dy) ? REPLAY_HAS_NUDGE : REPLAY_HAS_POINTER;
  if (frame.held != last_.held) has |= REPLAY_HAS_HELD;
  if (frame.events != 0) has |= REPLAY_HAS_EVENTS;
  bytes_.push_back(REPLAY_CHANGED | has);
  if (has & REPLAY_HAS_POINTER) {
    put_varint(bytes_, dx);
    put_varint(bytes_, dy);
  }
  if (has & REPLAY_HAS_NUDGE) bytes_.push_back(static_cast<uint8_t>((dx & 15) << 4 | (dy & 15)));
  if (has & REPLAY_HAS_HELD) bytes_.push_back(frame.held & INPUT_HELD_ALL);
  if (has & REPLAY_HAS_EVENTS) bytes_.push_back(frame.events & INPUT_EVENTS_ALL);
  last_ = without_events(frame);
  last_.held &= INPUT_HELD_ALL;
}

void ReplayEncoder::finish(std::vector<uint8_t>& out) {
  flush_repeats();
  out.insert(out.end(), bytes_.begin(), bytes_.end());
}

bool ReplayDecoder::next(InputFrame& frame) {
  if (bad_) return false;
  if (repeats_ > 0) {
    repeats_ -= 1;
    frame = last_;
    return true;
  }
  if (pos_ >= data_.size()) return false;
  const uint8_t lead = data_[pos_++];
  if (lead < REPLAY_CHANGED) {
    repeats_ = lead;  // this frame plus lead more
    frame = last_;
    return true;
  }
  const uint8_t has = lead & static_cast<uint8_t>(~REPLAY_CHANGED);
  if (has == 0 || (has & ~REPLAY_HAS_ALL)) {
    bad_ = true;
    return false;
  }
  InputFrame next = last_;
  auto varint = [&](int64_t& value) {
    uint64_t bits = 0;
    for (int i = 0; i < REPLAY_VARINT_MAX_BYTES; ++i) {
      if (pos_ >= data_.size()) return false;
      const uint8_t byte = data_[pos_++];
      bits |= static_cast<uint64_t>(byte & 0x7F) << (7 * i);
      if (!(byte & 0x80)) {
        value = static_cast<int64_t>(bits >> 1) ^ -static_cast<int64_t>(bits & 1);
        return true;
      }
    }
    return false;
  };
  auto moved = [&](int32_t& coordinate) {
    int64_t delta = 0;
    if (!varint(delta)) return false;
    // Both ends are 32-bit, so a real move is within 2^32; anything else would overflow below.
    if (delta > std::numeric_limits<uint32_t>::max() ||
        delta < -static_cast<int64_t>(std::numeric_limits<uint32_t>::max())) {
      return false;
    }
    const int64_t to = coordinate + delta;
    if (to < std::numeric_limits<int32_t>::min() || to > std::numeric_limits<int32_t>::max()) {
      return false;
    }
    coordinate = static_cast<int32_t>(to);
    return true;
  };
  if ((has & REPLAY_HAS_POINTER) && (!moved(next.pointer_x) || !moved(next.pointer_y))) {
    bad_ = true;
    return false;
  }
  if (has & REPLAY_HAS_NUDGE) {
    // Two ways of giving one move in one frame would make the frame mean two things.
    if ((has & REPLAY_HAS_POINTER) || pos_ >= data_.size()) {
      bad_ = true;
      return false;
    }
    const uint8_t nudge = data_[pos_++];
    const auto step = [](int32_t nibble) { return nibble >= 8 ? nibble - 16 : nibble; };
    const int64_t to_x = static_cast<int64_t>(next.pointer_x) + step(nudge >> 4);
    const int64_t to_y = static_cast<int64_t>(next.pointer_y) + step(nudge & 15);
    if (to_x < std::numeric_limits<int32_t>::min() || to_x > std::numeric_limits<int32_t>::max() ||
        to_y < std::numeric_limits<int32_t>::min() || to_y > std::numeric_limits<int32_t>::max()) {
      bad_ = true;
      return false;
    }
    next.pointer_x = static_cast<int32_t>(to_x);
    next.pointer_y = static_cast<int32_t>(to_y);
  }
  auto flag_byte = [&](uint8_t& out, uint8_t allowed) {
    if (pos_ >= data_.size() || (data_[pos_] & ~allowed)) return false;
    out = data_[pos_++];
    return true;
  };
  if ((has & REPLAY_HAS_HELD) && !flag_byte(next.held, INPUT_HELD_ALL)) {
    bad_ = true;
    return false;
  }
  if ((has & REPLAY_HAS_EVENTS) && !flag_byte(next.events, INPUT_EVENTS_ALL)) {
    bad_ = true;
    return false;
  }
  frame = next;
  last_ = without_events(next);
  return true;
}

std::vector<uint8_t> replay_encode(const Replay& replay) {
  std::vector<uint8_t> out(REPLAY_MAGIC, REPLAY_MAGIC + sizeof REPLAY_MAGIC);
  out.push_back(static_cast<uint8_t>(REPLAY_VERSION));
  out.push_back(static_cast<uint8_t>(REPLAY_VERSION >> 8));
  const size_t version_size = std::min(replay.game_version.size(), REPLAY_GAME_VERSION_MAX);
  out.push_back(static_cast<uint8_t>(version_size));
  out.insert(out.end(), replay.game_version.begin(), replay.game_version.begin() + version_size);
  put_u32(out, replay.level_data_hash);
  put_u32(out, replay.level_data_size);
  put_u32(out, replay.seed);
  out.push_back(static_cast<uint8_t>(replay.start_level));
  put_u32(out, static_cast<uint32_t>(replay.frame_count));
  put_u32(out, static_cast<uint32_t>(replay.frame_data.size()));
  out.insert(out.end(), replay.frame_data.begin(), replay.frame_data.end());
  put_u32(out, static_cast<uint32_t>(replay.checkpoints.size()));
  for (uint32_t checkpoint : replay.checkpoints) put_u32(out, checkpoint);
  put_u32(out, replay.final_checksum);
  return out;
}

bool replay_decode(const uint8_t* bytes, size_t size, Replay& replay, std::string& error) {
  Reader in(bytes, size);
  replay = Replay{};
  char magic[sizeof REPLAY_MAGIC];
  if (!in.take(magic, sizeof magic) || std::memcmp(magic, REPLAY_MAGIC, sizeof magic) != 0) {
    return fail(error, "not a Q-47 replay");
  }
  uint16_t version = 0;
  if (!in.u16(version)) return fail(error, "truncated header");
  if (version != REPLAY_VERSION) {
    error = "replay format version " + std::to_string(version) + " (this game reads version " +
            std::to_string(REPLAY_VERSION) + ")";
    return false;
  }
  uint8_t version_size = 0;
  if (!in.u8(version_size)) return fail(error, "truncated header");
  if (version_size > REPLAY_GAME_VERSION_MAX) return fail(error, "game version too long");
  replay.game_version.resize(version_size);
  if (!in.take(replay.game_version.data(), version_size)) return fail(error, "truncated header");
  uint8_t start_level = 0;
  uint32_t frame_count = 0;
  uint32_t data_size = 0;
  if (!in.u32(replay.level_data_hash) || !in.u32(replay.level_data_size) || !in.u32(replay.seed) ||
      !in.u8(start_level) || !in.u32(frame_count) || !in.u32(data_size)) {
    return fail(error, "truncated header");
  }
  replay.start_level = start_level;
  replay.frame_count = frame_count;
  if (replay.frame_count > REPLAY_MAX_FRAMES) return fail(error, "frame count too large");
  // Checked against the bytes actually there before anything is allocated for them.
  if (data_size > in.left()) return fail(error, "truncated frames");
  replay.frame_data.resize(data_size);
  in.take(replay.frame_data.data(), data_size);

  uint32_t checkpoint_count = 0;
  if (!in.u32(checkpoint_count)) return fail(error, "truncated checkpoints");
  if (checkpoint_count != replay.frame_count / REPLAY_CHECKPOINT_FRAMES) {
    return fail(error, "checkpoint count does not match the frame count");
  }
  if (checkpoint_count > in.left() / 4) return fail(error, "truncated checkpoints");
  replay.checkpoints.resize(checkpoint_count);
  for (uint32_t& checkpoint : replay.checkpoints) in.u32(checkpoint);
  if (!in.u32(replay.final_checksum)) return fail(error, "truncated final checksum");
  if (in.left() != 0) return fail(error, "unexpected bytes after the final checksum");

  // Every frame is decoded once now, so a run never stops half-way on a bad byte.
  ReplayDecoder decoder(replay.frame_data);
  InputFrame frame;
  int64_t decoded = 0;
  while (decoded <= replay.frame_count && decoder.next(frame)) decoded += 1;
  if (decoded > replay.frame_count) return fail(error, "more frames than the frame count");
  if (!decoder.at_end()) return fail(error, "malformed frame data");
  if (decoded != replay.frame_count) return fail(error, "fewer frames than the frame count");
  return true;
}

std::vector<InputFrame> replay_frames(const Replay& replay) {
  std::vector<InputFrame> frames;
  frames.reserve(static_cast<size_t>(replay.frame_count));
  ReplayDecoder decoder(replay.frame_data);
  InputFrame frame;
  while (static_cast<int64_t>(frames.size()) < replay.frame_count && decoder.next(frame)) {
    frames.push_back(frame);
  }
  return frames;
}

uint32_t replay_state_checksum(const Rules& rules) {
  uint32_t h = REPLAY_HASH_START;
  std::apply([&](auto... number) { ((h = hash_int(h, static_cast<int64_t>(rules.*number))), ...); },
             RULES_STATE_NUMBERS);
  const std::string& line = rules.*RULES_STATE_LINE;
  h = hash_int(h, static_cast<int64_t>(line.size()));
  h = replay_hash(line.data(), line.size(), h);
  for (const Cell& cell : rules.*RULES_STATE_GRID) {
    h = hash_int(h, cell.concentration);
    h = hash_int(h, cell.flags);
    h = hash_int(h, cell.highlight);
    h = hash_int(h, cell.fill_mark);
  }
  return h;
}

uint32_t replay_level_data_hash(const LevelStream& stream) {
  return replay_hash(stream.bytes.data(), stream.bytes.size());
}

Replay replay_header(const LevelStream& stream, uint32_t seed, int32_t start_level) {
  Replay replay;
  replay.game_version = Q47_VERSION;
  replay.level_data_hash = replay_level_data_hash(stream);
  replay.level_data_size = static_cast<uint32_t>(stream.bytes.size());
  replay.seed = seed;
  replay.start_level = start_level;
  return replay;
}

std::string replay_unusable(const Replay& replay, const LevelStream& stream) {
  const uint32_t hash = replay_level_data_hash(stream);
  const auto size = static_cast<uint32_t>(stream.bytes.size());
  if (replay.level_data_hash != hash || replay.level_data_size != size) {
    return "recorded on other level data (hash " + replay_hex(replay.level_data_hash) + ", " +
           std::to_string(replay.level_data_size) + " bytes; these levels: " + replay_hex(hash) +
           ", " + std::to_string(size) + " bytes)";
  }
  if (replay.start_level < 0 || replay.start_level > level_count(stream)) {
    return "starts on level " + std::to_string(replay.start_level) + ", which does not exist";
  }
  return {};
}

std::string replay_hex(uint32_t value) {
  static const char DIGITS[] = "0123456789abcdef";
  std::string text(8, '0');
  for (int i = 7; i >= 0; --i, value >>= 4) text[static_cast<size_t>(i)] = DIGITS[value & 15];
  return text;
}
