// The reader of the hub keys file ($XDG_STATE_HOME/q47/hub-key, --hub-key-import FILE) on
// arbitrary bytes: it never crashes or reads out of bounds, and keys it takes, written out and
// read again, are the same keys.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>

#include "desktop/hub_keys.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::map<std::string, std::string> keys;
  if (!hub_keys_parse(input, keys)) return 0;
  std::map<std::string, std::string> again;
  if (!hub_keys_parse(hub_keys_format(keys), again) || again != keys) abort();
  for (const auto& [url, key] : keys) {
    if (!hub_key_well_formed(key) || url.empty()) abort();
  }
  return 0;
}
