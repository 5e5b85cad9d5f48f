// Little-endian integers in byte arrays: how the level stream and the replay file store them.
#pragma once

#include <cstdint>
#include <vector>

// The 32-bit value at bytes[0..3], least significant byte first.
inline uint32_t bytes_le32(const unsigned char* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// The 16-bit value at bytes[0..1].
inline uint16_t bytes_le16(const unsigned char* bytes) {
  return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

// Appends value, least significant byte first.
template <typename Byte>
void bytes_put_le32(std::vector<Byte>& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<Byte>(value >> shift));
}
