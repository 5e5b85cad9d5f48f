#include "desktop/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string_view>
#include <utility>
#include <vector>

#include "core/parse.h"
#include "core/report.h"
#include "desktop/data_path.h"
#include "media/file.h"

bool files_read_pack(const std::string& path, LevelPack& pack, std::string& error) {
  std::string text;
  if (!file_read(path, PACK_FILE_MAX, PACK_TOO_LARGE, text, error)) {
    // A file that cannot be read is the program's complaint, GNU-style; problems inside the
    // text are FILE:LINE:COLUMN lines instead, as editors expect them.
    error = report_line(error);
    return false;
  }
  std::vector<PackProblem> problems;
  if (level_pack_parse(text, pack, problems)) return true;
  error = level_pack_problems_text(path, problems);
  return false;
}

bool files_read_replay(const std::string& path, Replay& replay, std::string& error) {
  std::string bytes;
  if (!file_read(path, REPLAY_FILE_MAX, "too large for a replay", bytes, error)) return false;
  std::string reason;
  if (replay_decode(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), replay, reason)) {
    return true;
  }
  error = path + ": " + reason;
  return false;
}

bool files_write_replay(const std::string& path, const Replay& replay, std::string& error) {
  const std::vector<uint8_t> bytes = replay_encode(replay);
  return file_write_atomic(
      path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), error);
}

int64_t files_run_number(std::string_view name) {
  // run-YYYYMMDD-HHMMSS-N.q47r, N of 6 to 12 digits: nothing else is ours to remove. Runs kept
  // by earlier versions (N of 2 digits, a count within the second) are the oldest of all.
  constexpr std::string_view prefix = "run-", suffix = ".q47r";
  if (name.size() < prefix.size() + 16 + 2 + suffix.size() || name.substr(0, 4) != prefix ||
      name.substr(name.size() - suffix.size()) != suffix) {
    return -1;
  }
  const std::string_view middle = name.substr(4, name.size() - 4 - suffix.size());
  const std::string_view number = middle.substr(16);
  if (number.size() > 12 || (number.size() > 2 && number.size() < 6)) return -1;
  for (size_t i = 0; i < middle.size(); ++i) {
    const bool dash = i == 8 || i == 15;
    if (dash ? middle[i] != '-' : (middle[i] < '0' || middle[i] > '9')) return -1;
  }
  if (number.size() == 2) return 0;
  int64_t value = 0;
  for (char digit : number) value = value * 10 + (digit - '0');
  return value;
}

bool files_keep_run(const std::string& folder, const Replay& replay, std::string& error) {
  // Runs are numbered in the order they are written; the date in the name is for people. A
  // clock set back, or two games ending in one second, cannot reorder them or share a name.
  const auto listed = [&folder] {
    std::vector<std::pair<int64_t, std::string>> runs;
    std::error_code listing;
    for (const auto& entry : std::filesystem::directory_iterator(folder, listing)) {
      const std::string name = entry.path().filename().string();
      const int64_t number = files_run_number(name);
      if (number >= 0) runs.emplace_back(number, name);
    }
    std::sort(runs.begin(), runs.end());
    return runs;
  };
  // One run is kept at a time: its number picked, its file written and the oldest removed under
  // a lock on the folder, so runs ending at one moment (a logout's SIGTERM to every game) in two
  // different seconds neither take one number nor remove each other's file. Without the lock
  // (a folder that refuses it) the exclusive names still keep every file whole.
  std::string lock_error;
  struct FolderLock {
    int handle;
    ~FolderLock() { file_unlock(handle); }
  } lock{file_lock(folder + "/" + FILES_RUNS_LOCK_NAME, lock_error)};
  const auto before = listed();
  const int64_t next = before.empty() ? 1 : before.back().first + 1;
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "run-%Y%m%d-%H%M%S", &local);
  const auto name = [&](int attempt) {
    char text[64];
    std::snprintf(text, sizeof text, "%s-%06lld.q47r", stamp,
                  static_cast<long long>(next + attempt));
    return std::string(text);
  };
  const std::vector<uint8_t> bytes = replay_encode(replay);
  const std::string_view view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  std::string taken;
  if (!file_write_new(folder, name, view, taken, error) ||
      !file_write_atomic(folder + "/" + FILES_LAST_RUN_NAME, view, error)) {
    return false;
  }
  // Listed again: runs that ended at the same moment count too, and each removes only the
  // oldest, so however they interleave the newest twenty stay.
  const auto runs = listed();
  std::error_code removing;
  for (size_t i = 0; i + FILES_RUNS_KEPT < runs.size(); ++i) {
    std::filesystem::remove(folder + "/" + runs[i].second, removing);
  }
  return true;
}
