// Helper of the device-path test: measures what the real executable played, from the raw
// recording of SDL's disk audio driver (signed 16-bit stereo at 44,100 Hz), against the sound
// files the game read.
//   game_audio_tool warn RECORDING WARN.wav
//     the first sound after the silent buffers at the start is the warning, at 75 per cent
//   game_audio_tool music RECORDING MUSIC.ogg MARK_BYTES SECONDS
//     near byte MARK_BYTES of the recording the music starts from its beginning, at full volume,
//     and plays on for SECONDS without a gap
// Prints what it measured; exits with 1 when the sound is not what it should be.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "media/decoder.h"
#include "media/music.h"
#include "media/wav.h"

namespace {

constexpr int RATE = 44100;        // frames per second of the recording and of our files
constexpr size_t TEMPLATE = 4096;  // frames of the reference used to find it in the recording
constexpr double MIN_CORRELATION = 0.99;

std::vector<uint8_t> read_bytes(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Interleaved 16-bit samples folded to one channel.
std::vector<float> mono(const int16_t* samples, size_t count, int channels) {
  std::vector<float> out(count / static_cast<size_t>(channels));
  for (size_t i = 0; i < out.size(); ++i) {
    float sum = 0;
    for (int c = 0; c < channels; ++c)
      sum += samples[i * static_cast<size_t>(channels) + static_cast<size_t>(c)];
    out[i] = sum / static_cast<float>(channels);
  }
  return out;
}

std::vector<float> recording(const char* path) {
  const std::vector<uint8_t> bytes = read_bytes(path);
  std::vector<int16_t> samples(bytes.size() / 2);
  for (size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<int16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
  }
  return mono(samples.data(), samples.size(), 2);
}

double dot(const float* a, const float* b, size_t n) {
  double sum = 0;
  for (size_t i = 0; i < n; ++i) sum += static_cast<double>(a[i]) * b[i];
  return sum;
}

double decibels(double ratio) { return 20 * std::log10(ratio); }

// The frame of the recording in [from, to) where the start of reference fits best, by
// normalised cross-correlation.
size_t locate(const std::vector<float>& heard, const std::vector<float>& reference, size_t from,
              size_t to) {
  const size_t n = std::min(TEMPLATE, reference.size());
  const double reference_energy = dot(reference.data(), reference.data(), n);
  size_t best = from;
  double best_score = -2;
  for (size_t at = from; at < to && at + n <= heard.size(); ++at) {
    const double energy = dot(&heard[at], &heard[at], n);
    if (energy <= 0) continue;
    const double score =
        dot(&heard[at], reference.data(), n) / std::sqrt(energy * reference_energy);
    if (score > best_score) {
      best_score = score;
      best = at;
    }
  }
  return best;
}

struct Match {
  double correlation;  // normalised, 1 = the same shape
  double gain_db;      // level of the recording relative to the reference
};

Match compare(const float* heard, const float* reference, size_t n) {
  const double cross = dot(heard, reference, n);
  const double heard_energy = dot(heard, heard, n);
  const double reference_energy = dot(reference, reference, n);
  if (heard_energy <= 0 || reference_energy <= 0) return {0, -200};
  return {cross / std::sqrt(heard_energy * reference_energy),
          decibels(std::sqrt(heard_energy / reference_energy))};
}

int fail(const std::string& why) {
  std::fprintf(stderr, "game_audio_tool: %s\n", why.c_str());
  return 1;
}

int check_warn(const char* recording_path, const char* wav_path) {
  const std::vector<float> heard = recording(recording_path);
  const std::vector<uint8_t> file = read_bytes(wav_path);
  WavSound wav{};
  if (!wav_parse(file.data(), file.size(), &wav) || wav.bits != 16)
    return fail("cannot read the warning file");
  // Copied out, since the data chunk need not start on an even byte.
  std::vector<int16_t> samples(wav.sample_bytes / 2);
  std::memcpy(samples.data(), wav.samples, samples.size() * 2);
  const std::vector<float> warn = mono(samples.data(), samples.size(), wav.channels);
  // Skip the silent buffers the device put out before the game's first frame.
  const auto first = std::find_if(heard.begin(), heard.end(), [](float s) { return s != 0; });
  if (first == heard.end()) return fail("the recording is silent");
  const size_t silent = static_cast<size_t>(first - heard.begin());
  const size_t start =
      locate(heard, warn, silent > RATE / 10 ? silent - RATE / 10 : 0, silent + RATE / 2);
  if (start + warn.size() > heard.size()) return fail("the recording ends inside the warning");
  const Match match = compare(&heard[start], warn.data(), warn.size());
  std::printf("silent for %.3f s, then the warning at %.3f s: correlation %.5f, level %+.2f dB\n",
              static_cast<double>(silent) / RATE, static_cast<double>(start) / RATE,
              match.correlation, match.gain_db);
  if (match.correlation < MIN_CORRELATION) return fail("the first sound is not the warning");
  // The warning slot is set to 75 per cent: 20 log10(0.75) = -2.5 dB.
  if (std::fabs(match.gain_db - decibels(0.75)) > 0.3)
    return fail("the warning is not at 75 per cent");
  return 0;
}

int check_music(const char* recording_path, const char* ogg_path, long mark_bytes, double seconds) {
  const std::vector<float> heard = recording(recording_path);
  ogg_decoder_enable();
  DecoderHandle* handle = decoder_open_file(ogg_path);
  if (!handle) return fail("cannot open the music");
  const int channels = handle->decoder->channels(handle);
  const size_t frames = static_cast<size_t>(seconds * RATE);
  std::vector<int16_t> samples(frames * static_cast<size_t>(channels));
  const int64_t got = handle->decoder->read(
      handle, samples.data(), static_cast<int64_t>(samples.size() * 2), DECODER_READ_LOOP);
  decoder_close(handle);
  if (got != static_cast<int64_t>(samples.size() * 2)) return fail("the music is too short");
  const std::vector<float> music = mono(samples.data(), samples.size(), channels);

  // The last Return went up about when the recording was mark_bytes long; the music starts in
  // the frame that reads the intro's end, a device buffer or two from there.
  const size_t mark = static_cast<size_t>(mark_bytes) / 4;
  const size_t start = locate(heard, music, mark > RATE ? mark - RATE : 0, mark + RATE);
  if (start + frames > heard.size()) return fail("the recording ends before the music has played");
  const Match match = compare(&heard[start], music.data(), frames);
  std::printf("music from %.3f s (last key up at %.3f s): correlation %.5f, level %+.2f dB\n",
              static_cast<double>(start) / RATE, static_cast<double>(mark) / RATE,
              match.correlation, match.gain_db);
  if (match.correlation < MIN_CORRELATION)
    return fail("what plays after the intro is not the music");
  if (std::fabs(match.gain_db) > 0.3) return fail("the music is not at full volume");
  // Window by window, so that a gap or a repeated stretch cannot hide in the whole.
  const size_t window = RATE / 10;
  for (size_t at = 0; at + window <= frames; at += window) {
    const Match slice = compare(&heard[start + at], &music[at], window);
    if (slice.correlation < MIN_CORRELATION || std::fabs(slice.gain_db) > 0.5) {
      return fail("the music breaks off " + std::to_string(static_cast<double>(at) / RATE) +
                  " s in (correlation " + std::to_string(slice.correlation) + ")");
    }
  }
  std::printf("every 0.1 s window of %.1f s of music matches the track\n", seconds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "warn" && argc == 4) return check_warn(argv[2], argv[3]);
  if (command == "music" && argc == 6)
    return check_music(argv[2], argv[3], std::atol(argv[4]), std::atof(argv[5]));
  std::fprintf(stderr, "usage: game_audio_tool warn REC WAV | music REC OGG MARK_BYTES SECONDS\n");
  return 2;
}
