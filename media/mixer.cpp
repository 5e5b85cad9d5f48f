#include "media/mixer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

namespace {

struct MixBuffer {
  std::shared_ptr<std::vector<uint8_t>> samples;  // PCM shared with duplicates
  std::vector<uint8_t> locked;                    // the caller's copy between lock and unlock
  uint32_t locked_offset;                         // where the locked copy goes back
  bool is_locked;                                 // a region is out with the caller
  int32_t channels;                               // 1 or 2
  int32_t bits;                                   // 8 (unsigned) or 16 (signed little-endian)
  int32_t rate;                                   // the samples' own rate (Hz)
  uint32_t block_align;                           // bytes per frame
  uint32_t frame_count;                           // whole frames in samples
  uint64_t position;                              // play position in frames, 32.32 fixed point
  bool playing;                                   // being mixed now
  bool looping;                                   // wraps to frame 0 at the end instead of stopping
  int32_t volume;                                 // hundredths of a dB, MIXER_VOLUME_SILENT..0
  int32_t pan;                                    // hundredths of a dB off the other side
  int32_t frequency;                              // playback rate (Hz)
  float gain_left;  // volume and pan as linear factors, kept in step with them
  float gain_right;
};

struct MixerState {
  std::mutex lock;  // guards every field here: the device thread, the game and the stream
                    // refill thread all reach the buffers
  std::vector<std::unique_ptr<MixBuffer>> buffers;  // index + 1 is the handle; null = free
  std::vector<float> sum;                           // scratch for one render's stereo sum
  int32_t device_rate = 44100;                      // output frames per second
  bool muted = false;                               // render silence, advance positions
};

MixerState mixer;

MixBuffer* find(int32_t handle) {
  if (handle <= 0 || static_cast<size_t>(handle) > mixer.buffers.size()) return nullptr;
  return mixer.buffers[static_cast<size_t>(handle) - 1].get();
}

float db_gain(int32_t hundredths) {
  if (hundredths <= MIXER_VOLUME_SILENT) return 0.0f;
  return static_cast<float>(std::pow(10.0, hundredths / 2000.0));
}

void update_gains(MixBuffer* buffer) {
  buffer->gain_left = db_gain(buffer->volume + std::min(0, -buffer->pan));
  buffer->gain_right = db_gain(buffer->volume + std::min(0, buffer->pan));
}

int32_t store(std::unique_ptr<MixBuffer> buffer) {
  for (size_t i = 0; i < mixer.buffers.size(); ++i) {
    if (!mixer.buffers[i]) {
      mixer.buffers[i] = std::move(buffer);
      return static_cast<int32_t>(i + 1);
    }
  }
  mixer.buffers.push_back(std::move(buffer));
  return static_cast<int32_t>(mixer.buffers.size());
}

// One frame as left and right sample values in the 16-bit range.
void read_frame(const MixBuffer& buffer, const uint8_t* data, uint32_t frame, float* left,
                float* right) {
  const uint8_t* at = data + static_cast<size_t>(frame) * buffer.block_align;
  float first;
  float second;
  if (buffer.bits == 8) {
    first = static_cast<float>((at[0] - 128) * 256);
    second = buffer.channels == 2 ? static_cast<float>((at[1] - 128) * 256) : first;
  } else {
    first = static_cast<float>(static_cast<int16_t>(at[0] | (at[1] << 8)));
    second = buffer.channels == 2 ? static_cast<float>(static_cast<int16_t>(at[2] | (at[3] << 8)))
                                  : first;
  }
  *left = first;
  *right = second;
}

// Adds frames frames of one buffer into the sum, stepping at its frequency with linear
// interpolation. At a frequency equal to the device rate the fraction stays 0 and the samples
// pass through unchanged.
void mix_buffer(MixBuffer* buffer, float* sum, int32_t frames) {
  const uint8_t* data = buffer->samples->data();
  const uint64_t end = static_cast<uint64_t>(buffer->frame_count) << 32;
  const uint64_t step =
      (static_cast<uint64_t>(buffer->frequency) << 32) / static_cast<uint64_t>(mixer.device_rate);
  for (int32_t i = 0; i < frames; ++i) {
    if (buffer->position >= end) {
      if (!buffer->looping) {
        buffer->playing = false;
        buffer->position = 0;
        return;
      }
      buffer->position %= end;
    }
    const uint32_t frame = static_cast<uint32_t>(buffer->position >> 32);
    const uint32_t fraction = static_cast<uint32_t>(buffer->position);
    float left;
    float right;
    read_frame(*buffer, data, frame, &left, &right);
    if (fraction != 0) {
      uint32_t next = frame + 1;
      float next_left = 0.0f;
      float next_right = 0.0f;
      if (next >= buffer->frame_count && buffer->looping) next = 0;
      if (next < buffer->frame_count) read_frame(*buffer, data, next, &next_left, &next_right);
      const float t = static_cast<float>(fraction) * (1.0f / 4294967296.0f);
      left += (next_left - left) * t;
      right += (next_right - right) * t;
    }
    sum[2 * i] += left * buffer->gain_left;
    sum[2 * i + 1] += right * buffer->gain_right;
    buffer->position += step;
    // A sound that does not loop reports itself stopped as soon as its last frame is mixed.
    if (buffer->position >= end && !buffer->looping) {
      buffer->playing = false;
      buffer->position = 0;
      return;
    }
  }
}

}  // namespace

void mixer_init(int32_t device_rate) {
  std::lock_guard guard(mixer.lock);
  mixer.buffers.clear();
  mixer.muted = false;
  mixer.device_rate = std::clamp(device_rate, MIXER_RATE_MIN, MIXER_RATE_MAX);
}

void mixer_shutdown() {
  std::lock_guard guard(mixer.lock);
  mixer.buffers.clear();
}

int32_t mixer_create(int32_t channels, int32_t bits, int32_t rate, uint32_t bytes) {
  if (channels != 1 && channels != 2) return 0;
  if (bits != 8 && bits != 16) return 0;
  if (rate < MIXER_RATE_MIN || rate > MIXER_RATE_MAX) return 0;
  const uint32_t block_align = static_cast<uint32_t>(channels * bits / 8);
  if (bytes < block_align) return 0;
  auto buffer = std::make_unique<MixBuffer>();
  buffer->samples = std::make_shared<std::vector<uint8_t>>(bytes, bits == 8 ? 0x80 : 0);
  buffer->channels = channels;
  buffer->bits = bits;
  buffer->rate = rate;
  buffer->block_align = block_align;
  buffer->frame_count = bytes / block_align;
  buffer->frequency = rate;
  update_gains(buffer.get());
  std::lock_guard guard(mixer.lock);
  return store(std::move(buffer));
}

int32_t mixer_create_holding(int32_t channels, int32_t bits, int32_t rate,
                             std::vector<uint8_t>* samples) {
  if (!samples || (channels != 1 && channels != 2) || (bits != 8 && bits != 16)) return 0;
  if (rate < MIXER_RATE_MIN || rate > MIXER_RATE_MAX) return 0;
  const uint32_t block_align = static_cast<uint32_t>(channels * bits / 8);
  const size_t whole = samples->size() - samples->size() % block_align;
  if (whole < block_align || whole > UINT32_MAX) return 0;
  auto buffer = std::make_unique<MixBuffer>();
  samples->resize(whole);
  buffer->samples = std::make_shared<std::vector<uint8_t>>(std::move(*samples));
  samples->clear();
  buffer->channels = channels;
  buffer->bits = bits;
  buffer->rate = rate;
  buffer->block_align = block_align;
  buffer->frame_count = static_cast<uint32_t>(whole / block_align);
  buffer->frequency = rate;
  update_gains(buffer.get());
  std::lock_guard guard(mixer.lock);
  return store(std::move(buffer));
}

int32_t mixer_duplicate(int32_t handle) {
  std::lock_guard guard(mixer.lock);
  const MixBuffer* original = find(handle);
  if (!original) return 0;
  auto copy = std::make_unique<MixBuffer>();
  copy->samples = original->samples;
  copy->channels = original->channels;
  copy->bits = original->bits;
  copy->rate = original->rate;
  copy->block_align = original->block_align;
  copy->frame_count = original->frame_count;
  copy->frequency = original->rate;
  update_gains(copy.get());
  return store(std::move(copy));
}

void mixer_release(int32_t handle) {
  std::lock_guard guard(mixer.lock);
  if (find(handle)) mixer.buffers[static_cast<size_t>(handle) - 1].reset();
}

uint8_t* mixer_lock(int32_t handle, uint32_t offset, uint32_t bytes) {
  std::lock_guard guard(mixer.lock);
  MixBuffer* buffer = find(handle);
  if (!buffer || buffer->is_locked) return nullptr;
  const std::vector<uint8_t>& samples = *buffer->samples;
  if (bytes == 0 || offset > samples.size() || bytes > samples.size() - offset) return nullptr;
  buffer->locked.assign(samples.begin() + offset, samples.begin() + offset + bytes);
  buffer->locked_offset = offset;
  buffer->is_locked = true;
  return buffer->locked.data();
}

int32_t mixer_unlock(int32_t handle) {
  std::lock_guard guard(mixer.lock);
  MixBuffer* buffer = find(handle);
  if (!buffer || !buffer->is_locked) return 0;
  std::memcpy(buffer->samples->data() + buffer->locked_offset, buffer->locked.data(),
              buffer->locked.size());
  // Kept, the copy of a sound loaded through a lock would hold its samples a second time.
  std::vector<uint8_t>().swap(buffer->locked);
  buffer->is_locked = false;
  return 1;
}

int32_t mixer_play(int32_t handle, int32_t looping) {
  std::lock_guard guard(mixer.lock);
  MixBuffer* buffer = find(handle);
  if (!buffer) return 0;
  buffer->playing = true;
  buffer->looping = looping != 0;
  return 1;
}

void mixer_stop(int32_t handle) {
  std::lock_guard guard(mixer.lock);
  if (MixBuffer* buffer = find(handle)) buffer->playing = false;
}

int32_t mixer_playing(int32_t handle) {
  std::lock_guard guard(mixer.lock);
  const MixBuffer* buffer = find(handle);
  return buffer && buffer->playing ? 1 : 0;
}

void mixer_set_position(int32_t handle, uint32_t offset) {
  std::lock_guard guard(mixer.lock);
  MixBuffer* buffer = find(handle);
  if (!buffer) return;
  const uint32_t frame = std::min(offset / buffer->block_align, buffer->frame_count - 1);
  buffer->position = static_cast<uint64_t>(frame) << 32;
}

uint32_t mixer_position(int32_t handle) {
  std::lock_guard guard(mixer.lock);
  const MixBuffer* buffer = find(handle);
  if (!buffer) return 0;
  const uint64_t frame = std::min<uint64_t>(buffer->position >> 32, buffer->frame_count);
  return static_cast<uint32_t>(frame * buffer->block_align);
}

void mixer_set_volume(int32_t handle, int32_t volume) {
  std::lock_guard guard(mixer.lock);
  MixBuffer* buffer = find(handle);
  if (!buffer) return;
  buffer->volume = std::clamp(volume, MIXER_VOLUME_SILENT, 0);
  update_gains(buffer);
}

int32_t mixer_volume(int32_t handle) {
  std::lock_guard guard(mixer.lock);
  const MixBuffer* buffer = find(handle);
  return buffer ? buffer->volume : 0;
}

void mixer_set_pan(int32_t handle, int32_t pan) {
  std::lock_guard guard(mixer.lock);
  MixBuffer* buffer = find(handle);
  if (!buffer) return;
  buffer->pan = std::clamp(pan, -MIXER_PAN_LIMIT, MIXER_PAN_LIMIT);
  update_gains(buffer);
}

int32_t mixer_pan(int32_t handle) {
  std::lock_guard guard(mixer.lock);
  const MixBuffer* buffer = find(handle);
  return buffer ? buffer->pan : 0;
}

void mixer_set_frequency(int32_t handle, int32_t frequency) {
  std::lock_guard guard(mixer.lock);
  MixBuffer* buffer = find(handle);
  if (!buffer) return;
  buffer->frequency =
      frequency == 0 ? buffer->rate : std::clamp(frequency, MIXER_RATE_MIN, MIXER_RATE_MAX);
}

int32_t mixer_frequency(int32_t handle) {
  std::lock_guard guard(mixer.lock);
  const MixBuffer* buffer = find(handle);
  return buffer ? buffer->frequency : 0;
}

void mixer_render(int16_t* out, int32_t frames) {
  if (frames <= 0) return;
  std::lock_guard guard(mixer.lock);
  mixer.sum.assign(static_cast<size_t>(frames) * 2, 0.0f);
  for (auto& buffer : mixer.buffers) {
    if (buffer && buffer->playing) mix_buffer(buffer.get(), mixer.sum.data(), frames);
  }
  if (mixer.muted) {
    std::memset(out, 0, mixer.sum.size() * sizeof(int16_t));
    return;
  }
  for (size_t i = 0; i < mixer.sum.size(); ++i) {
    const float value = std::clamp(mixer.sum[i], -32768.0f, 32767.0f);
    out[i] = static_cast<int16_t>(std::lrint(value));
  }
}

int32_t mixer_buffer_count() {
  std::lock_guard guard(mixer.lock);
  return static_cast<int32_t>(std::count_if(mixer.buffers.begin(), mixer.buffers.end(),
                                            [](auto& b) { return b != nullptr; }));
}

int64_t mixer_bytes_held() {
  std::lock_guard guard(mixer.lock);
  std::set<const std::vector<uint8_t>*> counted;
  int64_t bytes = 0;
  for (const auto& buffer : mixer.buffers) {
    if (!buffer) continue;
    if (counted.insert(buffer->samples.get()).second) {
      bytes += static_cast<int64_t>(buffer->samples->capacity());
    }
    bytes += static_cast<int64_t>(buffer->locked.capacity());
  }
  return bytes;
}

void mixer_set_muted(int32_t muted) {
  std::lock_guard guard(mixer.lock);
  mixer.muted = muted != 0;
}

int32_t mixer_muted() {
  std::lock_guard guard(mixer.lock);
  return mixer.muted ? 1 : 0;
}
