#include "desktop/settings_file.h"

#include <sys/stat.h>

#include <vector>

#include "core/report.h"
#include "desktop/data_path.h"
#include "media/file.h"

Settings settings_file_read(const std::string& path) {
  // No file is the first run: the defaults, and nothing to say about it.
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) return Settings{};
  std::string text;
  std::string error;
  if (!file_read(path, SETTINGS_TEXT_MAX, "too large for a settings file", text, error)) {
    report(error + "; the default settings are used");
    return Settings{};
  }
  std::vector<std::string> problems;
  const Settings settings = settings_parse(text, path, problems);
  for (const std::string& problem : problems) report(problem);
  return settings;
}

std::string settings_file_path() {
  // A missing config folder is said when the settings are saved, not at every start.
  std::string error;
  const std::string dir = data_path_config_dir(error, false);
  return dir.empty() ? std::string() : file_join(dir, SETTINGS_FILE_NAME);
}

Settings settings_file_load() {
  const std::string path = settings_file_path();
  return path.empty() ? Settings{} : settings_file_read(path);
}

bool settings_file_write(const std::string& path, const Settings& settings, std::string& error) {
  return file_write_atomic(path, settings_format(settings), error);
}

bool settings_file_change(const std::string& path, const Settings& before, const Settings& after,
                          std::string& error) {
  const FileKeepRules rules{SETTINGS_TEXT_MAX, "too large for a settings file", false};
  std::string aside;
  const bool kept = file_keep(
      path, rules,
      [&](std::string& text, bool there, std::string& why) {
        if (!there) {
          text = settings_format(after);
          return FileChanged::TEXT;
        }
        // Binary bytes are no settings to merge into.
        if (text.find('\0') != std::string::npos) return FileChanged::UNREADABLE;
        std::string merged = settings_merge(text, before, after);
        if (merged == text) return FileChanged::NOTHING;
        if (merged.size() > SETTINGS_TEXT_MAX) {
          why = path + ": the change would make it too large for a settings file";
          return FileChanged::REFUSED;
        }
        text = std::move(merged);
        return FileChanged::TEXT;
      },
      aside, error);
  if (!aside.empty()) {
    report(path + ": could not be read as settings; kept as " + aside +
           " and a new settings file started");
  }
  return kept;
}

bool settings_file_save(const Settings& before, const Settings& after, std::string& error) {
  const std::string dir = data_path_config_dir(error, true);
  if (dir.empty()) return false;
  return settings_file_change(file_join(dir, SETTINGS_FILE_NAME), before, after, error);
}
