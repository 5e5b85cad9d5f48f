#include "desktop/data_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "media/file.h"

#ifdef _WIN32
#include <windows.h>
#endif

#ifndef Q47_RELATIVE_DATA_DIR
#define Q47_RELATIVE_DATA_DIR "../share/q47"
#endif

namespace {

constexpr const char* DATA_PATH_XDG_DEFAULT = "/usr/local/share/:/usr/share/";  // as XDG says
constexpr const char* DATA_PATH_SUBFOLDER = "q47";  // our folder inside each XDG data folder

// The running executable's folder, so an installed tree finds its data wherever it was moved;
// empty when the kernel does not say.
std::string executable_dir() {
#ifdef _WIN32
  // Windows says where the program is; the path may be longer than MAX_PATH.
  std::wstring self(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
    if (n == 0) return {};
    if (n < self.size()) {
      self.resize(n);
      break;
    }
    self.resize(self.size() * 2);
  }
  const std::u8string folder = std::filesystem::path(self).parent_path().generic_u8string();
  return std::string(folder.begin(), folder.end());
#else
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : self.parent_path().string();
#endif
}

void add_unique(std::vector<std::string>* dirs, const std::filesystem::path& dir) {
  const std::string text = dir.lexically_normal().string();
  for (const std::string& known : *dirs) {
    if (known == text) return;
  }
  dirs->push_back(text);
}

// Makes folder unless a folder is there; a file in its place is an error.
bool make_folder(const std::string& folder, std::string& error) {
  if (mkdir(folder.c_str(), 0700) == 0) return true;
  struct stat info {};
  if (errno == EEXIST && stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return true;
  error = folder + ": " + (errno == EEXIST ? std::string("not a folder") : std::strerror(errno));
  return false;
}

}  // namespace

std::vector<std::string> data_path_dirs_for(const std::string& executable_dir,
                                            const char* xdg_data_dirs) {
  std::vector<std::string> dirs = {"."};
  if (!executable_dir.empty()) {
    add_unique(&dirs, std::filesystem::path(executable_dir) / Q47_RELATIVE_DATA_DIR);
  }
#ifdef _WIN32
  // Windows has no shared data folders: the game's files are beside q47.exe.
  (void)xdg_data_dirs;
  return dirs;
#endif
  // Unset or empty means the default; relative entries are not valid there and are skipped.
  const std::string list = xdg_data_dirs && *xdg_data_dirs ? xdg_data_dirs : DATA_PATH_XDG_DEFAULT;
  size_t from = 0;
  while (from <= list.size()) {
    size_t to = list.find(':', from);
    if (to == std::string::npos) to = list.size();
    const std::string entry = list.substr(from, to - from);
    if (!entry.empty() && entry[0] == '/') {
      add_unique(&dirs, std::filesystem::path(entry) / DATA_PATH_SUBFOLDER);
    }
    from = to + 1;
  }
  return dirs;
}

std::vector<std::string> data_path_dirs() {
  return data_path_dirs_for(executable_dir(), std::getenv("XDG_DATA_DIRS"));
}

std::string data_path_find(const std::string& name) {
  for (const std::string& dir : data_path_dirs()) {
    const std::string path = file_join(dir, name);
    if (file_usable(path)) return path;
  }
  return {};
}

namespace {

#ifdef _WIN32
// %VARIABLE%\Q-47 (APPDATA for what roams with the player, LOCALAPPDATA for what stays on this
// machine), made as needed unless make is false; empty with the reason in error when Windows
// names no such folder.
std::string windows_home_dir(const char* variable, const char* purpose, bool make,
                             std::string& error) {
  const char* chosen = std::getenv(variable);
  if (!chosen || !*chosen) {
    error = std::string("no folder ") + purpose + " (" + variable + " is not set)";
    return {};
  }
  const std::string base = std::filesystem::path(chosen).generic_string();
  struct stat info {};
  if (stat(base.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    error = base + ": the folder " + variable + " names does not exist";
    return {};
  }
  const std::string path = base + "/Q-47";
  if (make && !make_folder(path, error)) return {};
  return path;
}
#endif

// $VARIABLE/q47 when that is an absolute path, else $HOME/BELOW/q47, made as needed (private to
// the user, unless make is false); empty with the reason in error when there is no such place.
// purpose ends the message for a missing home ("to keep the last run in").
std::string xdg_home_dir(const char* variable, const char* below_home, const char* purpose,
                         bool make, std::string& error) {
  std::string base;
  std::string below;
  const char* chosen = std::getenv(variable);
  // Only an absolute path counts; a relative one is to be ignored.
  if (chosen && chosen[0] == '/') {
    base = chosen;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/') {
      error = std::string("no home folder ") + purpose + " (HOME is not set)";
      return {};
    }
    // A home that is not there is not ours to make.
    struct stat info {};
    if (stat(home, &info) != 0 || !S_ISDIR(info.st_mode)) {
      error = std::string(home) + ": the home folder does not exist";
      return {};
    }
    base = home;
    below = below_home;
  }
  const std::string path = base + below + "/" + DATA_PATH_SUBFOLDER;
  if (!make) return path;
  // Each missing folder on the way below the home, private to the user.
  for (size_t slash = path.find('/', base.size() > 1 ? base.size() : 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    if (!make_folder(path.substr(0, slash), error)) return {};
  }
  if (!make_folder(path, error)) return {};
  return path;
}

}  // namespace

std::string data_path_state_dir(std::string& error) {
#ifdef _WIN32
  return windows_home_dir("LOCALAPPDATA", "to keep the last run in", true, error);
#endif
  return xdg_home_dir("XDG_STATE_HOME", "/.local/state", "to keep the last run in", true, error);
}

std::string data_path_config_dir(std::string& error, bool make) {
#ifdef _WIN32
  return windows_home_dir("APPDATA", "to keep the settings in", make, error);
#endif
  return xdg_home_dir("XDG_CONFIG_HOME", "/.config", "to keep the settings in", make, error);
}
