// libFuzzer target: any block of bytes handed to the sound slots as a RIFF WAVE file. A block
// that loads is also played, so the mixer reads the samples in the format the header claims.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "media/mixer.h"
#include "media/sound.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const int32_t ready = sound_init_without_device(44100);
  if (!ready) return 0;
  if (sound_load_memory(0, data, static_cast<int64_t>(size))) {
    sound_play(0, SOUND_PLAY_LOOP);
    sound_play(0, SOUND_PLAY_INSTANCE, 40);
    std::vector<int16_t> out(2 * 512);
    mixer_render(out.data(), 512);
    sound_stop(0, -1);
  }
  return 0;
}
