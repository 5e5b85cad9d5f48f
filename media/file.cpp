#include "media/file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#ifdef _WIN32
#include <windows.h>

#include <string>
#endif

namespace {

#ifdef _WIN32
// Windows' rename refuses an existing target; MoveFileExW replaces it in one step, and
// WRITE_THROUGH returns only once the new name is on the disk.
int replace_file(const char* from, const char* to) {
  const auto wide = [](const char* utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    std::wstring text(n > 0 ? static_cast<size_t>(n) : 1, L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8, -1, text.data(), n);
    return text;
  };
  if (MoveFileExW(wide(from).c_str(), wide(to).c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return 0;
  }
  errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
  return -1;
}
#else
int replace_file(const char* from, const char* to) { return rename(from, to); }
#endif

std::string failed(const std::string& path, const std::string& reason) {
  return path + ": " + reason;
}

// Reads exactly bytes.size() bytes; a short file or an error gives the reason.
bool read_all(int fd, std::string& bytes, std::string& reason) {
  size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = read(fd, bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      reason = std::strerror(errno);
      return false;
    }
    if (n == 0) {
      reason = "file shrank while being read";
      return false;
    }
    got += static_cast<size_t>(n);
  }
  // One byte more would mean the file grew after its size was taken: half of a newer file.
  char extra;
  ssize_t n;
  do {
    n = read(fd, &extra, 1);
  } while (n < 0 && errno == EINTR);
  if (n != 0) {
    reason = n < 0 ? std::strerror(errno) : "file grew while being read";
    return false;
  }
  return true;
}

// Writes all of bytes; a write that makes no progress is a full disk (it sets no errno).
bool write_all(int fd, std::string_view bytes, int& error_number) {
  size_t put = 0;
  while (put < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + put, bytes.size() - put);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_number = n < 0 ? errno : ENOSPC;
      return false;
    }
    put += static_cast<size_t>(n);
  }
  return true;
}

// Where a write to path goes: path itself, or the file a link at path names, so the link stays a
// link. replacing tells whether a regular file is there (its status in info); anything else
// there (a folder, a device, a FIFO) is refused, since a plain file in its place is never what
// was meant.
bool write_target(const std::string& path, std::string& target, struct stat& info, bool& replacing,
                  std::string& error) {
  if (path.empty()) {
    error = "an empty file name";
    return false;
  }
  target = path;
  replacing = false;
  if (lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
    char resolved[PATH_MAX];
    if (!realpath(path.c_str(), resolved)) {
      error = failed(path, std::string("a link to nothing: ") + std::strerror(errno));
      return false;
    }
    target = resolved;
  }
  if (stat(target.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) {
      error = failed(path, std::strerror(EISDIR));
      return false;
    }
    if (!S_ISREG(info.st_mode)) {
      error = failed(path, "not a regular file");
      return false;
    }
    replacing = true;
  } else if (errno != ENOENT) {
    error = failed(path, std::strerror(errno));
    return false;
  }
  return true;
}

// The temporary file a write to path goes through, beside its target (write_target); its
// descriptor, or -1 with the reason in error.
int open_temporary(const std::string& path, std::string& target, struct stat& info, bool& replacing,
                   std::string& temporary, std::string& error) {
  if (!write_target(path, target, info, replacing, error)) return -1;
  // A short name of its own in the target's folder: the target's name with a suffix would not
  // fit beside a name of 250 bytes or more (NAME_MAX is 255), and mkstemp makes it exclusive.
  const size_t slash = target.rfind('/');
  temporary =
      (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + ".q47-XXXXXX";
  const int fd = mkstemp(temporary.data());
  if (fd < 0) error = failed(path, std::strerror(errno));
  return fd;
}

}  // namespace

bool file_read(const std::string& path, size_t max_bytes, const char* too_large, std::string& bytes,
               std::string& error) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = failed(path, std::strerror(errno));
    return false;
  }
  struct stat info {};
  std::string reason;
  if (fstat(fd, &info) != 0) {
    reason = std::strerror(errno);
  } else if (!S_ISREG(info.st_mode)) {
    reason = "not a regular file";
  } else if (static_cast<uint64_t>(info.st_size) > max_bytes) {
    reason = too_large;
  } else {
    bytes.assign(static_cast<size_t>(info.st_size), '\0');
    read_all(fd, bytes, reason);
  }
  close(fd);
  if (reason.empty()) return true;
  bytes.clear();
  error = failed(path, reason);
  return false;
}

namespace {

// Fills the temporary file fd (made by open_temporary) with bytes, with the mode and owner the
// file at its target is to have, synced and closed. False with errno's value in error_number.
bool fill_temporary(int fd, std::string_view bytes, const struct stat& info, bool replacing,
                    int& error_number, bool private_file = false) {
  bool ok = write_all(fd, bytes, error_number);
  // mkstemp makes the file private: a replaced file keeps its permissions, a new one is an
  // ordinary document under the user's umask (or stays private when it holds a secret).
  mode_t mode = info.st_mode & 07777;
  if (!replacing && private_file) {
    mode = 0600;
  } else if (!replacing) {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  if (ok && fchmod(fd, mode) != 0) ok = false, error_number = errno;
  if (ok && replacing && geteuid() == 0 && fchown(fd, info.st_uid, info.st_gid) != 0) {
    ok = false, error_number = errno;
  }
  if (ok && fsync(fd) != 0) ok = false, error_number = errno;
  if (close(fd) != 0 && ok) ok = false, error_number = errno;
  return ok;
}

}  // namespace

namespace {

bool write_atomic(const std::string& path, std::string_view bytes, bool private_file,
                  std::string& error) {
  std::string target, temporary;
  struct stat info {};
  bool replacing = false;
  const int fd = open_temporary(path, target, info, replacing, temporary, error);
  if (fd < 0) return false;
  int error_number = 0;
  bool ok = fill_temporary(fd, bytes, info, replacing, error_number, private_file);
  if (ok && replace_file(temporary.c_str(), target.c_str()) != 0) ok = false, error_number = errno;
  if (ok) return true;
  unlink(temporary.c_str());
  error = failed(path, std::strerror(error_number));
  return false;
}

}  // namespace

bool file_write_atomic(const std::string& path, std::string_view bytes, std::string& error) {
  return write_atomic(path, bytes, false, error);
}

bool file_write_new(const std::string& folder, const std::function<std::string(int)>& name,
                    std::string_view bytes, std::string& taken, std::string& error) {
  std::string target, temporary;
  struct stat info {};
  bool replacing = false;
  const std::string first = file_join(folder, name(0));
  const int fd = open_temporary(first, target, info, replacing, temporary, error);
  if (fd < 0) return false;
  int error_number = 0;
  bool ok = fill_temporary(fd, bytes, info, false, error_number);
  std::string path = first;
  for (int attempt = 0; ok; ++attempt) {
    if (attempt == 1000) {
      ok = false, error_number = EEXIST;
      break;
    }
    path = attempt ? file_join(folder, name(attempt)) : first;
    // link fails where anything is, even a dangling link: never a file replaced.
    if (link(temporary.c_str(), path.c_str()) == 0) break;
    if (errno == EEXIST) continue;
    // Folders without hard links (FAT, some network mounts): the name is claimed by creating
    // it exclusively, then the whole file is renamed over that empty claim.
    if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP && errno != ENOSYS) {
      ok = false, error_number = errno;
      break;
    }
    const int claim = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (claim < 0 && errno == EEXIST) continue;
    if (claim < 0) {
      ok = false, error_number = errno;
      break;
    }
    close(claim);
    if (replace_file(temporary.c_str(), path.c_str()) == 0) {
      taken = path;
      return true;
    }
    ok = false, error_number = errno;
    unlink(path.c_str());
  }
  unlink(temporary.c_str());
  if (ok) {
    taken = path;
    return true;
  }
  error = failed(path, std::strerror(error_number));
  return false;
}

bool file_usable(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), R_OK) == 0;
}

std::string file_join(const std::string& dir, const std::string& name) {
  if (dir == ".") return name;
  return dir.empty() || dir.back() == '/' ? dir + name : dir + "/" + name;
}

bool file_same(const std::string& a, const std::string& b) {
  struct stat first {
  }, second{};
  return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool file_can_write(const std::string& path, std::string& error) {
  // The folder must take the temporary file the write goes through.
  std::string target, temporary;
  struct stat info {};
  bool replacing = false;
  const int fd = open_temporary(path, target, info, replacing, temporary, error);
  if (fd < 0) return false;
  close(fd);
  unlink(temporary.c_str());
  return true;
}

std::string file_lock_path(const std::string& path) {
  const size_t slash = path.rfind('/');
  const size_t name = slash == std::string::npos ? 0 : slash + 1;
  return path.substr(0, name) + "." + path.substr(name) + ".lock";
}

int file_lock(const std::string& lock_path, std::string& error) {
  // The lock file is never removed: removing it would let a waiter lock a file nobody else sees.
  const int fd = open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = failed(lock_path, std::strerror(errno));
    return -1;
  }
  // flock locks belong to the open file, so two threads of one program exclude each other too.
  while (flock(fd, LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    error = failed(lock_path, std::strerror(errno));
    close(fd);
    return -1;
  }
  return fd;
}

int file_lock_try(const std::string& lock_path) {
  const int fd = open(lock_path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return -1;
  const bool taken = flock(fd, LOCK_EX | LOCK_NB) == 0;
  close(fd);
  return taken ? 0 : 1;
}

void file_unlock(int handle) {
  if (handle >= 0) close(handle);
}

namespace {

// Moves the file at path to the first free PATH.unreadable-N; the name taken, or empty.
std::string set_aside(const std::string& path) {
  for (int number = 1; number <= 1000; ++number) {
    const std::string aside = path + ".unreadable-" + std::to_string(number);
    // link never replaces a file: what an earlier time set aside stays.
    if (link(path.c_str(), aside.c_str()) == 0) {
      unlink(path.c_str());
      return aside;
    }
    if (errno == EEXIST) continue;
    struct stat info {};
    if (lstat(aside.c_str(), &info) == 0) continue;
    // No hard links here: the lock keeps other writers out, so a plain rename is as safe.
    return rename(path.c_str(), aside.c_str()) == 0 ? aside : std::string();
  }
  return {};
}

}  // namespace

bool file_keep(const std::string& path, const FileKeepRules& rules, const FileChange& change,
               std::string& aside, std::string& error) {
  aside.clear();
  const int lock = file_lock(file_lock_path(path), error);
  if (lock < 0) return false;
  struct Unlock {
    int handle;
    ~Unlock() { file_unlock(handle); }
  } unlock{lock};
  std::string text;
  bool there = true;
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 && errno == ENOENT) {
    there = false;
  } else if (!file_read(path, rules.max_bytes, rules.too_large, text, error)) {
    // Only a regular file too large to read is set aside; one that cannot be opened, or is no
    // regular file, is no file of ours to move.
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<uint64_t>(info.st_size) <= rules.max_bytes) {
      return false;
    }
    aside = set_aside(path);
    if (aside.empty()) return false;
    there = false;
  }
  for (;;) {
    const FileChanged changed = change(text, there, error);
    if (changed == FileChanged::NOTHING) return true;
    if (changed == FileChanged::REFUSED) return false;
    if (changed == FileChanged::TEXT) break;
    // UNREADABLE: what is there cannot be merged into, so it is kept aside and the change made
    // to no file at all.
    if (!there) return false;
    aside = set_aside(path);
    if (aside.empty()) {
      error = path + ": cannot be read, and cannot be set aside";
      return false;
    }
    text.clear();
    there = false;
  }
  return write_atomic(path, text, rules.private_file, error);
}
