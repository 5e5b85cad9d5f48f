#include "media/music.h"

#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>

#include "media/decoder.h"
#include "media/mixer.h"
#include "media/timing.h"

// Whether streams may be refilled by a thread of their own (CMake's Q47_MUSIC_THREAD). A build
// without threads (a browser's) refills them from the frame only.
#ifndef Q47_MUSIC_THREAD
#ifdef __EMSCRIPTEN__
#define Q47_MUSIC_THREAD 0
#else
#define Q47_MUSIC_THREAD 1
#endif
#endif

// A stream's buffer, its decoder, the flags its refill thread shares with the game's thread, and
// where the refills are (owned by whoever refills: the thread, or the frame's service).
struct MusicStream {
  DecoderHandle* decoder = nullptr;      // the open decoder, owned by the stream
  int32_t output = 0;                    // the looping mixer buffer
  std::atomic<uint8_t> run_flag{0};      // refills go on while this is 1
  std::atomic<uint8_t> thread_alive{0};  // a refill thread exists for the stream
  int32_t refill = MUSIC_REFILL_THREAD;  // MUSIC_REFILL_*, chosen when the stream was prepared
  int32_t loop_flag = 0;                 // flags of the last play, read by the refills
  std::atomic<uint32_t> refills{0};      // halves decoded since the last play
  uint32_t next_half = 1;                // the half refilled next, once the cursor is out of it
  int32_t ended = 0;                     // 0 while data comes, then the halves played out since
};

namespace {

constexpr uint32_t STREAM_BUFFER_BYTES = 65536;                  // a stream's looping buffer
constexpr uint32_t STREAM_HALF_BYTES = STREAM_BUFFER_BYTES / 2;  // refilled one at a time
constexpr int32_t STREAM_POLL_MS = 10;    // refill thread's look at the play cursor
constexpr int64_t OGG_READ_CHUNK = 4096;  // most bytes asked of ov_read at once
// Damaged data makes ov_read fail; this many failures in a row with nothing decoded in between
// means the stream is broken beyond the next page, and the read gives up instead of spinning.
constexpr int32_t OGG_ERROR_LIMIT = 64;

// An Ogg Vorbis handle; the common head comes first so the registry can treat it as one.
struct OggHandle {
  DecoderHandle head;     // decoder and file
  OggVorbis_File vorbis;  // vorbisfile's state; owns the file for a file source
  int32_t channels;       // of the first link
  int64_t length;         // total sample frames, 0 when unknown
  int32_t rate;           // samples per second of the first link
  const uint8_t* block;   // memory source: the block
  int64_t size;           // memory source: its size
  int64_t position;       // memory source: next byte to read, always within 0..size
};

struct MusicState {
  bool ogg_enabled = false;  // the Ogg decoder is in the registry
  // How streams prepared from now on are refilled: MUSIC_REFILL_*.
  int32_t refill = Q47_MUSIC_THREAD ? MUSIC_REFILL_THREAD : MUSIC_REFILL_FRAME;
};

MusicState MUSIC;

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

long memory_tell(void* source) {
  return static_cast<long>(static_cast<OggHandle*>(source)->position);
}

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

const Decoder OGG_DECODER = {ogg_open,   ogg_read, ogg_rewind, ogg_channels,
                             ogg_length, ogg_rate, ogg_close};

// Decodes the next half buffer of a stream into the half at offset, silence after the data.
// 1 when the decoder gave at least one byte.
int32_t refill_half(MusicStream* stream, uint32_t offset) {
  uint8_t* region = mixer_lock(stream->output, offset, STREAM_HALF_BYTES);
  if (!region) return 0;
  const Decoder* decoder = stream->decoder->decoder;
  const int64_t got = std::clamp<int64_t>(
      decoder->read(stream->decoder, region, STREAM_HALF_BYTES, stream->loop_flag), 0,
      STREAM_HALF_BYTES);
  std::memset(region + got, 0, STREAM_HALF_BYTES - static_cast<size_t>(got));
  mixer_unlock(stream->output);
  ++stream->refills;
  return got > 0 ? 1 : 0;
}

// One look at a playing stream's cursor, which keeps its buffer ahead: whenever the cursor
// leaves a half, that half gets the next data. Past the end of data that does not loop, it
// lets the last data play out, then stops the buffer and the refills. 0 once it has stopped.
int32_t refill_look(MusicStream* stream) {
  const uint32_t cursor = mixer_position(stream->output);
  const bool outside =
      stream->next_half == 0 ? cursor > STREAM_HALF_BYTES : cursor < STREAM_HALF_BYTES;
  if (outside) {
    if (stream->ended != 0) {
      ++stream->ended;
    } else if (!refill_half(stream, stream->next_half == 0 ? 0 : STREAM_HALF_BYTES)) {
      stream->ended = 1;
    }
    stream->next_half = 1 - stream->next_half;
  }
  if (stream->ended == 2) {
    mixer_stop(stream->output);
    stream->run_flag = 0;
    return 0;
  }
  return 1;
}

#if Q47_MUSIC_THREAD
// Looks at the stream every few milliseconds for as long as it runs.
void refill_thread(MusicStream* stream) {
  while (stream->run_flag == 1) {
    delay_ms(STREAM_POLL_MS);
    if (!refill_look(stream)) break;
  }
  stream->thread_alive = 0;
}
#endif

}  // namespace

MusicStream* music_stream_open(DecoderHandle* handle) {
  if (!handle) return nullptr;
  MusicStream* stream = new (std::nothrow) MusicStream;
  int32_t buffer = 0;
  try {
    if (stream) {
      buffer = mixer_create(handle->decoder->channels(handle), 16, handle->decoder->rate(handle),
                            STREAM_BUFFER_BYTES);
    }
  } catch (const std::bad_alloc&) {
    buffer = 0;
  }
  if (!buffer) {
    decoder_close(handle);
    delete stream;
    return nullptr;
  }
  stream->decoder = handle;
  stream->output = buffer;
  return stream;
}

void music_stream_close(MusicStream* stream) {
  if (!stream) return;
  stream->run_flag = 0;
  while (stream->thread_alive) std::this_thread::yield();
  decoder_close(stream->decoder);
  mixer_release(stream->output);
  delete stream;
}

int32_t music_stream_buffer(const MusicStream* stream) { return stream->output; }

int32_t music_stream_prepare(MusicStream* stream, int32_t flags) {
  while (stream->thread_alive) delay_ms(STREAM_POLL_MS);
  stream->decoder->decoder->rewind(stream->decoder);
  stream->loop_flag = flags;
  stream->run_flag = 1;
  stream->refills = 0;
  stream->refill = MUSIC.refill;
  stream->next_half = 1;
  stream->ended = 0;
  refill_half(stream, 0);
  if (stream->refill == MUSIC_REFILL_FRAME) return 1;
#if Q47_MUSIC_THREAD
  // Marked alive before the thread exists, so a stop, play or close that follows at once waits
  // for it rather than racing a thread that has not started yet.
  stream->thread_alive = 1;
  try {
    std::thread(refill_thread, stream).detach();
    return 1;
  } catch (const std::system_error&) {
    stream->thread_alive = 0;
  }
#endif
  // Without a refill the buffer would repeat its first half forever; stay silent instead.
  stream->run_flag = 0;
  return 0;
}

void music_stream_play(MusicStream* stream) {
  mixer_set_position(stream->output, 0);
  mixer_play(stream->output, 1);
}

void music_stream_halt(MusicStream* stream) { stream->run_flag = 0; }

void music_stream_service(MusicStream* stream) {
  if (stream->refill == MUSIC_REFILL_FRAME && stream->run_flag == 1) refill_look(stream);
}

int32_t music_set_refill(int32_t refill) {
  if (refill != MUSIC_REFILL_FRAME && !(Q47_MUSIC_THREAD && refill == MUSIC_REFILL_THREAD)) {
    return 0;
  }
  MUSIC.refill = refill;
  return 1;
}

int32_t music_stream_refills(const MusicStream* stream) {
  return static_cast<int32_t>(stream->refills.load());
}

void ogg_decoder_enable() {
  if (MUSIC.ogg_enabled) return;
  decoder_register(&OGG_DECODER);
  MUSIC.ogg_enabled = true;
}
