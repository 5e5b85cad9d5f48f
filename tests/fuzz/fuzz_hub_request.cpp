// libFuzzer target: the hub's answers (hub/api.cpp) over a store in memory, to a few requests in
// a row, so that one can make what the next reads (a player, a pack, a run). Each request is a
// method byte, a path with its query up to a newline, a key byte (none, the player's, another)
// and a body; requests are parted by two zero bytes. Every answer must be a status the API uses,
// JSON with an "error" when it refuses, and no raw markup.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "hub/api.h"
#include "hub/store.h"
#include "hub/verify.h"

namespace {

HubRequest request_of(std::string_view bytes, const std::string& key) {
  static const char* const METHODS[] = {"GET", "POST", "PUT", "DELETE", "PATCH"};
  HubRequest request;
  request.address = "10.0.0.1";
  if (bytes.empty()) return request;
  request.method = METHODS[static_cast<uint8_t>(bytes[0]) % 5];
  bytes.remove_prefix(1);
  const size_t line = std::min(bytes.find('\n'), bytes.size());
  const std::string target(bytes.substr(0, line));
  bytes.remove_prefix(std::min(line + 1, bytes.size()));
  request.path = target.substr(0, target.find('?'));
  for (size_t at = target.find('?'); at != std::string::npos;) {
    const size_t end = target.find('&', at + 1);
    const std::string pair = target.substr(at + 1, end == std::string::npos ? end : end - at - 1);
    request.query[pair.substr(0, pair.find('='))] = pair.substr(pair.find('=') + 1);
    at = end;
  }
  if (!bytes.empty()) {
    const uint8_t who = static_cast<uint8_t>(bytes[0]) % 3;
    request.authorization = who == 1   ? "Bearer " + key
                            : who == 2 ? "Bearer " + std::string(64, 'f')
                                       : "";
    bytes.remove_prefix(1);
  }
  request.body = std::string(bytes);
  return request;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<Store> store = store_open_memory();
  Hub hub(*store);
  hub.limits.requests_per_second = 0;
  hub.verify.run.max_frames = 100000;
  hub.verify.run.max_seconds = 2;
  hub.clock = [] { return int64_t{1800000000}; };
  hub.queue_run = [&](int64_t) { verify_queued(*store, hub.verify, hub.clock()); };
  hub.queue_job = [&] { hub_do_job(hub, hub.clock()); };
  HubRequest made;
  made.method = "POST";
  made.path = "/api/players";
  made.address = "10.0.0.1";
  made.body = R"({"name": "Fuzz"})";
  const std::string key = nlohmann::json::parse(hub_handle(hub, made).body)["key"];

  std::string_view input(reinterpret_cast<const char*>(data), size);
  // The whole input read as a proxy's X-Forwarded-For: an address or nothing, and it is the
  // address the requests then come from.
  const std::string forwarded = hub_forwarded_for(std::string(input));
  if (forwarded.size() > 45) std::abort();
  for (char c : forwarded) {
    if (!std::isxdigit(static_cast<unsigned char>(c)) && c != '.' && c != ':') std::abort();
  }
  const std::string address = forwarded.empty() ? "10.0.0.1" : forwarded;
  for (int count = 0; count < 4 && !input.empty(); ++count) {
    const size_t end = std::min(input.find(std::string_view("\0\0", 2)), input.size());
    HubRequest request = request_of(input.substr(0, end), key);
    request.address = address;
    const HubResponse response = hub_handle(hub, request);
    input.remove_prefix(std::min(end + 2, input.size()));
    if (response.status < 200 || response.status > 503) std::abort();
    if (response.content_type == "application/json") {
      const nlohmann::json body = nlohmann::json::parse(response.body, nullptr, false);
      if (body.is_discarded()) std::abort();
      if (response.status >= 400 && !body.contains("error")) std::abort();
      if (response.body.find('<') != std::string::npos) std::abort();
    }
  }
  return 0;
}
