// Ogg Vorbis decoding for sound slots, and streaming of long tracks through a refill thread.
#pragma once

// Registers the Ogg decoder with the sound slots once; later calls do nothing.
void ogg_decoder_enable();
