// The decoder registry: formats other than WAV are decoded to 16-bit PCM by registered decoders,
// tried in registration order.
#pragma once

#include <cstdint>
#include <cstdio>

struct Decoder;

// The common head of every decoder's handle; the decoder's own state follows it.
struct DecoderHandle {
  const Decoder* decoder;  // the decoder that made this handle
  std::FILE* file;         // the file it reads; null for a memory block
};

// read flags.
constexpr int32_t DECODER_READ_LOOP = 1;  // at the end of the data, go on from its start

// A decoder's seven operations.
struct Decoder {
  // A new handle over file (opened "rb", at its start) or over data/size when file is null;
  // null when the data is not in this decoder's format. The handle owns the file.
  DecoderHandle* (*open)(std::FILE* file, const void* data, int64_t size, int32_t flags);
  // Writes up to bytes bytes of interleaved 16-bit signed little-endian samples; the count.
  int64_t (*read)(DecoderHandle* handle, void* destination, int64_t bytes, int32_t flags);
  // The next read starts at the beginning of the data.
  void (*rewind)(DecoderHandle* handle);
  int32_t (*channels)(DecoderHandle* handle);  // channel count
  int64_t (*length)(DecoderHandle* handle);    // total length in sample frames
  int32_t (*rate)(DecoderHandle* handle);      // samples per second
  // Frees the handle and closes its file.
  void (*close)(DecoderHandle* handle);
};

// Appends decoder to the registry (a decoder already there is not added twice).
void decoder_register(const Decoder* decoder);
// Opens path for reading only when it is a regular file, without ever blocking (a FIFO or a
// device under a sound file's name must not hang the caller); its size goes to *size. Null
// otherwise, with errno set (ENODEV for a file that is not regular).
std::FILE* decoder_open_regular(const char* path, int64_t* size);
// Opens path (a regular file only, as decoder_open_regular) with the first decoder that accepts
// it; null when none does or it cannot be opened.
DecoderHandle* decoder_open_file(const char* path);
// As decoder_open_file for a file already open for reading at its start; the file is owned from
// here on and closed when no decoder accepts it.
DecoderHandle* decoder_open_stream(std::FILE* file);
// Opens a memory block with the first decoder that accepts it; null when none does. The block
// must stay valid until the handle is closed.
DecoderHandle* decoder_open_memory(const void* data, int64_t size);
// Closes a handle from either open (null is ignored).
void decoder_close(DecoderHandle* handle);
