// The player's settings file: $XDG_CONFIG_HOME/q47/settings (~/.config/q47/settings), read at
// start-up; a change the player makes is merged into what the file holds then, line by line.
#pragma once

#include <string>

#include "core/settings.h"

constexpr const char* SETTINGS_FILE_NAME = "settings";  // in the config folder

// The settings at path: the defaults when there is no file; every problem is reported as one
// line on standard error and leaves that setting at its default. Never fails.
Settings settings_file_read(const std::string& path);
// The settings file's path (its folder is not made), or empty (nothing reported) when there is
// no home to put it in.
std::string settings_file_path();
// settings_file_read(settings_file_path()), or the defaults without a config folder.
Settings settings_file_load();
// Keeps the player's change from before to after in the settings file at path: only the lines of
// the settings that changed are written, under the file's lock, into what it holds now, so
// another game's change and the player's own lines and comments stay. A file that cannot be read
// as settings is set aside (said on standard error), never rewritten from the defaults. False
// with why in error.
bool settings_file_change(const std::string& path, const Settings& before, const Settings& after,
                          std::string& error);
// settings_file_change on the settings file's path, making its folder first.
bool settings_file_save(const Settings& before, const Settings& after, std::string& error);
// Writes settings to path whole through a temporary file; false with "PATH: reason" in error.
bool settings_file_write(const std::string& path, const Settings& settings, std::string& error);
