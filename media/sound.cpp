#include "media/sound.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "media/decoder.h"
#include "media/mixer.h"
#include "media/timing.h"
#include "media/wav.h"

namespace {

constexpr int32_t SOUND_DEVICE_RATE = 44100;     // frames per second of the output
constexpr int32_t SOUND_DEVICE_FRAMES = 1024;    // frames per device buffer (about 23 ms)
constexpr int32_t SOUND_TABLE_START = 64;        // numbered slots made by sound_init
constexpr int32_t SOUND_TABLE_GROWTH = 64;       // slots past a new id when the table grows
// Numbered ids are small; a bigger one would grow the table by gigabytes, so it is refused.
constexpr int32_t SOUND_ID_LIMIT = 65536;
// Handles of slots made for id -1 start here, far above any numbered id.
constexpr int32_t SOUND_UNNUMBERED_BASE = 0x40000000;
constexpr int64_t DECODE_LIMIT_BYTES = 64000000;  // largest sound decoded whole
constexpr uint32_t STREAM_BUFFER_BYTES = 65536;   // a stream's looping output buffer
constexpr uint32_t STREAM_HALF_BYTES = STREAM_BUFFER_BYTES / 2;  // refilled one at a time
constexpr int32_t STREAM_POLL_MS = 10;            // refill thread's look at the play cursor

struct SoundSlot {
  int32_t output = 0;                // mixer buffer of the main playback; 0 = empty slot
  std::vector<int32_t> instances;    // overlapping copies started with flag 2, newest first
  int32_t default_pan = 0;           // read back at load; given to each new instance
  int32_t default_frequency = 0;     // read back at load (Hz)
  int32_t default_volume = 0;        // read back at load (hundredths of a dB)
  DecoderHandle* decoder = nullptr;  // streams only: the open decoder, owned by the slot
  uint32_t buffer_bytes = 0;         // streams only: size of the looping buffer
  std::atomic<uint8_t> run_flag{0};  // streams only: the refill thread runs while this is 1
  std::atomic<uint8_t> thread_alive{0};  // streams only: a refill thread exists for the slot
  int32_t loop_flag = 0;             // streams only: flags of the last play, read by the thread
  std::atomic<uint32_t> refills{0};  // streams only: halves decoded since the last play
};

struct SoundState {
  bool table_ready = false;                             // sound_init has made the slots
  std::vector<std::unique_ptr<SoundSlot>> slots;        // numbered slots; addresses stay put
                                                        // for the refill threads
  std::map<int32_t, std::unique_ptr<SoundSlot>> unnumbered;  // id -1 slots by handle, oldest
                                                             // first
  int32_t next_unnumbered = SOUND_UNNUMBERED_BASE;      // handle for the next id -1 slot
  int32_t volume_table[101] = {};                       // percent -> attenuation + 10000
  SDL_AudioDeviceID device = 0;                         // the open output, 0 = none
  void (*play_observer)(int32_t, int32_t) = nullptr;    // who hears every sound_play call
};

SoundState sound;

void SDLCALL pull_samples(void*, Uint8* stream, int bytes) {
  mixer_render(reinterpret_cast<int16_t*>(stream), bytes / 4);
}

void make_table() {
  if (sound.table_ready) return;
  sound.slots.clear();
  for (int32_t i = 0; i < SOUND_TABLE_START; ++i) sound.slots.push_back(std::make_unique<SoundSlot>());
  sound.volume_table[0] = 0;
  sound.volume_table[100] = 10000;
  for (int32_t p = 1; p < 100; ++p) {
    sound.volume_table[p] = static_cast<int32_t>(std::log10(1000.0 * p) * 20.0 * 100.0);
  }
  sound.table_ready = true;
}

SoundSlot* find_slot(int32_t id) {
  if (!sound.table_ready) return nullptr;
  if (id >= SOUND_UNNUMBERED_BASE) {
    auto found = sound.unnumbered.find(id);
    return found == sound.unnumbered.end() ? nullptr : found->second.get();
  }
  if (id < 0 || static_cast<size_t>(id) >= sound.slots.size()) return nullptr;
  return sound.slots[static_cast<size_t>(id)].get();
}

// The slot that holds a sound under id, or null.
SoundSlot* loaded_slot(int32_t id) {
  SoundSlot* slot = find_slot(id);
  return slot && slot->output ? slot : nullptr;
}

bool valid_load_id(int32_t id) {
  if (id == -1) return true;
  if (id >= SOUND_UNNUMBERED_BASE) return sound.unnumbered.count(id) != 0;
  return id >= 0 && id < SOUND_ID_LIMIT;
}

// Empties a slot: ends its refill thread, closes its decoder, releases its buffers.
void free_slot(SoundSlot* slot) {
  if (slot->decoder) {
    slot->run_flag = 0;
    while (slot->thread_alive) std::this_thread::yield();
    decoder_close(slot->decoder);
    slot->decoder = nullptr;
  }
  for (int32_t instance : slot->instances) mixer_release(instance);
  slot->instances.clear();
  mixer_release(slot->output);
  slot->output = 0;
  slot->default_pan = slot->default_frequency = slot->default_volume = 0;
  slot->buffer_bytes = 0;
  slot->loop_flag = 0;
}

// The slot a load goes into, emptied: id's slot (the table grows for it) or a new id -1 slot.
// *taken_id receives the id.
SoundSlot* take_slot(int32_t id, int32_t* taken_id) {
  if (id == -1) {
    id = sound.next_unnumbered++;
    sound.unnumbered[id] = std::make_unique<SoundSlot>();
  } else if (id < SOUND_UNNUMBERED_BASE && static_cast<size_t>(id) >= sound.slots.size()) {
    while (sound.slots.size() < static_cast<size_t>(id) + SOUND_TABLE_GROWTH) {
      sound.slots.push_back(std::make_unique<SoundSlot>());
    }
  }
  SoundSlot* slot = find_slot(id);
  if (slot->output) free_slot(slot);
  *taken_id = id;
  return slot;
}

// A failed load into a new id -1 slot must not leave the slot behind.
void drop_if_unnumbered_empty(int32_t id) {
  auto found = sound.unnumbered.find(id);
  if (found != sound.unnumbered.end() && !found->second->output) sound.unnumbered.erase(found);
}

int32_t load_result(int32_t id, int32_t taken_id) { return id == -1 ? taken_id : 1; }

// Makes a static buffer of samples in the given format and puts it in the slot. The old sound
// is replaced only once the new buffer exists and holds the samples.
int32_t load_pcm(int32_t id, int32_t channels, int32_t bits, int32_t rate, const uint8_t* samples,
                 uint32_t bytes) {
  const int32_t buffer = mixer_create(channels, bits, rate, bytes);
  if (!buffer) return 0;
  uint8_t* region = mixer_lock(buffer, 0, bytes);
  if (!region) {
    mixer_release(buffer);
    return 0;
  }
  std::memcpy(region, samples, bytes);
  int32_t taken_id = 0;
  SoundSlot* slot = take_slot(id, &taken_id);
  slot->output = buffer;
  slot->default_pan = mixer_pan(buffer);
  slot->default_frequency = mixer_frequency(buffer);
  slot->default_volume = mixer_volume(buffer);
  mixer_unlock(buffer);
  return load_result(id, taken_id);
}

int32_t load_wav(int32_t id, const uint8_t* block, int64_t size) {
  WavSound wav{};
  if (!wav_parse(block, static_cast<uint64_t>(size), &wav)) return 0;
  // Only linear PCM at 8 or 16 bits, mono or stereo, whose frame size matches, is accepted.
  if (wav.format_tag != 1 || (wav.channels != 1 && wav.channels != 2)) return 0;
  if ((wav.bits != 8 && wav.bits != 16) || wav.block_align != wav.channels * wav.bits / 8) return 0;
  if (wav.rate > static_cast<uint32_t>(MIXER_RATE_MAX)) return 0;
  const uint32_t bytes = wav.sample_bytes - wav.sample_bytes % std::max<uint32_t>(wav.block_align, 1);
  return load_pcm(id, wav.channels, wav.bits, static_cast<int32_t>(wav.rate), wav.samples, bytes);
}

// Decodes a whole sound with a decoder that accepted it, then loads the PCM.
int32_t load_decoded(int32_t id, DecoderHandle* handle) {
  const Decoder* decoder = handle->decoder;
  const int32_t channels = decoder->channels(handle);
  const int32_t rate = decoder->rate(handle);
  const int64_t frame_bytes = static_cast<int64_t>(std::max(channels, 1)) * 2;
  int64_t bytes = std::max<int64_t>(decoder->length(handle), 0);
  bytes = std::min(bytes, DECODE_LIMIT_BYTES / frame_bytes) * frame_bytes;
  if (channels < 1 || channels > 2 || bytes == 0) {
    decoder_close(handle);
    return 0;
  }
  std::unique_ptr<uint8_t[]> samples(new (std::nothrow) uint8_t[static_cast<size_t>(bytes)]);
  if (!samples) {
    decoder_close(handle);
    return 0;
  }
  const int64_t got = std::clamp<int64_t>(decoder->read(handle, samples.get(), bytes, 0), 0, bytes);
  std::memset(samples.get() + got, 0, static_cast<size_t>(bytes - got));
  decoder_close(handle);
  return load_pcm(id, channels, 16, rate, samples.get(), static_cast<uint32_t>(bytes));
}

// Gives the slot a looping buffer fed by the decoder. The old sound is freed before the new
// buffer exists, so a buffer that cannot be made leaves the slot empty.
int32_t load_stream(int32_t id, DecoderHandle* handle) {
  int32_t taken_id = 0;
  SoundSlot* slot = take_slot(id, &taken_id);
  const int32_t buffer = mixer_create(handle->decoder->channels(handle), 16,
                                      handle->decoder->rate(handle), STREAM_BUFFER_BYTES);
  if (!buffer) {
    decoder_close(handle);
    drop_if_unnumbered_empty(taken_id);
    return 0;
  }
  slot->output = buffer;
  slot->decoder = handle;
  slot->buffer_bytes = STREAM_BUFFER_BYTES;
  slot->default_pan = mixer_pan(buffer);
  slot->default_frequency = mixer_frequency(buffer);
  slot->default_volume = mixer_volume(buffer);
  return load_result(id, taken_id);
}

// Decodes the next half buffer of a stream into the half at offset, silence after the data.
// 1 when the decoder gave at least one byte.
int32_t refill_half(SoundSlot* slot, uint32_t offset) {
  uint8_t* region = mixer_lock(slot->output, offset, STREAM_HALF_BYTES);
  if (!region) return 0;
  const Decoder* decoder = slot->decoder->decoder;
  const int64_t got = std::clamp<int64_t>(
      decoder->read(slot->decoder, region, STREAM_HALF_BYTES, slot->loop_flag), 0, STREAM_HALF_BYTES);
  std::memset(region + got, 0, STREAM_HALF_BYTES - static_cast<size_t>(got));
  mixer_unlock(slot->output);
  ++slot->refills;
  return got > 0 ? 1 : 0;
}

// Keeps a playing stream's buffer ahead of the play cursor: whenever the cursor leaves a half,
// that half gets the next data. Past the end of data that does not loop, it lets the last data
// play out, then stops the buffer.
void refill_thread(SoundSlot* slot) {
  uint32_t next = 1;
  bool pending = false;
  int32_t ended = 0;
  while (slot->run_flag == 1) {
    delay_ms(STREAM_POLL_MS);
    const uint32_t cursor = mixer_position(slot->output);
    uint32_t target = 0;
    bool refill = false;
    if (next == 0) {
      refill = cursor > STREAM_HALF_BYTES;
    } else {
      if (cursor < STREAM_HALF_BYTES) {
        pending = true;
        target = STREAM_HALF_BYTES;
      }
      refill = pending;
    }
    if (refill) {
      if (ended != 0) {
        ++ended;
      } else if (!refill_half(slot, target)) {
        ended = 1;
      }
      next = 1 - next;
      pending = false;
    }
    if (ended == 2) {
      mixer_stop(slot->output);
      slot->run_flag = 0;
      break;
    }
  }
  slot->thread_alive = 0;
}

void stop_buffer(int32_t buffer) {
  mixer_stop(buffer);
  mixer_set_position(buffer, 0);
}

int32_t play_stream(int32_t id, SoundSlot* slot, int32_t flags, int32_t volume) {
  sound_stop(id);
  while (slot->thread_alive) delay_ms(STREAM_POLL_MS);
  slot->decoder->decoder->rewind(slot->decoder);
  slot->loop_flag = flags;
  slot->run_flag = 1;
  slot->refills = 0;
  refill_half(slot, 0);
  // Marked alive before the thread exists, so a stop, play or free that follows at once waits
  // for it rather than racing a thread that has not started yet.
  slot->thread_alive = 1;
  try {
    std::thread(refill_thread, slot).detach();
  } catch (const std::system_error&) {
    // Without a refill the buffer would repeat its first half forever; stay silent instead.
    slot->thread_alive = 0;
    slot->run_flag = 0;
    return 0;
  }
  if (volume != -1) sound_set_volume(id, volume);
  mixer_set_position(slot->output, 0);
  mixer_play(slot->output, 1);
  return 0;
}

bool owns_instance(const SoundSlot* slot, intptr_t instance) {
  return std::find(slot->instances.begin(), slot->instances.end(), instance) !=
         slot->instances.end();
}

void stop_slot(SoundSlot* slot, intptr_t instance) {
  if (instance == 0 || instance == -1) stop_buffer(slot->output);
  if (instance == -1) {
    for (int32_t copy : slot->instances) stop_buffer(copy);
  } else if (instance != 0 && owns_instance(slot, instance)) {
    stop_buffer(static_cast<int32_t>(instance));
  }
  slot->run_flag = 0;
}

int32_t load_block(int32_t id, const uint8_t* block, int64_t size) {
  if (!block || size <= 0) return 0;
  if (size >= 4 && std::memcmp(block, "RIFF", 4) == 0) return load_wav(id, block, size);
  DecoderHandle* handle = decoder_open_memory(block, size);
  return handle ? load_decoded(id, handle) : 0;
}

}  // namespace

int32_t sound_init() {
  make_table();
  if (sound.device) return 1;
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return 0;
  mixer_init(SOUND_DEVICE_RATE);
  SDL_AudioSpec want{};
  want.freq = SOUND_DEVICE_RATE;
  want.format = AUDIO_S16SYS;
  want.channels = 2;
  want.samples = SOUND_DEVICE_FRAMES;
  want.callback = pull_samples;
  // No changes allowed: SDL converts to whatever the hardware wants, so the mixer's output
  // format never varies.
  sound.device = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
  if (!sound.device) {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return 0;
  }
  SDL_PauseAudioDevice(sound.device, 0);
  return 1;
}

int32_t sound_init_without_device(int32_t device_rate) {
  make_table();
  mixer_init(device_rate);
  return 1;
}

void sound_shutdown() {
  if (!sound.table_ready) return;
  for (auto& slot : sound.slots) {
    if (slot->output) free_slot(slot.get());
  }
  for (auto& entry : sound.unnumbered) free_slot(entry.second.get());
  sound.unnumbered.clear();
  sound.slots.clear();
  sound.table_ready = false;
  if (sound.device) {
    SDL_CloseAudioDevice(sound.device);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    sound.device = 0;
  }
  mixer_shutdown();
}

int32_t sound_load(int32_t id, const char* path, int32_t flags) {
  if (!sound.table_ready || !path || !valid_load_id(id)) return 0;
  std::FILE* file = std::fopen(path, "rb");
  if (!file) return 0;
  if (flags & SOUND_LOAD_STREAM) {
    std::fclose(file);
    DecoderHandle* handle = decoder_open_file(path);
    return handle ? load_stream(id, handle) : 0;
  }
  int64_t size = -1;
  if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
  std::unique_ptr<uint8_t[]> block;
  if (size > 0 && std::fseek(file, 0, SEEK_SET) == 0) {
    block.reset(new (std::nothrow) uint8_t[static_cast<size_t>(size)]);
  }
  // A file that cannot be read whole in one piece is not loaded at all.
  const bool read_whole =
      block && std::fread(block.get(), 1, static_cast<size_t>(size), file) == static_cast<size_t>(size);
  std::fclose(file);
  return read_whole ? load_block(id, block.get(), size) : 0;
}

int32_t sound_load_memory(int32_t id, const void* data, int64_t size, int32_t flags) {
  if (!sound.table_ready || !data || size <= 0 || !valid_load_id(id)) return 0;
  if (flags & SOUND_LOAD_STREAM) {
    DecoderHandle* handle = decoder_open_memory(data, size);
    return handle ? load_stream(id, handle) : 0;
  }
  return load_block(id, static_cast<const uint8_t*>(data), size);
}

intptr_t sound_play(int32_t id, int32_t flags, int32_t volume) {
  if (sound.play_observer) sound.play_observer(id, flags);
  SoundSlot* slot = loaded_slot(id);
  if (!slot) return 0;
  if (slot->decoder) return play_stream(id, slot, flags, volume);
  if (!(flags & SOUND_PLAY_INSTANCE)) {
    stop_buffer(slot->output);
    if (volume != -1) sound_set_volume(id, volume);
    return mixer_play(slot->output, flags & SOUND_PLAY_LOOP);
  }
  auto finished = std::remove_if(slot->instances.begin(), slot->instances.end(), [](int32_t copy) {
    if (mixer_playing(copy)) return false;
    mixer_release(copy);
    return true;
  });
  slot->instances.erase(finished, slot->instances.end());
  const int32_t copy = mixer_duplicate(slot->output);
  if (!copy) return 0;
  slot->instances.insert(slot->instances.begin(), copy);
  mixer_set_frequency(copy, slot->default_frequency);
  mixer_set_pan(copy, slot->default_pan);
  if (volume != -1) {
    sound_set_volume(id, volume, copy);
  } else {
    mixer_set_volume(copy, slot->default_volume);
  }
  mixer_play(copy, flags & SOUND_PLAY_LOOP);
  return copy;
}

void sound_set_volume(int32_t id, int32_t percent, intptr_t instance) {
  SoundSlot* slot = loaded_slot(id);
  if (!slot) return;
  const int32_t volume = sound.volume_table[std::clamp(percent, 0, 100)] - 10000;
  if (instance == 0 || instance == -1) mixer_set_volume(slot->output, volume);
  if (instance == -1) {
    for (int32_t copy : slot->instances) mixer_set_volume(copy, volume);
  } else if (instance != 0 && owns_instance(slot, instance)) {
    mixer_set_volume(static_cast<int32_t>(instance), volume);
  }
}

void sound_stop(int32_t id, intptr_t instance) {
  if (id == -1) {
    if (!sound.table_ready) return;
    for (auto& slot : sound.slots) {
      if (slot->output) stop_slot(slot.get(), 0);
    }
    for (auto& entry : sound.unnumbered) {
      if (entry.second->output) stop_slot(entry.second.get(), 0);
    }
    return;
  }
  if (SoundSlot* slot = loaded_slot(id)) stop_slot(slot, instance);
}

int32_t sound_playing(int32_t id) {
  SoundSlot* slot = loaded_slot(id);
  return slot ? mixer_playing(slot->output) : 0;
}

int32_t sound_stream_refills(int32_t id) {
  SoundSlot* slot = loaded_slot(id);
  return slot && slot->decoder ? static_cast<int32_t>(slot->refills.load()) : 0;
}

int32_t sound_volume(int32_t id) {
  SoundSlot* slot = loaded_slot(id);
  return slot ? mixer_volume(slot->output) : 0;
}

void sound_set_play_observer(void (*observer)(int32_t, int32_t)) { sound.play_observer = observer; }
