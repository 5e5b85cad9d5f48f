// Ogg Vorbis decoding for sound slots, and streaming of long tracks through a refill thread.
#pragma once

#include <cstdint>

#include "media/decoder.h"

// Registers the Ogg decoder with the sound slots once; later calls do nothing.
void ogg_decoder_enable();

// A long track played from a small looping mixer buffer that a refill thread keeps ahead of the
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
// thread to end, rewinds, decodes the first half and starts a refill thread. 1 when the thread
// runs; 0 when none could be started, and then the stream stays silent.
int32_t music_stream_prepare(MusicStream* stream, int32_t flags);
// Plays a prepared stream's buffer from its start.
void music_stream_play(MusicStream* stream);
// Tells the refill thread to end at its next look; returns at once.
void music_stream_halt(MusicStream* stream);
// How many half buffers the stream has decoded since it was last prepared.
int32_t music_stream_refills(const MusicStream* stream);
