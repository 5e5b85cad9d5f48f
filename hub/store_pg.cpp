#include "hub/store_pg.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <iterator>
#include <mutex>
#include <pqxx/pqxx>
#include <vector>

#include "hub/store.h"

namespace {

// The tables, made on first use. Pack texts and replays are bytea: kept byte for byte whatever
// they hold. Each player's best per level and the histogram's counts are kept together, so a
// histogram is read from a handful of rows however many players there are.
constexpr const char* SCHEMA = R"SQL(
CREATE TABLE IF NOT EXISTS players (
  id BIGSERIAL PRIMARY KEY,
  name TEXT NOT NULL,
  key_hash TEXT NOT NULL UNIQUE,
  created BIGINT NOT NULL);
CREATE TABLE IF NOT EXISTS packs (
  id TEXT PRIMARY KEY,
  added BIGSERIAL NOT NULL,
  author BIGINT NOT NULL REFERENCES players (id),
  title TEXT NOT NULL,
  first_line TEXT NOT NULL,
  published BIGINT NOT NULL,
  replaces TEXT NOT NULL,
  withdrawn BOOLEAN NOT NULL DEFAULT FALSE,
  levels INTEGER NOT NULL,
  level_data_hash BIGINT NOT NULL,
  level_data_size BIGINT NOT NULL,
  text BYTEA NOT NULL);
CREATE INDEX IF NOT EXISTS packs_by_published ON packs (published);
CREATE INDEX IF NOT EXISTS packs_by_author ON packs (author, published);
CREATE TABLE IF NOT EXISTS pack_levels (
  pack TEXT NOT NULL REFERENCES packs (id),
  level INTEGER NOT NULL,
  edge_frame INTEGER NOT NULL,
  enclosure INTEGER NOT NULL,
  bound INTEGER NOT NULL,
  PRIMARY KEY (pack, level));
CREATE TABLE IF NOT EXISTS runs (
  id BIGSERIAL PRIMARY KEY,
  player BIGINT NOT NULL REFERENCES players (id),
  pack TEXT NOT NULL,
  replay BYTEA NOT NULL,
  submitted BIGINT NOT NULL,
  status TEXT NOT NULL,
  reason TEXT NOT NULL DEFAULT '',
  frames BIGINT NOT NULL DEFAULT 0,
  checksum BIGINT NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS runs_queued ON runs (id) WHERE status = 'queued';
CREATE INDEX IF NOT EXISTS runs_by_pack ON runs (pack, status, player);
CREATE INDEX IF NOT EXISTS runs_by_player ON runs (player, pack);
CREATE TABLE IF NOT EXISTS run_levels (
  run BIGINT NOT NULL REFERENCES runs (id),
  level INTEGER NOT NULL,
  score INTEGER NOT NULL,
  PRIMARY KEY (run, level));
CREATE TABLE IF NOT EXISTS bests (
  pack TEXT NOT NULL,
  level INTEGER NOT NULL,
  player BIGINT NOT NULL REFERENCES players (id),
  score INTEGER NOT NULL,
  PRIMARY KEY (pack, level, player));
CREATE TABLE IF NOT EXISTS histograms (
  pack TEXT NOT NULL,
  level INTEGER NOT NULL,
  score INTEGER NOT NULL,
  players BIGINT NOT NULL,
  PRIMARY KEY (pack, level, score));
CREATE TABLE IF NOT EXISTS ratings (
  pack TEXT NOT NULL,
  level INTEGER NOT NULL,
  player BIGINT NOT NULL REFERENCES players (id),
  stars INTEGER NOT NULL,
  PRIMARY KEY (pack, level, player));
CREATE TABLE IF NOT EXISTS counters (
  name TEXT NOT NULL,
  window_start BIGINT NOT NULL,
  value BIGINT NOT NULL,
  PRIMARY KEY (name, window_start));
)SQL";

// The changes from each version of the tables to the next: MIGRATIONS[v] takes version v to
// v + 1. Version 0 is the tables above, as the first hub made them.
constexpr const char* MIGRATIONS[] = {
    // 1: runs are claimed with leases, player by player in turn, and remember the sender's
    // address (the processor-time budget); the lists read counters kept as runs are verified
    // and levels rated instead of counting over every run.
    R"SQL(
ALTER TABLE runs ADD COLUMN turn BIGINT NOT NULL DEFAULT 0;
ALTER TABLE runs ADD COLUMN lease_until BIGINT NOT NULL DEFAULT 0;
ALTER TABLE runs ADD COLUMN claims INTEGER NOT NULL DEFAULT 0;
ALTER TABLE runs ADD COLUMN address TEXT NOT NULL DEFAULT '';
CREATE INDEX runs_by_turn ON runs (turn, id) WHERE status = 'queued';
CREATE INDEX runs_queued_by_player ON runs (player, turn) WHERE status = 'queued';
CREATE INDEX runs_held ON runs (lease_until) WHERE status = 'queued';
CREATE TABLE pack_players (
  pack TEXT NOT NULL,
  player BIGINT NOT NULL,
  PRIMARY KEY (pack, player));
INSERT INTO pack_players SELECT DISTINCT pack, player FROM runs WHERE status = 'verified';
ALTER TABLE packs ADD COLUMN plays BIGINT NOT NULL DEFAULT 0;
ALTER TABLE packs ADD COLUMN stars BIGINT NOT NULL DEFAULT 0;
ALTER TABLE packs ADD COLUMN ratings BIGINT NOT NULL DEFAULT 0;
UPDATE packs p SET
  plays = (SELECT count(*) FROM pack_players x WHERE x.pack = p.id),
  stars = (SELECT coalesce(sum(s.stars), 0) FROM ratings s WHERE s.pack = p.id),
  ratings = (SELECT count(*) FROM ratings s WHERE s.pack = p.id);
CREATE TABLE jobs (
  id BIGSERIAL PRIMARY KEY,
  kind TEXT NOT NULL,
  player BIGINT NOT NULL REFERENCES players (id),
  address TEXT NOT NULL,
  payload BYTEA NOT NULL,
  created BIGINT NOT NULL,
  status TEXT NOT NULL,
  result TEXT NOT NULL DEFAULT '',
  lease_until BIGINT NOT NULL DEFAULT 0,
  claims INTEGER NOT NULL DEFAULT 0);
CREATE INDEX jobs_queued ON jobs (id) WHERE status = 'queued';
CREATE INDEX jobs_by_player ON jobs (player, kind, created);
)SQL",
    // 2: each level keeps the best score the exact search verified, and whether it is proven.
    R"SQL(
ALTER TABLE pack_levels ADD COLUMN best INTEGER NOT NULL DEFAULT -1;
ALTER TABLE pack_levels ADD COLUMN best_proven BOOLEAN NOT NULL DEFAULT FALSE;
)SQL",
};
static_assert(std::size(MIGRATIONS) == STORE_SCHEMA_VERSION);

// A pack's columns as list_packs and pack read them, author's name included.
constexpr const char* PACK_COLUMNS =
    "p.id, p.author, a.name, p.title, p.first_line, p.published, p.replaces, p.withdrawn, "
    "p.levels, p.level_data_hash, p.level_data_size";

StorePack pack_of(const pqxx::row& row) {
  StorePack pack;
  pack.id = row[0].as<std::string>();
  pack.author = row[1].as<int64_t>();
  pack.author_name = row[2].as<std::string>();
  pack.title = row[3].as<std::string>();
  pack.first_line = row[4].as<std::string>();
  pack.published = row[5].as<int64_t>();
  pack.replaces = row[6].as<std::string>();
  pack.withdrawn = row[7].as<bool>();
  pack.levels = row[8].as<int32_t>();
  pack.level_data_hash = static_cast<uint32_t>(row[9].as<int64_t>());
  pack.level_data_size = static_cast<uint32_t>(row[10].as<int64_t>());
  return pack;
}

StorePlayer player_of(const pqxx::row& row) {
  StorePlayer player;
  player.id = row[0].as<int64_t>();
  player.name = row[1].as<std::string>();
  player.key_hash = row[2].as<std::string>();
  player.created = row[3].as<int64_t>();
  return player;
}

StoreJob job_of(const pqxx::row& row) {
  StoreJob job;
  job.id = row[0].as<int64_t>();
  job.kind = row[1].as<std::string>();
  job.player = row[2].as<int64_t>();
  job.address = row[3].as<std::string>();
  job.created = row[4].as<int64_t>();
  job.status = row[5].as<std::string>();
  job.result = row[6].as<std::string>();
  job.lease_until = row[7].as<int64_t>();
  job.claims = row[8].as<int32_t>();
  job.payload = pqxx::binarystring(row[9]).str();
  return job;
}

pqxx::binarystring bytes_of(const std::string& text) {
  return pqxx::binarystring(text.data(), text.size());
}

pqxx::binarystring bytes_of(const std::vector<uint8_t>& data) {
  return pqxx::binarystring(data.data(), data.size());
}

// Runs sql with its parameters as a statement prepared on the transaction's connection: the
// server parses and plans each text once per connection instead of at every call. The name is
// the text's hash; preparing a name again with the same text is free.
template <typename... Args>
pqxx::result exec(pqxx::transaction_base& tx, const std::string& sql, Args&&... args) {
  char name[24];
  std::snprintf(name, sizeof name, "q%016zx", std::hash<std::string>{}(sql));
  tx.conn().prepare(name, sql);
  return tx.exec_prepared(name, std::forward<Args>(args)...);
}

// As exec, for a statement that gives exactly one row.
template <typename... Args>
pqxx::row exec1(pqxx::transaction_base& tx, const std::string& sql, Args&&... args) {
  const pqxx::result rows = exec(tx, sql, std::forward<Args>(args)...);
  if (rows.size() != 1) {
    throw pqxx::unexpected_rows("expected one row, got " + std::to_string(rows.size()));
  }
  return rows[0];
}

class PgStore final : public Store {
 public:
  explicit PgStore(std::string url) : url_(std::move(url)) {}

  // Connects once and makes the tables; throws StoreError when the server cannot be used.
  void open() {
    transact([](pqxx::transaction_base& tx) {
      exec(tx, "SELECT pg_advisory_xact_lock($1)", STORE_PG_SCHEMA_LOCK);
      tx.exec(SCHEMA);
      tx.exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)");
      const pqxx::result rows = tx.exec("SELECT version FROM schema_version");
      int32_t version = rows.empty() ? 0 : rows[0][0].as<int32_t>();
      if (rows.empty()) tx.exec("INSERT INTO schema_version VALUES (0)");
      if (version > STORE_SCHEMA_VERSION) {
        throw StoreError("the tables are of version " + std::to_string(version) +
                         ", made by a newer hub (this one reads up to " +
                         std::to_string(STORE_SCHEMA_VERSION) + ")");
      }
      for (; version < STORE_SCHEMA_VERSION; ++version) tx.exec(MIGRATIONS[version]);
      exec(tx, "UPDATE schema_version SET version = $1", version);
    });
  }

  int64_t add_player(const std::string& name, const std::string& key_hash, int64_t now) override {
    int64_t id = 0;
    single([&](pqxx::transaction_base& tx) {
      id = exec1(tx,
                 "INSERT INTO players (name, key_hash, created) VALUES ($1, $2, $3) RETURNING id",
                 name, key_hash, now)[0]
               .as<int64_t>();
    });
    return id;
  }

  std::optional<StorePlayer> player_by_key(const std::string& key_hash) override {
    std::optional<StorePlayer> found;
    single([&](pqxx::transaction_base& tx) {
      const pqxx::result rows =
          exec(tx, "SELECT id, name, key_hash, created FROM players WHERE key_hash = $1", key_hash);
      if (!rows.empty()) found = player_of(rows[0]);
    });
    return found;
  }

  std::optional<StorePlayer> player(int64_t id) override {
    std::optional<StorePlayer> found;
    single([&](pqxx::transaction_base& tx) {
      const pqxx::result rows =
          exec(tx, "SELECT id, name, key_hash, created FROM players WHERE id = $1", id);
      if (!rows.empty()) found = player_of(rows[0]);
    });
    return found;
  }

  bool rename_player(int64_t id, const std::string& name) override {
    bool renamed = false;
    single([&](pqxx::transaction_base& tx) {
      renamed =
          exec(tx, "UPDATE players SET name = $2 WHERE id = $1", id, name).affected_rows() == 1;
    });
    return renamed;
  }

  bool add_pack(const StorePack& pack, const std::vector<StoreLevel>& levels) override {
    bool added = false;
    transact([&](pqxx::transaction_base& tx) {
      added = exec(tx,
                   "INSERT INTO packs (id, author, title, first_line, published, replaces, "
                   "withdrawn, levels, level_data_hash, level_data_size, text) VALUES ($1, $2, "
                   "$3, $4, $5, $6, $7, $8, $9, $10, $11) ON CONFLICT (id) DO NOTHING",
                   pack.id, pack.author, pack.title, pack.first_line, pack.published, pack.replaces,
                   pack.withdrawn, pack.levels, static_cast<int64_t>(pack.level_data_hash),
                   static_cast<int64_t>(pack.level_data_size), bytes_of(pack.text))
                  .affected_rows() == 1;
      if (!added) return;
      for (const StoreLevel& level : levels) {
        exec(tx,
             "INSERT INTO pack_levels (pack, level, edge_frame, enclosure, bound) VALUES ($1, $2, "
             "$3, $4, $5)",
             pack.id, level.level, level.edge_frame, level.enclosure, level.bound);
      }
    });
    return added;
  }

  std::optional<StorePack> pack(const std::string& id, bool with_text) override {
    std::optional<StorePack> found;
    single([&](pqxx::transaction_base& tx) {
      const pqxx::result rows =
          exec(tx,
               std::string("SELECT ") + PACK_COLUMNS + ", " + (with_text ? "p.text" : "NULL") +
                   " FROM packs p JOIN players a ON a.id = p.author WHERE p.id = $1",
               id);
      if (rows.empty()) return;
      found = pack_of(rows[0]);
      if (with_text) {
        const pqxx::binarystring text(rows[0][11]);
        found->text = text.str();
      }
    });
    return found;
  }

  std::vector<StoreLevel> pack_levels(const std::string& id) override {
    std::vector<StoreLevel> levels;
    single([&](pqxx::transaction_base& tx) {
      levels.clear();
      for (const pqxx::row& row :
           exec(tx,
                "SELECT level, edge_frame, enclosure, bound, best, best_proven FROM pack_levels "
                "WHERE pack = $1 ORDER BY level",
                id)) {
        levels.push_back({row[0].as<int32_t>(), row[1].as<int32_t>(), row[2].as<int32_t>(),
                          row[3].as<int32_t>(), row[4].as<int32_t>(), row[5].as<bool>()});
      }
    });
    return levels;
  }

  void set_level_best(const std::string& id, int32_t level, int32_t best, bool proven) override {
    single([&](pqxx::transaction_base& tx) {
      exec(tx, "UPDATE pack_levels SET best = $1, best_proven = $2 WHERE pack = $3 AND level = $4",
           best, proven, id, level);
    });
  }

  bool withdraw_pack(const std::string& id) override {
    bool withdrawn = false;
    single([&](pqxx::transaction_base& tx) {
      withdrawn =
          exec(tx, "UPDATE packs SET withdrawn = TRUE WHERE id = $1", id).affected_rows() == 1;
    });
    return withdrawn;
  }

  std::vector<StorePackSummary> list_packs(PackOrder order, int64_t viewer, int64_t offset,
                                           int64_t limit) override {
    // Ties fall to the later published (within a second, the later added), so pages never
    // repeat or skip a pack.
    const char* order_by = "published DESC, added DESC";
    switch (order) {
      case PackOrder::NEWEST:
      case PackOrder::UNPLAYED:
        break;
      case PackOrder::OLDEST:
        order_by = "published ASC, added ASC";
        break;
      case PackOrder::PLAYED:
        order_by = "plays DESC, published DESC, added DESC";
        break;
      case PackOrder::RATED:
        order_by = "(ratings = 0), rating DESC, published DESC, added DESC";
        break;
      case PackOrder::RANDOM:
        order_by = "random()";
        break;
    }
    // The counts are columns of an inner query, so the order can name them.
    const std::string query =
        std::string("SELECT * FROM (SELECT ") + PACK_COLUMNS +
        ", p.plays AS plays, (CASE WHEN p.ratings = 0 THEN 0 ELSE p.stars::float8 / p.ratings "
        "END) AS rating, p.ratings AS ratings, p.added AS added FROM packs p JOIN players a ON "
        "a.id = p.author WHERE NOT p.withdrawn" +
        (order == PackOrder::UNPLAYED
             ? " AND NOT EXISTS (SELECT 1 FROM runs r WHERE r.pack = p.id AND r.player = $3)"
             : " AND $3::bigint IS NOT NULL") +
        ") listed ORDER BY " + order_by + " LIMIT $1 OFFSET $2";
    std::vector<StorePackSummary> packs;
    single([&](pqxx::transaction_base& tx) {
      packs.clear();
      for (const pqxx::row& row :
           exec(tx, query, std::max<int64_t>(limit, 0), std::max<int64_t>(offset, 0), viewer)) {
        StorePackSummary summary;
        summary.pack = pack_of(row);
        summary.plays = row[11].as<int64_t>();
        summary.rating = row[12].as<double>();
        summary.ratings = row[13].as<int64_t>();
        packs.push_back(std::move(summary));
      }
    });
    return packs;
  }

  int64_t pack_count() override {
    int64_t count = 0;
    single([&](pqxx::transaction_base& tx) {
      count = tx.exec1("SELECT count(*) FROM packs WHERE NOT withdrawn")[0].as<int64_t>();
    });
    return count;
  }

  int64_t packs_published_since(int64_t player, int64_t since) override {
    int64_t count = 0;
    single([&](pqxx::transaction_base& tx) {
      count = exec1(tx, "SELECT count(*) FROM packs WHERE author = $1 AND published >= $2", player,
                    since)[0]
                  .as<int64_t>();
    });
    return count;
  }

  int64_t add_run(int64_t player, const std::string& pack, const std::vector<uint8_t>& replay,
                  int64_t now, const std::string& address) override {
    int64_t id = 0;
    single([&](pqxx::transaction_base& tx) {
      id = exec1(tx,
                 "INSERT INTO runs (player, pack, replay, submitted, status, address, turn) "
                 "VALUES ($1, $2, $3, $4, 'queued', $5, coalesce((SELECT max(turn) + 1 FROM runs "
                 "WHERE status = 'queued' AND player = $1), (SELECT min(turn) FROM runs WHERE "
                 "status = 'queued'), 0)) RETURNING id",
                 player, pack, bytes_of(replay), now, address)[0]
               .as<int64_t>();
    });
    return id;
  }

  std::optional<StoreRun> claim_run(int64_t now, int64_t lease_until) override {
    std::optional<StoreRun> found;
    transact([&](pqxx::transaction_base& tx) {
      // A claim lost in a crash is only a run claimed again: it need not wait for the disk.
      tx.exec("SET LOCAL synchronous_commit = off");
      // A run another worker is claiming at this moment is skipped rather than waited for. The
      // first choice is a player with no run held; the second, read only when there is none,
      // any run.
      const pqxx::result rows = exec(
          tx,
          "UPDATE runs SET lease_until = $2, claims = claims + 1 WHERE id = coalesce((SELECT id "
          "FROM runs WHERE status = 'queued' AND lease_until < $1 AND player NOT IN (SELECT "
          "player FROM runs WHERE status = 'queued' AND lease_until >= $1) ORDER BY turn, id "
          "LIMIT 1 FOR UPDATE SKIP LOCKED), (SELECT id FROM runs WHERE status = 'queued' AND "
          "lease_until < $1 ORDER BY turn, id LIMIT 1 FOR UPDATE SKIP LOCKED)) RETURNING id, "
          "player, pack, submitted, replay, claims, address",
          now, lease_until);
      if (rows.empty()) return;
      StoreRun run;
      run.id = rows[0][0].as<int64_t>();
      run.player = rows[0][1].as<int64_t>();
      run.pack = rows[0][2].as<std::string>();
      run.submitted = rows[0][3].as<int64_t>();
      const pqxx::binarystring replay(rows[0][4]);
      run.replay.assign(replay.data(), replay.data() + replay.size());
      run.claims = rows[0][5].as<int32_t>();
      run.address = rows[0][6].as<std::string>();
      found = std::move(run);
    });
    return found;
  }

  std::optional<StoreRun> run(int64_t id, bool with_replay) override {
    std::optional<StoreRun> found;
    single([&](pqxx::transaction_base& tx) {
      const pqxx::result rows = exec(
          tx,
          std::string("SELECT id, player, pack, submitted, status, reason, frames, checksum, ") +
              (with_replay ? "replay" : "NULL") + " FROM runs WHERE id = $1",
          id);
      if (rows.empty()) return;
      StoreRun run;
      const pqxx::row row = rows[0];
      run.id = row[0].as<int64_t>();
      run.player = row[1].as<int64_t>();
      run.pack = row[2].as<std::string>();
      run.submitted = row[3].as<int64_t>();
      run.status = row[4].as<std::string>();
      run.reason = row[5].as<std::string>();
      run.frames = row[6].as<int64_t>();
      run.checksum = static_cast<uint32_t>(row[7].as<int64_t>());
      if (with_replay) {
        const pqxx::binarystring replay(row[8]);
        run.replay.assign(replay.data(), replay.data() + replay.size());
      }
      // Only a verified run has levels: a queued one (the workers' read, a client asking
      // after it) is spared the second statement.
      if (run.status == RUN_VERIFIED) {
        for (const pqxx::row& level :
             exec(tx, "SELECT level, score FROM run_levels WHERE run = $1 ORDER BY level", id)) {
          run.levels.push_back({level[0].as<int32_t>(), level[1].as<int32_t>()});
        }
      }
      found = std::move(run);
    });
    return found;
  }

  std::vector<int64_t> queued_runs() override {
    std::vector<int64_t> ids;
    single([&](pqxx::transaction_base& tx) {
      ids.clear();
      for (const pqxx::row& row :
           tx.exec("SELECT id FROM runs WHERE status = 'queued' ORDER BY id")) {
        ids.push_back(row[0].as<int64_t>());
      }
    });
    return ids;
  }

  int64_t queued_runs_of(int64_t player) override {
    int64_t count = 0;
    single([&](pqxx::transaction_base& tx) {
      count =
          exec1(tx, "SELECT count(*) FROM runs WHERE player = $1 AND status = 'queued'", player)[0]
              .as<int64_t>();
    });
    return count;
  }

  void release_run(int64_t id) override {
    transact([&](pqxx::transaction_base& tx) {
      // A claim that ended in a failed write is no worker that died on the run: not counted.
      exec(tx,
           "UPDATE runs SET lease_until = 0, claims = greatest(claims - 1, 0) "
           "WHERE id = $1 AND status = 'queued'",
           id);
    });
  }

  void finish_run(const StoreRun& verdict) override {
    transact([&](pqxx::transaction_base& tx) {
      // Only a queued run takes a verdict: a run verified twice (two hub processes picking up
      // the same queue after a restart) counts once.
      const pqxx::result updated =
          exec(tx,
               "UPDATE runs SET status = $2, reason = $3, frames = $4, checksum = $5 WHERE id = $1 "
               "AND status = 'queued' RETURNING player, pack",
               verdict.id, verdict.status, verdict.reason, verdict.frames,
               static_cast<int64_t>(verdict.checksum));
      if (updated.empty()) return;
      for (const std::string& name : verdict.charge_to) {
        if (verdict.charge_ms <= 0) break;
        exec(tx,
             "INSERT INTO counters (name, window_start, value) VALUES ($1, $2, $3) ON CONFLICT "
             "(name, window_start) DO UPDATE SET value = counters.value + excluded.value",
             name, verdict.charge_window, verdict.charge_ms);
      }
      if (verdict.status != RUN_VERIFIED) return;
      const int64_t player = updated[0][0].as<int64_t>();
      const std::string pack = updated[0][1].as<std::string>();
      if (exec(tx, "INSERT INTO pack_players (pack, player) VALUES ($1, $2) ON CONFLICT DO NOTHING",
               pack, player)
              .affected_rows() == 1) {
        exec(tx, "UPDATE packs SET plays = plays + 1 WHERE id = $1", pack);
      }
      for (const StoreRunLevel& level : verdict.levels) {
        exec(tx, "INSERT INTO run_levels (run, level, score) VALUES ($1, $2, $3)", verdict.id,
             level.level, level.score);
        raise_best(tx, player, pack, level.level, level.score);
      }
    });
  }

  int64_t add_job(const std::string& kind, int64_t player, const std::string& address,
                  const std::string& payload, int64_t now) override {
    int64_t id = 0;
    single([&](pqxx::transaction_base& tx) {
      id = exec1(tx,
                 "INSERT INTO jobs (kind, player, address, payload, created, status) VALUES ($1, "
                 "$2, $3, $4, $5, 'queued') RETURNING id",
                 kind, player, address, bytes_of(payload), now)[0]
               .as<int64_t>();
    });
    return id;
  }

  std::optional<StoreJob> job(int64_t id, bool with_payload) override {
    std::optional<StoreJob> found;
    single([&](pqxx::transaction_base& tx) {
      const pqxx::result rows = exec(
          tx,
          std::string("SELECT id, kind, player, address, created, status, result, lease_until, "
                      "claims, ") +
              (with_payload ? "payload" : "''::bytea") + " FROM jobs WHERE id = $1",
          id);
      if (!rows.empty()) found = job_of(rows[0]);
    });
    return found;
  }

  std::optional<StoreJob> claim_job(int64_t now, int64_t lease_until) override {
    std::optional<StoreJob> found;
    single([&](pqxx::transaction_base& tx) {
      const pqxx::result rows =
          exec(tx,
               "UPDATE jobs SET lease_until = $2, claims = claims + 1 WHERE id = (SELECT id FROM "
               "jobs WHERE status = 'queued' AND lease_until < $1 ORDER BY id LIMIT 1 FOR UPDATE "
               "SKIP LOCKED) RETURNING id, kind, player, address, created, status, result, "
               "lease_until, claims, payload",
               now, lease_until);
      if (!rows.empty()) found = job_of(rows[0]);
    });
    return found;
  }

  void finish_job(int64_t id, const std::string& status, const std::string& result) override {
    single([&](pqxx::transaction_base& tx) {
      exec(tx,
           "UPDATE jobs SET status = $2, result = $3, payload = ''::bytea WHERE id = $1 AND "
           "status = 'queued'",
           id, status, result);
    });
  }

  int64_t jobs_since(int64_t player, const std::string& kind, int64_t since) override {
    int64_t count = 0;
    single([&](pqxx::transaction_base& tx) {
      count =
          exec1(tx, "SELECT count(*) FROM jobs WHERE player = $1 AND kind = $2 AND created >= $3",
                player, kind, since)[0]
              .as<int64_t>();
    });
    return count;
  }

  std::optional<int32_t> best(int64_t player, const std::string& pack, int32_t level) override {
    std::optional<int32_t> found;
    single([&](pqxx::transaction_base& tx) {
      const pqxx::result rows =
          exec(tx, "SELECT score FROM bests WHERE pack = $1 AND level = $2 AND player = $3", pack,
               level, player);
      if (!rows.empty()) found = rows[0][0].as<int32_t>();
    });
    return found;
  }

  std::vector<std::pair<int32_t, int64_t>> histogram(const std::string& pack,
                                                     int32_t level) override {
    std::vector<std::pair<int32_t, int64_t>> counts;
    single([&](pqxx::transaction_base& tx) {
      counts.clear();
      for (const pqxx::row& row :
           exec(tx,
                "SELECT score, players FROM histograms WHERE pack = $1 AND level = $2 "
                "AND players > 0 ORDER BY score",
                pack, level)) {
        counts.emplace_back(row[0].as<int32_t>(), row[1].as<int64_t>());
      }
    });
    return counts;
  }

  std::pair<std::vector<std::pair<int32_t, int64_t>>, std::optional<int32_t>> standing(
      const std::string& pack, int32_t level, int64_t player) override {
    // One round trip instead of two: the best comes as a row of its own, marked.
    std::pair<std::vector<std::pair<int32_t, int64_t>>, std::optional<int32_t>> found;
    single([&](pqxx::transaction_base& tx) {
      found = {};
      for (const pqxx::row& row :
           exec(tx,
                "SELECT score, players, FALSE FROM histograms WHERE pack = $1 AND level = $2 AND "
                "players > 0 UNION ALL SELECT score, 0, TRUE FROM bests WHERE pack = $1 AND "
                "level = $2 AND player = $3 ORDER BY 3, 1",
                pack, level, player)) {
        if (row[2].as<bool>()) {
          found.second = row[0].as<int32_t>();
        } else {
          found.first.emplace_back(row[0].as<int32_t>(), row[1].as<int64_t>());
        }
      }
    });
    return found;
  }

  void rate(int64_t player, const std::string& pack, int32_t level, int32_t stars) override {
    transact([&](pqxx::transaction_base& tx) {
      exec(tx,
           "INSERT INTO ratings (pack, level, player, stars) VALUES ($1, $2, $3, $4) ON CONFLICT "
           "(pack, level, player) DO UPDATE SET stars = excluded.stars",
           pack, level, player, stars);
      // The pack's totals counted again from its own ratings (a few rows), under the pack's
      // row lock, so two ratings at once cannot both miss each other.
      exec(tx,
           "UPDATE packs p SET stars = s.total, ratings = s.count FROM (SELECT "
           "coalesce(sum(stars), 0) AS total, count(*) AS count FROM ratings WHERE pack = $1) s "
           "WHERE p.id = $1",
           pack);
    });
  }

  int64_t count(const std::string& name, int64_t window_start, int64_t amount) override {
    int64_t value = 0;
    single([&](pqxx::transaction_base& tx) {
      value = exec1(tx,
                    "INSERT INTO counters (name, window_start, value) VALUES ($1, $2, $3) ON "
                    "CONFLICT (name, window_start) DO UPDATE SET value = counters.value + "
                    "excluded.value RETURNING value",
                    name, window_start, amount)[0]
                  .as<int64_t>();
    });
    return value;
  }

  int64_t counted(const std::string& name, int64_t window_start) override {
    int64_t value = 0;
    single([&](pqxx::transaction_base& tx) {
      const pqxx::result rows =
          exec(tx, "SELECT value FROM counters WHERE name = $1 AND window_start = $2", name,
               window_start);
      value = rows.empty() ? 0 : rows[0][0].as<int64_t>();
    });
    return value;
  }

  int32_t schema_version() override {
    int32_t version = 0;
    single([&](pqxx::transaction_base& tx) {
      version = tx.exec1("SELECT version FROM schema_version")[0].as<int32_t>();
    });
    return version;
  }

 private:
  // Raises player's best on a level to score when it is higher, moving the player from one
  // count of the histogram to the other. The insert waits for a concurrent insert of the same
  // best and then finds its row, so two runs of one player verified at once count once.
  static void raise_best(pqxx::transaction_base& tx, int64_t player, const std::string& pack,
                         int32_t level, int32_t score) {
    const pqxx::result inserted =
        exec(tx,
             "INSERT INTO bests (pack, level, player, score) VALUES ($1, $2, $3, $4) ON CONFLICT "
             "(pack, level, player) DO NOTHING",
             pack, level, player, score);
    if (inserted.affected_rows() == 0) {
      const int32_t old = exec1(tx,
                                "SELECT score FROM bests WHERE pack = $1 AND level = $2 AND "
                                "player = $3 FOR UPDATE",
                                pack, level, player)[0]
                              .as<int32_t>();
      if (score <= old) return;
      exec(tx, "UPDATE bests SET score = $4 WHERE pack = $1 AND level = $2 AND player = $3", pack,
           level, player, score);
      exec(tx,
           "UPDATE histograms SET players = players - 1 WHERE pack = $1 AND level = $2 AND "
           "score = $3",
           pack, level, old);
    }
    exec(tx,
         "INSERT INTO histograms (pack, level, score, players) VALUES ($1, $2, $3, 1) ON CONFLICT "
         "(pack, level, score) DO UPDATE SET players = histograms.players + 1",
         pack, level, score);
  }

  // Runs work in one transaction on a pooled connection and commits it.
  void transact(const std::function<void(pqxx::transaction_base&)>& work) {
    on_connection<pqxx::work>(work);
  }

  // Runs work, one write or reads that need no common snapshot, without a transaction block:
  // the server commits each statement as it runs, which spares the round trips of a begin and
  // a commit and is just as durable.
  void single(const std::function<void(pqxx::transaction_base&)>& work) {
    on_connection<pqxx::nontransaction>(work);
  }

  // Runs work in a Transaction on a pooled connection and commits it. A failure of the server
  // or the statement becomes StoreError; a broken connection is dropped from the pool.
  template <typename Transaction>
  void on_connection(const std::function<void(pqxx::transaction_base&)>& work) {
    std::unique_ptr<pqxx::connection> connection = take();
    try {
      Transaction tx(*connection);
      work(tx);
      tx.commit();
    } catch (const pqxx::broken_connection& error) {
      release(nullptr);
      throw StoreError(std::string("PostgreSQL: the connection broke: ") + error.what());
    } catch (const pqxx::in_doubt_error& error) {
      release(nullptr);
      throw StoreError(std::string("PostgreSQL: a commit's outcome is unknown: ") + error.what());
    } catch (const std::exception& error) {
      release(connection->is_open() ? std::move(connection) : nullptr);
      throw StoreError(std::string("PostgreSQL: ") + error.what());
    }
    release(std::move(connection));
  }

  // A connection of the pool (a new one while fewer than STORE_PG_CONNECTIONS are out), waiting
  // for one to come back when all are busy.
  std::unique_ptr<pqxx::connection> take() {
    std::unique_lock<std::mutex> hold(lock_);
    if (!returned_.wait_for(hold, std::chrono::seconds(STORE_PG_WAIT_SECONDS),
                            [this] { return !idle_.empty() || open_ < STORE_PG_CONNECTIONS; })) {
      throw StoreError("PostgreSQL: every connection stayed busy for " +
                       std::to_string(STORE_PG_WAIT_SECONDS) + " s");
    }
    if (!idle_.empty()) {
      std::unique_ptr<pqxx::connection> connection = std::move(idle_.back());
      idle_.pop_back();
      return connection;
    }
    ++open_;
    hold.unlock();
    try {
      return std::make_unique<pqxx::connection>(url_);
    } catch (const std::exception& error) {
      release(nullptr);
      throw StoreError(std::string("PostgreSQL: cannot connect: ") + error.what());
    }
  }

  // Gives a connection back to the pool; null when it was lost.
  void release(std::unique_ptr<pqxx::connection> connection) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (connection) {
        idle_.push_back(std::move(connection));
      } else {
        --open_;
      }
    }
    returned_.notify_one();
  }

  const std::string url_;                                // the server, as --database gave it
  std::mutex lock_;                                      // guards the pool
  std::condition_variable returned_;                     // a connection came back or was lost
  std::vector<std::unique_ptr<pqxx::connection>> idle_;  // connections free to take
  size_t open_ = 0;                                      // connections made and not lost
};

}  // namespace

std::unique_ptr<Store> store_open_postgresql(const std::string& url, std::string& error) {
  auto store = std::make_unique<PgStore>(url);
  try {
    store->open();
  } catch (const StoreError& failure) {
    error = failure.what();
    return nullptr;
  }
  return store;
}
