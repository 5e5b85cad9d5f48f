#include "desktop/files.h"

#include <vector>

#include "core/report.h"
#include "desktop/data_path.h"
#include "media/file.h"

bool files_read_pack(const std::string& path, LevelPack& pack, std::string& error) {
  std::string text;
  if (!file_read(path, PACK_FILE_MAX, "too large for a level pack (over 4 MiB)", text, error)) {
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

std::string files_last_run_path(std::string& error) {
  const std::string folder = data_path_state_dir(error);
  return folder.empty() ? folder : folder + "/" + FILES_LAST_RUN_NAME;
}
