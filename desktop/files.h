// The files the desktop game reads and writes: level packs, replays, the kept last run. Every
// reader and writer goes through media/file.h; the formats themselves are the core's.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/level_pack.h"
#include "core/replay_codec.h"

constexpr const char* FILES_LAST_RUN_NAME = "last.q47r";  // in the state folder: the newest run
constexpr int FILES_RUNS_KEPT = 20;  // dated runs kept beside it, the oldest removed first
constexpr const char* FILES_RUNS_LOCK_NAME = ".runs.lock";  // held while one run is kept

// Reads and parses the pack file at path. On failure, error holds every problem as
// "PATH:LINE:COLUMN: message" lines (or one "q47: PATH: reason" line when it cannot be read).
bool files_read_pack(const std::string& path, LevelPack& pack, std::string& error);
// Reads the replay file at path; false with "PATH: reason" in error.
bool files_read_replay(const std::string& path, Replay& replay, std::string& error);
// Writes replay to path atomically; false with "PATH: reason" in error.
bool files_write_replay(const std::string& path, const Replay& replay, std::string& error);
// Keeps replay in folder as the newest of the runs: last.q47r and a new file of its own,
// run-YYYYMMDD-HHMMSS-NNNNNN.q47r (the local time, then a number one past the highest kept, so
// the order of writing is the order of the numbers whatever the clock says), then removes the
// lowest-numbered runs beyond FILES_RUNS_KEPT. Only names of that exact pattern are ever
// removed. False with the reason in error.
bool files_keep_run(const std::string& folder, const Replay& replay, std::string& error);
// The number of a kept run's name, or -1 for any other name.
int64_t files_run_number(std::string_view name);

// The pack's file as an editor last read or wrote it.
struct PackSeen {
  bool exists = false;  // there was a file
  uint64_t device = 0;  // which file it was
  uint64_t inode = 0;
  int64_t size = 0;
  int64_t modified_ns = 0;
  std::string text;  // what it held
};
// The pack file at path as it is now, holding text.
PackSeen files_pack_seen(const std::string& path, const std::string& text);
// What saving an editor's pack came to.
enum class PackSaved {
  SAVED,      // written; seen is the file as written
  CHANGED,    // another program wrote it since seen (theirs holds its text when readable)
  READ_ONLY,  // nobody may write it: the player is asked first
  FAILED,     // it could not be written (why in error)
};
// Saves text over the pack at path unless the file changed since seen (what this editor last
// read or wrote) to anything but base (the text the work was last opened on: its own, or theirs
// after the player took theirs), or is read-only; force saves over either. The look and the
// write are made under the lock beside the file, so two editors saving at once never both find
// the file unchanged and one write over the other's.
PackSaved files_save_pack(const std::string& path, PackSeen& seen, const std::string& base,
                          const std::string& text, bool force, std::string& theirs, bool& readable,
                          std::string& error);
