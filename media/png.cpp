#include "media/png.h"

#include <zlib.h>

namespace {

void put_u32(std::string& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
}

void put_chunk(std::string& out, const char* type, const std::string& data) {
  put_u32(out, static_cast<uint32_t>(data.size()));
  const std::string body = type + data;
  out += body;
  put_u32(out, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()),
                                           static_cast<uInt>(body.size()))));
}

}  // namespace

std::string png_encode(const std::vector<uint32_t>& pixels, int32_t width, int32_t height,
                       const uint32_t* clear) {
  std::string rows;
  rows.reserve(static_cast<size_t>(height) * (4 * static_cast<size_t>(width) + 1));
  for (int32_t y = 0; y < height; ++y) {
    rows += '\0';  // filter type: none
    for (int32_t x = 0; x < width; ++x) {
      const uint32_t pixel = pixels[static_cast<size_t>(y) * width + x];
      const bool transparent = clear && pixel == *clear;
      rows += static_cast<char>(transparent ? 0 : pixel & 0xFF);
      rows += static_cast<char>(transparent ? 0 : (pixel >> 8) & 0xFF);
      rows += static_cast<char>(transparent ? 0 : (pixel >> 16) & 0xFF);
      rows += static_cast<char>(transparent ? 0 : 0xFF);
    }
  }
  uLongf packed_size = compressBound(static_cast<uLong>(rows.size()));
  std::string packed(packed_size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packed_size,
                reinterpret_cast<const Bytef*>(rows.data()), static_cast<uLong>(rows.size()),
                Z_BEST_COMPRESSION) != Z_OK) {
    return {};
  }
  packed.resize(packed_size);

  std::string header;
  put_u32(header, static_cast<uint32_t>(width));
  put_u32(header, static_cast<uint32_t>(height));
  header += std::string("\x08\x06\x00\x00\x00", 5);  // 8 bits, RGBA, deflate, no filter set, plain
  std::string png("\x89PNG\r\n\x1a\n", 8);
  put_chunk(png, "IHDR", header);
  put_chunk(png, "IDAT", packed);
  put_chunk(png, "IEND", "");
  return png;
}
