// SHA-256 (FIPS 180-4), for packs named by their content and players' keys kept only as a hash;
// and the random keys themselves.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// A running SHA-256: add bytes in any pieces, then take the digest once.
class Sha256 {
 public:
  Sha256();
  void add(const void* bytes, size_t size);
  std::array<uint8_t, 32> digest();

 private:
  void block(const uint8_t* bytes);
  std::array<uint32_t, 8> state_;      // the hash so far
  std::array<uint8_t, 64> pending_{};  // bytes not yet a whole block
  size_t pending_size_ = 0;
  uint64_t total_ = 0;  // bytes added
};

// Lowercase hex of bytes.
std::string hex_of(const uint8_t* bytes, size_t size);
// Lowercase hex SHA-256 of text.
std::string sha256_hex(std::string_view text);
// A new key: 32 bytes from the kernel's random source as 64 lowercase hex characters. Throws
// std::runtime_error when the kernel gives none.
std::string random_key();
