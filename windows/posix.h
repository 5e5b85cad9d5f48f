// The few POSIX calls the game's files use that mingw-w64 lacks or spells otherwise, for the
// Windows build only (windows/CMakeLists.txt includes this first in every source). Where
// Windows means something else -- paths, replacing a file, signals -- the file that owns the
// place says so itself; this only supplies spellings.
#pragma once

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

// Descriptors are not inherited by programs the game starts, and every file the game opens is
// opened so (O_CLOEXEC), so they are all binary too: a pack, a run or a picture is read and
// written byte for byte, with no CR before each LF and no end at a Ctrl+Z. Windows has no
// non-blocking opens of files or controlling terminals.
#define O_CLOEXEC (_O_NOINHERIT | _O_BINARY)
#define O_NONBLOCK 0
#define O_NOCTTY 0

// One stat for files and descriptors, with what the game reads: the type, the size, the
// modification time to 100 ns, and the volume and file index as st_dev and st_ino (the CRT's
// stat leaves st_ino 0, which would make every two files the same). Paths are UTF-8.
struct q47_stat {
  uint64_t st_dev;
  uint64_t st_ino;
  unsigned st_mode;
  unsigned st_uid;
  unsigned st_gid;
  int64_t st_size;
  struct {
    int64_t tv_sec;
    long tv_nsec;
  } st_mtim;
};
int q47_stat_path(const char* path, struct q47_stat* info);
int q47_stat_fd(int fd, struct q47_stat* info);
#define stat q47_stat
#define q47_stat(path, info) q47_stat_path(path, info)
#define lstat(path, info) q47_stat_path(path, info)
#define fstat(fd, info) q47_stat_fd(fd, info)
#define S_ISLNK(mode) 0
// Links are followed by Windows itself; a path is already what it names.
#define realpath(path, resolved) _fullpath(resolved, path, PATH_MAX)

// Descriptors have no status flags to change (O_NONBLOCK is nothing here).
#define F_GETFL 3
#define F_SETFL 4
static inline int fcntl(int, int, ...) { return 0; }
// The calling thread's id, as Windows numbers threads.
unsigned gettid(void);

// Permissions and owners are the folder's on Windows (its ACL), not the file's.
static inline int fchmod(int, unsigned) { return 0; }
static inline int fchown(int, unsigned, unsigned) { return 0; }
static inline unsigned geteuid(void) { return 1; }
static inline unsigned getuid(void) { return 1; }
int q47_mkdir(const char* path);
// mkstemp, binary (the CRT's opens its file in the default text mode).
static inline int q47_mkstemp(char* name) {
  const int fd = mkstemp(name);
  if (fd >= 0) _setmode(fd, _O_BINARY);
  return fd;
}
#define mkstemp(name) q47_mkstemp(name)
#define mkdir(path, mode) q47_mkdir(path)
int fsync(int fd);
// A hard link where the file system has them (NTFS); errno EEXIST when path is taken.
int link(const char* existing, const char* path);
// Whether process pid runs (signal 0 only).
int kill(int pid, int signal);
// flock's exclusive and unlocking forms, over LockFileEx, waiting as flock does.
#define LOCK_SH 1
#define LOCK_EX 2
#define LOCK_NB 4
#define LOCK_UN 8
int flock(int fd, int operation);

#ifdef __cplusplus
}
#endif

static inline struct tm* localtime_r(const time_t* time, struct tm* parts) {
  return localtime_s(parts, time) == 0 ? parts : NULL;
}
