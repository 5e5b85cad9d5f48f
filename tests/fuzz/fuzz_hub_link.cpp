// The reader of a hub pack's link (q47 --levels http://HOST:PORT/packs/ID) on arbitrary text: it
// never crashes, takes only a 64-digit lowercase hex id and an http(s) base, and a link made
// again from what it took is read back to the same base and id.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "desktop/hub_link.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::string base, id;
  if (!hub_pack_link(input, base, id)) return 0;
  if (id.size() != 64 || id.find_first_not_of("0123456789abcdef") != std::string::npos) abort();
  if (base.rfind("http://", 0) != 0 && base.rfind("https://", 0) != 0) abort();
  for (const std::string& again : {base + "/packs/" + id, base + "/api/packs/" + id + "/file"}) {
    std::string base_again, id_again;
    if (!hub_pack_link(again, base_again, id_again) || base_again != base || id_again != id) {
      abort();
    }
  }
  return 0;
}
