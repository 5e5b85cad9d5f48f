#include "core/settings.h"

#include "core/key_names.h"
#include "core/parse.h"

const SettingsActionInfo SETTINGS_ACTION_INFO[SETTINGS_ACTIONS] = {
    {"key_place", "PLACE A BARRIER", KEY_CODE_SPACE},
    {"key_pick_up", "PICK UP", KEY_CODE_DELETE},
    {"key_continue", "CONTINUE", KEY_CODE_ENTER},
    {"key_restart", "RESTART THE LEVEL", KEY_CODE_R},
    {"key_mute", "MUTE", KEY_CODE_M},
    {"key_plainer", "PLAINER PICTURE", KEY_CODE_TAB},
    {"key_up", "CURSOR UP", KEY_CODE_UP},
    {"key_down", "CURSOR DOWN", KEY_CODE_DOWN},
    {"key_left", "CURSOR LEFT", KEY_CODE_LEFT},
    {"key_right", "CURSOR RIGHT", KEY_CODE_RIGHT},
};

namespace {

constexpr const char* PAD_SPEED_NAMES[] = {"slow", "normal", "fast"};

bool is_space(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
  while (!text.empty() && (is_space(text.back()) || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

// Printable ASCII and tabs only: a name or a value with control bytes or other bytes is damage,
// and writing it back would only carry the damage on.
bool printable(std::string_view text) {
  for (char c : text) {
    if ((c < 0x20 && c != '\t') || c > 0x7e) return false;
  }
  return true;
}

struct Reader {
  const std::string& file_name;
  std::vector<std::string>& problems;
  size_t hidden = 0;  // problems past SETTINGS_PROBLEMS_MAX

  void problem(size_t line, const std::string& message) {
    if (problems.size() < SETTINGS_PROBLEMS_MAX) {
      problems.push_back(file_name + ":" + std::to_string(line) + ": " + message);
    } else {
      ++hidden;
    }
  }
};

// A volume value, or a problem and false.
bool read_volume(Reader& reader, size_t line, std::string_view name, std::string_view value,
                 int32_t& out) {
  int64_t number = 0;
  if (parse_int(value, 0, 100, number) != ParseInt::OK) {
    reader.problem(line, std::string(name) + " must be a whole number from 0 to 100, not '" +
                             std::string(value) + "'");
    return false;
  }
  out = static_cast<int32_t>(number);
  return true;
}

// The action a settings name is the key of, or -1.
int32_t action_named(std::string_view name) {
  for (int32_t action = 0; action < SETTINGS_ACTIONS; ++action) {
    if (name == SETTINGS_ACTION_INFO[action].name) return action;
  }
  return -1;
}

// A key line's value, or a problem and false.
bool read_key(Reader& reader, size_t line, int32_t action, std::string_view value, int32_t& out) {
  const std::string name = SETTINGS_ACTION_INFO[action].name;
  const std::string kept = std::string("; the default (") +
                           key_name(SETTINGS_ACTION_INFO[action].default_key) + ") is kept";
  const int32_t code = key_code(value);
  if (code == 0) {
    reader.problem(line, name + ": no key is named '" + std::string(value) + "'" + kept);
    return false;
  }
  if (!key_bindable(code)) {
    reader.problem(line, name + ": " + key_name(code) + " cannot be chosen for an action" + kept);
    return false;
  }
  out = code;
  return true;
}

// Two actions on one key cannot both be meant: the binding given last gives way, back to its
// action's default key, until no key has two actions (the defaults alone have none).
void refuse_shared_keys(Reader& reader, Settings& settings,
                        std::array<size_t, SETTINGS_ACTIONS> given_at) {
  for (;;) {
    int32_t refused = -1;
    int32_t holder = -1;
    for (int32_t a = 0; a < SETTINGS_ACTIONS; ++a) {
      for (int32_t b = 0; b < SETTINGS_ACTIONS; ++b) {
        if (a == b || settings.keys[a] != settings.keys[b] || given_at[a] == 0) continue;
        // a gives way when it was given after b (or b was not given at all).
        if (given_at[b] != 0 && given_at[b] > given_at[a]) continue;
        if (refused < 0 || given_at[a] > given_at[refused]) {
          refused = a;
          holder = b;
        }
      }
    }
    if (refused < 0) return;
    const SettingsActionInfo& info = SETTINGS_ACTION_INFO[refused];
    reader.problem(given_at[refused],
                   std::string(info.name) + ": " + key_name(settings.keys[refused]) +
                       " is already the key of " + SETTINGS_ACTION_INFO[holder].name +
                       "; the default (" + key_name(info.default_key) + ") is kept");
    settings.keys[refused] = info.default_key;
    // Given no more: it is back at its default, which the others must now make room for.
    given_at[refused] = 0;
  }
}

}  // namespace

int32_t settings_key_owner(const Settings& settings, int32_t code) {
  for (int32_t action = 0; action < SETTINGS_ACTIONS; ++action) {
    if (settings.keys[action] == code) return action;
  }
  return -1;
}

const char* settings_pad_speed_name(int32_t speed) {
  return speed >= PAD_SPEED_SLOW && speed <= PAD_SPEED_FAST ? PAD_SPEED_NAMES[speed] : "normal";
}

Settings settings_parse(std::string_view text, const std::string& file_name,
                        std::vector<std::string>& problems) {
  Settings settings;
  if (text.size() > SETTINGS_TEXT_MAX) {
    problems.push_back(file_name + ": too large for a settings file (" +
                       std::to_string(text.size()) + " bytes, limit " +
                       std::to_string(SETTINGS_TEXT_MAX) + "); the defaults are used");
    return settings;
  }
  // A NUL byte means this is not text at all: one line for the file rather than one a line.
  if (text.find('\0') != std::string_view::npos) {
    problems.push_back(file_name + ": not a settings file (binary data); the defaults are used");
    return settings;
  }
  Reader reader{file_name, problems};
  bool seen_effects = false, seen_music = false, seen_palette = false, seen_pad = false;
  // The line each action's key was taken from (0: not given), for the one to refuse when two
  // actions share a key.
  std::array<size_t, SETTINGS_ACTIONS> key_given_at{};
  std::array<bool, SETTINGS_ACTIONS> key_seen{};
  size_t line_number = 0;
  while (!text.empty()) {
    ++line_number;
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    // A comment runs from "#" to the end of the line, wherever it starts.
    const size_t hash = line.find('#');
    if (hash != std::string_view::npos) line = line.substr(0, hash);
    line = trimmed(line);
    if (line.empty()) continue;
    if (!printable(line)) {
      reader.problem(line_number, "not readable text (only printable ASCII); line ignored");
      continue;
    }
    size_t gap = 0;
    while (gap < line.size() && !is_space(line[gap])) ++gap;
    const std::string_view name = line.substr(0, gap);
    const std::string_view value = trimmed(line.substr(gap));
    if (value.empty()) {
      reader.problem(line_number, "'" + std::string(name) + "' has no value; line ignored");
      continue;
    }
    // The first line that names a setting is the one taken, so a line added by hand at the end
    // cannot silently undo one above it without a word.
    auto once = [&](bool& seen) {
      if (!seen) return seen = true;
      reader.problem(line_number, "'" + std::string(name) + "' given again; this line ignored");
      return false;
    };
    if (name == "effects_volume") {
      if (once(seen_effects))
        read_volume(reader, line_number, name, value, settings.effects_volume);
    } else if (name == "music_volume") {
      if (once(seen_music)) read_volume(reader, line_number, name, value, settings.music_volume);
    } else if (name == "palette") {
      if (!once(seen_palette)) continue;
      if (value == "plain") {
        settings.palette_marked = 0;
      } else if (value == "marked") {
        settings.palette_marked = 1;
      } else {
        reader.problem(line_number,
                       "palette must be plain or marked, not '" + std::string(value) + "'");
      }
    } else if (const int32_t action = action_named(name); action >= 0) {
      bool& seen = key_seen[static_cast<size_t>(action)];
      if (!once(seen)) continue;
      if (read_key(reader, line_number, action, value, settings.keys[action])) {
        key_given_at[action] = line_number;
      }
    } else if (name == "pad_stick_speed") {
      if (!once(seen_pad)) continue;
      bool known = false;
      for (int32_t speed = PAD_SPEED_SLOW; speed <= PAD_SPEED_FAST; ++speed) {
        if (value == PAD_SPEED_NAMES[speed]) {
          settings.pad_stick_speed = speed;
          known = true;
        }
      }
      if (!known) {
        reader.problem(line_number, "pad_stick_speed must be slow, normal or fast, not '" +
                                        std::string(value) + "'");
      }
    } else if (settings.kept.size() < SETTINGS_KEPT_MAX) {
      // Kept, not dropped: a later game's settings survive this one writing the file back. Still
      // named, as a mistyped name would otherwise do nothing without a word.
      reader.problem(line_number, "unknown setting '" + std::string(name) + "' (kept as it is)");
      settings.kept.emplace_back(name, value);
    } else {
      reader.problem(line_number, "too many unknown settings; line ignored");
    }
  }
  refuse_shared_keys(reader, settings, key_given_at);
  if (reader.hidden > 0) {
    problems.push_back(file_name + ": " + std::to_string(reader.hidden) + " more problem" +
                       (reader.hidden == 1 ? "" : "s") + " not shown");
  }
  return settings;
}

std::vector<std::pair<std::string, std::string>> settings_lines(const Settings& settings) {
  std::vector<std::pair<std::string, std::string>> lines;
  lines.emplace_back("effects_volume", std::to_string(settings.effects_volume));
  lines.emplace_back("music_volume", std::to_string(settings.music_volume));
  lines.emplace_back("palette", settings.palette_marked ? "marked" : "plain");
  for (int32_t action = 0; action < SETTINGS_ACTIONS; ++action) {
    const char* key = key_name(settings.keys[action]);
    lines.emplace_back(SETTINGS_ACTION_INFO[action].name, key ? key : "?");
  }
  lines.emplace_back("pad_stick_speed", settings_pad_speed_name(settings.pad_stick_speed));
  return lines;
}

std::string settings_format(const Settings& settings) {
  std::string text =
      "# q47 settings: one \"name value\" a line; \"#\" starts a comment.\n"
      "# Volumes are percent (0..100); palette is plain or marked; key_* name the key of an\n"
      "# action (SPACE, ENTER, P, F5, ...); pad_stick_speed is slow, normal or fast.\n";
  for (const auto& [name, value] : settings_lines(settings)) text += name + " " + value + "\n";
  for (const auto& [name, value] : settings.kept) text += name + " " + value + "\n";
  return text;
}

std::string settings_merge(std::string_view text, const Settings& before, const Settings& after) {
  const auto was = settings_lines(before);
  const auto now = settings_lines(after);
  std::string merged(text);
  for (size_t i = 0; i < now.size(); ++i) {
    if (was[i].second == now[i].second) continue;
    const std::string& name = now[i].first;
    // The first line naming the setting is the one read, so it is the one changed; a comment
    // after its value stays.
    bool changed = false;
    size_t from = 0;
    while (from < merged.size()) {
      size_t end = merged.find('\n', from);
      if (end == std::string::npos) end = merged.size();
      size_t at = from;
      while (at < end && is_space(merged[at])) ++at;
      const bool named = merged.compare(at, name.size(), name) == 0 && at + name.size() < end &&
                         is_space(merged[at + name.size()]);
      if (named) {
        const size_t hash = merged.find('#', at);
        std::string line = name + " " + now[i].second;
        if (hash != std::string::npos && hash < end) line += " " + merged.substr(hash, end - hash);
        merged.replace(from, end - from, line);
        changed = true;
        break;
      }
      from = end + 1;
    }
    if (changed) continue;
    if (!merged.empty() && merged.back() != '\n') merged += '\n';
    merged += name + " " + now[i].second + "\n";
  }
  return merged;
}

int32_t settings_scaled_volume(int32_t base_percent, int32_t setting_percent) {
  // Rounded to nearest, so 100 is exact and nothing above 0 rounds away to silence too soon.
  return (base_percent * setting_percent + 50) / 100;
}
