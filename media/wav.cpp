#include "media/wav.h"

#include <cstring>

namespace {

constexpr uint64_t WAV_FMT_AT = 12;     // the "fmt " chunk must open the chunk list
constexpr uint64_t WAV_FMT_MIN = 16;    // a PCM format record without its extra size
constexpr uint64_t WAV_CHUNK_HEAD = 8;  // chunk id and 32-bit size

uint16_t read16(const uint8_t* at) { return static_cast<uint16_t>(at[0] | (at[1] << 8)); }

uint32_t read32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
         (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

// Where the "data" chunk's body starts and how many of its bytes are present, walking chunk
// headers that lie within the first head_size bytes of a block of size bytes. Sizes are 32-bit
// and the walk uses 64-bit offsets, so no sum can wrap around.
bool find_data(const uint8_t* block, uint64_t head_size, uint64_t size, uint64_t* body_at,
               uint64_t* present_bytes) {
  if (!block || head_size > size || head_size < WAV_FMT_AT + WAV_CHUNK_HEAD) return false;
  if (std::memcmp(block, "RIFF", 4) != 0 || std::memcmp(block + WAV_FMT_AT, "fmt ", 4) != 0) {
    return false;
  }
  const uint64_t fmt_size = read32(block + WAV_FMT_AT + 4);
  const uint64_t fmt_body = WAV_FMT_AT + WAV_CHUNK_HEAD;
  // A record too short to hold the fields, or one that runs past what is read, cannot be read.
  if (fmt_size < WAV_FMT_MIN || fmt_size > head_size - fmt_body) return false;
  uint64_t at = fmt_body + fmt_size;
  while (at <= head_size && head_size - at >= WAV_CHUNK_HEAD) {
    const uint64_t chunk_size = read32(block + at + 4);
    const uint64_t body = at + WAV_CHUNK_HEAD;
    if (std::memcmp(block + at, "data", 4) == 0) {
      const uint64_t present = size - body;
      if (present == 0) return false;
      *body_at = body;
      *present_bytes = chunk_size < present ? chunk_size : present;
      return true;
    }
    at = body + chunk_size;
  }
  return false;
}

}  // namespace

int32_t wav_parse_head(const uint8_t* head, uint64_t head_size, uint64_t file_size, WavSound* sound,
                       uint64_t* data_at) {
  uint64_t body = 0;
  uint64_t present = 0;
  if (!find_data(head, head_size, file_size, &body, &present)) return 0;
  const uint8_t* record = head + WAV_FMT_AT + WAV_CHUNK_HEAD;
  sound->format_tag = read16(record);
  sound->channels = read16(record + 2);
  sound->rate = read32(record + 4);
  sound->bytes_per_second = read32(record + 8);
  sound->block_align = read16(record + 12);
  sound->bits = read16(record + 14);
  sound->samples = nullptr;
  sound->sample_bytes = static_cast<uint32_t>(present);
  *data_at = body;
  return sound->sample_bytes > 0 ? 1 : 0;
}

int32_t wav_parse(const uint8_t* block, uint64_t size, WavSound* sound) {
  uint64_t data_at = 0;
  if (!wav_parse_head(block, size, size, sound, &data_at)) return 0;
  sound->samples = block + data_at;
  return 1;
}
