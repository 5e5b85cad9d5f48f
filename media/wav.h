// Taking a RIFF WAVE file in memory apart into its format record and sample data.
#pragma once

#include <cstdint>

// The "fmt " record and where the samples are; the samples point into the parsed block.
struct WavSound {
  uint16_t format_tag;        // 1 = linear PCM
  uint16_t channels;          // interleaved channel count
  uint32_t rate;              // frames per second
  uint32_t bytes_per_second;  // as the file states it; not used for playback
  uint16_t block_align;       // bytes per frame, as the file states it
  uint16_t bits;              // bits per sample
  const uint8_t* samples;     // body of the "data" chunk
  uint32_t sample_bytes;      // its size, limited to the bytes present in the block
};

// Parses a RIFF WAVE block: "fmt " must be the chunk at byte 12 with at least 16 bytes of body;
// chunks are then walked without pad bytes up to the first "data" chunk. 1 on success; 0 when
// the block is not laid out so, and then nothing outside the block has been read.
int32_t wav_parse(const uint8_t* block, uint64_t size, WavSound* sound);
// wav_parse over only the head of a file of file_size bytes, to learn its format and how much
// sample data it holds before reading that: head holds the file's first head_size bytes. 1 when
// the "fmt " record and the "data" chunk's header lie inside the head; then *sound is filled as
// wav_parse would fill it from the whole file, except that samples is null, and *data_at is the
// samples' offset in the file. 0 otherwise.
int32_t wav_parse_head(const uint8_t* head, uint64_t head_size, uint64_t file_size, WavSound* sound,
                       uint64_t* data_at);
