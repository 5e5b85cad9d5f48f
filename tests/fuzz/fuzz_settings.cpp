// The settings reader on arbitrary bytes: it must say what is wrong and keep the defaults, never
// crash or read out of bounds; what it read, written out and read again, is the same settings,
// and without a problem unless it keeps names it does not know (those are said every time). A
// change merged into the bytes as they are is read back as the change, whatever else they hold.
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
  // The player's change on the settings screen, merged into the text: what is changed reads
  // back as changed (a text that cannot be read as settings is set aside, never merged into).
  if (size > SETTINGS_TEXT_MAX || input.find('\0') != std::string_view::npos) return 0;
  Settings changed = read;
  changed.effects_volume = read.effects_volume == 40 ? 60 : 40;
  changed.palette_marked = 1 - read.palette_marked;
  const std::string merged = settings_merge(input, read, changed);
  if (merged.size() > SETTINGS_TEXT_MAX) return 0;  // refused by its writer, never written
  std::vector<std::string> merged_problems;
  const Settings back = settings_parse(merged, "settings", merged_problems);
  if (back.effects_volume != changed.effects_volume ||
      back.palette_marked != changed.palette_marked) {
    abort();
  }
  return 0;
}
