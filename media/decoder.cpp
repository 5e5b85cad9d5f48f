#include "media/decoder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <vector>

namespace {

struct DecoderRegistry {
  std::mutex lock;                       // registration may race with a dispatch in tests
  std::vector<const Decoder*> decoders;  // in registration order
};

DecoderRegistry registry;

std::vector<const Decoder*> registered() {
  std::lock_guard guard(registry.lock);
  return registry.decoders;
}

}  // namespace

void decoder_register(const Decoder* decoder) {
  if (!decoder) return;
  std::lock_guard guard(registry.lock);
  auto& list = registry.decoders;
  if (std::find(list.begin(), list.end(), decoder) == list.end()) list.push_back(decoder);
}

std::FILE* decoder_open_regular(const char* path, int64_t* size) {
  if (!path) {
    errno = EINVAL;
    return nullptr;
  }
  // Non-blocking, so a FIFO without a writer opens at once instead of waiting; fstat on the
  // descriptor then judges the very file that was opened.
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return nullptr;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    const int error = S_ISREG(info.st_mode) ? errno : ENODEV;
    close(fd);
    errno = error;
    return nullptr;
  }
  const int status = fcntl(fd, F_GETFL);
  if (status != -1) fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
  std::FILE* file = fdopen(fd, "rb");
  if (!file) {
    const int error = errno;
    close(fd);
    errno = error;
    return nullptr;
  }
  if (size) *size = static_cast<int64_t>(info.st_size);
  return file;
}

DecoderHandle* decoder_open_file(const char* path) {
  std::FILE* file = decoder_open_regular(path, nullptr);
  return file ? decoder_open_stream(file) : nullptr;
}

DecoderHandle* decoder_open_stream(std::FILE* file) {
  if (!file) return nullptr;
  for (const Decoder* decoder : registered()) {
    if (std::fseek(file, 0, SEEK_SET) != 0) break;
    if (DecoderHandle* handle = decoder->open(file, nullptr, 0, 0)) {
      handle->decoder = decoder;
      handle->file = file;
      return handle;
    }
  }
  std::fclose(file);
  return nullptr;
}

DecoderHandle* decoder_open_memory(const void* data, int64_t size) {
  if (!data || size <= 0) return nullptr;
  for (const Decoder* decoder : registered()) {
    if (DecoderHandle* handle = decoder->open(nullptr, data, size, 0)) {
      handle->decoder = decoder;
      handle->file = nullptr;
      return handle;
    }
  }
  return nullptr;
}

void decoder_close(DecoderHandle* handle) {
  if (handle) handle->decoder->close(handle);
}
