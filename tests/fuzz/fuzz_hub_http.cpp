// libFuzzer target: a request's bytes as the hub's listener reads them (the HTTP parser with the
// listener's limits on heads and bodies), then what the listener makes of a request read whole:
// its target decoded, the request for hub_handle (the client behind a trusted proxy) and the
// file a path names. A decoded path or query holds no NUL, the client is the peer or
// looks like an address, and no file is found outside its folder.
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "hub/server.h"

namespace http = boost::beast::http;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  http::request_parser<http::string_body> parser;
  parser.header_limit(static_cast<uint32_t>(SERVER_HEAD_BYTES));
  parser.body_limit(HUB_BODY_MAX);
  parser.eager(true);
  boost::beast::error_code error;
  size_t used = 0;
  while (used < size && !parser.is_done()) {
    const size_t step = parser.put(boost::asio::buffer(data + used, size - used), error);
    if (error == http::error::need_more) break;
    if (error || step == 0) return 0;
    used += step;
  }
  if (!parser.is_done()) return 0;
  const auto& request = parser.get();
  std::string path;
  std::map<std::string, std::string> query;
  if (!server_target(std::string(request.target()), path, query)) return 0;
  if (path.empty() || path[0] != '/' || path.find('\0') != std::string::npos) std::abort();
  for (const auto& [name, value] : query) {
    if ((name + value).find('\0') != std::string::npos) std::abort();
  }
  const std::string forwarded(request["X-Forwarded-For"]);
  const HubRequest hub = server_request(std::string(request.method_string()), path, query,
                                        std::string(request[http::field::authorization]), forwarded,
                                        "127.0.0.1", "127.0.0.1", request.body());
  // The client is the peer, or what looks like an address: digits, '.' and ':' only, so that
  // nothing the header says can be markup where an address is shown or a key where it is kept.
  if (hub.address != "127.0.0.1" &&
      (hub.address.empty() || hub.address.size() > 45 ||
       hub.address.find_first_not_of("0123456789abcdefABCDEF.:") != std::string::npos)) {
    std::abort();
  }
  const std::string file = server_file("/srv/page", path);
  if (!file.empty() && (file.rfind("/srv/page/", 0) != 0 || file.find("/..") != std::string::npos ||
                        file.find("/.", 9) != std::string::npos)) {
    std::abort();
  }
  return 0;
}
