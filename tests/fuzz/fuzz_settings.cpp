// The settings reader on arbitrary bytes: it must say what is wrong and keep the defaults, never
// crash or read out of bounds; what it read, written out and read again, is the same settings,
// and without a problem unless it keeps names it does not know (those are said every time).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> problems;
  const Settings read = settings_parse(input, "settings", problems);
  std::vector<std::string> again_problems;
  const Settings again = settings_parse(settings_format(read), "settings", again_problems);
  if (!(again == read)) abort();
  if (read.kept.empty() && !again_problems.empty()) abort();
  return 0;
}
