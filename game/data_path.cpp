#include "game/data_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#ifndef Q47_RELATIVE_DATA_DIR
#define Q47_RELATIVE_DATA_DIR "../share/q47"
#endif

namespace {

constexpr const char* DATA_PATH_XDG_DEFAULT = "/usr/local/share/:/usr/share/";  // as XDG says
constexpr const char* DATA_PATH_SUBFOLDER = "q47";  // our folder inside each XDG data folder

// The running executable's folder, so an installed tree finds its data wherever it was moved;
// empty when the kernel does not say.
std::string executable_dir() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : self.parent_path().string();
}

void add_unique(std::vector<std::string>* dirs, const std::filesystem::path& dir) {
  const std::string text = dir.lexically_normal().string();
  for (const std::string& known : *dirs) {
    if (known == text) return;
  }
  dirs->push_back(text);
}

}  // namespace

std::vector<std::string> data_path_dirs_for(const std::string& executable_dir,
                                            const char* xdg_data_dirs) {
  std::vector<std::string> dirs = {"."};
  if (!executable_dir.empty()) {
    add_unique(&dirs, std::filesystem::path(executable_dir) / Q47_RELATIVE_DATA_DIR);
  }
  // Unset or empty means the default; relative entries are not valid there and are skipped.
  const std::string list =
      xdg_data_dirs && *xdg_data_dirs ? xdg_data_dirs : DATA_PATH_XDG_DEFAULT;
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

bool data_path_usable(const std::string& path) {
  // stat and access look at the name only; nothing is opened, so a FIFO cannot block here.
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         access(path.c_str(), R_OK) == 0;
}

std::string data_path_join(const std::string& dir, const std::string& name) {
  return dir == "." ? name : (std::filesystem::path(dir) / name).string();
}

std::string data_path_find(const std::string& name) {
  for (const std::string& dir : data_path_dirs()) {
    const std::string path = data_path_join(dir, name);
    if (data_path_usable(path)) return path;
  }
  return {};
}
