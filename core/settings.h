// The player's settings: the two volumes and the palette, kept between runs as short text, one
// "name value" a line. Reading never fails: every problem is one "FILE:LINE: message" line and
// leaves that setting at its default, so a damaged file can never keep the game from starting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A settings text longer than this is not read at all (the real one is a few lines).
constexpr size_t SETTINGS_TEXT_MAX = 64 * 1024;
// Problem lines past this many are summed up in one last line.
constexpr size_t SETTINGS_PROBLEMS_MAX = 8;
// Lines of names this game does not know are kept up to this many.
constexpr size_t SETTINGS_KEPT_MAX = 64;

struct Settings {
  int32_t effects_volume = 100;  // percent of each effect's own volume, 0..100
  int32_t music_volume = 100;    // percent of the music's own volume, 0..100
  int32_t palette_marked = 0;    // 1: the colour-blind palette (a mark besides colour)
  // "name value" lines under names this game does not know (a later game's, key bindings among
  // them), written back as they came so that running an older game loses nothing.
  std::vector<std::pair<std::string, std::string>> kept;

  bool operator==(const Settings&) const = default;
};

// Reads text (the contents of file_name, which only names it in messages). Every problem is a
// line "FILE_NAME:LINE: message" (or "FILE_NAME: message" for the whole text) in problems, at
// most SETTINGS_PROBLEMS_MAX of them and a count of the rest; what is wrong keeps its default.
Settings settings_parse(std::string_view text, const std::string& file_name,
                        std::vector<std::string>& problems);
// The whole text of settings, every setting written out, the kept lines last.
std::string settings_format(const Settings& settings);
// A slot's volume under a volume setting: base_percent (the slot's own, 0..100) scaled by
// setting_percent; 100 gives base_percent exactly, 0 gives silence.
int32_t settings_scaled_volume(int32_t base_percent, int32_t setting_percent);
