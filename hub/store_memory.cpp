// The store in memory: the fuzzer's and the fast tests' store, gone when the process ends. One
// lock over everything.
#include <algorithm>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <tuple>

#include "hub/store.h"

namespace {

class MemoryStore : public Store {
 public:
  int64_t add_player(const std::string& name, const std::string& key_hash, int64_t now) override {
    std::lock_guard lock(mutex_);
    StorePlayer player{static_cast<int64_t>(players_.size()) + 1, name, key_hash, now};
    players_.push_back(player);
    return player.id;
  }
  std::optional<StorePlayer> player_by_key(const std::string& key_hash) override {
    std::lock_guard lock(mutex_);
    for (const StorePlayer& player : players_) {
      if (player.key_hash == key_hash) return player;
    }
    return std::nullopt;
  }
  std::optional<StorePlayer> player(int64_t id) override {
    std::lock_guard lock(mutex_);
    if (id < 1 || id > static_cast<int64_t>(players_.size())) return std::nullopt;
    return players_[static_cast<size_t>(id - 1)];
  }
  bool rename_player(int64_t id, const std::string& name) override {
    std::lock_guard lock(mutex_);
    if (id < 1 || id > static_cast<int64_t>(players_.size())) return false;
    players_[static_cast<size_t>(id - 1)].name = name;
    return true;
  }

  bool add_pack(const StorePack& pack, const std::vector<StoreLevel>& levels) override {
    std::lock_guard lock(mutex_);
    if (packs_.count(pack.id)) return false;
    packs_[pack.id] = {pack, levels, ++pack_order_};
    return true;
  }
  std::optional<StorePack> pack(const std::string& id, bool with_text) override {
    std::lock_guard lock(mutex_);
    const auto found = packs_.find(id);
    if (found == packs_.end()) return std::nullopt;
    return read_pack(found->second, with_text);
  }
  std::vector<StoreLevel> pack_levels(const std::string& id) override {
    std::lock_guard lock(mutex_);
    const auto found = packs_.find(id);
    return found == packs_.end() ? std::vector<StoreLevel>{} : found->second.levels;
  }
  void set_level_best(const std::string& id, int32_t level, int32_t best, bool proven) override {
    std::lock_guard lock(mutex_);
    const auto found = packs_.find(id);
    if (found == packs_.end()) return;
    for (StoreLevel& kept : found->second.levels) {
      if (kept.level != level) continue;
      kept.best = best;
      kept.best_proven = proven;
    }
  }
  bool withdraw_pack(const std::string& id) override {
    std::lock_guard lock(mutex_);
    const auto found = packs_.find(id);
    if (found == packs_.end()) return false;
    found->second.pack.withdrawn = true;
    return true;
  }
  std::vector<StorePackSummary> list_packs(PackOrder order, int64_t viewer, int64_t offset,
                                           int64_t limit) override {
    std::lock_guard lock(mutex_);
    std::vector<std::pair<StorePackSummary, int64_t>> rows;  // with the order of publication
    for (const auto& [id, kept] : packs_) {
      if (kept.pack.withdrawn) continue;
      if (order == PackOrder::UNPLAYED && played_.count({viewer, id})) continue;
      StorePackSummary summary;
      summary.pack = read_pack(kept, false);
      for (const auto& [player, pack] : verified_players_) summary.plays += pack == id ? 1 : 0;
      int64_t stars = 0;
      for (const auto& [key, given] : ratings_) {
        if (std::get<1>(key) != id) continue;
        stars += given;
        summary.ratings += 1;
      }
      if (summary.ratings) summary.rating = static_cast<double>(stars) / summary.ratings;
      rows.push_back({summary, kept.order});
    }
    auto newest = [](const auto& a, const auto& b) {
      if (a.first.pack.published != b.first.pack.published) {
        return a.first.pack.published > b.first.pack.published;
      }
      return a.second > b.second;
    };
    switch (order) {
      case PackOrder::NEWEST:
      case PackOrder::UNPLAYED:
        std::sort(rows.begin(), rows.end(), newest);
        break;
      case PackOrder::OLDEST:
        std::sort(rows.begin(), rows.end(),
                  [&](const auto& a, const auto& b) { return newest(b, a); });
        break;
      case PackOrder::PLAYED:
        std::sort(rows.begin(), rows.end(), [&](const auto& a, const auto& b) {
          if (a.first.plays != b.first.plays) return a.first.plays > b.first.plays;
          return newest(a, b);
        });
        break;
      case PackOrder::RATED:
        std::sort(rows.begin(), rows.end(), [&](const auto& a, const auto& b) {
          if (a.first.rating != b.first.rating) return a.first.rating > b.first.rating;
          return newest(a, b);
        });
        break;
      case PackOrder::RANDOM:
        std::shuffle(rows.begin(), rows.end(), random_);
        break;
    }
    std::vector<StorePackSummary> out;
    for (int64_t i = std::max<int64_t>(offset, 0);
         i < static_cast<int64_t>(rows.size()) && static_cast<int64_t>(out.size()) < limit; ++i) {
      out.push_back(rows[static_cast<size_t>(i)].first);
    }
    return out;
  }
  int64_t pack_count() override {
    std::lock_guard lock(mutex_);
    int64_t count = 0;
    for (const auto& [id, kept] : packs_) count += kept.pack.withdrawn ? 0 : 1;
    return count;
  }
  int64_t packs_published_since(int64_t player, int64_t since) override {
    std::lock_guard lock(mutex_);
    int64_t count = 0;
    for (const auto& [id, kept] : packs_) {
      if (kept.pack.author == player && kept.pack.published >= since) count += 1;
    }
    return count;
  }

  int64_t add_run(int64_t player, const std::string& pack, const std::vector<uint8_t>& replay,
                  int64_t now, const std::string& address) override {
    std::lock_guard lock(mutex_);
    StoreRun run;
    run.id = static_cast<int64_t>(runs_.size()) + 1;
    run.player = player;
    run.pack = pack;
    run.replay = replay;
    run.submitted = now;
    run.address = address;
    std::optional<int64_t> first_turn;
    std::optional<int64_t> player_turn;
    for (size_t i = 0; i < runs_.size(); ++i) {
      if (runs_[i].status != RUN_QUEUED) continue;
      first_turn = std::min(first_turn.value_or(turns_[i]), turns_[i]);
      if (runs_[i].player == player) player_turn = std::max(player_turn.value_or(0), turns_[i]);
    }
    turns_.push_back(player_turn ? *player_turn + 1 : first_turn.value_or(0));
    leases_.push_back(0);
    runs_.push_back(run);
    played_[{player, pack}] += 1;
    return run.id;
  }
  std::optional<StoreRun> run(int64_t id, bool with_replay) override {
    std::lock_guard lock(mutex_);
    if (id < 1 || id > static_cast<int64_t>(runs_.size())) return std::nullopt;
    StoreRun run = runs_[static_cast<size_t>(id - 1)];
    if (!with_replay) run.replay.clear();
    return run;
  }
  std::vector<int64_t> queued_runs() override {
    std::lock_guard lock(mutex_);
    std::vector<int64_t> ids;
    for (const StoreRun& run : runs_) {
      if (run.status == RUN_QUEUED) ids.push_back(run.id);
    }
    return ids;
  }
  int64_t queued_runs_of(int64_t player) override {
    std::lock_guard lock(mutex_);
    return std::count_if(runs_.begin(), runs_.end(), [&](const StoreRun& run) {
      return run.player == player && run.status == RUN_QUEUED;
    });
  }
  std::optional<StoreRun> claim_run(int64_t now, int64_t lease_until) override {
    std::lock_guard lock(mutex_);
    std::set<int64_t> busy;  // players with a run held
    for (size_t i = 0; i < runs_.size(); ++i) {
      if (runs_[i].status == RUN_QUEUED && leases_[i] >= now) busy.insert(runs_[i].player);
    }
    std::optional<size_t> next;
    auto before = [&](size_t a, size_t b) {
      return std::make_pair(busy.count(runs_[a].player), turns_[a]) <
             std::make_pair(busy.count(runs_[b].player), turns_[b]);
    };
    for (size_t i = 0; i < runs_.size(); ++i) {
      if (runs_[i].status != RUN_QUEUED || leases_[i] >= now) continue;
      if (!next || before(i, *next)) next = i;
    }
    if (!next) return std::nullopt;
    leases_[*next] = lease_until;
    runs_[*next].claims += 1;
    return runs_[*next];
  }
  void finish_run(const StoreRun& verdict) override {
    std::lock_guard lock(mutex_);
    if (verdict.id < 1 || verdict.id > static_cast<int64_t>(runs_.size())) return;
    StoreRun& run = runs_[static_cast<size_t>(verdict.id - 1)];
    if (run.status != RUN_QUEUED) return;
    for (const std::string& name : verdict.charge_to) {
      counters_[{name, verdict.charge_window}] += verdict.charge_ms;
    }
    run.status = verdict.status;
    run.reason = verdict.reason;
    run.frames = verdict.frames;
    run.checksum = verdict.checksum;
    run.levels = verdict.levels;
    if (run.status != RUN_VERIFIED) return;
    verified_players_.insert({run.player, run.pack});
    for (const StoreRunLevel& level : run.levels) {
      const auto key = std::make_tuple(run.player, run.pack, level.level);
      const auto found = bests_.find(key);
      if (found == bests_.end() || found->second < level.score) bests_[key] = level.score;
    }
  }

  int64_t add_job(const std::string& kind, int64_t player, const std::string& address,
                  const std::string& payload, int64_t now) override {
    std::lock_guard lock(mutex_);
    StoreJob job;
    job.id = static_cast<int64_t>(jobs_.size()) + 1;
    job.kind = kind;
    job.player = player;
    job.address = address;
    job.payload = payload;
    job.created = now;
    jobs_.push_back(job);
    return job.id;
  }
  std::optional<StoreJob> job(int64_t id, bool with_payload) override {
    std::lock_guard lock(mutex_);
    if (id < 1 || id > static_cast<int64_t>(jobs_.size())) return std::nullopt;
    StoreJob job = jobs_[static_cast<size_t>(id - 1)];
    if (!with_payload) job.payload.clear();
    return job;
  }
  std::optional<StoreJob> claim_job(int64_t now, int64_t lease_until) override {
    std::lock_guard lock(mutex_);
    for (StoreJob& job : jobs_) {
      if (job.status != JOB_QUEUED || job.lease_until >= now) continue;
      job.lease_until = lease_until;
      job.claims += 1;
      return job;
    }
    return std::nullopt;
  }
  void finish_job(int64_t id, const std::string& status, const std::string& result) override {
    std::lock_guard lock(mutex_);
    if (id < 1 || id > static_cast<int64_t>(jobs_.size())) return;
    StoreJob& job = jobs_[static_cast<size_t>(id - 1)];
    if (job.status != JOB_QUEUED) return;
    job.status = status;
    job.result = result;
    job.payload.clear();
  }
  int64_t jobs_since(int64_t player, const std::string& kind, int64_t since) override {
    std::lock_guard lock(mutex_);
    return std::count_if(jobs_.begin(), jobs_.end(), [&](const StoreJob& job) {
      return job.player == player && job.kind == kind && job.created >= since;
    });
  }

  std::optional<int32_t> best(int64_t player, const std::string& pack, int32_t level) override {
    std::lock_guard lock(mutex_);
    const auto found = bests_.find({player, pack, level});
    if (found == bests_.end()) return std::nullopt;
    return found->second;
  }
  std::vector<std::pair<int32_t, int64_t>> histogram(const std::string& pack,
                                                     int32_t level) override {
    std::lock_guard lock(mutex_);
    std::map<int32_t, int64_t> counts;
    for (const auto& [key, score] : bests_) {
      if (std::get<1>(key) == pack && std::get<2>(key) == level) counts[score] += 1;
    }
    return {counts.begin(), counts.end()};
  }
  void rate(int64_t player, const std::string& pack, int32_t level, int32_t stars) override {
    std::lock_guard lock(mutex_);
    ratings_[{player, pack, level}] = stars;
  }

  int64_t count(const std::string& name, int64_t window_start, int64_t amount) override {
    std::lock_guard lock(mutex_);
    // Windows that have passed are forgotten, so the fuzzer's counters do not pile up.
    for (auto it = counters_.begin(); it != counters_.end();) {
      it = it->first.second < window_start ? counters_.erase(it) : std::next(it);
    }
    return counters_[{name, window_start}] += amount;
  }

  int64_t counted(const std::string& name, int64_t window_start) override {
    std::lock_guard lock(mutex_);
    const auto found = counters_.find({name, window_start});
    return found == counters_.end() ? 0 : found->second;
  }

  int32_t schema_version() override { return STORE_SCHEMA_VERSION; }

 private:
  struct KeptPack {
    StorePack pack;
    std::vector<StoreLevel> levels;
    int64_t order = 0;  // publication order, for packs published in the same second
  };

  StorePack read_pack(const KeptPack& kept, bool with_text) {
    StorePack pack = kept.pack;
    if (!with_text) pack.text.clear();
    if (pack.author >= 1 && pack.author <= static_cast<int64_t>(players_.size())) {
      pack.author_name = players_[static_cast<size_t>(pack.author - 1)].name;
    }
    return pack;
  }

  std::mutex mutex_;                                            // over every field below
  std::vector<StorePlayer> players_;                            // by id - 1
  std::map<std::string, KeptPack> packs_;                       // by id
  int64_t pack_order_ = 0;                                      // packs published so far
  std::vector<StoreRun> runs_;                                  // by id - 1
  std::vector<int64_t> turns_;                                  // each run's turn, by id - 1
  std::vector<int64_t> leases_;                                 // each run's lease's end
  std::vector<StoreJob> jobs_;                                  // by id - 1
  std::map<std::pair<int64_t, std::string>, int64_t> played_;   // runs per (player, pack)
  std::set<std::pair<int64_t, std::string>> verified_players_;  // a verified run on the pack
  std::map<std::tuple<int64_t, std::string, int32_t>, int32_t> bests_;    // player, pack, level
  std::map<std::tuple<int64_t, std::string, int32_t>, int32_t> ratings_;  // stars
  std::map<std::pair<std::string, int64_t>, int64_t> counters_;           // name, window
  std::mt19937_64 random_{std::random_device{}()};                        // RANDOM's order
};

}  // namespace

std::unique_ptr<Store> store_open_memory() { return std::make_unique<MemoryStore>(); }
