// How long the mixer takes to make one device buffer (1,024 frames, about 23 ms of sound) with
// a number of sounds playing at once, at the device rate and resampled.
#include <benchmark/benchmark.h>

#include <vector>

#include "media/mixer.h"

namespace {

void fill_and_play(int32_t buffers, int32_t channels, int32_t bits, int32_t rate) {
  for (int32_t i = 0; i < buffers; ++i) {
    const int32_t buffer = mixer_create(channels, bits, rate, 1 << 20);
    uint8_t* region = mixer_lock(buffer, 0, 1 << 20);
    for (uint32_t b = 0; b < (1u << 20); ++b) region[b] = static_cast<uint8_t>(b * 7 + i);
    mixer_unlock(buffer);
    mixer_set_volume(buffer, -300 * (i % 4));
    mixer_play(buffer, 1);
  }
}

void render_buffers(benchmark::State& state, int32_t channels, int32_t bits, int32_t rate) {
  mixer_init(44100);
  fill_and_play(static_cast<int32_t>(state.range(0)), channels, bits, rate);
  std::vector<int16_t> out(2 * 1024);
  for (auto _ : state) {
    mixer_render(out.data(), 1024);
    benchmark::DoNotOptimize(out.data());
  }
  mixer_shutdown();
}

void BM_MixStereo16AtDeviceRate(benchmark::State& state) { render_buffers(state, 2, 16, 44100); }
void BM_MixMono8Resampled(benchmark::State& state) { render_buffers(state, 1, 8, 22050); }

}  // namespace

BENCHMARK(BM_MixStereo16AtDeviceRate)->Arg(1)->Arg(10)->Arg(32);
BENCHMARK(BM_MixMono8Resampled)->Arg(1)->Arg(10)->Arg(32);
BENCHMARK_MAIN();
