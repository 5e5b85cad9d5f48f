// The hub's HTTP listener: connections read and written without a thread each (one I/O thread
// or two wait on all of them), each request under one deadline for its head and body, heads bounded
// in size and in fields, one reading of a body's length, and a bounded number of connections of
// which the idle ones go first. Requests go to hub_handle on a pool of threads of their own, so
// a long answer never holds the doors; the hub's page and the browser game are served as files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "hub/api.h"

// What the doors allow a client (docs/hub-api.md, Limits, says the same to clients).
constexpr int SERVER_REQUEST_SECONDS = 10;  // a request's head and body, from its first byte
constexpr int SERVER_WRITE_SECONDS = 10;    // an answer, to be taken
constexpr int SERVER_IDLE_SECONDS = 5;      // a kept connection, between requests
constexpr int SERVER_REQUESTS_PER_CONNECTION = 100;  // then the connection is closed
constexpr size_t SERVER_HEAD_BYTES = 16384;          // a request's line and header fields: 431
constexpr size_t SERVER_HEAD_FIELDS = 100;           // header fields in one request: 431

// Where and what to serve.
struct ServerConfig {
  std::string host = "127.0.0.1";  // the address to listen on
  int port = 8048;                 // 0: any free one
  std::string page;                // the hub's page folder, served under /
  std::string site;                // the browser game's folder, under /play/; "" none
  std::string trust_proxy;         // a proxy whose X-Forwarded-For names the client; "" none
  size_t max_connections = 10000;  // open at once; past it the longest idle one is closed
  // Threads running hub_handle and reading files. A submission waits for its batch to reach the
  // disk, and a read that found every thread so waiting would wait behind them: threads that
  // wait cost little, and 128 serve a hundred clients at once with none queued.
  int handler_threads = 128;
  // Threads reading and writing every connection: two, so that a request's bytes are read
  // while another thread of the busy machine has the first.
  int io_threads = 2;
};

// One listening hub. Construction binds (std::system_error when it cannot); run() serves until
// stop(), which any thread may call.
class HubServer {
 public:
  HubServer(Hub& hub, const ServerConfig& config);
  ~HubServer();
  HubServer(const HubServer&) = delete;
  HubServer& operator=(const HubServer&) = delete;
  int port() const;  // the port bound
  void run();
  void stop();

  struct State;

 private:
  std::unique_ptr<State> state_;
};

// A request target in origin form ("/path?query") decoded: the path's %XX undone, the query's
// pairs with + as a space too (the first of a repeated name kept). False for a target that is
// not origin form, a bad %XX, or a decoded NUL: the request is refused with 400.
bool server_target(const std::string& target, std::string& path,
                   std::map<std::string, std::string>& query);

// The request hub_handle reads, from what the listener read. The client is the peer's address,
// or, when the peer is trust_proxy, the last address its X-Forwarded-For names.
HubRequest server_request(const std::string& method, const std::string& path,
                          std::map<std::string, std::string> query,
                          const std::string& authorization, const std::string& forwarded_for,
                          const std::string& peer, const std::string& trust_proxy,
                          std::string body);

// The file a decoded path names under root ("" when the path leaves root or names a hidden
// file); a path that names a folder (ending in / or /.) names its index.html.
std::string server_file(const std::string& root, const std::string& path);
