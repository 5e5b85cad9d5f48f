// Ogg Vorbis encoding of 16-bit PCM with libvorbisenc, for our own music and for tests.
#pragma once

#include <cstdint>
#include <vector>

// The Ogg Vorbis file of interleaved samples (channels 1 or 2) at rate, with quality -0.1..1
// (variable bit rate); empty on failure. No samples gives a file with headers and no audio.
std::vector<uint8_t> ogg_encode(const std::vector<int16_t>& samples, int32_t channels, int32_t rate,
                                float quality);
