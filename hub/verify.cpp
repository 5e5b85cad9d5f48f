#include "hub/verify.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <unordered_map>

#include "core/level_pack.h"
#include "core/replay_codec.h"

double verify_thread_seconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

std::string verify_budget_key(int64_t player) { return "cpu key " + std::to_string(player); }

std::string verify_budget_address(const std::string& address) { return "cpu address " + address; }

void verify_charge(Store& store, int64_t player, const std::string& address, double seconds,
                   int64_t now) {
  const int64_t window = now / VERIFY_BUDGET_WINDOW * VERIFY_BUDGET_WINDOW;
  const auto milliseconds = static_cast<int64_t>(seconds * 1000 + 0.5);
  if (milliseconds <= 0) return;
  store.count(verify_budget_key(player), window, milliseconds);
  if (!address.empty()) store.count(verify_budget_address(address), window, milliseconds);
}

namespace {

// Compiled packs kept by id, forgotten all together when this many are kept.
constexpr size_t VERIFY_STREAMS_KEPT = 64;

struct StreamCache {
  std::mutex mutex;                                                             // over streams
  std::unordered_map<std::string, std::shared_ptr<const LevelStream>> streams;  // by pack id
};

StreamCache& stream_cache() {
  static StreamCache cache;
  return cache;
}

}  // namespace

std::shared_ptr<const LevelStream> verify_stream(Store& store, const std::string& pack) {
  if (pack == HUB_BUILTIN) {
    return std::shared_ptr<const LevelStream>(&level_stream_builtin(), [](const LevelStream*) {});
  }
  StreamCache& cache = stream_cache();
  {
    std::lock_guard lock(cache.mutex);
    const auto found = cache.streams.find(pack);
    if (found != cache.streams.end()) return found->second;
  }
  const std::optional<StorePack> stored = store.pack(pack, true);
  if (!stored) return nullptr;
  LevelPack parsed;
  std::vector<PackProblem> problems;
  if (!level_pack_parse(stored->text, parsed, problems)) return nullptr;
  auto stream = std::make_shared<const LevelStream>(level_pack_compile(parsed));
  std::lock_guard lock(cache.mutex);
  if (cache.streams.size() >= VERIFY_STREAMS_KEPT) cache.streams.clear();
  cache.streams.emplace(pack, stream);
  return stream;
}

StoreRun verify_replay(const std::vector<uint8_t>& bytes, const LevelStream& stream,
                       const VerifyLimits& limits) {
  StoreRun verdict;
  verdict.status = RUN_REFUSED;
  if (bytes.size() > limits.replay_bytes) {
    verdict.reason = "the replay is larger than " + std::to_string(limits.replay_bytes) + " bytes";
    return verdict;
  }
  Replay replay;
  std::string error;
  if (!replay_decode(bytes.data(), bytes.size(), replay, error)) {
    verdict.reason = "not a replay: " + error;
    return verdict;
  }
  if (replay.level_data_hash != replay_level_data_hash(stream) ||
      replay.level_data_size != stream.bytes.size()) {
    verdict.reason = "recorded on another version of the pack";
    return verdict;
  }
  const RunOutcome outcome = run_replay(replay, stream, limits.run);
  verdict.frames = outcome.frames;
  verdict.checksum = outcome.checksum;
  if (!outcome.refused.empty()) {
    verdict.reason = outcome.refused;
  } else if (!outcome.stopped.empty()) {
    verdict.reason = "the run was stopped: " + outcome.stopped;
  } else if (outcome.first_bad_checkpoint >= 0) {
    verdict.reason = "the rules part from the recording by frame " +
                     std::to_string((outcome.first_bad_checkpoint + 1) * REPLAY_CHECKPOINT_FRAMES);
  } else if (!outcome.matches) {
    verdict.reason = "the rules do not give the recorded run";
  } else {
    verdict.status = RUN_VERIFIED;
    for (const RunLevel& level : outcome.levels)
      verdict.levels.push_back({level.level, level.score});
  }
  return verdict;
}

void verify_claimed(Store& store, const StoreRun& run, const VerifyLimits& limits, int64_t now) {
  const double began = verify_thread_seconds();
  StoreRun verdict;
  if (run.claims > limits.max_claims) {
    // Each worker that took it stopped before writing its verdict: it is given up rather than
    // left to stop the next one too.
    verdict.status = RUN_REFUSED;
    verdict.reason =
        "it could not be verified: " + std::to_string(limits.max_claims) + " workers stopped on it";
  } else if (const std::shared_ptr<const LevelStream> stream = verify_stream(store, run.pack)) {
    verdict = verify_replay(run.replay, *stream, limits);
  } else {
    verdict.status = RUN_REFUSED;
    verdict.reason = "no such pack";
  }
  verdict.id = run.id;
  verdict.player = run.player;
  verdict.pack = run.pack;
  verdict.charge_ms = static_cast<int64_t>((verify_thread_seconds() - began) * 1000 + 0.5);
  verdict.charge_window = now / VERIFY_BUDGET_WINDOW * VERIFY_BUDGET_WINDOW;
  verdict.charge_to.push_back(verify_budget_key(run.player));
  if (!run.address.empty()) verdict.charge_to.push_back(verify_budget_address(run.address));
  store.finish_run(verdict);
}

int32_t verify_queued(Store& store, const VerifyLimits& limits, int64_t now) {
  int32_t verified = 0;
  while (const std::optional<StoreRun> run = store.claim_run(now, now + limits.lease_seconds)) {
    verify_claimed(store, *run, limits, now);
    verified += 1;
  }
  return verified;
}

VerifyPool::VerifyPool(Store& store, int32_t workers, const VerifyLimits& limits,
                       std::function<int64_t()> clock, std::function<bool(int64_t)> jobs)
    : store_(store), limits_(limits), clock_(std::move(clock)), jobs_(std::move(jobs)) {
  // None: this process only answers requests, and other processes on the store verify.
  for (int32_t i = 0; i < workers; ++i) workers_.emplace_back([this] { work(); });
}

VerifyPool::~VerifyPool() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void VerifyPool::add() {
  {
    std::lock_guard lock(mutex_);
    pending_ += 1;
  }
  wake_.notify_one();
}

void VerifyPool::database_failed(const char* why) {
  std::lock_guard lock(mutex_);
  if (lost_) return;
  lost_ = true;
  std::fprintf(stderr, "q47-hub: the database failed, runs wait in it until it answers: %s\n", why);
}

void VerifyPool::database_answered() {
  std::lock_guard lock(mutex_);
  if (!lost_) return;
  lost_ = false;
  std::fprintf(stderr, "q47-hub: the database answers again; its queued runs are verified\n");
}

void VerifyPool::work() {
  // Verifying is the work that can wait: on Linux each thread has a niceness of its own, and a
  // worker's, set lower than the threads that answer requests, keeps a busy queue from slowing
  // the answers down. Nothing is lost when the kernel refuses it.
  setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 10);
  std::vector<int64_t> unreleased;  // runs whose verdict failed, to hand back once it answers
  for (;;) {
    bool found = false;
    int64_t claimed = 0;
    try {
      while (!unreleased.empty()) {
        store_.release_run(unreleased.back());
        unreleased.pop_back();
      }
      const int64_t now = clock_();
      found = jobs_ && jobs_(now);
      if (!found) {
        if (const std::optional<StoreRun> run =
                store_.claim_run(now, now + limits_.lease_seconds)) {
          found = true;
          claimed = run->id;
          verify_claimed(store_, *run, limits_, now);
        }
      }
      // Back only once a whole turn went through: a claim that works while verdicts still
      // cannot be written (a full disk) is no recovery.
      database_answered();
    } catch (const StoreError& failure) {
      // The run stays queued in the store and is handed back once the database answers (or
      // claimed again when its lease ends). The worker waits before trying again: claiming on
      // at once would lease the whole queue out to verdicts that cannot be written.
      database_failed(failure.what());
      found = false;
      if (claimed > 0) unreleased.push_back(claimed);
    }
    std::unique_lock lock(mutex_);
    if (stopping_) return;
    if (found) continue;
    // Nothing free here: another process's runs, and leases that end, are looked for again
    // within VERIFY_POLL; a run queued by this process wakes a worker at once.
    wake_.wait_for(lock, VERIFY_POLL, [this] { return stopping_ || pending_ > 0; });
    if (stopping_) return;
    if (pending_ > 0) pending_ -= 1;
  }
}
