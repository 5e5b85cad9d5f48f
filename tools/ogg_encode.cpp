#include "tools/ogg_encode.h"

#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cstring>

namespace {

void append_page(std::vector<uint8_t>* out, const ogg_page& page) {
  out->insert(out->end(), page.header, page.header + page.header_len);
  out->insert(out->end(), page.body, page.body + page.body_len);
}

}  // namespace

std::vector<uint8_t> ogg_encode(const std::vector<int16_t>& samples, int32_t channels, int32_t rate,
                                float quality) {
  std::vector<uint8_t> out;
  vorbis_info info;
  vorbis_info_init(&info);
  if (vorbis_encode_init_vbr(&info, channels, rate, quality) != 0) {
    vorbis_info_clear(&info);
    return out;
  }
  vorbis_comment comment;
  vorbis_comment_init(&comment);
  vorbis_comment_add_tag(&comment, "ENCODER", "q47 make_sounds");
  vorbis_dsp_state dsp;
  vorbis_block block;
  vorbis_analysis_init(&dsp, &info);
  vorbis_block_init(&dsp, &block);
  ogg_stream_state stream;
  ogg_stream_init(&stream, 0x51340047);
  ogg_packet header;
  ogg_packet header_comment;
  ogg_packet header_code;
  vorbis_analysis_headerout(&dsp, &comment, &header, &header_comment, &header_code);
  ogg_stream_packetin(&stream, &header);
  ogg_stream_packetin(&stream, &header_comment);
  ogg_stream_packetin(&stream, &header_code);
  ogg_page page;
  // The headers end a page of their own, so audio starts on a fresh page.
  while (ogg_stream_flush(&stream, &page) != 0) append_page(&out, page);

  const size_t frames = samples.size() / static_cast<size_t>(channels);
  constexpr size_t CHUNK_FRAMES = 1024;
  bool at_end = false;
  for (size_t done = 0; !at_end;) {
    const size_t count = std::min(CHUNK_FRAMES, frames - done);
    if (count == 0) {
      vorbis_analysis_wrote(&dsp, 0);
    } else {
      float** buffer = vorbis_analysis_buffer(&dsp, static_cast<int>(count));
      for (size_t i = 0; i < count; ++i) {
        for (int32_t c = 0; c < channels; ++c) {
          buffer[c][i] =
              samples[(done + i) * static_cast<size_t>(channels) + static_cast<size_t>(c)] /
              32768.0f;
        }
      }
      vorbis_analysis_wrote(&dsp, static_cast<int>(count));
      done += count;
    }
    while (vorbis_analysis_blockout(&dsp, &block) == 1) {
      vorbis_analysis(&block, nullptr);
      vorbis_bitrate_addblock(&block);
      ogg_packet packet;
      while (vorbis_bitrate_flushpacket(&dsp, &packet) != 0) {
        ogg_stream_packetin(&stream, &packet);
        while (ogg_stream_pageout(&stream, &page) != 0) {
          append_page(&out, page);
          if (ogg_page_eos(&page)) at_end = true;
        }
      }
    }
    if (count == 0 && !at_end) {
      while (ogg_stream_flush(&stream, &page) != 0) append_page(&out, page);
      at_end = true;
    }
  }
  ogg_stream_clear(&stream);
  vorbis_block_clear(&block);
  vorbis_dsp_clear(&dsp);
  vorbis_comment_clear(&comment);
  vorbis_info_clear(&info);
  return out;
}
