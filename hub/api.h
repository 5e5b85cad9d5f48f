// The hub's answers: a request in, a response out, over a Store. Nothing here knows the network
// (hub/server.cpp carries requests to it), so the tests and the fuzzer call it directly with a
// store in memory. docs/hub-api.md describes every path.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "hub/store.h"
#include "hub/verify.h"

// One request as the server read it.
struct HubRequest {
  std::string method;                        // "GET", "POST", ...
  std::string path;                          // without the query
  std::map<std::string, std::string> query;  // the query's parameters, decoded
  std::string authorization;                 // the Authorization header, "" when none
  std::string address;                       // the client's address
  std::string body;                          // as sent
};

// One response.
struct HubResponse {
  int status = 200;
  std::string content_type = "application/json";
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;  // besides the type
};

// What the hub allows a key or an address.
struct HubLimits {
  double requests_per_second = 20;       // per address and per key, in bursts of 5 seconds
  int64_t players_per_address_day = 50;  // new players from one address in a day
  int64_t packs_per_key_day = 20;        // packs one player publishes in a day
  int64_t exact_work_per_pack = int64_t{400} << 20;  // the exact search of a published pack's
                                                     // best scores, in the checker's work (about
                                                     // a second here), shared by its levels
  size_t run_body = 1 << 20;                         // POST /api/runs
  size_t pack_body = 8 << 20;  // POST /api/packs (the text and one run per level)
  size_t small_body = 4096;    // everything else
  // Processor time the hub spends in an hour verifying one key's runs, and runs sent from one
  // address (players behind one address share it): an honest hour of play costs seconds.
  double cpu_seconds_per_key_hour = 120;
  double cpu_seconds_per_address_hour = 600;
  // Runs of one key queued at once: the budget above is charged only as runs are verified, so
  // a burst sent at once would all be queued before any of it counted.
  int64_t queued_runs_per_key = 100;
};

// Players' ids kept by their keys' hashes; all are forgotten when this many are kept.
constexpr size_t HUB_PLAYER_IDS_KEPT = 100000;

// The largest body any path takes: the server refuses more before reading it.
constexpr size_t HUB_BODY_MAX = 8 << 20;

// The client's address a trusted proxy put last in X-Forwarded-For (each proxy appends the
// address it was reached from, so the last is the one our own proxy saw); "" when there is none
// that looks like an address.
std::string hub_forwarded_for(const std::string& header);

// The system's clock in Unix seconds.
int64_t hub_clock();

// The hub's own state beside its store: the limits, the clock, where runs go to be verified,
// and the rate counters (one lock).
struct Hub {
  explicit Hub(Store& on) : store(on) {}
  Store& store;
  VerifyLimits verify;                         // what a run may cost
  HubLimits limits;                            // what a key or an address may do
  std::function<void(int64_t run)> queue_run;  // hands a stored, queued run to the workers
  std::function<void()> queue_job;             // tells the workers a job was stored
  std::function<int64_t()> clock = [] { return hub_clock(); };  // Unix seconds

  struct Bucket {
    double tokens = 0;  // requests it may still make
    double at = 0;      // when tokens was last filled (seconds)
  };
  std::mutex rate_mutex;                                // over buckets
  std::unordered_map<std::string, Bucket> buckets;      // "a:ADDRESS" and "k:KEY_HASH"
  std::mutex daily_mutex;                               // over the day's pick
  int64_t daily_day = -1;                               // the day (Unix days) daily was picked for
  int64_t daily_at = 0;                                 // when it was picked (Unix seconds)
  std::optional<StorePackSummary> daily;                // the day's pack, none when there was none
  std::mutex players_mutex;                             // over player_ids
  std::unordered_map<std::string, int64_t> player_ids;  // key hash -> player, as found
};

// Works out the built-in levels' figures (the checker on each) now, so that no request waits
// for them.
void hub_warm_up();

// Claims a queued job from the store (until now plus the lease) and does it: what a worker
// does before looking for runs. False when no job was free.
bool hub_do_job(Hub& hub, int64_t now);

// The answer to request.
HubResponse hub_handle(Hub& hub, const HubRequest& request);

// Text made safe inside HTML (&, <, >, " and ').
std::string html_escape(const std::string& text);
// Whether name is a player's name the hub takes: 1..32 characters of UTF-8, none a control or
// direction (bidi) character, not only spaces and characters that show as nothing.
bool hub_name_ok(const std::string& name);
// A new key: 32 bytes from the kernel's random source as 64 lowercase hex characters. Throws
// std::runtime_error when the kernel gives none.
std::string random_key();
