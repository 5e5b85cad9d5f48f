// Files, read and written safely: the one way the program reads a file it was given and the one
// way it writes one. Both report failures as "PATH: reason" with the system's real reason.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

// Reads the whole regular file at path into bytes, if it holds at most max_bytes. Never blocks
// (a FIFO or a device is refused before it is read) and refuses a file that grows or shrinks
// while it is read. False with "PATH: reason" in error; too_large is the reason given for a
// file over max_bytes.
bool file_read(const std::string& path, size_t max_bytes, const char* too_large, std::string& bytes,
               std::string& error);
// Writes bytes to path through a temporary file in the same folder: all of it written, synced,
// then renamed over path, so a failure at any step leaves the old file as it was. Only a regular
// file (or a symbolic link to one, which stays a link) is replaced, keeping its permission
// bits; anything else at path (a device, a FIFO, a folder) is refused. A new file gets the
// user's umask. False with "PATH: reason" in error.
bool file_write_atomic(const std::string& path, std::string_view bytes, std::string& error);
// Writes bytes as a new file in folder under the first of name(0), name(1), ... that no file
// holds yet: written and synced under a temporary name, then linked in only where nothing is,
// so writers at the same moment never take one name and no reader sees half a file. The name
// taken goes to taken (gives up after 1000 names). False with "PATH: reason" in error.
bool file_write_new(const std::string& folder, const std::function<std::string(int)>& name,
                    std::string_view bytes, std::string& taken, std::string& error);
// Whether path names a file the program can use: a regular file it may read. Opens nothing,
// so a FIFO cannot block here.
bool file_usable(const std::string& path);
// name in folder dir; a name in "." stays bare, as the program has always opened it.
std::string file_join(const std::string& dir, const std::string& name);
// Whether a and b name the same existing file (through links and other names alike).
bool file_same(const std::string& a, const std::string& b);
// Whether file_write_atomic could write path now: what is there may be replaced, and its folder
// takes a new file. False with "PATH: reason" in error. Leaves nothing behind.
bool file_can_write(const std::string& path, std::string& error);

// The lock file that guards path: ".NAME.lock" beside it.
std::string file_lock_path(const std::string& path);
// Takes the advisory lock on the file lock_path (made when missing), waiting while another
// program or thread holds it. The handle to give file_unlock, or -1 with "PATH: reason" in error.
// The one place that knows how the system locks a file.
int file_lock(const std::string& lock_path, std::string& error);
// Whether someone holds the lock on lock_path now, without waiting: 1 held, 0 free, -1 when it
// cannot be told (no such lock file, or it cannot be opened).
int file_lock_try(const std::string& lock_path);
// Lets go of a lock file_lock took.
void file_unlock(int handle);

// What a change to a kept file made of its text.
enum class FileChanged {
  TEXT,        // the text was changed: write it
  NOTHING,     // nothing to write
  REFUSED,     // the change cannot be made (why in error): nothing written
  UNREADABLE,  // what the file holds cannot be merged into: set it aside, change nothing again
};
// Merges one change into text, what the file holds now (empty when there is none: there false).
using FileChange = std::function<FileChanged(std::string& text, bool there, std::string& error)>;
struct FileKeepRules {
  size_t max_bytes = 1 << 20;                   // a longer file cannot be read
  const char* too_large = "too large to read";  // the reason said for one
  bool private_file = false;                    // a new file is made 0600 (it holds a secret)
};
// The one way a file the program keeps is changed, so that two programs changing it at once
// both keep their change: under the lock beside it, what path holds now is read, change merges
// the one change into it, and the result is written to a temporary name and renamed over path.
// A file that cannot be read (too large, or change finds it unreadable) is never rewritten from
// nothing: it is first moved aside to PATH.unreadable-N, named in aside for the caller to say.
// False with "PATH: reason" in error.
bool file_keep(const std::string& path, const FileKeepRules& rules, const FileChange& change,
               std::string& aside, std::string& error);
