// libFuzzer target: any block of bytes handed to the Ogg Vorbis decoder's memory source. A block
// it accepts is read straight through, rewound and read in a loop, which must come to an end.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "media/decoder.h"
#include "media/music.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ogg_decoder_enable();
  DecoderHandle* handle = decoder_open_memory(data, static_cast<int64_t>(size));
  if (!handle) return 0;
  const Decoder* decoder = handle->decoder;
  decoder->channels(handle);
  decoder->length(handle);
  decoder->rate(handle);
  std::vector<uint8_t> out(32768);
  // A damaged stream may claim hours of audio; a few hundred kilobytes cover its pages.
  for (int32_t piece = 0; piece < 16; ++piece) {
    if (decoder->read(handle, out.data(), static_cast<int64_t>(out.size()), 0) <= 0) break;
  }
  decoder->rewind(handle);
  decoder->read(handle, out.data(), static_cast<int64_t>(out.size()), DECODER_READ_LOOP);
  decoder->read(handle, out.data(), 3, DECODER_READ_LOOP);
  decoder_close(handle);
  return 0;
}
