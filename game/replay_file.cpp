#include "game/replay_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

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
// Far above any real run (a day of play encodes to a few hundred kilobytes): a bigger file is
// refused before it is read into memory.
constexpr off_t REPLAY_FILE_MAX = 64 << 20;

void put_u32(std::vector<uint8_t>& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

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
    value = static_cast<uint16_t>(b[0] | b[1] << 8);
    return true;
  }
  bool u32(uint32_t& value) {
    uint8_t b[4];
    if (!take(b, 4)) return false;
    value = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
            static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
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

bool replay_read(const std::string& path, Replay& replay, std::string& error) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  struct stat info {};
  std::vector<uint8_t> bytes;
  std::string reason;
  if (fstat(fd, &info) != 0) {
    reason = std::strerror(errno);
  } else if (!S_ISREG(info.st_mode)) {
    reason = "not a regular file";
  } else if (info.st_size > REPLAY_FILE_MAX) {
    reason = "too large for a replay";
  } else {
    bytes.resize(static_cast<size_t>(info.st_size));
    size_t got = 0;
    while (got < bytes.size()) {
      const ssize_t n = read(fd, bytes.data() + got, bytes.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        reason = n < 0 ? std::strerror(errno) : "file shrank while being read";
        break;
      }
      got += static_cast<size_t>(n);
    }
  }
  close(fd);
  if (reason.empty()) replay_decode(bytes.data(), bytes.size(), replay, reason);
  if (!reason.empty()) {
    error = path + ": " + reason;
    return false;
  }
  return true;
}

bool replay_write(const std::string& path, const Replay& replay, std::string& error) {
  const std::vector<uint8_t> bytes = replay_encode(replay);
  std::string temp = path + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  const char* failure = nullptr;
  int saved = 0;
  size_t put = 0;
  while (put < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + put, bytes.size() - put);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      saved = n < 0 ? errno : ENOSPC;
      failure = "write";
      break;
    }
    put += static_cast<size_t>(n);
  }
  // Readable like any file the user saves (mkstemp made it private), as the umask allows.
  const mode_t mask = umask(0);
  umask(mask);
  if (!failure && fchmod(fd, 0666 & ~mask) != 0) {
    saved = errno;
    failure = "chmod";
  }
  if (!failure && fsync(fd) != 0) {
    saved = errno;
    failure = "sync";
  }
  if (close(fd) != 0 && !failure) {
    saved = errno;
    failure = "close";
  }
  if (!failure && rename(temp.c_str(), path.c_str()) != 0) {
    saved = errno;
    failure = "rename";
  }
  if (failure) {
    unlink(temp.c_str());
    error = path + ": " + std::strerror(saved);
    return false;
  }
  return true;
}
