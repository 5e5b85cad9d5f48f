// The files the desktop game reads and writes: level packs, replays, the kept last run. Every
// reader and writer goes through media/file.h; the formats themselves are the core's.
#pragma once

#include <string>

#include "core/level_pack.h"
#include "core/replay_codec.h"

constexpr const char* FILES_LAST_RUN_NAME = "last.q47r";  // in the state folder

// Reads and parses the pack file at path. On failure, error holds every problem as
// "PATH:LINE:COLUMN: message" lines (or one "q47: PATH: reason" line when it cannot be read).
bool files_read_pack(const std::string& path, LevelPack& pack, std::string& error);
// Reads the replay file at path; false with "PATH: reason" in error.
bool files_read_replay(const std::string& path, Replay& replay, std::string& error);
// Writes replay to path atomically; false with "PATH: reason" in error.
bool files_write_replay(const std::string& path, const Replay& replay, std::string& error);
// Where the last run is kept (the state folder's last.q47r, folders made as needed); empty,
// with the reason in error, when there is no such place.
std::string files_last_run_path(std::string& error);
