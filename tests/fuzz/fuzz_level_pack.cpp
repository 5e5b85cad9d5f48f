// The level pack reader on arbitrary bytes: it must report problems, never crash or read out of
// bounds; a pack it accepts must compile, read back from its stream, and format to a text that
// reads back to the same stream.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "core/level_pack.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  LevelPack pack;
  std::vector<PackProblem> problems;
  if (!level_pack_parse(text, pack, problems)) {
    if (problems.empty() || problems.size() > static_cast<size_t>(PACK_PROBLEMS_MAX) + 1) abort();
    return 0;
  }
  const LevelStream stream = level_pack_compile(pack);
  const LevelPack again = level_pack_from_stream(stream);
  if (level_pack_compile(again).bytes != stream.bytes) abort();
  LevelPack reread;
  if (!level_pack_parse(level_pack_format(pack), reread, problems)) abort();
  if (level_pack_compile(reread).bytes != stream.bytes) abort();
  return 0;
}
