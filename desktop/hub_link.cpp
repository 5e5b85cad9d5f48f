#include "desktop/hub_link.h"

#include "desktop/hub_client.h"

namespace {

bool hex_id(const std::string& text) {
  if (text.size() != 64) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

bool ends_with(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

bool hub_pack_link(const std::string& path, std::string& base, std::string& id) {
  if (path.rfind("http://", 0) != 0 && path.rfind("https://", 0) != 0) return false;
  std::string rest = path;
  if (ends_with(rest, "/file")) rest.resize(rest.size() - 5);
  const size_t slash = rest.rfind('/');
  if (slash == std::string::npos) return false;
  id = rest.substr(slash + 1);
  rest.resize(slash);
  if (!hex_id(id)) return false;
  const bool api_file = ends_with(path, "/file");
  const std::string folder = api_file ? "/api/packs" : "/packs";
  if (!ends_with(rest, folder)) return false;
  rest.resize(rest.size() - folder.size());
  std::string problem;
  base = hub_url_normal(rest, problem);
  return !base.empty();
}
