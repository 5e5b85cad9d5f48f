// The share-code reader on arbitrary bytes, pasted as a code: it must say what is wrong, never
// crash, read out of bounds or unpack without end, and a code it reads holds a text whose own
// code reads back to it. The same bytes taken as a text: their code must give them back
// unchanged (the packer on input it never chose), and read as a pack exactly as a file would.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/level_pack.h"
#include "core/share_code.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string text, problem;
  if (share_code_decode(input, text, problem)) {
    std::string again;
    if (!share_code_decode(share_code_encode(text), again, problem) || again != text) abort();
  } else if (problem.rfind("code: ", 0) != 0 || problem.find('\n') != std::string::npos) {
    abort();
  }
  LevelPack pack;
  std::string problems;
  if (share_code_read(input, pack, problems) != problems.empty()) abort();

  const std::string code = share_code_encode(input);
  if (!share_code_decode(code, text, problem) || text != input) abort();
  LevelPack from_file;
  std::vector<PackProblem> file_problems;
  const bool file_usable = level_pack_parse(input, from_file, file_problems);
  if (share_code_read(code, pack, problems) != file_usable) abort();
  if (file_usable ? pack != from_file
                  : problems != level_pack_problems_text(SHARE_CODE_NAME, file_problems)) {
    abort();
  }
  return 0;
}
