#include "hub/verify.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include "core/level_pack.h"
#include "core/replay_codec.h"

double verify_thread_seconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

std::shared_ptr<const LevelStream> verify_stream(Store& store, const std::string& pack) {
  if (pack == HUB_BUILTIN) {
    return std::shared_ptr<const LevelStream>(&level_stream_builtin(), [](const LevelStream*) {});
  }
  const std::optional<StorePack> stored = store.pack(pack, true);
  if (!stored) return nullptr;
  LevelPack parsed;
  std::vector<PackProblem> problems;
  if (!level_pack_parse(stored->text, parsed, problems)) return nullptr;
  return std::make_shared<const LevelStream>(level_pack_compile(parsed));
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
  } else if (!outcome.matches) {
    verdict.reason = "the rules do not give the recorded run";
  } else {
    verdict.status = RUN_VERIFIED;
    for (const RunLevel& level : outcome.levels)
      verdict.levels.push_back({level.level, level.score});
  }
  return verdict;
}

void verify_run(Store& store, int64_t id, const VerifyLimits& limits) {
  const std::optional<StoreRun> run = store.run(id, true);
  if (!run || run->status != RUN_QUEUED) return;
  StoreRun verdict;
  const std::shared_ptr<const LevelStream> stream = verify_stream(store, run->pack);
  if (!stream) {
    verdict.status = RUN_REFUSED;
    verdict.reason = "no such pack";
  } else {
    verdict = verify_replay(run->replay, *stream, limits);
  }
  verdict.id = run->id;
  verdict.player = run->player;
  verdict.pack = run->pack;
  store.finish_run(verdict);
}

VerifyPool::VerifyPool(Store& store, int32_t workers, const VerifyLimits& limits)
    : store_(store), limits_(limits) {
  for (int64_t id : store_.queued_runs()) queue_.push_back(id);
  for (int32_t i = 0; i < std::max(workers, 1); ++i) workers_.emplace_back([this] { work(); });
}

VerifyPool::~VerifyPool() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void VerifyPool::add(int64_t id) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(id);
  }
  wake_.notify_one();
}

size_t VerifyPool::waiting() {
  std::lock_guard lock(mutex_);
  return queue_.size();
}

void VerifyPool::work() {
  // Verifying is the work that can wait: on Linux each thread has a niceness of its own, and a
  // worker's, set lower than the threads that answer requests, keeps a busy queue from slowing
  // the answers down. Nothing is lost when the kernel refuses it.
  setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 10);
  for (;;) {
    int64_t id = 0;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      id = queue_.front();
      queue_.pop_front();
    }
    try {
      verify_run(store_, id, limits_);
    } catch (const StoreError&) {
      // The database failed under this run: it stays queued and is picked up at the next start.
    }
  }
}
