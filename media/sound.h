// Sound effects in numbered slots, mixed in software onto one audio device.
#pragma once

#include <cstdint>

// sound_load flags.
constexpr int32_t SOUND_LOAD_STREAM = 1;  // stream the file (music) instead of loading it whole
// The most sample data one sound loaded whole may hold: about three minutes of CD-quality
// stereo. A larger one is refused before it is read or decoded, so no sound file can stall the
// start or exhaust memory.
constexpr int64_t SOUND_DATA_LIMIT = 32 << 20;

// Why a load failed, in SoundLoadFailure::reason.
constexpr int32_t SOUND_LOAD_OK = 0;           // the last load succeeded
constexpr int32_t SOUND_LOAD_UNREADABLE = 1;   // missing, not permitted or a read error (errno)
constexpr int32_t SOUND_LOAD_NOT_REGULAR = 2;  // a FIFO, device or folder, never opened for reading
constexpr int32_t SOUND_LOAD_BAD_FORMAT = 3;   // not a sound we can play (or a bad id)
constexpr int32_t SOUND_LOAD_TOO_LARGE = 4;    // more than SOUND_DATA_LIMIT bytes of sample data
constexpr int32_t SOUND_LOAD_NO_MEMORY = 5;    // memory ran out while loading

struct SoundLoadFailure {
  int32_t reason;  // SOUND_LOAD_*
  int64_t bytes;   // SOUND_LOAD_TOO_LARGE: the sample data the file holds or decodes to
};

// sound_play flags.
constexpr int32_t SOUND_PLAY_LOOP = 1;      // loop until stopped
constexpr int32_t SOUND_PLAY_INSTANCE = 2;  // play an overlapping instance

// Non-zero when the sound output is ready; 0 when there is no usable device. The slots exist
// either way, so play, stop and volume calls stay harmless.
int32_t sound_init();
// Like sound_init but without a device: the mixer runs at device_rate and whoever wants its
// output pulls it with mixer_render (tests and tools). Always 1.
int32_t sound_init_without_device(int32_t device_rate);
// Stops everything and closes the device (program end).
void sound_shutdown();
// Loads a file into slot id (-1 picks a free slot); non-zero on success (the id for -1).
// Only a regular file is read, and opening it never blocks. A failed load leaves the slot's old
// sound in place (except a stream whose buffer cannot be made); sound_load_failure says why.
int32_t sound_load(int32_t id, const char* path, int32_t flags = 0);
// Loads from a memory block; as sound_load. A streamed block must outlive the slot's sound.
int32_t sound_load_memory(int32_t id, const void* data, int64_t size, int32_t flags = 0);
// Why the last sound_load or sound_load_memory failed (reason SOUND_LOAD_OK after a success).
SoundLoadFailure sound_load_failure();
// Plays slot id; 1 if playback started (an instance handle with SOUND_PLAY_INSTANCE);
// volume -1 leaves the slot's volume as it is. Harmless on any slot, with or without a device.
intptr_t sound_play(int32_t id, int32_t flags = 0, int32_t volume = -1);
// Sets the volume in percent (clamped to 0..100) of the main buffer (instance 0), of every
// buffer of the slot (-1), or of one instance.
void sound_set_volume(int32_t id, int32_t percent, intptr_t instance = 0);
// Stops slot id (-1 = every slot): main buffer (0), every buffer (-1) or one instance.
void sound_stop(int32_t id, intptr_t instance = 0);

// 1 while slot id's main buffer is playing.
int32_t sound_playing(int32_t id);
// How many half buffers stream id has decoded since it was last played (the first comes with
// the play itself); lets a test pull the mixer's output without outrunning the refills.
int32_t sound_stream_refills(int32_t id);
// Once per frame, by the frame's owner: refills the streams that are refilled from the frame
// (every stream in a build without threads); the others have a thread of their own.
void sound_service();
// Slot id's main buffer volume in hundredths of a dB (0 = full, -10000 = silent); 0 when empty.
int32_t sound_volume(int32_t id);

// Non-zero mutes every sound at the output; sounds and the music carry on silently, so unmuting
// picks them up where they would be had they been heard. 0 unmutes.
void sound_set_muted(int32_t muted);
// 1 while muted.
int32_t sound_muted();

// Calls observer(id, flags) on the calling thread at the start of every sound_play, with or
// without a device; null removes it. Lets a test hear which cue the game asked for, in order.
void sound_set_play_observer(void (*observer)(int32_t id, int32_t flags));
