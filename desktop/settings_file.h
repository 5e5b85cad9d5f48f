// The player's settings file: $XDG_CONFIG_HOME/q47/settings (~/.config/q47/settings), read at
// start-up and written back whole, atomically, when the player changes a setting.
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
// Keeps text (a whole settings text) as the settings file, making its folder first; false with
// why in error.
bool settings_file_save(const std::string& text, std::string& error);
// Writes settings to path whole through a temporary file; false with "PATH: reason" in error.
bool settings_file_write(const std::string& path, const Settings& settings, std::string& error);
