// Runs checked by the rules: a run stored as queued is re-run on a pool of worker threads, which
// record what it proves, so that answering requests never waits for the rules. Runs still
// queued when the hub stopped are picked up again when it starts.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
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
};

// The levels a pack id names: the built-in ones for HUB_BUILTIN, else the stored pack's text
// compiled; null when there is no such pack or its text no longer reads.
std::shared_ptr<const LevelStream> verify_stream(Store& store, const std::string& pack);

// Re-runs replay (a replay file's bytes) on stream within limits: the verdict as a StoreRun
// (status RUN_VERIFIED with what it proved, or RUN_REFUSED with why; id and player left 0).
StoreRun verify_replay(const std::vector<uint8_t>& replay, const LevelStream& stream,
                       const VerifyLimits& limits);

// Verifies the queued run id and records its verdict in store.
void verify_run(Store& store, int64_t id, const VerifyLimits& limits);

// A queue of run ids and the worker threads that verify them.
class VerifyPool {
 public:
  // Starts workers threads on store and queues the runs store still has queued.
  VerifyPool(Store& store, int32_t workers, const VerifyLimits& limits);
  // Lets the workers finish the run each is on, then stops them; runs still queued stay queued
  // in the store.
  ~VerifyPool();
  // Queues run id (already stored as queued).
  void add(int64_t id);
  // Runs queued and not yet taken by a worker.
  size_t waiting();

 private:
  void work();
  Store& store_;
  VerifyLimits limits_;
  std::mutex mutex_;              // over the queue and stopping_
  std::condition_variable wake_;  // a run was queued, or the pool stops
  std::deque<int64_t> queue_;     // ids waiting for a worker
  bool stopping_ = false;         // the workers should end
  std::vector<std::thread> workers_;
};
