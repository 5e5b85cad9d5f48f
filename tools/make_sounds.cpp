// make_sounds DIR: synthesises the game's nine effects as 16-bit PCM WAV files and its looping
// music as Ogg Vorbis into DIR. Everything is computed here from oscillators, noise and filters;
// the output is the same on every run.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/ogg_encode.h"

namespace {

constexpr int32_t RATE = 44100;
constexpr double TAU = 6.283185307179586;

using Wave = std::vector<float>;  // one channel of samples in -1..1

struct Stereo {
  Wave left;
  Wave right;
};

int32_t frames_of(double seconds) { return static_cast<int32_t>(std::lround(seconds * RATE)); }

// A small deterministic generator, so every build makes the same files.
struct Noise {
  uint32_t state;
  float next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return static_cast<float>(state) / 2147483648.0f - 1.0f;
  }
};

// The polyBLEP correction that takes most of the aliasing off a saw or square edge.
double blep(double phase, double step) {
  if (phase < step) {
    const double t = phase / step;
    return t + t - t * t - 1.0;
  }
  if (phase > 1.0 - step) {
    const double t = (phase - 1.0) / step;
    return t * t + t + t + 1.0;
  }
  return 0.0;
}

double saw(double phase, double step) { return 2.0 * phase - 1.0 - blep(phase, step); }

double square(double phase, double step) {
  double value = phase < 0.5 ? 1.0 : -1.0;
  value += blep(phase, step);
  value -= blep(std::fmod(phase + 0.5, 1.0), step);
  return value;
}

double triangle(double phase) { return 1.0 - 4.0 * std::fabs(phase - 0.5); }

// A biquad filter after the well-known cookbook formulas; coefficients may change per sample.
struct Biquad {
  double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;  // normalised coefficients
  double x1 = 0, x2 = 0, y1 = 0, y2 = 0;          // the last two inputs and outputs

  void set(int kind, double hz, double q) {
    hz = std::clamp(hz, 10.0, RATE * 0.45);
    const double w = TAU * hz / RATE;
    const double alpha = std::sin(w) / (2.0 * q);
    const double c = std::cos(w);
    const double a0 = 1.0 + alpha;
    if (kind == 0) {  // low-pass
      b0 = (1.0 - c) / 2.0 / a0;
      b1 = (1.0 - c) / a0;
      b2 = b0;
    } else if (kind == 1) {  // high-pass
      b0 = (1.0 + c) / 2.0 / a0;
      b1 = -(1.0 + c) / a0;
      b2 = b0;
    } else {  // band-pass, peak gain 1
      b0 = alpha / a0;
      b1 = 0.0;
      b2 = -alpha / a0;
    }
    a1 = -2.0 * c / a0;
    a2 = (1.0 - alpha) / a0;
  }
  double run(double x) {
    const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
    return y;
  }
};
constexpr int LOW_PASS = 0;
constexpr int HIGH_PASS = 1;
constexpr int BAND_PASS = 2;

// Attack, then exponential decay with time constant decay; 0 before the start.
double strike(double t, double attack, double decay) {
  if (t < 0) return 0;
  if (t < attack) return t / attack;
  return std::exp(-(t - attack) / decay);
}

// 1 inside 0..length with raised-cosine edges of fade seconds.
double gate(double t, double length, double fade) {
  if (t < 0 || t > length) return 0;
  const double edge = std::min({t, length - t, fade}) / fade;
  return edge >= 1.0 ? 1.0 : 0.5 - 0.5 * std::cos(M_PI * edge);
}

double note_hz(double midi) { return 440.0 * std::pow(2.0, (midi - 69.0) / 12.0); }

// Scales the peak to level (linear) and fades the last few milliseconds so nothing clicks.
void finish(Wave* wave, double level) {
  float peak = 0;
  for (float s : *wave) peak = std::max(peak, std::fabs(s));
  const float gain = peak > 0 ? static_cast<float>(level) / peak : 0.0f;
  const size_t fade = std::min<size_t>(wave->size(), 220);
  for (size_t i = 0; i < wave->size(); ++i) {
    float value = (*wave)[i] * gain;
    const size_t from_end = wave->size() - 1 - i;
    if (from_end < fade) value *= static_cast<float>(from_end) / static_cast<float>(fade);
    (*wave)[i] = value;
  }
}

std::vector<int16_t> to_pcm(const Wave& left, const Wave* right) {
  std::vector<int16_t> out;
  for (size_t i = 0; i < left.size(); ++i) {
    out.push_back(static_cast<int16_t>(std::lrint(std::clamp(left[i], -1.0f, 1.0f) * 32767.0f)));
    if (right) {
      out.push_back(
          static_cast<int16_t>(std::lrint(std::clamp((*right)[i], -1.0f, 1.0f) * 32767.0f)));
    }
  }
  return out;
}

bool write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}

void put(std::vector<uint8_t>* out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

bool write_wav(const std::string& path, const std::vector<int16_t>& samples, int channels) {
  const uint32_t data_bytes = static_cast<uint32_t>(samples.size() * 2);
  std::vector<uint8_t> out = {'R', 'I', 'F', 'F'};
  put(&out, 36 + data_bytes, 4);
  out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  put(&out, 16, 4);
  put(&out, 1, 2);
  put(&out, static_cast<uint32_t>(channels), 2);
  put(&out, RATE, 4);
  put(&out, static_cast<uint32_t>(RATE * channels * 2), 4);
  put(&out, static_cast<uint32_t>(channels * 2), 2);
  put(&out, 16, 2);
  out.insert(out.end(), {'d', 'a', 't', 'a'});
  put(&out, data_bytes, 4);
  for (int16_t s : samples) put(&out, static_cast<uint16_t>(s), 2);
  return write_file(path, out);
}

// The warning klaxon: two rising horn whoops, a square and a saw pushed through a horn-like
// band and a little saturation.
Wave make_warn() {
  Wave out(static_cast<size_t>(frames_of(1.45)));
  Biquad horn;
  Biquad soften;
  Biquad no_dc;  // saturating an uneven wave leaves an offset; this takes it off
  horn.set(BAND_PASS, 900, 0.9);
  soften.set(LOW_PASS, 3200, 0.7);
  no_dc.set(HIGH_PASS, 60, 0.7);
  Biquad edge;  // the saturation's top harmonics would sound like a fizz, not a horn
  edge.set(LOW_PASS, 5500, 0.7);
  double phase = 0;
  for (size_t i = 0; i < out.size(); ++i) {
    const double t = static_cast<double>(i) / RATE;
    const double whoop = std::fmod(t, 0.72);
    const double rise = std::min(whoop / 0.42, 1.0);
    const double hz = 200.0 * std::pow(2.0, rise * 1.05);
    const double step = hz / RATE;
    phase = std::fmod(phase + step, 1.0);
    const double raw = 0.6 * square(phase, step) + 0.5 * saw(phase, step);
    const double body = horn.run(raw) * 2.5 + 0.25 * std::sin(TAU * phase);
    const double shaped = std::tanh(1.8 * soften.run(body));
    out[i] = static_cast<float>(no_dc.run(edge.run(shaped)) * gate(whoop, 0.64, 0.025));
  }
  finish(&out, 0.6);
  return out;
}

// A short, dry tick for the story lines.
Wave make_click() {
  Wave out(static_cast<size_t>(frames_of(0.045)));
  Noise noise{0x1234567};
  Biquad bright;
  bright.set(BAND_PASS, 3500, 1.2);
  for (size_t i = 0; i < out.size(); ++i) {
    const double t = static_cast<double>(i) / RATE;
    const double tick = std::sin(TAU * 1750 * t) * strike(t, 0.0005, 0.006);
    const double body = std::sin(TAU * 420 * t) * strike(t, 0.001, 0.012) * 0.6;
    const double snap = bright.run(noise.next()) * strike(t, 0.0002, 0.002) * 1.5;
    out[i] = static_cast<float>(tick + body + snap);
  }
  finish(&out, 0.55);
  return out;
}

// A barrier set down: a low thud with a falling pitch and a short knock on top.
Wave make_bump() {
  Wave out(static_cast<size_t>(frames_of(0.26)));
  Noise noise{0xBADC0DE};
  Biquad knock;
  knock.set(LOW_PASS, 1100, 0.8);
  double phase = 0;
  for (size_t i = 0; i < out.size(); ++i) {
    const double t = static_cast<double>(i) / RATE;
    const double hz = 55.0 + 115.0 * std::exp(-t / 0.035);
    phase += hz / RATE;
    const double thud = std::sin(TAU * phase) * strike(t, 0.002, 0.075);
    const double hit = knock.run(noise.next()) * strike(t, 0.0005, 0.012) * 1.2;
    out[i] = static_cast<float>(std::tanh(1.5 * (thud + hit)));
  }
  finish(&out, 0.65);
  return out;
}

// A barrier lifted: two quick rising blips, lighter than the thud.
Wave make_take() {
  Wave out(static_cast<size_t>(frames_of(0.16)));
  double phase = 0;
  for (size_t i = 0; i < out.size(); ++i) {
    const double t = static_cast<double>(i) / RATE;
    const bool second = t >= 0.06;
    const double local = second ? t - 0.06 : t;
    const double hz = (second ? 1180.0 : 790.0) * (1.0 + 0.12 * std::min(local / 0.03, 1.0));
    phase = std::fmod(phase + hz / RATE, 1.0);
    const double voice =
        std::sin(TAU * phase) + 0.25 * std::sin(2 * TAU * phase) + 0.1 * std::sin(3 * TAU * phase);
    out[i] = static_cast<float>(voice * strike(local, 0.003, second ? 0.035 : 0.022) *
                                (second ? 0.9 : 0.7));
  }
  finish(&out, 0.5);
  return out;
}

// A bell: a few partials, the higher ones dying sooner.
double bell(double t, double hz) {
  if (t < 0) return 0;
  const double partials[][3] = {
      {1.0, 1.0, 0.9}, {2.0, 0.45, 0.45}, {3.01, 0.25, 0.25}, {4.2, 0.12, 0.12}};
  double sum = 0;
  for (const auto& p : partials)
    sum += p[1] * std::sin(TAU * hz * p[0] * t) * strike(t, 0.004, p[2]);
  return sum;
}

// The chemical walled in: a bright rising arpeggio ending on a held major chord, with an echo.
Wave make_win() {
  Wave out(static_cast<size_t>(frames_of(1.6)));
  const double notes[] = {74, 78, 81, 86};  // D5 F#5 A5 D6
  for (size_t i = 0; i < out.size(); ++i) {
    const double t = static_cast<double>(i) / RATE;
    double sum = 0;
    for (int n = 0; n < 4; ++n) {
      const double start = 0.085 * n;
      sum += bell(t - start, note_hz(notes[n])) * (n == 3 ? 1.0 : 0.7);
      sum += 0.3 * bell(t - start - 0.19, note_hz(notes[n]));  // echo
    }
    sum += 0.35 * bell(t - 0.34, note_hz(62)) + 0.3 * bell(t - 0.34, note_hz(69));  // D4 A4 below
    out[i] = static_cast<float>(sum);
  }
  finish(&out, 0.6);
  return out;
}

// The chemical at an edge: two stabbing notes, then a long sour slide down with a widening wobble.
Wave make_lose() {
  Wave out(static_cast<size_t>(frames_of(1.7)));
  Biquad tone;
  double phase = 0;
  double detuned = 0;
  for (size_t i = 0; i < out.size(); ++i) {
    const double t = static_cast<double>(i) / RATE;
    double midi;
    double level;
    double cutoff;
    if (t < 0.2) {
      midi = 67;  // G4
      level = gate(t, 0.18, 0.01);
      cutoff = 2400;
    } else if (t < 0.4) {
      midi = 66;  // F#4
      level = gate(t - 0.2, 0.18, 0.01);
      cutoff = 2200;
    } else {
      const double slide = std::min((t - 0.4) / 1.15, 1.0);
      midi = 65 - 24 * slide * slide + (0.2 + 0.8 * slide) * 0.6 * std::sin(TAU * 5.5 * t);
      level = gate(t - 0.4, 1.28, 0.02);
      cutoff = 2000 * std::pow(0.12, slide);
    }
    const double hz = note_hz(midi);
    phase = std::fmod(phase + hz / RATE, 1.0);
    detuned = std::fmod(detuned + hz * 1.007 / RATE, 1.0);
    tone.set(LOW_PASS, cutoff, 1.3);
    const double raw = saw(phase, hz / RATE) + 0.6 * square(detuned, hz / RATE);
    out[i] = static_cast<float>(tone.run(raw) * level);
  }
  finish(&out, 0.6);
  return out;
}

// The chemical at a blue circle: a hiss that rises in pitch with crackles through it.
Wave make_nitr() {
  Wave out(static_cast<size_t>(frames_of(0.75)));
  Noise noise{0xF1223};
  Noise sparks{0x5EED};
  Biquad hiss;
  Biquad air;
  air.set(HIGH_PASS, 1800, 0.7);
  double crackle = 0;
  for (size_t i = 0; i < out.size(); ++i) {
    const double t = static_cast<double>(i) / RATE;
    hiss.set(BAND_PASS, 2500 + 5000 * std::min(t / 0.5, 1.0), 1.4);
    const double white = noise.next();
    const double fizz = air.run(hiss.run(white) * 2.2);
    // Sparse random pops, denser early on.
    if (std::fabs(sparks.next()) > 0.9985 - 0.002 * std::exp(-t / 0.2)) crackle = 1.0;
    crackle *= 0.985;
    const double pop = crackle * white * 1.4;
    const double whump = std::sin(TAU * 85 * t) * strike(t, 0.004, 0.05) * 0.5;
    out[i] = static_cast<float>((fizz + pop) * strike(t, 0.01, 0.28) + whump);
  }
  finish(&out, 0.6);
  return out;
}

// Nothing left to place: a dull, low buzz of two beating tones.
Wave make_cant() {
  Wave out(static_cast<size_t>(frames_of(0.3)));
  Biquad dull;
  Biquad no_dc;
  dull.set(LOW_PASS, 420, 0.8);
  no_dc.set(HIGH_PASS, 50, 0.7);
  double a = 0;
  double b = 0;
  for (size_t i = 0; i < out.size(); ++i) {
    const double t = static_cast<double>(i) / RATE;
    a = std::fmod(a + 98.0 / RATE, 1.0);
    b = std::fmod(b + 104.5 / RATE, 1.0);
    const double raw = square(a, 98.0 / RATE) + 0.8 * saw(b, 104.5 / RATE);
    out[i] = static_cast<float>(no_dc.run(std::tanh(1.2 * dull.run(raw))) * gate(t, 0.28, 0.012));
  }
  finish(&out, 0.45);
  return out;
}

// The level cleaned up: a breathy swoosh that sweeps up and across from left to right.
Stereo make_clean() {
  const size_t length = static_cast<size_t>(frames_of(0.95));
  Stereo out{Wave(length), Wave(length)};
  Noise noise{0xC1EA4};
  Biquad sweep;
  Biquad sweep_high;
  for (size_t i = 0; i < length; ++i) {
    const double t = static_cast<double>(i) / RATE;
    const double progress = t / 0.95;
    const double centre =
        350.0 * std::pow(14.0, std::sin(M_PI * 0.5 * std::min(progress * 1.4, 1.0)));
    sweep.set(BAND_PASS, centre, 2.2);
    sweep_high.set(BAND_PASS, centre * 2.1, 3.0);
    const double white = noise.next();
    const double air = sweep.run(white) + 0.5 * sweep_high.run(white);
    const double swell = std::pow(std::sin(M_PI * progress), 1.6);
    const double pan = std::clamp(progress * 1.2 - 0.1, 0.0, 1.0);
    out.left[i] = static_cast<float>(air * swell * std::cos(pan * M_PI / 2));
    out.right[i] = static_cast<float>(air * swell * std::sin(pan * M_PI / 2));
  }
  Wave both = out.left;
  both.insert(both.end(), out.right.begin(), out.right.end());
  float peak = 0;
  for (float s : both) peak = std::max(peak, std::fabs(s));
  for (Wave* side : {&out.left, &out.right}) {
    for (float& s : *side) s *= 0.6f / peak;
  }
  return out;
}

// ---- The music: one loop of LOOP_BARS bars in D minor, built so its end runs into its start.

constexpr double BEAT = 60.0 / 100.0;  // 100 beats a minute
constexpr int LOOP_BARS = 16;
constexpr double LOOP_SECONDS = LOOP_BARS * 4 * BEAT;  // 38.4 s

// A loop-length stereo buffer that every note writes into modulo its length, so a note that
// rings past the end carries on at the start.
struct Loop {
  Wave left;
  Wave right;
  size_t length;

  explicit Loop(size_t frames) : left(frames), right(frames), length(frames) {}
  void add(size_t frame, double value, double pan) {
    const size_t at = frame % length;
    left[at] += static_cast<float>(value * std::cos((pan + 1) * M_PI / 4));
    right[at] += static_cast<float>(value * std::sin((pan + 1) * M_PI / 4));
  }
};

size_t at_beat(double beat) { return static_cast<size_t>(std::lround(beat * BEAT * RATE)); }

// A pad note: two detuned saws through a soft low-pass, slow to swell and to fade.
void pad_note(Loop* loop, double start_beat, double beats, double midi, double level, double pan) {
  const double hold = beats * BEAT;
  const double release = 1.6;
  const size_t frames = static_cast<size_t>((hold + release) * RATE);
  const size_t start = at_beat(start_beat);
  Biquad soft;
  soft.set(LOW_PASS, 700 + 25 * (midi - 50), 0.6);
  double a = 0;
  double b = 0.37;
  const double hz = note_hz(midi);
  for (size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / RATE;
    a = std::fmod(a + hz * 0.9965 / RATE, 1.0);
    b = std::fmod(b + hz * 1.0035 / RATE, 1.0);
    const double raw = saw(a, hz / RATE) + saw(b, hz / RATE);
    double env = std::min(t / 1.1, 1.0);
    if (t > hold) env *= std::exp(-(t - hold) / (release / 4));
    loop->add(start + i, soft.run(raw) * env * level, pan);
  }
}

// A bass pluck: a saw whose filter snaps shut.
void bass_note(Loop* loop, double start_beat, double midi, double level) {
  const size_t frames = static_cast<size_t>(0.5 * RATE);
  const size_t start = at_beat(start_beat);
  Biquad pluck;
  double phase = 0;
  const double hz = note_hz(midi);
  for (size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / RATE;
    phase = std::fmod(phase + hz / RATE, 1.0);
    pluck.set(LOW_PASS, 180 + 1400 * std::exp(-t / 0.05), 1.1);
    const double raw = saw(phase, hz / RATE) + 0.5 * std::sin(TAU * phase);
    loop->add(start + i, pluck.run(raw) * strike(t, 0.004, 0.16) * level, 0.0);
  }
}

// A low heartbeat thump.
void thump(Loop* loop, double start_beat, double level) {
  const size_t frames = static_cast<size_t>(0.35 * RATE);
  const size_t start = at_beat(start_beat);
  double phase = 0;
  for (size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / RATE;
    phase += (48.0 + 60.0 * std::exp(-t / 0.03)) / RATE;
    loop->add(start + i, std::sin(TAU * phase) * strike(t, 0.003, 0.09) * level, 0.0);
  }
}

// A ticking hat: a few milliseconds of bright noise.
void tick(Loop* loop, double start_beat, double level, Noise* noise) {
  const size_t frames = static_cast<size_t>(0.06 * RATE);
  const size_t start = at_beat(start_beat);
  Biquad bright;
  bright.set(HIGH_PASS, 7000, 0.7);
  for (size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / RATE;
    loop->add(start + i, bright.run(noise->next()) * strike(t, 0.0008, 0.012) * level, 0.35);
  }
}

// A lead note: a soft triangle and sine with a slowly growing vibrato.
void lead_note(Loop* loop, double start_beat, double beats, double midi, double level) {
  const double hold = beats * BEAT;
  const size_t frames = static_cast<size_t>((hold + 0.6) * RATE);
  const size_t start = at_beat(start_beat);
  double phase = 0;
  for (size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / RATE;
    const double vibrato = 0.18 * std::min(t / 0.8, 1.0) * std::sin(TAU * 5.2 * t);
    phase = std::fmod(phase + note_hz(midi + vibrato) / RATE, 1.0);
    double env = std::min(t / 0.06, 1.0);
    if (t > hold) env *= std::exp(-(t - hold) / 0.12);
    const double voice = 0.6 * triangle(phase) + 0.5 * std::sin(TAU * phase);
    loop->add(start + i, voice * env * level, -0.1);
  }
}

// Runs a process over the loop twice and keeps the second pass, so filters and echoes enter the
// start already carrying what the end of the loop left in them.
template <typename Process>
void circular(Wave* wave, Process process) {
  const size_t length = wave->size();
  for (size_t i = 0; i < 2 * length; ++i) {
    const float out = process((*wave)[i % length]);
    if (i >= length) (*wave)[i - length] = out;
  }
}

// A simple room: parallel feedback combs into two all-passes.
struct Reverb {
  struct Delay {
    std::vector<float> line;
    size_t at = 0;
    float feedback;
  };
  Delay combs[4];
  Delay passes[2];
  float damp[4] = {};

  explicit Reverb(double scale) {
    const int comb_lengths[] = {1557, 1617, 1491, 1422};
    const int pass_lengths[] = {556, 441};
    for (int i = 0; i < 4; ++i) {
      combs[i] = {std::vector<float>(static_cast<size_t>(comb_lengths[i] * scale)), 0, 0.83f};
    }
    for (int i = 0; i < 2; ++i) {
      passes[i] = {std::vector<float>(static_cast<size_t>(pass_lengths[i] * scale)), 0, 0.5f};
    }
  }
  float run(float x) {
    float sum = 0;
    for (int i = 0; i < 4; ++i) {
      Delay& d = combs[i];
      const float out = d.line[d.at];
      damp[i] = out * 0.6f + damp[i] * 0.4f;
      d.line[d.at] = x + damp[i] * d.feedback;
      d.at = (d.at + 1) % d.line.size();
      sum += out;
    }
    for (Delay& d : passes) {
      const float held = d.line[d.at];
      const float out = -sum + held;
      d.line[d.at] = sum + held * d.feedback;
      d.at = (d.at + 1) % d.line.size();
      sum = out;
    }
    return sum * 0.25f;
  }
};

// A dotted-eighth echo that bounces between the sides.
void ping_pong(Wave* left, Wave* right) {
  const size_t delay = at_beat(0.75);
  const size_t length = left->size();
  Wave echo_left(length);
  Wave echo_right(length);
  for (int pass = 0; pass < 2; ++pass) {
    for (size_t i = 0; i < length; ++i) {
      const size_t back = (i + length - delay) % length;
      echo_left[i] = 0.5f * ((*right)[back] + echo_right[back] * 0.7f);
      echo_right[i] = 0.5f * ((*left)[back] * 0.3f + echo_left[back] * 0.8f);
    }
  }
  for (size_t i = 0; i < length; ++i) {
    (*left)[i] += echo_left[i];
    (*right)[i] += echo_right[i];
  }
}

Stereo make_music() {
  const size_t length = static_cast<size_t>(std::lround(LOOP_SECONDS * RATE));
  Loop pads(length);
  Loop rhythm(length);
  Loop lead(length);
  Noise hats{0xD1CE};

  // Chords, four beats a bar: Dm, Bb, Gm, Dm, the dark Eb, and A leading home.
  struct Chord {
    int bars;
    int root;              // bass note
    std::vector<int> pad;  // pad voices
  };
  const Chord chords[] = {{4, 38, {50, 53, 57, 62}}, {2, 34, {50, 53, 58, 65}},
                          {2, 31, {50, 55, 58, 62}}, {4, 38, {50, 53, 57, 64}},
                          {2, 39, {51, 55, 58, 63}}, {2, 33, {49, 52, 57, 64}}};
  int bar = 0;
  for (const Chord& chord : chords) {
    const double start = bar * 4.0;
    const double beats = chord.bars * 4.0;
    for (size_t v = 0; v < chord.pad.size(); ++v) {
      pad_note(&pads, start, beats - 0.5, chord.pad[v], 0.08, -0.5 + 0.33 * static_cast<double>(v));
    }
    // The bass pulses in eighths with a gap that pushes the rhythm forward.
    const bool pattern[8] = {true, false, true, true, false, true, true, false};
    for (int b = 0; b < chord.bars; ++b) {
      for (int e = 0; e < 8; ++e) {
        if (!pattern[e]) continue;
        const bool up = (e == 6 && (bar + b) % 2 == 1);
        bass_note(&rhythm, start + b * 4 + e * 0.5, chord.root + (up ? 12 : 0),
                  e == 0 ? 0.3 : 0.22);
      }
    }
    bar += chord.bars;
  }
  for (int b = 0; b < LOOP_BARS; ++b) {
    thump(&rhythm, b * 4.0, 0.55);
    thump(&rhythm, b * 4.0 + 0.5, 0.32);
    if (b >= 2) thump(&rhythm, b * 4.0 + 2.0, 0.4);
    for (int s = 0; s < 16; ++s) {
      const double level = (s % 4 == 2) ? 0.12 : (s % 2 == 1 ? 0.045 : 0.07);
      if (b >= 1 || s >= 8) tick(&rhythm, b * 4.0 + s * 0.25, level, &hats);
    }
  }

  // The lead: a phrase that circles A and Bb, and a later one that climbs through Eb to C#.
  struct Note {
    double beat;
    double beats;
    int midi;
  };
  const Note melody[] = {
      {16, 1.5, 69},   {17.5, 0.5, 70}, {18, 2, 69}, {21, 1, 65},   {22, 2, 67},   {24, 1.5, 69},
      {25.5, 0.5, 70}, {26, 1, 72},     {27, 1, 70}, {28, 3, 69},   {48, 1.5, 74}, {49.5, 0.5, 75},
      {50, 2, 74},     {52, 1, 72},     {53, 1, 70}, {54, 2, 69},   {56, 1.5, 75}, {57.5, 0.5, 74},
      {58, 2, 70},     {60, 1, 73},     {61, 1, 76}, {62, 1.5, 73},
  };
  for (const Note& note : melody) lead_note(&lead, note.beat, note.beats, note.midi, 0.16);
  // A thin high tone hangs over the middle bars.
  for (int b = 32; b < 48; b += 8) pad_note(&pads, b, 7, 81, 0.025, 0.6);

  // Slow filter breathing on the pads, a whole number of cycles per loop.
  for (Wave* side : {&pads.left, &pads.right}) {
    Biquad breathe;
    size_t i = 0;
    circular(side, [&](float x) {
      const double cycle =
          std::sin(TAU * 4.0 * static_cast<double>(i % length) / static_cast<double>(length));
      breathe.set(LOW_PASS, 900 + 600 * cycle, 0.8);
      ++i;
      return static_cast<float>(breathe.run(x));
    });
  }
  ping_pong(&lead.left, &lead.right);

  Stereo mix{Wave(length), Wave(length)};
  for (size_t i = 0; i < length; ++i) {
    mix.left[i] = pads.left[i] + rhythm.left[i] + lead.left[i];
    mix.right[i] = pads.right[i] + rhythm.right[i] + lead.right[i];
  }
  // The room, fed from the pads and lead, slightly different on each side.
  Reverb room_left(1.0);
  Reverb room_right(1.07);
  Wave send_left(length);
  Wave send_right(length);
  for (size_t i = 0; i < length; ++i) {
    send_left[i] = pads.left[i] + lead.left[i] + 0.3f * rhythm.left[i];
    send_right[i] = pads.right[i] + lead.right[i] + 0.3f * rhythm.right[i];
  }
  circular(&send_left, [&](float x) { return room_left.run(x); });
  circular(&send_right, [&](float x) { return room_right.run(x); });
  float peak = 0;
  for (size_t i = 0; i < length; ++i) {
    mix.left[i] += 0.45f * send_left[i];
    mix.right[i] += 0.45f * send_right[i];
    peak = std::max({peak, std::fabs(mix.left[i]), std::fabs(mix.right[i])});
  }
  // Music sits under the effects: its peaks well below full scale, and the effects' peaks stay
  // low enough that the two together seldom reach it.
  for (size_t i = 0; i < length; ++i) {
    mix.left[i] = std::tanh(mix.left[i] / peak * 0.9f) * 0.55f;
    mix.right[i] = std::tanh(mix.right[i] / peak * 0.9f) * 0.55f;
  }
  return mix;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_sounds OUTPUT_DIRECTORY\n");
    return 2;
  }
  const std::string dir = std::string(argv[1]) + "/";
  struct Effect {
    const char* name;
    Wave (*make)();
  };
  const Effect effects[] = {{"warn.wav", make_warn}, {"click.wav", make_click},
                            {"bump.wav", make_bump}, {"take.wav", make_take},
                            {"win.wav", make_win},   {"lose.wav", make_lose},
                            {"nitr.wav", make_nitr}, {"cant.wav", make_cant}};
  bool ok = true;
  for (const Effect& effect : effects) {
    ok = write_wav(dir + effect.name, to_pcm(effect.make(), nullptr), 1) && ok;
  }
  const Stereo clean = make_clean();
  ok = write_wav(dir + "clean.wav", to_pcm(clean.left, &clean.right), 2) && ok;
  const Stereo music = make_music();
  const std::vector<uint8_t> ogg = ogg_encode(to_pcm(music.left, &music.right), 2, RATE, 0.35f);
  ok = !ogg.empty() && write_file(dir + "q47.ogg", ogg) && ok;
  if (!ok) {
    std::fprintf(stderr, "make_sounds: could not write the sounds into %s\n", argv[1]);
    return 1;
  }
  return 0;
}
