// Talking to a hub over HTTP: one request at a time on one connection, bounded in time and in
// the size of what comes back. Only the desktop program talks to a hub; the game's rules never
// see the network.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "core/level_pack.h"

constexpr const char* HUB_DEFAULT_URL = "http://127.0.0.1:8048";  // a hub on this machine
constexpr const char* HUB_URL_VARIABLE =
    "Q47_HUB";  // the environment's hub, when --hub is not given
// A longer answer is cut off and refused; the longest a hub sends is a pack's file.
constexpr size_t HUB_ANSWER_MAX = PACK_FILE_MAX;
constexpr long HUB_CONNECT_SECONDS = 10;  // to reach the hub at all
constexpr long HUB_REQUEST_SECONDS = 30;  // for one whole request and its answer

// What one request got back.
struct HubAnswer {
  long status = 0;       // the HTTP status; 0 when no answer came
  std::string body;      // the answer's body
  std::string failure;   // why no answer came (with status 0), in the transport's words
  long retry_after = 0;  // seconds a 429 or 503 asked to wait, 0 when it did not say
};

// One connection to a hub, kept open between requests.
class HubConnection {
 public:
  HubConnection();
  ~HubConnection();
  HubConnection(const HubConnection&) = delete;
  HubConnection& operator=(const HubConnection&) = delete;
  // method ("GET", "POST") on the hub's base url joined with path ("/api/runs"); body is sent as
  // JSON when not empty; key, when not empty, as the bearer token.
  HubAnswer request(const std::string& method, const std::string& url, const std::string& path,
                    const std::string& body, const std::string& key);

 private:
  struct Handle;
  std::unique_ptr<Handle> handle_;  // the transport's own handle
};

// The hub's base URL without a trailing slash, when url is an http or https URL with a host and
// no query or fragment; empty, with the reason in problem, otherwise.
std::string hub_url_normal(const std::string& url, std::string& problem);
// The "error" sentence of a hub's JSON answer, or a line saying what came back instead.
std::string hub_answer_error(const HubAnswer& answer);
