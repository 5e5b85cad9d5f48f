#include "media/decoder.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace {

struct DecoderRegistry {
  std::mutex lock;                        // registration may race with a dispatch in tests
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

DecoderHandle* decoder_open_file(const char* path) {
  if (!path) return nullptr;
  std::FILE* file = std::fopen(path, "rb");
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
