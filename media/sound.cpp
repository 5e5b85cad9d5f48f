#include "media/sound.h"

#include <SDL.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <vector>

#include "media/decoder.h"
#include "media/mixer.h"
#include "media/music.h"
#include "media/wav.h"

namespace {

constexpr int32_t SOUND_DEVICE_RATE = 44100;   // frames per second of the output
constexpr int32_t SOUND_DEVICE_FRAMES = 1024;  // frames per device buffer (about 23 ms)
constexpr int32_t SOUND_TABLE_START = 64;      // numbered slots made by sound_init
constexpr int32_t SOUND_TABLE_GROWTH = 64;     // slots past a new id when the table grows
// Numbered ids are small; a bigger one would grow the table by gigabytes, so it is refused.
constexpr int32_t SOUND_ID_LIMIT = 65536;
// Handles of slots made for id -1 start here, far above any numbered id.
constexpr int32_t SOUND_UNNUMBERED_BASE = 0x40000000;
// Chunks ahead of a WAV file's samples are read whole to find them; more than this is not a
// sound file we take.
constexpr int64_t WAV_HEAD_LIMIT = 1 << 20;

struct SoundSlot {
  int32_t output = 0;              // mixer buffer of the main playback; 0 = empty slot
  std::vector<int32_t> instances;  // overlapping copies started with flag 2, newest first
  int32_t default_pan = 0;         // read back at load; given to each new instance
  int32_t default_frequency = 0;   // read back at load (Hz)
  int32_t default_volume = 0;      // read back at load (hundredths of a dB)
  MusicStream* stream = nullptr;   // streams only: decoder, buffer and refills, owned
};

struct SoundState {
  bool table_ready = false;                                  // sound_init has made the slots
  std::vector<std::unique_ptr<SoundSlot>> slots;             // numbered slots; addresses stay put
  std::map<int32_t, std::unique_ptr<SoundSlot>> unnumbered;  // id -1 slots by handle, oldest
                                                             // first
  int32_t next_unnumbered = SOUND_UNNUMBERED_BASE;           // handle for the next id -1 slot
  int32_t volume_table[101] = {};                            // percent -> attenuation + 10000
  SDL_AudioDeviceID device = 0;                              // the open output, 0 = none
  void (*play_observer)(int32_t, int32_t) = nullptr;         // who hears every sound_play call
  SoundLoadFailure last_failure{};                           // why the last load failed
};

SoundState sound;

void SDLCALL pull_samples(void*, Uint8* stream, int bytes) {
  mixer_render(reinterpret_cast<int16_t*>(stream), bytes / 4);
}

void make_table() {
  if (sound.table_ready) return;
  sound.slots.clear();
  for (int32_t i = 0; i < SOUND_TABLE_START; ++i)
    sound.slots.push_back(std::make_unique<SoundSlot>());
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

// Notes why a load failed and returns 0 for the load to return.
int32_t refuse(int32_t reason, int64_t bytes = 0) {
  sound.last_failure = {reason, bytes};
  return 0;
}

// Empties a slot: a stream's thread ends and its decoder closes while its buffer still exists,
// then the buffers go.
void free_slot(SoundSlot* slot) {
  for (int32_t instance : slot->instances) mixer_release(instance);
  slot->instances.clear();
  if (slot->stream) {
    music_stream_close(slot->stream);
    slot->stream = nullptr;
  } else {
    mixer_release(slot->output);
  }
  slot->output = 0;
  slot->default_pan = slot->default_frequency = slot->default_volume = 0;
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

void take_defaults(SoundSlot* slot) {
  slot->default_pan = mixer_pan(slot->output);
  slot->default_frequency = mixer_frequency(slot->output);
  slot->default_volume = mixer_volume(slot->output);
}

// Hands samples in the given format to a new static buffer, which keeps them as they are (the
// one copy of the sound), and puts it in the slot. The old sound is replaced only once the new
// buffer exists.
int32_t load_pcm(int32_t id, int32_t channels, int32_t bits, int32_t rate,
                 std::vector<uint8_t>* samples) {
  const int32_t buffer = mixer_create_holding(channels, bits, rate, samples);
  if (!buffer) return refuse(SOUND_LOAD_BAD_FORMAT);
  int32_t taken_id = 0;
  SoundSlot* slot = take_slot(id, &taken_id);
  slot->output = buffer;
  take_defaults(slot);
  return load_result(id, taken_id);
}

// Only linear PCM at 8 or 16 bits, mono or stereo, whose frame size matches, is accepted.
bool playable(const WavSound& wav) {
  return wav.format_tag == 1 && (wav.channels == 1 || wav.channels == 2) &&
         (wav.bits == 8 || wav.bits == 16) && wav.block_align == wav.channels * wav.bits / 8 &&
         wav.rate <= static_cast<uint32_t>(MIXER_RATE_MAX);
}

// The bytes of a playable WAV's whole frames.
uint32_t whole_frame_bytes(const WavSound& wav) {
  return wav.sample_bytes - wav.sample_bytes % std::max<uint32_t>(wav.block_align, 1);
}

// Loads a WAV file held in memory; the samples are copied out of the block.
int32_t load_wav(int32_t id, const uint8_t* block, int64_t size) {
  WavSound wav{};
  if (!wav_parse(block, static_cast<uint64_t>(size), &wav) || !playable(wav)) {
    return refuse(SOUND_LOAD_BAD_FORMAT);
  }
  if (wav.sample_bytes > SOUND_DATA_LIMIT) return refuse(SOUND_LOAD_TOO_LARGE, wav.sample_bytes);
  std::vector<uint8_t> samples(wav.samples, wav.samples + whole_frame_bytes(wav));
  return load_pcm(id, wav.channels, wav.bits, static_cast<int32_t>(wav.rate), &samples);
}

// Closes a decoder handle when it goes out of scope.
struct DecoderCloser {
  void operator()(DecoderHandle* handle) const { decoder_close(handle); }
};
using OwnedDecoder = std::unique_ptr<DecoderHandle, DecoderCloser>;

// Decodes a whole sound with a decoder that accepted it, then loads the PCM. The length the
// decoder states is judged before anything is decoded.
int32_t load_decoded(int32_t id, OwnedDecoder handle) {
  const Decoder* decoder = handle->decoder;
  const int32_t channels = decoder->channels(handle.get());
  const int32_t rate = decoder->rate(handle.get());
  const int64_t frames = std::max<int64_t>(decoder->length(handle.get()), 0);
  if (channels < 1 || channels > 2 || frames == 0) return refuse(SOUND_LOAD_BAD_FORMAT);
  const int64_t bytes = frames * channels * 2;
  if (bytes > SOUND_DATA_LIMIT) return refuse(SOUND_LOAD_TOO_LARGE, bytes);
  std::vector<uint8_t> samples(static_cast<size_t>(bytes));
  const int64_t got =
      std::clamp<int64_t>(decoder->read(handle.get(), samples.data(), bytes, 0), 0, bytes);
  std::memset(samples.data() + got, 0, static_cast<size_t>(bytes - got));
  handle.reset();
  return load_pcm(id, channels, 16, rate, &samples);
}

// Gives the slot a looping buffer fed by the decoder. The old sound is freed before the new
// buffer exists, so a buffer that cannot be made leaves the slot empty.
int32_t load_stream(int32_t id, DecoderHandle* handle) {
  int32_t taken_id = 0;
  SoundSlot* slot = take_slot(id, &taken_id);
  MusicStream* stream = music_stream_open(handle);
  if (!stream) {
    drop_if_unnumbered_empty(taken_id);
    return refuse(SOUND_LOAD_BAD_FORMAT);
  }
  slot->stream = stream;
  slot->output = music_stream_buffer(stream);
  take_defaults(slot);
  return load_result(id, taken_id);
}

void stop_buffer(int32_t buffer) {
  mixer_stop(buffer);
  mixer_set_position(buffer, 0);
}

int32_t play_stream(int32_t id, SoundSlot* slot, int32_t flags, int32_t volume) {
  sound_stop(id);
  if (!music_stream_prepare(slot->stream, flags)) return 0;
  if (volume != -1) sound_set_volume(id, volume);
  music_stream_play(slot->stream);
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
  if (slot->stream) music_stream_halt(slot->stream);
}

int32_t load_block(int32_t id, const uint8_t* block, int64_t size) {
  if (!block || size <= 0) return refuse(SOUND_LOAD_BAD_FORMAT);
  if (size >= 4 && std::memcmp(block, "RIFF", 4) == 0) return load_wav(id, block, size);
  DecoderHandle* handle = decoder_open_memory(block, size);
  return handle ? load_decoded(id, OwnedDecoder(handle)) : refuse(SOUND_LOAD_BAD_FORMAT);
}

// Reads bytes bytes at offset into at; false when the file has fewer.
bool read_at(std::FILE* file, int64_t offset, uint8_t* at, int64_t bytes) {
  if (bytes == 0) return true;
  return std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0 &&
         std::fread(at, 1, static_cast<size_t>(bytes), file) == static_cast<size_t>(bytes);
}

// Loads a sound file from an open regular file of size bytes, which it closes or hands to a
// decoder. A WAV file's header tells how much sample data it holds before that is read, and only
// the bytes up to the data's end are read; any other format goes to the decoders straight from
// the file, and they state its length before it is decoded.
int32_t load_file(int32_t id, std::FILE* opened, int64_t size) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(opened, std::fclose);
  if (size <= 0) return refuse(SOUND_LOAD_BAD_FORMAT);
  std::vector<uint8_t> block(static_cast<size_t>(std::min(size, WAV_HEAD_LIMIT)));
  if (!read_at(file.get(), 0, block.data(), static_cast<int64_t>(block.size()))) {
    return refuse(SOUND_LOAD_UNREADABLE);
  }
  if (block.size() < 4 || std::memcmp(block.data(), "RIFF", 4) != 0) {
    if (std::fseek(file.get(), 0, SEEK_SET) != 0) return refuse(SOUND_LOAD_UNREADABLE);
    block = {};
    DecoderHandle* handle = decoder_open_stream(file.release());
    return handle ? load_decoded(id, OwnedDecoder(handle)) : refuse(SOUND_LOAD_BAD_FORMAT);
  }
  WavSound wav{};
  uint64_t data_at = 0;
  if (!wav_parse_head(block.data(), block.size(), static_cast<uint64_t>(size), &wav, &data_at) ||
      !playable(wav)) {
    return refuse(SOUND_LOAD_BAD_FORMAT);
  }
  if (wav.sample_bytes > SOUND_DATA_LIMIT) return refuse(SOUND_LOAD_TOO_LARGE, wav.sample_bytes);
  // The samples go straight into the one buffer that will hold them: what the head already
  // has is copied over, the rest is read from the file.
  const uint32_t bytes = whole_frame_bytes(wav);
  std::vector<uint8_t> samples(bytes);
  const uint64_t in_head = std::min<uint64_t>(bytes, block.size() - data_at);
  std::memcpy(samples.data(), block.data() + data_at, static_cast<size_t>(in_head));
  block = {};
  if (!read_at(file.get(), static_cast<int64_t>(data_at + in_head), samples.data() + in_head,
               static_cast<int64_t>(bytes - in_head))) {
    return refuse(SOUND_LOAD_UNREADABLE);
  }
  return load_pcm(id, wav.channels, wav.bits, static_cast<int32_t>(wav.rate), &samples);
}

// Opens path as a regular file without blocking and loads it as flags say.
int32_t load_path(int32_t id, const char* path, int32_t flags) {
  int64_t size = 0;
  std::FILE* file = decoder_open_regular(path, &size);
  if (!file) return refuse(errno == ENODEV ? SOUND_LOAD_NOT_REGULAR : SOUND_LOAD_UNREADABLE);
  if (flags & SOUND_LOAD_STREAM) {
    DecoderHandle* handle = decoder_open_stream(file);
    return handle ? load_stream(id, handle) : refuse(SOUND_LOAD_BAD_FORMAT);
  }
  return load_file(id, file, size);
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
  sound.last_failure = {};
  if (!sound.table_ready || !path || !valid_load_id(id)) return refuse(SOUND_LOAD_BAD_FORMAT);
  // Running out of memory for one sound leaves that slot as it was, not the game ended.
  try {
    return load_path(id, path, flags);
  } catch (const std::bad_alloc&) {
    return refuse(SOUND_LOAD_NO_MEMORY);
  }
}

int32_t sound_load_memory(int32_t id, const void* data, int64_t size, int32_t flags) {
  sound.last_failure = {};
  if (!sound.table_ready || !data || size <= 0 || !valid_load_id(id)) {
    return refuse(SOUND_LOAD_BAD_FORMAT);
  }
  try {
    if (flags & SOUND_LOAD_STREAM) {
      DecoderHandle* handle = decoder_open_memory(data, size);
      return handle ? load_stream(id, handle) : refuse(SOUND_LOAD_BAD_FORMAT);
    }
    return load_block(id, static_cast<const uint8_t*>(data), size);
  } catch (const std::bad_alloc&) {
    return refuse(SOUND_LOAD_NO_MEMORY);
  }
}

SoundLoadFailure sound_load_failure() { return sound.last_failure; }

intptr_t sound_play(int32_t id, int32_t flags, int32_t volume) {
  if (sound.play_observer) sound.play_observer(id, flags);
  SoundSlot* slot = loaded_slot(id);
  if (!slot) return 0;
  if (slot->stream) return play_stream(id, slot, flags, volume);
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
  return slot && slot->stream ? music_stream_refills(slot->stream) : 0;
}

int32_t sound_volume(int32_t id) {
  SoundSlot* slot = loaded_slot(id);
  return slot ? mixer_volume(slot->output) : 0;
}

void sound_service() {
  if (!sound.table_ready) return;
  for (const auto& slot : sound.slots) {
    if (slot->stream) music_stream_service(slot->stream);
  }
  for (const auto& entry : sound.unnumbered) {
    if (entry.second->stream) music_stream_service(entry.second->stream);
  }
}

void sound_set_play_observer(void (*observer)(int32_t, int32_t)) { sound.play_observer = observer; }

void sound_set_muted(int32_t muted) { mixer_set_muted(muted); }

int32_t sound_muted() { return mixer_muted(); }
