// The calls windows/posix.h promises, over the Windows API. Paths arrive as UTF-8 and go to the
// ...W calls as UTF-16, so a name in any script works.
#include "windows/posix.h"

#include <windows.h>

#include <string>

namespace {

std::wstring wide(const char* utf8) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
  if (n <= 0) return {};
  std::wstring text(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8, -1, text.data(), n);
  text.resize(static_cast<size_t>(n) - 1);
  return text;
}

// errno for the Windows error code of the call that just failed.
int errno_of(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      return EEXIST;
    case ERROR_NOT_SAME_DEVICE:
      return EXDEV;
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
      return ENOTSUP;
    case ERROR_DISK_FULL:
      return ENOSPC;
    default:
      return EIO;
  }
}

int fail(DWORD code) {
  errno = errno_of(code);
  return -1;
}

int fill(HANDLE handle, struct q47_stat* info) {
  BY_HANDLE_FILE_INFORMATION about{};
  if (!GetFileInformationByHandle(handle, &about)) return fail(GetLastError());
  *info = {};
  info->st_dev = about.dwVolumeSerialNumber;
  info->st_ino = (uint64_t{about.nFileIndexHigh} << 32) | about.nFileIndexLow;
  const DWORD type = GetFileType(handle);
  if (about.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    info->st_mode = _S_IFDIR | 0755;
  } else if (type == FILE_TYPE_DISK) {
    info->st_mode = _S_IFREG | ((about.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0644);
  } else {
    info->st_mode = _S_IFCHR;  // a console or a pipe: not a regular file
  }
  info->st_size = static_cast<int64_t>((uint64_t{about.nFileSizeHigh} << 32) | about.nFileSizeLow);
  // 100 ns ticks since 1601 into seconds and nanoseconds since 1970.
  const uint64_t ticks =
      (uint64_t{about.ftLastWriteTime.dwHighDateTime} << 32) | about.ftLastWriteTime.dwLowDateTime;
  constexpr uint64_t EPOCH_TICKS = 116444736000000000ULL;
  const int64_t since = static_cast<int64_t>(ticks - EPOCH_TICKS);
  info->st_mtim.tv_sec = since / 10000000;
  info->st_mtim.tv_nsec = static_cast<long>(since % 10000000) * 100;
  return 0;
}

}  // namespace

extern "C" {

int q47_stat_path(const char* path, struct q47_stat* info) {
  // Reading attributes only, shared every way, folders included (BACKUP_SEMANTICS).
  HANDLE handle = CreateFileW(wide(path).c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return fail(GetLastError());
  const int result = fill(handle, info);
  CloseHandle(handle);
  return result;
}

int q47_stat_fd(int fd, struct q47_stat* info) {
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (handle == INVALID_HANDLE_VALUE) {
    errno = EBADF;
    return -1;
  }
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    *info = {};
    info->st_mode = _S_IFCHR;
    return 0;
  }
  return fill(handle, info);
}

unsigned gettid(void) { return GetCurrentThreadId(); }

int q47_mkdir(const char* path) {
  return CreateDirectoryW(wide(path).c_str(), nullptr) ? 0 : fail(GetLastError());
}

int fsync(int fd) {
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (handle == INVALID_HANDLE_VALUE) {
    errno = EBADF;
    return -1;
  }
  return FlushFileBuffers(handle) ? 0 : fail(GetLastError());
}

int link(const char* existing, const char* path) {
  return CreateHardLinkW(wide(path).c_str(), wide(existing).c_str(), nullptr)
             ? 0
             : fail(GetLastError());
}

int kill(int pid, int signal) {
  if (signal != 0) {
    errno = EINVAL;
    return -1;
  }
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (!process) {
    errno = ESRCH;
    return -1;
  }
  DWORD code = 0;
  const bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
  CloseHandle(process);
  if (running) return 0;
  errno = ESRCH;
  return -1;
}

int flock(int fd, int operation) {
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (handle == INVALID_HANDLE_VALUE) {
    errno = EBADF;
    return -1;
  }
  OVERLAPPED whole{};
  if (operation & LOCK_UN) return UnlockFileEx(handle, 0, MAXDWORD, MAXDWORD, &whole) ? 0 : -1;
  DWORD flags = (operation & LOCK_EX) ? LOCKFILE_EXCLUSIVE_LOCK : 0;
  if (operation & LOCK_NB) flags |= LOCKFILE_FAIL_IMMEDIATELY;
  if (LockFileEx(handle, flags, 0, MAXDWORD, MAXDWORD, &whole)) return 0;
  const DWORD code = GetLastError();
  if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) {
    errno = EWOULDBLOCK;
    return -1;
  }
  return fail(code);
}

}  // extern "C"
