// Runs checked by the rules: a run stored as queued is claimed from the store with a lease by a
// worker thread of any hub process, re-run, and its verdict recorded, so that answering requests
// never waits for the rules and no process owns the queue. A run whose worker died, or whose
// verdict could not be written, is claimed again by any worker when its lease ends.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/level_stream.h"
#include "core/run.h"
#include "hub/store.h"

// The id of the built-in levels where a pack id is expected.
constexpr const char* HUB_BUILTIN = "builtin";

// The processor time the calling thread has used, in seconds.
double verify_thread_seconds();

// What a stranger's run may cost.
struct VerifyLimits {
  size_t replay_bytes = 1 << 20;  // a replay file's size at most (a day of play is far less)
  RunLimits run{REPLAY_MAX_FRAMES, 10.0, verify_thread_seconds};
  int64_t lease_seconds = 60;  // a claimed run is its worker's this long (a run takes <= 10 s)
  int32_t max_claims = 3;      // a run whose workers stopped this often is refused, not retried
};

// A worker with nothing to do looks in the store again this often: for runs queued by another
// process and for leases that ended.
constexpr std::chrono::milliseconds VERIFY_POLL{500};

// The processor time spent verifying each key's and each address's runs is counted in the
// store (so every process sees it) under these names, in windows of VERIFY_BUDGET_WINDOW
// seconds, in milliseconds.
constexpr int64_t VERIFY_BUDGET_WINDOW = 3600;
std::string verify_budget_key(int64_t player);
std::string verify_budget_address(const std::string& address);
// Adds seconds of processor time to player's and address's counters of the window now is in.
void verify_charge(Store& store, int64_t player, const std::string& address, double seconds,
                   int64_t now);

// The levels a pack id names: the built-in ones for HUB_BUILTIN, else the stored pack's text
// compiled; null when there is no such pack or its text no longer reads. A pack's id is the hash
// of its text, so what was compiled once is kept (a few dozen packs) and never out of date.
std::shared_ptr<const LevelStream> verify_stream(Store& store, const std::string& pack);

// Re-runs replay (a replay file's bytes) on stream within limits: the verdict as a StoreRun
// (status RUN_VERIFIED with what it proved, or RUN_REFUSED with why; id and player left 0).
StoreRun verify_replay(const std::vector<uint8_t>& replay, const LevelStream& stream,
                       const VerifyLimits& limits);

// Verifies run (claimed, with its replay) and records its verdict in store, with the processor
// time it took charged to its key and address in the window now is in.
void verify_claimed(Store& store, const StoreRun& run, const VerifyLimits& limits, int64_t now);

// Claims and verifies the runs store has queued, one after another, until none is free: what a
// worker does, for the tests that run without threads. Returns how many it verified.
int32_t verify_queued(Store& store, const VerifyLimits& limits, int64_t now);

// Worker threads that claim runs from the store and verify them.
class VerifyPool {
 public:
  // Starts workers threads (0: none) on store, with clock giving Unix seconds. Before looking for a
  // run, a worker calls jobs (when given) to claim and do one of the store's other jobs (false:
  // none).
  VerifyPool(Store& store, int32_t workers, const VerifyLimits& limits,
             std::function<int64_t()> clock, std::function<bool(int64_t now)> jobs = nullptr);
  // Lets the workers finish the run each is on, then stops them; runs still queued stay queued
  // in the store.
  ~VerifyPool();
  // Wakes a worker: a run or a job was queued by this process.
  void add();

 private:
  void work();
  // Says once on the standard error that the database failed, and once that it is back.
  void database_failed(const char* why);
  void database_answered();
  Store& store_;
  VerifyLimits limits_;
  std::function<int64_t()> clock_;     // Unix seconds
  std::function<bool(int64_t)> jobs_;  // does one of the store's other jobs, if any
  std::mutex mutex_;                   // over pending_, stopping_ and lost_
  std::condition_variable wake_;       // a run was queued, or the pool stops
  int64_t pending_ = 0;                // runs queued here and not yet looked for
  bool stopping_ = false;              // the workers should end
  bool lost_ = false;                  // the last claim failed on the database
  std::vector<std::thread> workers_;
};
