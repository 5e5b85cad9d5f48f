// The player's settings: the two volumes, the palette, the game's keys and the pad's stick, kept
// between runs as short text, one
// "name value" a line. Reading never fails: every problem is one "FILE:LINE: message" line and
// leaves that setting at its default, so a damaged file can never keep the game from starting.
#pragma once

#include <array>
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

// The game's actions a key can be chosen for, in the order the settings list them.
enum SettingsAction : int32_t {
  ACTION_PLACE,     // place a barrier at the cell cursor (Space)
  ACTION_PICK_UP,   // pick one up there (Delete)
  ACTION_CONTINUE,  // continue once walled in (Enter)
  ACTION_RESTART,   // restart the level (R)
  ACTION_MUTE,      // mute or unmute (M)
  ACTION_PLAINER,   // the plainer picture (Tab)
  ACTION_UP,        // the cell cursor's moves (the arrows)
  ACTION_DOWN,
  ACTION_LEFT,
  ACTION_RIGHT,
  SETTINGS_ACTIONS,  // how many
};

// An action's name in the settings text, its words on the settings screen, its own key.
struct SettingsActionInfo {
  const char* name;
  const char* label;
  int32_t default_key;  // set-1 scan code
};
extern const SettingsActionInfo SETTINGS_ACTION_INFO[SETTINGS_ACTIONS];

// The stick's speed for the pad's cell cursor.
constexpr int32_t PAD_SPEED_SLOW = 0;
constexpr int32_t PAD_SPEED_NORMAL = 1;
constexpr int32_t PAD_SPEED_FAST = 2;

struct Settings {
  int32_t effects_volume = 100;  // percent of each effect's own volume, 0..100
  int32_t music_volume = 100;    // percent of the music's own volume, 0..100
  int32_t palette_marked = 0;    // 1: the colour-blind palette (a mark besides colour)
  // The key of each action, by set-1 scan code: every one named and bindable, no two the same.
  std::array<int32_t, SETTINGS_ACTIONS> keys = {0x39, 0xD3, 0x1C, 0x13, 0x32,
                                                0x0F, 0xC8, 0xD0, 0xCB, 0xCD};
  int32_t pad_stick_speed = PAD_SPEED_NORMAL;  // PAD_SPEED_*
  // "name value" lines under names this game does not know (a later game's), written back as
  // they came so that running an older game loses nothing.
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
// Each setting's "name value" as settings_format writes them, in its order (not the kept lines).
std::vector<std::pair<std::string, std::string>> settings_lines(const Settings& settings);
// text (a settings text as it is now, however written) with each setting whose value differs
// between before and after set to after's: its line changed in place (a comment after it kept),
// or added at the end. Every other line, comment and unknown name stays as it is.
std::string settings_merge(std::string_view text, const Settings& before, const Settings& after);
// The action whose key code is in settings, or -1.
int32_t settings_key_owner(const Settings& settings, int32_t code);
// The stick speed's name ("slow", "normal", "fast").
const char* settings_pad_speed_name(int32_t speed);
// A slot's volume under a volume setting: base_percent (the slot's own, 0..100) scaled by
// setting_percent; 100 gives base_percent exactly, 0 gives silence.
int32_t settings_scaled_volume(int32_t base_percent, int32_t setting_percent);
