#include "desktop/submit.h"

#include <fcntl.h>
#ifndef _WIN32
#include <pwd.h>
#endif
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "core/digest.h"
#include "core/level_pack.h"
#include "core/replay_codec.h"
#include "core/report.h"
#include "desktop/data_path.h"
#include "desktop/files.h"
#include "desktop/hub_client.h"
#include "desktop/hub_keys.h"
#include "desktop/hub_link.h"
#include "desktop/options.h"
#include "media/file.h"
#include "play/session.h"

namespace {

using Json = nlohmann::json;

// One replay on its way to the hub.
struct Outgoing {
  std::string path;     // as the player named it, or the kept run's path
  std::string sha256;   // of its bytes: how the list of runs sent knows it
  std::string replay;   // its bytes
  std::string run;      // the hub's run id once acknowledged
  std::string problem;  // why it was not sent (with its exit code)
  int code = 0;         // 0, or the exit code its line stands for
};

// The state folder, or empty after saying why not.
std::string state_folder() {
  std::string error;
  const std::string folder = data_path_state_dir(error);
  if (folder.empty()) report("no place for the hub's key: " + error);
  return folder;
}

// The lines of a small file of ours as words, or nothing when it is missing. False (said) when
// it is there but cannot be read.
bool read_lines(const std::string& path, std::vector<std::vector<std::string>>& lines) {
  lines.clear();
  if (!std::filesystem::exists(path)) return true;
  std::string text;
  std::string error;
  if (!file_read(path, 1 << 20, "too large for a list of ours", text, error)) {
    report(error);
    return false;
  }
  lines = hub_keys_lines(text);
  return true;
}

// Changes a small file of ours the one way (see file_keep), private when it holds keys; false
// after saying why.
bool keep_file(const std::string& path, bool private_file, const FileChange& change) {
  const FileKeepRules rules{1 << 20, "too large for a list of ours", private_file};
  std::string aside;
  std::string error;
  const bool kept = file_keep(path, rules, change, aside, error);
  if (!aside.empty()) report(path + ": could not be read; kept as " + aside);
  if (!kept && !error.empty()) report(error);
  return kept;
}

// text with line added at its end, on a line of its own.
std::string with_line(std::string text, const std::string& line) {
  if (!text.empty() && text.back() != '\n') text += '\n';
  return text + line + "\n";
}

// The kept keys, hub URL to key; false after saying why the file cannot be used.
bool read_keys(const std::string& path, std::map<std::string, std::string>& keys) {
  if (!std::filesystem::exists(path)) return true;
  std::string text;
  std::string error;
  if (!file_read(path, 1 << 20, "too large for a list of keys", text, error)) {
    report(error);
    return false;
  }
  std::vector<int> repeated;
  if (!hub_keys_parse(text, keys, &repeated)) {
    report(path + ": a line is not 'URL KEY'; the file is kept as it is");
    return false;
  }
  for (int line : repeated) {
    report(path + ":" + std::to_string(line) +
           ": a second key for a hub already keyed above; the first is used");
  }
  return true;
}

// The player's name on a new key: the login name when it is one a hub takes.
std::string player_name() {
#ifdef _WIN32
  const char* login = std::getenv("USERNAME");
  std::string name = login ? login : "";
#else
  const passwd* entry = getpwuid(getuid());
  std::string name = entry && entry->pw_name ? entry->pw_name : "";
#endif
  const bool printable =
      std::all_of(name.begin(), name.end(), [](char c) { return c > ' ' && c < 127; });
  if (name.empty() || name.size() > 32 || !printable) name = "player";
  return name;
}

// The key for hub: the kept one, or a new one made there and kept. Empty after saying why.
std::string key_for(HubConnection& connection, const std::string& hub, const std::string& folder) {
  const std::string path = folder + "/" + SUBMIT_KEY_NAME;
  std::map<std::string, std::string> keys;
  if (!read_keys(path, keys)) return {};
  if (keys.count(hub)) return keys[hub];
  const HubAnswer answer =
      connection.request("POST", hub, "/api/players", Json{{"name", player_name()}}.dump(), "");
  if (answer.status == 0) {
    report("cannot reach the hub at " + hub + ": " + answer.failure);
    return {};
  }
  const Json parsed = Json::parse(answer.body, nullptr, false);
  if (answer.status != 201 || !parsed.is_object() || !parsed.contains("key") ||
      !parsed["key"].is_string() || !hub_key_well_formed(parsed["key"].get<std::string>())) {
    report("the hub at " + hub + " made no key: " + hub_answer_error(answer));
    return {};
  }
  // Kept under the file's lock, added to what the file holds by then: a key imported meanwhile
  // (for this hub too) is never lost, and the one kept first stays the player's key.
  std::string key = parsed["key"].get<std::string>();
  const bool kept = keep_file(path, true, [&](std::string& text, bool, std::string& error) {
    std::map<std::string, std::string> now;
    if (!hub_keys_parse(text, now)) {
      error = path + ": a line is not 'URL KEY'; the file is kept as it is";
      return FileChanged::REFUSED;
    }
    if (now.count(hub)) {
      key = now[hub];
      return FileChanged::NOTHING;
    }
    text = with_line(text, hub + " " + key);
    return FileChanged::TEXT;
  });
  return kept ? key : std::string();
}

// A run id of the hub's answer as text (a number or a word); empty when it is neither or could
// not stand in a path.
std::string id_text(const Json& value) {
  if (value.is_number_integer()) return std::to_string(value.get<int64_t>());
  if (!value.is_string()) return {};
  const std::string text = value.get<std::string>();
  const bool plain =
      !text.empty() && text.size() <= 128 && std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
               c == '-' || c == '_';
      });
  return plain ? text : std::string();
}

// What a verified run proved, as the rest of its line: "score 12 on 3 levels (1: 5, 2: 4, 3: 3),
// 5123 frames".
std::string proven(const Json& run) {
  int64_t score = 0;
  std::string each;
  const Json levels = run.value("levels", Json::array());
  for (const Json& level : levels.is_array() ? levels : Json::array()) {
    const int64_t gained = level.value("score", int64_t{0});
    score += gained;
    each += (each.empty() ? "" : ", ") + std::to_string(level.value("level", int64_t{0})) + ": " +
            std::to_string(gained);
  }
  const size_t count = levels.is_array() ? levels.size() : 0;
  std::string line = "score " + std::to_string(score) + " on " + std::to_string(count) +
                     (count == 1 ? " level" : " levels");
  if (!each.empty()) line += " (" + each + ")";
  return line + ", " + std::to_string(run.value("frames", int64_t{0})) + " frames";
}

// Says one file's line on standard output.
void say(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

// Reads and checks one replay against the levels in use; a problem goes into the Outgoing.
Outgoing prepare(const std::string& path) {
  Outgoing out;
  out.path = path;
  std::string error;
  if (!file_read(path, REPLAY_FILE_MAX, "too large for a replay", out.replay, error)) {
    out.problem = error;
    out.code = 2;
    return out;
  }
  Replay replay;
  std::string reason;
  if (!replay_decode(reinterpret_cast<const uint8_t*>(out.replay.data()), out.replay.size(), replay,
                     reason)) {
    out.problem = path + ": " + reason;
    out.code = 2;
    return out;
  }
  reason = replay_unusable(replay, session_stream());
  if (!reason.empty()) {
    out.problem =
        path + ": " + reason +
        (game_options.levels_path.empty() ? " (give the pack it was played on with --levels)" : "");
    out.code = 2;
    return out;
  }
  out.sha256 = sha256_hex(out.replay);
  return out;
}

}  // namespace

std::string submit_key(HubConnection& connection, const std::string& hub) {
  const std::string folder = state_folder();
  return folder.empty() ? std::string() : key_for(connection, hub, folder);
}

std::string submit_hub_url(std::string& problem) {
  std::string given = game_options.hub_url;
  const char* from_environment = std::getenv(HUB_URL_VARIABLE);
  if (given.empty() && from_environment && *from_environment) given = from_environment;
  if (given.empty()) given = HUB_DEFAULT_URL;
  return hub_url_normal(given, problem);
}

int submit_main(const std::vector<std::string>& files) {
  std::string problem;
  const std::string hub = submit_hub_url(problem);
  if (hub.empty()) {
    report(problem);
    return 2;
  }
  const std::string folder = state_folder();
  if (folder.empty()) return 2;
  // The pack's id is its bytes' SHA-256: the very file played, as the hub names it.
  std::string pack = "builtin";
  std::string link_base;
  std::string link_id;
  if (hub_pack_link(game_options.levels_path, link_base, link_id)) {
    pack = link_id;
  } else if (!game_options.levels_path.empty()) {
    std::string bytes;
    std::string error;
    if (!file_read(game_options.levels_path, PACK_FILE_MAX, PACK_TOO_LARGE, bytes, error)) {
      report(error);
      return 2;
    }
    pack = sha256_hex(bytes);
  }
  // Two --submit at once would both send the kept runs: one waits for the other.
  std::string lock_error;
  struct Unlock {
    int handle;
    ~Unlock() { file_unlock(handle); }
  } unlock{file_lock(folder + "/" + SUBMIT_LOCK_NAME, lock_error)};

  const std::string sent_path = folder + "/" + SUBMIT_SENT_NAME;
  std::vector<std::vector<std::string>> sent_lines;
  if (!read_lines(sent_path, sent_lines)) return 2;
  std::set<std::pair<std::string, std::string>> sent;  // (hub, sha256) sent before
  for (const auto& words : sent_lines) {
    if (words.size() >= 2) sent.emplace(words[0], words[1]);
  }

  // The kept runs, oldest first; the list of runs sent keeps only lines for these.
  std::vector<Outgoing> kept;
  std::set<std::string> kept_shas;
  {
    std::vector<std::pair<int64_t, std::string>> runs;
    std::error_code listing;
    for (const auto& entry : std::filesystem::directory_iterator(folder, listing)) {
      const std::string name = entry.path().filename().string();
      const int64_t number = files_run_number(name);
      if (number >= 0) runs.emplace_back(number, entry.path().string());
    }
    std::sort(runs.begin(), runs.end());
    for (const auto& [number, path] : runs) {
      kept.push_back(prepare(path));
      if (!kept.back().sha256.empty()) kept_shas.insert(kept.back().sha256);
    }
  }
  std::vector<Outgoing> outgoing;
  if (files.empty()) {
    // A kept run of other levels is not this submission's: it waits for its own --levels.
    for (const Outgoing& run : kept) {
      if (!run.code && !sent.count({hub, run.sha256})) outgoing.push_back(run);
    }
    if (outgoing.empty()) {
      say("no kept runs of these levels left to send to " + hub);
      return 0;
    }
  } else {
    for (const std::string& path : files) outgoing.push_back(prepare(path));
  }

  // Nothing usable to send: the problems are said without a word to the hub.
  if (std::all_of(outgoing.begin(), outgoing.end(), [](const Outgoing& o) { return o.code; })) {
    for (const Outgoing& run : outgoing) report(run.problem);
    return 2;
  }
  HubConnection connection;
  const std::string key = key_for(connection, hub, folder);
  if (key.empty()) return 2;

  // Every run is sent first, so the hub's workers verify them side by side; then each is
  // awaited in turn.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(SUBMIT_WAIT_SECONDS);
  for (Outgoing& run : outgoing) {
    if (run.code) continue;
    const std::string body = Json{{"pack", pack}, {"replay", base64_encode(run.replay)}}.dump();
    HubAnswer answer;
    for (;;) {
      answer = connection.request("POST", hub, "/api/runs", body, key);
      // Asked to slow down: wait as told (a second when not told) while there is time.
      if ((answer.status != 429 && answer.status != 503) ||
          std::chrono::steady_clock::now() + std::chrono::seconds(answer.retry_after) >= deadline) {
        break;
      }
      std::this_thread::sleep_for(std::chrono::seconds(std::max(1L, answer.retry_after)));
    }
    if (answer.status == 0) {
      report("cannot reach the hub at " + hub + ": " + answer.failure);
      return 2;
    }
    if (answer.status == 401) {
      report("the hub at " + hub + " does not take the key kept in " + folder + "/" +
             SUBMIT_KEY_NAME + ": " + hub_answer_error(answer));
      return 2;
    }
    const Json parsed = Json::parse(answer.body, nullptr, false);
    if (answer.status == 202 && parsed.is_object() && parsed.contains("run")) {
      run.run = id_text(parsed["run"]);
    }
    if (run.run.empty()) {
      run.problem = run.path + ": refused by the hub: " + hub_answer_error(answer);
      run.code = answer.status >= 500 || answer.status == 429 ? 2 : 1;
      continue;
    }
    // Remembered at once, before the next request can fail: an acknowledged run is sent once.
    // Only runs still kept are worth a line, so the list stays as short as the folder.
    sent.emplace(hub, run.sha256);
    const std::string line = hub + " " + run.sha256 + " " + run.run;
    const bool remembered = keep_file(sent_path, false, [&](std::string& text, bool, std::string&) {
      std::string kept_text;
      for (const auto& words : hub_keys_lines(text)) {
        if (words.size() == 3 && kept_shas.count(words[1])) {
          kept_text += words[0] + " " + words[1] + " " + words[2] + "\n";
        }
      }
      text = kept_shas.count(run.sha256) ? with_line(kept_text, line) : kept_text;
      return FileChanged::TEXT;
    });
    if (!remembered) return 2;
  }

  int code = 0;
  for (Outgoing& run : outgoing) {
    if (run.code) {
      report(run.problem);
      code = std::max(code, run.code);
      continue;
    }
    std::chrono::milliseconds pause(50);
    for (;;) {
      const HubAnswer answer = connection.request("GET", hub, "/api/runs/" + run.run, "", key);
      if (answer.status == 0) {
        report("cannot reach the hub at " + hub + ": " + answer.failure);
        return 2;
      }
      const Json parsed = Json::parse(answer.body, nullptr, false);
      const std::string status = answer.status == 200 && parsed.is_object()
                                     ? parsed.value("status", std::string())
                                     : std::string();
      if (status == "verified") {
        say(run.path + ": run " + run.run + " verified: " + proven(parsed));
        break;
      }
      if (status == "refused") {
        say(run.path + ": run " + run.run +
            " refused: " + parsed.value("reason", std::string("no reason given")));
        code = std::max(code, 1);
        break;
      }
      if (status != "queued") {
        report(run.path + ": run " + run.run + ": " + hub_answer_error(answer));
        code = std::max(code, answer.status >= 500 ? 2 : 1);
        break;
      }
      if (std::chrono::steady_clock::now() + pause >= deadline) {
        say(run.path + ": run " + run.run + " still queued after " +
            std::to_string(SUBMIT_WAIT_SECONDS) + " s; see " + hub + "/api/runs/" + run.run);
        code = std::max(code, 1);
        break;
      }
      std::this_thread::sleep_for(pause);
      pause = std::min(pause * 2, std::chrono::milliseconds(1000));
    }
  }
  return code;
}

int hub_key_export_main() {
  const std::string folder = state_folder();
  if (folder.empty()) return 2;
  std::map<std::string, std::string> keys;
  if (!read_keys(folder + "/" + SUBMIT_KEY_NAME, keys)) return 2;
  if (keys.empty()) {
    report("no hub key is kept yet (--submit makes one)");
    return 1;
  }
  const std::string text = hub_keys_format(keys);
  if (std::fputs(text.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
    report("standard output: cannot write the keys");
    return 2;
  }
  return 0;
}

int hub_key_import_main(const std::string& path) {
  std::string problem;
  const std::string hub = submit_hub_url(problem);
  if (hub.empty()) {
    report(problem);
    return 2;
  }
  std::vector<std::vector<std::string>> lines;
  std::string text;
  std::string error;
  if (!file_read(path, 1 << 20, "too large for a list of keys", text, error)) {
    report(error);
    return 2;
  }
  lines = hub_keys_lines(text);
  std::map<std::string, std::string> imported;
  std::vector<std::string> order;  // the hubs in the file's order
  for (const auto& words : lines) {
    const bool bare = words.size() == 1 && hub_key_well_formed(words[0]);
    const bool pair = words.size() == 2 && hub_key_well_formed(words[1]);
    if (!bare && !pair) {
      report(path + ": a line is neither 'URL KEY' nor a key (64 hex digits)");
      return 2;
    }
    std::string url = bare ? hub : hub_url_normal(words[0], problem);
    if (url.empty()) {
      report(path + ": " + problem);
      return 2;
    }
    // Two keys for one hub (two exports joined) are two players: which to keep is the
    // player's choice, never made by the order of lines.
    if (imported.count(url) && imported[url] != words.back()) {
      report(path + ": two different keys for " + url +
             "; import each from a file of its own after removing the other's line");
      return 2;
    }
    if (!imported.count(url)) order.push_back(url);
    imported[url] = words.back();
  }
  if (imported.empty()) {
    report(path + ": no key in the file");
    return 2;
  }
  const std::string folder = state_folder();
  if (folder.empty()) return 2;
  const std::string kept_path = folder + "/" + SUBMIT_KEY_NAME;
  // Merged under the file's lock into what it holds now: imports at once all keep their keys.
  const bool kept = keep_file(kept_path, true, [&](std::string& kept_text, bool, std::string& why) {
    std::map<std::string, std::string> keys;
    if (!hub_keys_parse(kept_text, keys)) {
      why = kept_path + ": a line is not 'URL KEY'; the file is kept as it is";
      return FileChanged::REFUSED;
    }
    // A key is a player: replacing one would lose that player's runs for good.
    for (const auto& [url, key] : imported) {
      if (keys.count(url) && keys[url] != key) {
        why = kept_path + " already holds another key for " + url +
              "; keep a copy of it (--hub-key-export) and remove its line to take the new one";
        return FileChanged::REFUSED;
      }
    }
    bool added = false;
    for (const std::string& url : order) {
      if (keys.count(url)) continue;
      kept_text = with_line(kept_text, url + " " + imported[url]);
      added = true;
    }
    return added ? FileChanged::TEXT : FileChanged::NOTHING;
  });
  return kept ? 0 : 2;
}
