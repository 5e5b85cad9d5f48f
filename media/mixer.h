// The software mixer: output buffers, each with its own PCM format, volume, pan and frequency,
// summed into 16-bit stereo at the device rate. Free of SDL, so tests drive it directly; the
// audio device only pulls finished samples with mixer_render. Every call is thread-safe.
#pragma once

#include <cstdint>
#include <vector>

constexpr int32_t MIXER_VOLUME_SILENT = -10000;  // hundredths of a dB; at or below this, no sound
constexpr int32_t MIXER_PAN_LIMIT = 10000;  // pan runs -10000 (left only) .. 10000 (right only)
constexpr int32_t MIXER_RATE_MIN = 100;     // lowest accepted sample rate and frequency (Hz)
constexpr int32_t MIXER_RATE_MAX = 200000;  // highest accepted sample rate and frequency (Hz)

// Starts the mixer with an output of device_rate frames per second (stereo, 16-bit).
void mixer_init(int32_t device_rate);
// Releases every buffer (program end).
void mixer_shutdown();

// A new stopped, silent buffer of bytes bytes of linear PCM (8 or 16 bits, 1 or 2 channels,
// MIXER_RATE_MIN..MAX); its handle, or 0 when the format or size is not accepted.
int32_t mixer_create(int32_t channels, int32_t bits, int32_t rate, uint32_t bytes);
// A new stopped buffer that takes over samples (linear PCM in the format above, whole frames;
// a partial last frame is dropped), so a loaded sound is held once; samples is left empty.
// 0 when the format or size is not accepted, and then samples is left as it was.
int32_t mixer_create_holding(int32_t channels, int32_t bits, int32_t rate,
                             std::vector<uint8_t>* samples);
// A new buffer sharing buffer's samples, with its format and default settings; 0 on failure.
int32_t mixer_duplicate(int32_t buffer);
// Frees a buffer; its handle becomes invalid.
void mixer_release(int32_t buffer);

// A writable copy of bytes bytes at offset, holding the current samples; null when the region
// is not inside the buffer or the buffer is already locked. The mixer keeps playing the old
// samples until mixer_unlock puts the copy in.
uint8_t* mixer_lock(int32_t buffer, uint32_t offset, uint32_t bytes);
// Puts a locked region's samples in place and frees the copy; 0 when the buffer was not locked.
int32_t mixer_unlock(int32_t buffer);

// Starts playing from the current position, once or looping; 0 for an unknown buffer.
int32_t mixer_play(int32_t buffer, int32_t looping);
// Stops playing; the position stays where it was.
void mixer_stop(int32_t buffer);
// 1 while the buffer plays.
int32_t mixer_playing(int32_t buffer);
// Moves the play position to byte offset (rounded down to a whole frame, kept inside the buffer).
void mixer_set_position(int32_t buffer, uint32_t offset);
// The play cursor: byte offset of the next frame to be mixed.
uint32_t mixer_position(int32_t buffer);

// Volume in hundredths of a dB, clamped to MIXER_VOLUME_SILENT..0.
void mixer_set_volume(int32_t buffer, int32_t volume);
// The buffer's volume (0 for an unknown buffer).
int32_t mixer_volume(int32_t buffer);
// Pan in hundredths of a dB taken off the other side, clamped to -MIXER_PAN_LIMIT..MIXER_PAN_LIMIT.
void mixer_set_pan(int32_t buffer, int32_t pan);
// The buffer's pan (0 for an unknown buffer).
int32_t mixer_pan(int32_t buffer);
// Playback frequency in Hz (0 = the buffer's own rate), clamped to MIXER_RATE_MIN..MAX.
void mixer_set_frequency(int32_t buffer, int32_t frequency);
// The buffer's playback frequency in Hz (0 for an unknown buffer).
int32_t mixer_frequency(int32_t buffer);

// Mixes the next frames frames of every playing buffer into out (interleaved left, right),
// clipping the sum to the 16-bit range.
void mixer_render(int16_t* out, int32_t frames);
// How many buffers exist now.
int32_t mixer_buffer_count();
// Bytes of sample memory the mixer holds now: each buffer's samples once, however many
// duplicates share them, plus any locked copies.
int64_t mixer_bytes_held();

// Non-zero: mixer_render puts out silence, though every playing buffer moves on as if heard,
// so a sound carries on in time; 0 makes it audible again.
void mixer_set_muted(int32_t muted);
// 1 while the output is muted.
int32_t mixer_muted();
