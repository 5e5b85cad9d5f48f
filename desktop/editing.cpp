// --edit FILE: the level editor's files. The program's frame edits; this shell reads the pack,
// writes it when asked (never over what another program wrote, or over a read-only file,
// without asking), keeps unsaved work as a recovery copy of this editor's own, and offers the
// copy a killed editor left.
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/edit.h"
#include "core/level_pack.h"
#include "core/replay_codec.h"
#include "core/report.h"
#include "desktop/commands.h"
#include "desktop/data_path.h"
#include "desktop/files.h"
#include "desktop/hub_publish.h"
#include "desktop/shell.h"
#include "media/file.h"
#include "play/app.h"

namespace {

// A publication on its way to the hub, asked on a thread of its own so that no frame waits on
// the network. Shared with that thread, which may outlive the editor's wish for its answer.
struct Publication {
  std::mutex lock;      // guards the rest
  bool done = false;    // the hub answered, or could not be reached
  bool ok = false;      // it was published
  std::string address;  // its address, when ok
  std::string error;    // why not, when not ok
};

// What the editor keeps about its files.
struct EditFiles {
  std::string path;            // the pack's file (a new name after a save under one)
  PackSeen seen;               // the file as last read or written
  std::string recovery;        // this editor's recovery copy; "" when none can be kept
  std::string offered;         // a copy another editor left, offered at the start; removed on save
  bool recovery_said = false;  // the player was told that no copy can be kept
  std::shared_ptr<Publication> publication;  // the one being waited for, if any
  int live_lock = -1;                        // held beside the recovery copy while this editor runs
};

bool stat_of(const std::string& path, struct stat& info) { return stat(path.c_str(), &info) == 0; }

// Whether the file is still what seen says this editor last read or wrote. A file touched but
// not changed is the same; its text is read only when its size, time or identity moved.
bool unchanged(const std::string& path, const PackSeen& seen, std::string& their_text,
               bool& readable) {
  struct stat info {};
  readable = false;
  if (!stat_of(path, info)) return !seen.exists && errno == ENOENT;
  std::string error;
  if (!seen.exists) {
    readable = file_read(path, PACK_FILE_MAX, PACK_TOO_LARGE, their_text, error);
    return false;
  }
  const int64_t modified =
      static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  if (info.st_dev == seen.device && info.st_ino == seen.inode && info.st_size == seen.size &&
      modified == seen.modified_ns) {
    return true;
  }
  readable = file_read(path, PACK_FILE_MAX, PACK_TOO_LARGE, their_text, error);
  return readable && their_text == seen.text;
}

// A file nobody may write (no write bit at all), which even root should not replace unasked.
bool read_only(const std::string& path) {
  struct stat info {};
  return stat_of(path, info) && (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

// The name of path's work in the recovery folder: the file's real path (through a link, and
// the same before and after the file exists) hashed, then this editor's process id, so two
// editors on one file keep a copy each.
std::string recovery_stem(const std::string& path) {
  char resolved[PATH_MAX];
  std::string whole;
  if (realpath(path.c_str(), resolved)) {
    whole = resolved;
  } else {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    whole = (realpath(folder.c_str(), resolved) ? resolved : folder) + "/" +
            path.substr(slash == std::string::npos ? 0 : slash + 1);
  }
  return replay_hex(replay_hash(whole.data(), whole.size()));
}

// The recovery folder, made when missing; "" with why when there is none to be had.
std::string recovery_folder(std::string& error) {
  const std::string state = data_path_state_dir(error);
  if (state.empty()) return {};
  const std::string folder = state + "/recovery";
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    error = folder + ": " + std::strerror(errno);
    return {};
  }
  return folder;
}

// The lock an editor holds beside its recovery copy while it runs.
std::string live_lock_path(const std::string& copy) {
  const size_t slash = copy.rfind('/');
  return copy.substr(0, slash + 1) + "." + copy.substr(slash + 1) + ".live";
}

// The newest copy of stem's work that an editor no longer running left in folder, and its
// text, when it differs from current; "" when there is none.
std::string left_copy(const std::string& folder, const std::string& stem,
                      const std::string& current, std::string& text) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) return {};
  std::string newest;
  int64_t newest_ns = -1;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    // "STEM-PID.q47l", or "STEM.q47l" as earlier versions named the one copy of a file.
    if (name.compare(0, stem.size(), stem) != 0 || name.size() < 5 ||
        name.compare(name.size() - 5, 5, ".q47l") != 0) {
      continue;
    }
    const std::string middle = name.substr(stem.size(), name.size() - 5 - stem.size());
    if (!middle.empty()) {
      if (middle[0] != '-' || middle.size() < 2 ||
          middle.find_first_not_of("0123456789", 1) != std::string::npos) {
        continue;
      }
      // A running editor's copy is its own, not work to recover. Each editor holds a lock
      // beside its copy while it runs, which ends with it whatever becomes of its process id;
      // a copy without one is an older editor's, known by its id alone.
      const int held = file_lock_try(live_lock_path(folder + "/" + name));
      const long pid = std::strtol(middle.c_str() + 1, nullptr, 10);
      if (held == 1) continue;
      if (held < 0 && pid > 0 && pid != getpid() && kill(static_cast<pid_t>(pid), 0) == 0) {
        continue;
      }
    }
    const std::string path = folder + "/" + name;
    struct stat info {};
    if (!stat_of(path, info)) continue;
    const int64_t modified =
        static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    if (modified > newest_ns) {
      newest_ns = modified;
      newest = path;
    }
  }
  closedir(dir);
  std::string error;
  if (newest.empty() || !file_read(newest, PACK_FILE_MAX, PACK_TOO_LARGE, text, error) ||
      text == current) {
    return {};
  }
  return newest;
}

// A free name beside path for the player's version: "NAME.mine.q47l", then ".mine-2" and on.
std::string free_name_beside(const std::string& path) {
  const size_t dot = path.rfind(".q47l");
  const std::string stem =
      dot == std::string::npos || dot + 5 != path.size() ? path : path.substr(0, dot);
  for (int n = 1; n < 1000; ++n) {
    const std::string name = stem + (n == 1 ? ".mine" : ".mine-" + std::to_string(n)) + ".q47l";
    struct stat info {};
    if (lstat(name.c_str(), &info) != 0 && errno == ENOENT) return name;
  }
  return {};
}

// Where the proof of a pack's level is kept: beside the pack, "NAME.levelNN.q47r".
std::string proof_path(const std::string& pack_path, int32_t level) {
  char name[32];
  std::snprintf(name, sizeof name, ".level%02d.q47r", level);
  return pack_path.substr(0, pack_path.rfind(".q47l")) + name;
}

// The proofs kept beside the pack by earlier sessions, handed to the editor; a stale one is
// harmless (publishing checks each against the pack as it is then).
void offer_kept_proofs(const std::string& pack_path, int32_t levels) {
  for (int32_t level = 1; level <= levels; ++level) {
    Replay run;
    std::string error;
    const std::string path = proof_path(pack_path, level);
    if (file_usable(path) && files_read_replay(path, run, error)) app_add_proof(level, run);
  }
}

// Keeps text as this editor's recovery copy, the one way every kept file is written.
bool keep_copy(const std::string& path, const std::string& text, std::string& error) {
  std::string aside;
  const FileKeepRules rules{PACK_FILE_MAX, PACK_TOO_LARGE, false};
  return file_keep(
      path, rules,
      [&](std::string& held, bool, std::string&) {
        held = text;
        return FileChanged::TEXT;
      },
      aside, error);
}

void say_no_recovery(EditFiles& files, const std::string& why) {
  if (files.recovery_said) return;
  files.recovery_said = true;
  report("unsaved work cannot be kept: " + why);
  app_say("UNSAVED WORK CANNOT BE KEPT: " + why);
}

// After a save: files.seen is the file as written.
void saved(EditFiles& files) {
  app_saved("");
  if (!files.recovery.empty()) unlink(files.recovery.c_str());
  if (!files.offered.empty()) {
    unlink(files.offered.c_str());
    unlink(live_lock_path(files.offered).c_str());
    unlink(file_lock_path(files.offered).c_str());
  }
  files.offered.clear();
}

void save(EditFiles& files, const AppAsk& ask) {
  std::string error;
  if (ask.kind == AppAsk::Kind::SAVE_PACK_AS) {
    const std::string name = free_name_beside(files.path);
    if (name.empty()) {
      app_saved("no free name beside " + files.path);
      return;
    }
    if (!file_write_atomic(name, ask.text, error)) {
      app_saved(error);
      return;
    }
    files.path = name;
    files.seen = files_pack_seen(name, ask.text);
    saved(files);
    app_say("SAVED AS " + name.substr(name.rfind('/') + 1) + "; CTRL+S SAVES THERE NOW");
    return;
  }
  std::string theirs;
  bool readable = false;
  switch (files_save_pack(files.path, files.seen, ask.base, ask.text, ask.force, theirs, readable,
                          error)) {
    case PackSaved::SAVED:
      saved(files);
      return;
    case PackSaved::CHANGED:
      app_ask_before_saving("THE FILE CHANGED SINCE IT WAS OPENED: ANOTHER PROGRAM WROTE IT",
                            readable ? &theirs : nullptr);
      return;
    case PackSaved::READ_ONLY:
      app_ask_before_saving("THE FILE IS READ-ONLY", nullptr);
      return;
    case PackSaved::FAILED:
      app_saved(error);
      return;
  }
}

// Does what the editor's frame asked: the pack saved, unsaved work kept, a proof kept.
void edit_asks(EditFiles& files, const std::vector<AppAsk>& asks) {
  std::string error;
  for (const AppAsk& ask : asks) {
    switch (ask.kind) {
      case AppAsk::Kind::SAVE_PACK:
      case AppAsk::Kind::SAVE_PACK_AS:
        save(files, ask);
        break;
      case AppAsk::Kind::KEEP_RECOVERY:
        if (files.recovery.empty()) break;
        if (!keep_copy(files.recovery, ask.text, error)) say_no_recovery(files, error);
        break;
      case AppAsk::Kind::KEEP_PROOF: {
        const std::string proof = proof_path(files.path, ask.level);
        if (files_write_replay(proof, ask.run, error)) {
          app_say("KEPT AS " + proof.substr(proof.rfind('/') + 1) + " (SAVE THE PACK TOO)");
        } else {
          app_say("CANNOT KEEP IT: " + error);
        }
        break;
      }
      case AppAsk::Kind::PUBLISH: {
        // The whole call runs beside the frame; a publication given up on (Escape) runs out
        // its own time alone, its answer unread.
        auto publication = std::make_shared<Publication>();
        files.publication = publication;
        std::thread([publication, text = ask.text, runs = ask.runs] {
          std::string address, problem;
          const bool ok = hub_publish(text, runs, address, problem);
          const std::lock_guard<std::mutex> hold(publication->lock);
          publication->ok = ok;
          publication->address = address;
          publication->error = problem;
          publication->done = true;
        }).detach();
        break;
      }
      case AppAsk::Kind::KEEP_RUN:
      case AppAsk::Kind::LEVEL_WON:      // the desktop sends whole runs, with --submit
      case AppAsk::Kind::SAVE_SETTINGS:  // kept by the shell's frame
        break;
    }
  }
}

// Shows the hub's answer to the publication waited for, once it has come.
void publication_answered(EditFiles& files) {
  if (!files.publication) return;
  Publication answer;
  {
    const std::lock_guard<std::mutex> hold(files.publication->lock);
    if (!files.publication->done) return;
    answer.ok = files.publication->ok;
    answer.address = files.publication->address;
    answer.error = files.publication->error;
  }
  files.publication.reset();
  if (answer.ok) {
    std::printf("published: %s\n", answer.address.c_str());
    std::fflush(stdout);
    app_published(answer.address, "");
  } else {
    report("not published: " + answer.error);
    app_published("", answer.error);
  }
}

}  // namespace

PackSeen files_pack_seen(const std::string& path, const std::string& text) {
  PackSeen seen;
  struct stat info {};
  if (!stat_of(path, info)) return seen;
  seen.exists = true;
  seen.device = info.st_dev;
  seen.inode = info.st_ino;
  seen.size = info.st_size;
  seen.modified_ns = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  seen.text = text;
  return seen;
}

PackSaved files_save_pack(const std::string& path, PackSeen& seen, const std::string& base,
                          const std::string& text, bool force, std::string& theirs, bool& readable,
                          std::string& error) {
  readable = false;
  const int lock = file_lock(file_lock_path(path), error);
  if (lock < 0) return PackSaved::FAILED;
  struct Unlock {
    int handle;
    ~Unlock() { file_unlock(handle); }
  } unlock{lock};
  if (!force) {
    // The file as the work was last opened (its own text, or theirs after T) may be replaced.
    if (!unchanged(path, seen, theirs, readable) && !(readable && theirs == base)) {
      return PackSaved::CHANGED;
    }
    if (read_only(path)) return PackSaved::READ_ONLY;
  }
  if (!file_write_atomic(path, text, error)) return PackSaved::FAILED;
  // Taken before the lock is let go: the file as this editor wrote it, not as another's save
  // may make it a moment later.
  seen = files_pack_seen(path, text);
  return PackSaved::SAVED;
}

int edit_main(const std::string& path) {
  EditSession edit;
  std::string text, error;
  if (file_usable(path) || errno != ENOENT) {
    if (!file_read(path, PACK_FILE_MAX, PACK_TOO_LARGE, text, error)) {
      report(error);
      return 2;
    }
    if (!edit_open(edit, text, path, error)) {
      std::fputs(error.c_str(), stderr);
      return 2;
    }
  } else {
    edit_start(edit, edit_new_pack());
  }
  if (!file_can_write(path, error)) {
    report("cannot save the pack: " + error);
    return 2;
  }
  EditFiles files;
  files.path = path;
  files.seen = files_pack_seen(path, text);
  std::string recovery_error;
  const std::string folder = recovery_folder(recovery_error);
  const std::string stem = recovery_stem(path);
  std::string recovered;
  if (!folder.empty()) {
    files.recovery = folder + "/" + stem + "-" + std::to_string(getpid()) + ".q47l";
    // Held until the program ends, so no later editor takes this copy for a dead one's.
    std::string lock_error;
    files.live_lock = file_lock(live_lock_path(files.recovery), lock_error);
    files.offered = left_copy(folder, stem, edit_text(edit), recovered);
  }
  shell_startup();
  const int32_t levels = static_cast<int32_t>(edit.pack.levels.size());
  app_edit(std::move(edit), files.offered.empty() ? std::string() : recovered);
  offer_kept_proofs(path, levels);
  if (folder.empty()) say_no_recovery(files, recovery_error);
  if (read_only(path)) app_say("THE FILE IS READ-ONLY: CTRL+S ASKS BEFORE REPLACING IT");
  for (;;) {
    std::vector<AppAsk> asks;
    const int32_t going = game_frame(&asks);
    edit_asks(files, asks);
    publication_answered(files);
    if (!going) break;
  }
  // Work quit unsaved keeps its copy: it is offered when the file is opened again. Without one,
  // its locks go too.
  if (!files.recovery.empty() && !file_usable(files.recovery)) {
    unlink(live_lock_path(files.recovery).c_str());
    unlink(file_lock_path(files.recovery).c_str());
  }
  game_end();
  return 0;
}
