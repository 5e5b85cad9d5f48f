#include "media/music.h"

#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "media/decoder.h"

namespace {

constexpr int64_t OGG_READ_CHUNK = 4096;  // most bytes asked of ov_read at once
// Damaged data makes ov_read fail; this many failures in a row with nothing decoded in between
// means the stream is broken beyond the next page, and the read gives up instead of spinning.
constexpr int32_t OGG_ERROR_LIMIT = 64;

// An Ogg Vorbis handle; the common head comes first so the registry can treat it as one.
struct OggHandle {
  DecoderHandle head;      // decoder and file
  OggVorbis_File vorbis;   // vorbisfile's state; owns the file for a file source
  int32_t channels;        // of the first link
  int64_t length;          // total sample frames, 0 when unknown
  int32_t rate;            // samples per second of the first link
  const uint8_t* block;    // memory source: the block
  int64_t size;            // memory source: its size
  int64_t position;        // memory source: next byte to read, always within 0..size
};

struct OggState {
  bool enabled;  // the decoder is in the registry
};

OggState ogg;

OggHandle* as_ogg(DecoderHandle* handle) { return reinterpret_cast<OggHandle*>(handle); }

// The memory source reads only inside its block: every position is kept within 0..size.
size_t memory_read(void* destination, size_t, size_t count, void* source) {
  OggHandle* handle = static_cast<OggHandle*>(source);
  const int64_t left = handle->size - handle->position;
  const size_t bytes = std::min<size_t>(count, static_cast<size_t>(left));
  if (bytes > 0) std::memcpy(destination, handle->block + handle->position, bytes);
  handle->position += static_cast<int64_t>(bytes);
  return bytes;
}

int memory_seek(void* source, ogg_int64_t offset, int whence) {
  OggHandle* handle = static_cast<OggHandle*>(source);
  int64_t base = 0;
  if (whence == SEEK_CUR) base = handle->position;
  if (whence == SEEK_END) base = handle->size;
  // Clamped before adding, so even an extreme offset neither wraps nor leaves the block.
  const int64_t clamped = std::clamp<int64_t>(offset, -handle->size, handle->size);
  handle->position = std::clamp<int64_t>(base + clamped, 0, handle->size);
  return 0;
}

int memory_close(void* source) {
  static_cast<OggHandle*>(source)->position = 0;
  return 0;
}

long memory_tell(void* source) { return static_cast<long>(static_cast<OggHandle*>(source)->position); }

DecoderHandle* ogg_open(std::FILE* file, const void* data, int64_t size, int32_t) {
  OggHandle* handle = new (std::nothrow) OggHandle{};
  if (!handle) return nullptr;
  int result;
  if (file) {
    result = ov_open(file, &handle->vorbis, nullptr, 0);
  } else {
    handle->block = static_cast<const uint8_t*>(data);
    handle->size = std::max<int64_t>(size, 0);
    const ov_callbacks callbacks = {memory_read, memory_seek, memory_close, memory_tell};
    result = ov_open_callbacks(handle, &handle->vorbis, nullptr, 0, callbacks);
  }
  if (result < 0) {
    delete handle;
    return nullptr;
  }
  const vorbis_info* info = ov_info(&handle->vorbis, -1);
  handle->channels = info ? info->channels : 0;
  handle->rate = info ? static_cast<int32_t>(std::clamp<long>(info->rate, 0, INT32_MAX)) : 0;
  handle->length = std::clamp<ogg_int64_t>(ov_pcm_total(&handle->vorbis, -1), 0, INT32_MAX);
  return &handle->head;
}

int64_t ogg_read(DecoderHandle* decoder_handle, void* destination, int64_t bytes, int32_t flags) {
  OggHandle* handle = as_ogg(decoder_handle);
  char* out = static_cast<char*>(destination);
  // ov_read returns 0 when asked for less than a frame, which would look like the end.
  const int64_t frame_bytes = std::max(handle->channels, 1) * 2;
  const int64_t wanted = bytes - bytes % frame_bytes;
  int64_t done = 0;
  bool rewound_empty = false;  // nothing decoded since the last wrap to the start
  int32_t errors = 0;
  while (done < wanted) {
    int link = 0;
    const int request = static_cast<int>(std::min(OGG_READ_CHUNK, wanted - done));
    const long result = ov_read(&handle->vorbis, out + done, request, 0, 2, 1, &link);
    if (result == 0) {
      // A stream that yields nothing even right after a rewind would loop forever.
      if (!(flags & DECODER_READ_LOOP) || rewound_empty) break;
      if (ov_raw_seek(&handle->vorbis, 0) != 0) break;
      rewound_empty = true;
    } else if (result > 0) {
      done += result;
      rewound_empty = false;
      errors = 0;
    } else if (++errors >= OGG_ERROR_LIMIT) {
      break;
    }
  }
  return done;
}

void ogg_rewind(DecoderHandle* handle) { ov_raw_seek(&as_ogg(handle)->vorbis, 0); }
int32_t ogg_channels(DecoderHandle* handle) { return as_ogg(handle)->channels; }
int64_t ogg_length(DecoderHandle* handle) { return as_ogg(handle)->length; }
int32_t ogg_rate(DecoderHandle* handle) { return as_ogg(handle)->rate; }

void ogg_close(DecoderHandle* handle) {
  OggHandle* ogg_handle = as_ogg(handle);
  ov_clear(&ogg_handle->vorbis);  // closes a file source
  delete ogg_handle;
}

const Decoder OGG_DECODER = {ogg_open,     ogg_read,   ogg_rewind, ogg_channels,
                             ogg_length,   ogg_rate,   ogg_close};

}  // namespace

void ogg_decoder_enable() {
  if (ogg.enabled) return;
  decoder_register(&OGG_DECODER);
  ogg.enabled = true;
}
