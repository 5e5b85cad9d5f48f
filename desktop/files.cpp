#include "desktop/files.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
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

bool files_keep_run(const std::string& folder, const Replay& replay, std::string& error) {
  std::vector<std::string> runs;  // the dated runs kept so far
  std::error_code listing;
  for (const auto& entry : std::filesystem::directory_iterator(folder, listing)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("run-", 0) == 0 && entry.path().extension() == ".q47r") runs.push_back(name);
  }
  // The names sort by their time, then by a count that keeps two runs of one second apart.
  std::sort(runs.begin(), runs.end());
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "run-%Y%m%d-%H%M%S", &local);
  int count = 0;
  const size_t stamp_length = std::strlen(stamp);
  for (const std::string& run : runs) {
    int64_t earlier = 0;
    if (run.rfind(stamp, 0) == 0 && parse_int(std::string_view(run).substr(stamp_length + 1, 2), 0,
                                              99, earlier) == ParseInt::OK) {
      count = std::max(count, static_cast<int>(earlier) + 1);
    }
  }
  char name[48];
  std::snprintf(name, sizeof name, "%s-%02d.q47r", stamp, count);
  if (!files_write_replay(folder + "/" + name, replay, error) ||
      !files_write_replay(folder + "/" + FILES_LAST_RUN_NAME, replay, error)) {
    return false;
  }
  runs.push_back(name);
  for (size_t i = 0; i + FILES_RUNS_KEPT < runs.size(); ++i) {
    std::filesystem::remove(folder + "/" + runs[i], listing);
  }
  return true;
}
