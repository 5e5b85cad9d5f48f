// SHA-256 (FIPS 180-4) and base64, for what goes to and from a hub: packs are named by the
// SHA-256 of their bytes, players' keys are kept only as their hash, and replays travel in JSON
// as base64. The hub and the game's client share this one copy.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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
// The bytes of base64 text (standard alphabet, padding optional); false when it is not base64.
bool base64_decode(std::string_view text, std::vector<uint8_t>& bytes);
// bytes in standard base64, padded.
std::string base64_encode(std::string_view bytes);
std::string base64_encode(const std::vector<uint8_t>& bytes);
