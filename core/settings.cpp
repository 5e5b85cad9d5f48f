#include "core/settings.h"

#include "core/parse.h"

namespace {

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

}  // namespace

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
  bool seen_effects = false, seen_music = false, seen_palette = false;
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
    } else if (settings.kept.size() < SETTINGS_KEPT_MAX) {
      // Kept, not dropped: a later game's settings survive this one writing the file back. Still
      // named, as a mistyped name would otherwise do nothing without a word.
      reader.problem(line_number, "unknown setting '" + std::string(name) + "' (kept as it is)");
      settings.kept.emplace_back(name, value);
    } else {
      reader.problem(line_number, "too many unknown settings; line ignored");
    }
  }
  if (reader.hidden > 0) {
    problems.push_back(file_name + ": " + std::to_string(reader.hidden) + " more problem" +
                       (reader.hidden == 1 ? "" : "s") + " not shown");
  }
  return settings;
}

std::string settings_format(const Settings& settings) {
  std::string text =
      "# q47 settings: one \"name value\" a line; \"#\" starts a comment.\n"
      "# Volumes are percent (0..100); palette is plain or marked.\n";
  text += "effects_volume " + std::to_string(settings.effects_volume) + "\n";
  text += "music_volume " + std::to_string(settings.music_volume) + "\n";
  text += std::string("palette ") + (settings.palette_marked ? "marked" : "plain") + "\n";
  for (const auto& [name, value] : settings.kept) text += name + " " + value + "\n";
  return text;
}

int32_t settings_scaled_volume(int32_t base_percent, int32_t setting_percent) {
  // Rounded to nearest, so 100 is exact and nothing above 0 rounds away to silence too soon.
  return (base_percent * setting_percent + 50) / 100;
}
