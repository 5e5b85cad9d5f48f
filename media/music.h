// Ogg Vorbis decoding for sound slots, and streaming of long tracks through a refill thread or
// from the frame.
#pragma once

#include <cstdint>

#include "media/decoder.h"

// How a stream's buffer is kept ahead of its play cursor.
constexpr int32_t MUSIC_REFILL_THREAD = 0;  // by a thread of the stream's own, every 10 ms
constexpr int32_t MUSIC_REFILL_FRAME = 1;   // by music_stream_service, once per frame

// Registers the Ogg decoder with the sound slots once; later calls do nothing.
void ogg_decoder_enable();

// A long track played from a small looping mixer buffer that its refills keep ahead of the
// play cursor, one half at a time. A sound slot owns at most one.
struct MusicStream;

// A stream over handle (owned from here on) with a new stopped buffer; null when no buffer can
// be made in the decoder's format, and then handle is closed.
MusicStream* music_stream_open(DecoderHandle* handle);
// Ends the refill thread, closes the decoder, then releases the buffer (null is ignored).
void music_stream_close(MusicStream* stream);
// The stream's mixer buffer.
int32_t music_stream_buffer(const MusicStream* stream);
// Readies a stopped stream to play from the start with sound_play flags: waits for an old refill
// thread to end, rewinds, decodes the first half and starts the refills the way music_set_refill
// chose last. 1 when they run; 0 when no thread could be started, and then the stream stays
// silent.
int32_t music_stream_prepare(MusicStream* stream, int32_t flags);
// Plays a prepared stream's buffer from its start.
void music_stream_play(MusicStream* stream);
// Tells the refills to end at their next look; returns at once.
void music_stream_halt(MusicStream* stream);
// One look at a stream refilled from the frame: the half the cursor has left gets the next
// data. Nothing for a stream with a thread. Often enough that the cursor never crosses a whole
// half (some 190 ms of music) between two looks.
void music_stream_service(MusicStream* stream);
// Chooses how streams prepared from now on are refilled: MUSIC_REFILL_*. 1 when done; 0 for a
// way this build lacks (without Q47_MUSIC_THREAD there is only the frame's).
int32_t music_set_refill(int32_t refill);
// How many half buffers the stream has decoded since it was last prepared.
int32_t music_stream_refills(const MusicStream* stream);
