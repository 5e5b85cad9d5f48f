// Helpers shared by the sound tests: WAV files built byte by byte, test tones, and rendering
// the mixer's output without a device.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "media/decoder.h"
#include "media/mixer.h"
#include "media/music.h"
#include "media/sound.h"
#include "tools/ogg_encode.h"

namespace sound_test {

constexpr int32_t RATE = 44100;

inline void put16(std::vector<uint8_t>* out, uint32_t value) {
  out->push_back(static_cast<uint8_t>(value));
  out->push_back(static_cast<uint8_t>(value >> 8));
}

inline void put32(std::vector<uint8_t>* out, uint32_t value) {
  put16(out, value & 0xffff);
  put16(out, value >> 16);
}

inline void put_chunk(std::vector<uint8_t>* out, const char* id, const std::vector<uint8_t>& body,
                      uint32_t stated_size) {
  out->insert(out->end(), id, id + 4);
  put32(out, stated_size);
  out->insert(out->end(), body.begin(), body.end());
}

// The 16-byte PCM format record.
inline std::vector<uint8_t> fmt_record(uint32_t channels, uint32_t bits, uint32_t rate) {
  std::vector<uint8_t> record;
  put16(&record, 1);
  put16(&record, channels);
  put32(&record, rate);
  put32(&record, rate * channels * bits / 8);
  put16(&record, channels * bits / 8);
  put16(&record, bits);
  return record;
}

// "RIFF", size, "WAVE" and then the given chunks.
inline std::vector<uint8_t> riff(const std::vector<uint8_t>& chunks) {
  std::vector<uint8_t> out = {'R', 'I', 'F', 'F'};
  put32(&out, static_cast<uint32_t>(chunks.size() + 4));
  out.insert(out.end(), {'W', 'A', 'V', 'E'});
  out.insert(out.end(), chunks.begin(), chunks.end());
  return out;
}

// A plain WAV file: "fmt " then "data".
inline std::vector<uint8_t> wav(uint32_t channels, uint32_t bits, uint32_t rate,
                                const std::vector<uint8_t>& data) {
  std::vector<uint8_t> chunks;
  put_chunk(&chunks, "fmt ", fmt_record(channels, bits, rate), 16);
  put_chunk(&chunks, "data", data, static_cast<uint32_t>(data.size()));
  return riff(chunks);
}

// 16-bit samples as little-endian bytes.
inline std::vector<uint8_t> bytes16(const std::vector<int16_t>& samples) {
  std::vector<uint8_t> out;
  for (int16_t s : samples) put16(&out, static_cast<uint16_t>(s));
  return out;
}

// frames of a sine at hz and the given amplitude, on every one of channels channels.
inline std::vector<int16_t> sine(int32_t frames, int32_t channels, double hz, double amplitude) {
  std::vector<int16_t> out;
  for (int32_t i = 0; i < frames; ++i) {
    const double value = amplitude * std::sin(2.0 * M_PI * hz * i / RATE);
    for (int32_t c = 0; c < channels; ++c) out.push_back(static_cast<int16_t>(std::lrint(value)));
  }
  return out;
}

// The next frames frames of the mixer's stereo output.
inline std::vector<int16_t> render(int32_t frames) {
  std::vector<int16_t> out(static_cast<size_t>(frames) * 2);
  mixer_render(out.data(), frames);
  return out;
}

inline double rms(const std::vector<int16_t>& samples) {
  double sum = 0;
  for (int16_t s : samples) sum += static_cast<double>(s) * s;
  return std::sqrt(sum / static_cast<double>(samples.size()));
}

// A short stereo track: a chord with a slow swell, so every part of it differs from the rest.
inline std::vector<int16_t> track_samples(int32_t frames) {
  std::vector<int16_t> out;
  for (int32_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / RATE;
    const double swell = 0.5 + 0.5 * std::sin(2.0 * M_PI * 1.3 * t);
    const double left = std::sin(2.0 * M_PI * 220 * t) + 0.5 * std::sin(2.0 * M_PI * 331 * t);
    const double right = std::sin(2.0 * M_PI * 277 * t) + 0.5 * std::sin(2.0 * M_PI * 440 * t);
    out.push_back(static_cast<int16_t>(8000 * swell * left));
    out.push_back(static_cast<int16_t>(8000 * swell * right));
  }
  return out;
}

// Every sample the Ogg decoder gives for block, read straight through once.
inline std::vector<int16_t> decode_all(const std::vector<uint8_t>& block) {
  std::vector<int16_t> out;
  DecoderHandle* handle = decoder_open_memory(block.data(), static_cast<int64_t>(block.size()));
  if (!handle) return out;
  std::vector<int16_t> piece(8192);
  for (;;) {
    const int64_t got = handle->decoder->read(handle, piece.data(), 16384, 0);
    if (got <= 0) break;
    out.insert(out.end(), piece.begin(), piece.begin() + got / 2);
  }
  decoder_close(handle);
  return out;
}

// Pulls a playing stream's output in device-sized pieces, never ahead of its refills. They
// refill the half the cursor has just left, and fill the second half at the start only while
// the cursor is still in the first; so before the piece that takes the cursor up to the start
// of the stream's half h, h + 1 halves must have been decoded since the play. Meanwhile it
// serves the sounds as a frame does, for a stream refilled from the frame. Once the stream has
// stopped itself, the rest is silence. Make one right after sound_play.
struct StreamPull {
  int32_t slot;         // the playing stream's slot
  int32_t half_frames;  // frames in one refill
  int64_t done = 0;     // frames pulled since play

  std::vector<int16_t> pull(int64_t frames) {
    constexpr int64_t PIECE = 1024;
    std::vector<int16_t> out;
    for (const int64_t end = done + frames; done < end;) {
      const int64_t piece = std::min(PIECE, end - done);
      const int64_t needed = (done + piece) / half_frames + 1;
      const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
      while (sound_stream_refills(slot) < needed && sound_playing(slot)) {
        if (std::chrono::steady_clock::now() > give_up) {
          ADD_FAILURE() << "the refills did not keep up at frame " << done;
          return out;
        }
        sound_service();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      const std::vector<int16_t> samples = render(static_cast<int32_t>(piece));
      out.insert(out.end(), samples.begin(), samples.end());
      done += piece;
    }
    return out;
  }
};

// Every test starts with an empty sound table and a device-less mixer at RATE.
class SoundTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sound_init_without_device(RATE);
    ogg_decoder_enable();
  }
  void TearDown() override { sound_shutdown(); }
};

}  // namespace sound_test
