// The embedded store: one SQLite file in WAL mode with synchronous=FULL, so a change is on the
// disk before the call that made it returns. Writes are made by one thread in batches (a group
// commit); reads go through a connection of their own. Every value goes in through a bound
// parameter.
#include "hub/store_sqlite.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <iterator>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_map>

#include "hub/store.h"

namespace {

// Connections that read at once: as many as requests that are likely to be reading together on
// a small machine; more only cost memory.
constexpr int SQLITE_READERS = 8;

constexpr const char* SCHEMA = R"(
CREATE TABLE IF NOT EXISTS players(
  id INTEGER PRIMARY KEY, name TEXT NOT NULL, key_hash TEXT NOT NULL UNIQUE,
  created INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS packs(
  id TEXT PRIMARY KEY, author INTEGER NOT NULL REFERENCES players(id), title TEXT NOT NULL,
  first_line TEXT NOT NULL, published INTEGER NOT NULL, replaces TEXT NOT NULL,
  withdrawn INTEGER NOT NULL DEFAULT 0, levels INTEGER NOT NULL,
  level_data_hash INTEGER NOT NULL, level_data_size INTEGER NOT NULL, text BLOB NOT NULL);
CREATE INDEX IF NOT EXISTS packs_author ON packs(author, published);
CREATE TABLE IF NOT EXISTS levels(
  pack TEXT NOT NULL REFERENCES packs(id), level INTEGER NOT NULL, edge_frame INTEGER NOT NULL,
  enclosure INTEGER NOT NULL, bound INTEGER NOT NULL, PRIMARY KEY(pack, level));
CREATE TABLE IF NOT EXISTS runs(
  id INTEGER PRIMARY KEY, player INTEGER NOT NULL REFERENCES players(id), pack TEXT NOT NULL,
  replay BLOB NOT NULL, submitted INTEGER NOT NULL, status TEXT NOT NULL,
  reason TEXT NOT NULL DEFAULT '', frames INTEGER NOT NULL DEFAULT 0,
  checksum INTEGER NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS runs_queued ON runs(id) WHERE status = 'queued';
CREATE INDEX IF NOT EXISTS runs_pack ON runs(pack, status, player);
CREATE INDEX IF NOT EXISTS runs_player ON runs(player, pack);
CREATE TABLE IF NOT EXISTS run_levels(
  run INTEGER NOT NULL REFERENCES runs(id), level INTEGER NOT NULL, score INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS run_levels_run ON run_levels(run);
CREATE TABLE IF NOT EXISTS bests(
  pack TEXT NOT NULL, level INTEGER NOT NULL, player INTEGER NOT NULL, score INTEGER NOT NULL,
  PRIMARY KEY(pack, level, player));
CREATE TABLE IF NOT EXISTS ratings(
  pack TEXT NOT NULL, level INTEGER NOT NULL, player INTEGER NOT NULL, stars INTEGER NOT NULL,
  PRIMARY KEY(pack, level, player));
CREATE TABLE IF NOT EXISTS counters(
  name TEXT NOT NULL, window INTEGER NOT NULL, value INTEGER NOT NULL,
  PRIMARY KEY(name, window));
)";

// The changes from each version of the tables to the next: MIGRATIONS[v] takes version v to
// v + 1, and the file's user_version says which it has. Version 0 is the tables above, as the
// first hub made them.
constexpr const char* MIGRATIONS[] = {
    // 1: runs are claimed player by player in turn and remember the sender's address (the
    // processor-time budget); publications are jobs with leases; the lists read counters kept as
    // runs are verified
    // and levels rated instead of counting over every run.
    R"(
ALTER TABLE runs ADD COLUMN turn INTEGER NOT NULL DEFAULT 0;
ALTER TABLE runs ADD COLUMN address TEXT NOT NULL DEFAULT '';
CREATE INDEX runs_by_turn ON runs(turn, id) WHERE status = 'queued';
CREATE INDEX runs_queued_by_player ON runs(player, turn) WHERE status = 'queued';
CREATE TABLE pack_players(pack TEXT NOT NULL, player INTEGER NOT NULL, PRIMARY KEY(pack, player));
INSERT INTO pack_players SELECT DISTINCT pack, player FROM runs WHERE status = 'verified';
ALTER TABLE packs ADD COLUMN plays INTEGER NOT NULL DEFAULT 0;
ALTER TABLE packs ADD COLUMN stars INTEGER NOT NULL DEFAULT 0;
ALTER TABLE packs ADD COLUMN ratings INTEGER NOT NULL DEFAULT 0;
UPDATE packs SET
  plays = (SELECT COUNT(*) FROM pack_players x WHERE x.pack = packs.id),
  stars = (SELECT COALESCE(SUM(s.stars), 0) FROM ratings s WHERE s.pack = packs.id),
  ratings = (SELECT COUNT(*) FROM ratings s WHERE s.pack = packs.id);
CREATE TABLE jobs(
  id INTEGER PRIMARY KEY, kind TEXT NOT NULL, player INTEGER NOT NULL REFERENCES players(id),
  address TEXT NOT NULL, payload BLOB NOT NULL, created INTEGER NOT NULL, status TEXT NOT NULL,
  result TEXT NOT NULL DEFAULT '', lease_until INTEGER NOT NULL DEFAULT 0,
  claims INTEGER NOT NULL DEFAULT 0);
CREATE INDEX jobs_queued ON jobs(id) WHERE status = 'queued';
CREATE INDEX jobs_by_player ON jobs(player, kind, created);
)",
    // 2: each level keeps the best score the exact search verified, and whether it is proven.
    R"(
ALTER TABLE levels ADD COLUMN best INTEGER NOT NULL DEFAULT -1;
ALTER TABLE levels ADD COLUMN best_proven INTEGER NOT NULL DEFAULT 0;
)",
};
static_assert(std::size(MIGRATIONS) == STORE_SCHEMA_VERSION);

// A connection and the statements prepared on it: a statement is prepared once and kept, since
// preparing one costs more than most of the hub's reads. Used by one thread at a time.
class Connection {
 public:
  explicit Connection(sqlite3* db) : db_(db) {}
  ~Connection() {
    for (auto& [sql, statement] : idle_) sqlite3_finalize(statement);
    sqlite3_close(db_);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  operator sqlite3*() const { return db_; }

  // A statement of sql ready to bind, prepared now or taken from the kept ones.
  sqlite3_stmt* take(const char* sql) {
    for (auto it = idle_.begin(); it != idle_.end(); ++it) {
      if (it->first == sql) {
        sqlite3_stmt* statement = it->second;
        idle_.erase(it);
        return statement;
      }
    }
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) !=
        SQLITE_OK) {
      sqlite3_finalize(statement);
      return nullptr;
    }
    return statement;
  }
  // Gives a statement back, reset and unbound, to be taken again.
  void give_back(sqlite3_stmt* statement) {
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    idle_.emplace_back(sqlite3_sql(statement), statement);
  }

 private:
  sqlite3* db_;
  std::vector<std::pair<std::string, sqlite3_stmt*>> idle_;
};

// One statement in use on a connection, given back with the object; a failure throws
// StoreError.
class Statement {
 public:
  Statement(Connection& db, const char* sql) : connection_(db), db_(db) {
    statement_ = db.take(sql);
    if (!statement_) fail();
  }
  ~Statement() { connection_.give_back(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& bind(int index, int64_t value) {
    check(sqlite3_bind_int64(statement_, index, value));
    return *this;
  }
  Statement& bind(int index, const std::string& text) {
    check(sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()),
                            SQLITE_TRANSIENT));
    return *this;
  }
  Statement& bind_blob(int index, const void* bytes, size_t size) {
    // A zero-length blob must not be bound as NULL.
    static const char NOTHING = 0;
    check(sqlite3_bind_blob64(statement_, index, size ? bytes : &NOTHING, size, SQLITE_TRANSIENT));
    return *this;
  }
  // The next row: true while there is one.
  bool step() {
    const int result = sqlite3_step(statement_);
    if (result == SQLITE_ROW) return true;
    if (result == SQLITE_DONE) return false;
    fail();
    return false;
  }
  int64_t integer(int column) { return sqlite3_column_int64(statement_, column); }
  double real(int column) { return sqlite3_column_double(statement_, column); }
  bool null(int column) { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }
  std::string text(int column) {
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement_, column));
    return bytes ? std::string(bytes, static_cast<size_t>(sqlite3_column_bytes(statement_, column)))
                 : std::string();
  }
  std::vector<uint8_t> blob(int column) {
    const auto* bytes = static_cast<const uint8_t*>(sqlite3_column_blob(statement_, column));
    return bytes ? std::vector<uint8_t>(bytes, bytes + sqlite3_column_bytes(statement_, column))
                 : std::vector<uint8_t>();
  }

 private:
  void check(int result) {
    if (result != SQLITE_OK) fail();
  }
  [[noreturn]] void fail() { throw StoreError(sqlite3_errmsg(db_)); }
  Connection& connection_;
  sqlite3* db_;
  sqlite3_stmt* statement_ = nullptr;
};

void execute(sqlite3* db, const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    const std::string text = message ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    throw StoreError(text);
  }
}

// The one thread that writes. A write waits in a queue while the batch before it commits; the
// writes found waiting are then made together in one transaction, each in a savepoint of its
// own, and committed with one sync to the disk. A write returns once its batch is durable, or
// throws: its own failure undoes only its own changes, a failed commit fails the whole batch.
// Under load, a hundred submissions cost a few syncs instead of a hundred queued one by one.
class Writer {
 public:
  using Work = std::function<void(Connection&)>;

  explicit Writer(Connection& db) : db_(db), thread_([this] { run(); }) {}
  ~Writer() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
  }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  void write(const Work& work) {
    Job job{&work, nullptr, false};
    std::unique_lock lock(mutex_);
    queue_.push_back(&job);
    wake_.notify_one();
    done_.wait(lock, [&job] { return job.done; });
    if (job.error) std::rethrow_exception(job.error);
  }

 private:
  struct Job {
    const Work* work;
    std::exception_ptr error;
    bool done = false;
  };

  void run() {
    for (;;) {
      std::vector<Job*> batch;
      {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;
        batch.swap(queue_);
      }
      std::exception_ptr failed;
      try {
        execute(db_, "BEGIN IMMEDIATE");
        for (Job* job : batch) {
          execute(db_, "SAVEPOINT one");
          try {
            (*job->work)(db_);
            execute(db_, "RELEASE one");
          } catch (...) {
            job->error = std::current_exception();
            sqlite3_exec(db_, "ROLLBACK TO one; RELEASE one", nullptr, nullptr, nullptr);
            // Some failures (a full disk, an I/O error) end the whole transaction.
            if (sqlite3_get_autocommit(db_)) throw;
          }
        }
        execute(db_, "COMMIT");
      } catch (...) {
        failed = std::current_exception();
        if (!sqlite3_get_autocommit(db_)) {
          sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        }
      }
      {
        std::lock_guard lock(mutex_);
        for (Job* job : batch) {
          if (failed) job->error = failed;
          job->done = true;
        }
      }
      done_.notify_all();
    }
  }

  Connection& db_;
  std::mutex mutex_;
  std::condition_variable wake_;  // a write was queued, or the store is closing
  std::condition_variable done_;  // a batch settled
  std::vector<Job*> queue_;       // writes waiting for the next batch
  bool stopping_ = false;
  std::thread thread_;  // last: started once the rest is ready
};

constexpr const char* PACK_COLUMNS =
    "p.id, p.author, pl.name, p.title, p.first_line, p.published, p.replaces, p.withdrawn, "
    "p.levels, p.level_data_hash, p.level_data_size";

StorePack read_pack(Statement& row) {
  StorePack pack;
  pack.id = row.text(0);
  pack.author = row.integer(1);
  pack.author_name = row.text(2);
  pack.title = row.text(3);
  pack.first_line = row.text(4);
  pack.published = row.integer(5);
  pack.replaces = row.text(6);
  pack.withdrawn = row.integer(7) != 0;
  pack.levels = static_cast<int32_t>(row.integer(8));
  pack.level_data_hash = static_cast<uint32_t>(row.integer(9));
  pack.level_data_size = static_cast<uint32_t>(row.integer(10));
  return pack;
}

class SqliteStore : public Store {
 public:
  SqliteStore(sqlite3* db, const std::vector<sqlite3*>& readers) : db_(db) {
    for (sqlite3* reader : readers) {
      readers_.push_back(std::make_unique<Connection>(reader));
      idle_.push_back(readers_.back().get());
    }
  }

  int64_t add_player(const std::string& name, const std::string& key_hash, int64_t now) override {
    int64_t id = 0;
    writer_.write([&](Connection& db) {
      Statement insert(db, "INSERT INTO players(name, key_hash, created) VALUES(?, ?, ?)");
      insert.bind(1, name).bind(2, key_hash).bind(3, now).step();
      id = sqlite3_last_insert_rowid(db);
    });
    return id;
  }
  std::optional<StorePlayer> player_by_key(const std::string& key_hash) override {
    Reader reader(*this);
    Statement select(reader, "SELECT id, name, key_hash, created FROM players WHERE key_hash = ?");
    select.bind(1, key_hash);
    return read_player(select);
  }
  std::optional<StorePlayer> player(int64_t id) override {
    Reader reader(*this);
    Statement select(reader, "SELECT id, name, key_hash, created FROM players WHERE id = ?");
    select.bind(1, id);
    return read_player(select);
  }
  bool rename_player(int64_t id, const std::string& name) override {
    bool renamed = false;
    writer_.write([&](Connection& db) {
      Statement update(db, "UPDATE players SET name = ? WHERE id = ?");
      update.bind(1, name).bind(2, id).step();
      renamed = sqlite3_changes(db) > 0;
    });
    return renamed;
  }

  bool add_pack(const StorePack& pack, const std::vector<StoreLevel>& levels) override {
    bool added = false;
    writer_.write([&](Connection& db) {
      Statement exists(db, "SELECT 1 FROM packs WHERE id = ?");
      if (exists.bind(1, pack.id).step()) return;
      Statement insert(db,
                       "INSERT INTO packs(id, author, title, first_line, published, replaces, "
                       "levels, level_data_hash, level_data_size, text) "
                       "VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
      insert.bind(1, pack.id)
          .bind(2, pack.author)
          .bind(3, pack.title)
          .bind(4, pack.first_line)
          .bind(5, pack.published)
          .bind(6, pack.replaces)
          .bind(7, pack.levels)
          .bind(8, static_cast<int64_t>(pack.level_data_hash))
          .bind(9, static_cast<int64_t>(pack.level_data_size))
          .bind_blob(10, pack.text.data(), pack.text.size())
          .step();
      for (const StoreLevel& level : levels) {
        Statement add(db,
                      "INSERT INTO levels(pack, level, edge_frame, enclosure, bound) "
                      "VALUES(?, ?, ?, ?, ?)");
        add.bind(1, pack.id)
            .bind(2, level.level)
            .bind(3, level.edge_frame)
            .bind(4, level.enclosure)
            .bind(5, level.bound)
            .step();
      }
      added = true;
    });
    return added;
  }
  std::optional<StorePack> pack(const std::string& id, bool with_text) override {
    Reader reader(*this);
    const std::string sql = std::string("SELECT ") + PACK_COLUMNS +
                            ", CASE WHEN ? THEN p.text ELSE x'' END "
                            "FROM packs p JOIN players pl ON pl.id = p.author WHERE p.id = ?";
    Statement select(reader, sql.c_str());
    select.bind(1, with_text ? 1 : 0).bind(2, id);
    if (!select.step()) return std::nullopt;
    StorePack pack = read_pack(select);
    pack.text = select.text(11);
    return pack;
  }
  std::vector<StoreLevel> pack_levels(const std::string& id) override {
    Reader reader(*this);
    Statement select(reader,
                     "SELECT level, edge_frame, enclosure, bound, best, best_proven FROM levels "
                     "WHERE pack = ? ORDER BY level");
    select.bind(1, id);
    std::vector<StoreLevel> levels;
    while (select.step()) {
      levels.push_back(
          {static_cast<int32_t>(select.integer(0)), static_cast<int32_t>(select.integer(1)),
           static_cast<int32_t>(select.integer(2)), static_cast<int32_t>(select.integer(3)),
           static_cast<int32_t>(select.integer(4)), select.integer(5) != 0});
    }
    return levels;
  }
  void set_level_best(const std::string& id, int32_t level, int32_t best, bool proven) override {
    writer_.write([&](Connection& db) {
      Statement update(db,
                       "UPDATE levels SET best = ?, best_proven = ? WHERE pack = ? AND level = ?");
      update.bind(1, best).bind(2, proven ? 1 : 0).bind(3, id).bind(4, level).step();
    });
  }
  bool withdraw_pack(const std::string& id) override {
    bool withdrawn = false;
    writer_.write([&](Connection& db) {
      Statement update(db, "UPDATE packs SET withdrawn = 1 WHERE id = ?");
      update.bind(1, id).step();
      withdrawn = sqlite3_changes(db) > 0;
    });
    return withdrawn;
  }
  std::vector<StorePackSummary> list_packs(PackOrder order, int64_t viewer, int64_t offset,
                                           int64_t limit) override {
    // The orders are fixed texts; only values are bound.
    const char* order_by = "p.published DESC, p.rowid DESC";
    switch (order) {
      case PackOrder::NEWEST:
      case PackOrder::UNPLAYED:
        break;
      case PackOrder::OLDEST:
        order_by = "p.published, p.rowid";
        break;
      case PackOrder::PLAYED:
        order_by = "plays DESC, p.published DESC, p.rowid DESC";
        break;
      case PackOrder::RATED:
        order_by = "rating IS NULL, rating DESC, p.published DESC, p.rowid DESC";
        break;
      case PackOrder::RANDOM:
        order_by = "random()";
        break;
    }
    const std::string sql =
        std::string("SELECT ") + PACK_COLUMNS +
        ", p.plays AS plays, CASE WHEN p.ratings = 0 THEN NULL ELSE CAST(p.stars AS REAL) / "
        "p.ratings END AS rating, p.ratings "
        "FROM packs p JOIN players pl ON pl.id = p.author WHERE p.withdrawn = 0 AND "
        "(? = 0 OR NOT EXISTS (SELECT 1 FROM runs r WHERE r.player = ? AND r.pack = p.id)) "
        "ORDER BY " +
        order_by + " LIMIT ? OFFSET ?";
    Reader reader(*this);
    Statement select(reader, sql.c_str());
    const int64_t unplayed_by = order == PackOrder::UNPLAYED ? viewer : 0;
    select.bind(1, unplayed_by)
        .bind(2, unplayed_by)
        .bind(3, limit)
        .bind(4, std::max<int64_t>(offset, 0));
    std::vector<StorePackSummary> packs;
    while (select.step()) {
      StorePackSummary summary;
      summary.pack = read_pack(select);
      summary.plays = select.integer(11);
      summary.rating = select.null(12) ? 0 : select.real(12);
      summary.ratings = select.integer(13);
      packs.push_back(std::move(summary));
    }
    return packs;
  }
  int64_t pack_count() override {
    Reader reader(*this);
    Statement select(reader, "SELECT COUNT(*) FROM packs WHERE withdrawn = 0");
    select.step();
    return select.integer(0);
  }
  int64_t packs_published_since(int64_t player, int64_t since) override {
    Reader reader(*this);
    Statement select(reader, "SELECT COUNT(*) FROM packs WHERE author = ? AND published >= ?");
    select.bind(1, player).bind(2, since).step();
    return select.integer(0);
  }

  int64_t add_run(int64_t player, const std::string& pack, const std::vector<uint8_t>& replay,
                  int64_t now, const std::string& address) override {
    int64_t id = 0;
    writer_.write([&](Connection& db) {
      Statement insert(db,
                       "INSERT INTO runs(player, pack, replay, submitted, status, address, turn) "
                       "VALUES(?1, ?2, ?3, ?4, 'queued', ?5, COALESCE((SELECT MAX(turn) + 1 FROM "
                       "runs WHERE status = 'queued' AND player = ?1), (SELECT MIN(turn) FROM "
                       "runs WHERE status = 'queued'), 0))");
      insert.bind(1, player).bind(2, pack).bind_blob(3, replay.data(), replay.size()).bind(4, now);
      insert.bind(5, address).step();
      id = sqlite3_last_insert_rowid(db);
    });
    return id;
  }
  void release_run(int64_t id) override {
    std::lock_guard lock(lease_mutex_);
    leases_.erase(id);
  }
  std::optional<StoreRun> claim_run(int64_t now, int64_t lease_until) override {
    // The leases are this process's own (see store.h): a claim is a read, and costs no sync.
    std::lock_guard lock(lease_mutex_);
    if (leases_.size() > 4096) {
      std::erase_if(leases_, [now](const auto& kept) { return kept.second.until < now; });
    }
    std::set<int64_t> busy;  // players with a run held
    for (const auto& [id, lease] : leases_) {
      if (lease.until >= now) busy.insert(lease.player);
    }
    // The first runs by turn, enough to pass the held ones and find a player with none held.
    Reader reader(*this);
    Statement select(reader,
                     "SELECT id, player FROM runs WHERE status = 'queued' ORDER BY turn, id "
                     "LIMIT ?");
    select.bind(1, static_cast<int64_t>(busy.size() * 8 + 64));
    std::optional<int64_t> next;
    bool next_busy = true;
    while (select.step()) {
      const int64_t id = select.integer(0);
      const int64_t player = select.integer(1);
      const auto lease = leases_.find(id);
      if (lease != leases_.end() && lease->second.until >= now) continue;
      if (!next || (next_busy && !busy.count(player))) {
        next = id;
        next_busy = busy.count(player) > 0;
        if (!next_busy) break;
      }
    }
    if (!next) return std::nullopt;
    Statement chosen(reader,
                     "SELECT id, player, pack, submitted, replay, address FROM runs WHERE id = ?");
    if (!chosen.bind(1, *next).step()) return std::nullopt;
    Lease& lease = leases_[*next];
    lease.until = lease_until;
    lease.player = chosen.integer(1);
    lease.claims += 1;
    StoreRun run;
    run.id = chosen.integer(0);
    run.player = chosen.integer(1);
    run.pack = chosen.text(2);
    run.submitted = chosen.integer(3);
    run.replay = chosen.blob(4);
    run.address = chosen.text(5);
    run.claims = lease.claims;
    return run;
  }
  std::optional<StoreRun> run(int64_t id, bool with_replay) override {
    Reader reader(*this);
    Statement select(reader,
                     "SELECT id, player, pack, submitted, status, reason, frames, checksum, "
                     "CASE WHEN ? THEN replay ELSE x'' END FROM runs WHERE id = ?");
    select.bind(1, with_replay ? 1 : 0).bind(2, id);
    if (!select.step()) return std::nullopt;
    StoreRun run;
    run.id = select.integer(0);
    run.player = select.integer(1);
    run.pack = select.text(2);
    run.submitted = select.integer(3);
    run.status = select.text(4);
    run.reason = select.text(5);
    run.frames = select.integer(6);
    run.checksum = static_cast<uint32_t>(select.integer(7));
    run.replay = select.blob(8);
    Statement levels(reader, "SELECT level, score FROM run_levels WHERE run = ? ORDER BY rowid");
    levels.bind(1, id);
    while (levels.step()) {
      run.levels.push_back(
          {static_cast<int32_t>(levels.integer(0)), static_cast<int32_t>(levels.integer(1))});
    }
    return run;
  }
  std::vector<int64_t> queued_runs() override {
    Reader reader(*this);
    Statement select(reader, "SELECT id FROM runs WHERE status = 'queued' ORDER BY id");
    std::vector<int64_t> ids;
    while (select.step()) ids.push_back(select.integer(0));
    return ids;
  }
  int64_t queued_runs_of(int64_t player) override {
    Reader reader(*this);
    Statement select(reader, "SELECT COUNT(*) FROM runs WHERE player = ? AND status = 'queued'");
    select.bind(1, player).step();
    return select.integer(0);
  }
  void finish_run(const StoreRun& verdict) override {
    writer_.write([&](Connection& db) {
      Statement update(db,
                       "UPDATE runs SET status = ?, reason = ?, frames = ?, checksum = ? "
                       "WHERE id = ? AND status = 'queued' RETURNING player, pack");
      update.bind(1, verdict.status)
          .bind(2, verdict.reason)
          .bind(3, verdict.frames)
          .bind(4, static_cast<int64_t>(verdict.checksum))
          .bind(5, verdict.id);
      if (!update.step()) return;
      const int64_t player = update.integer(0);
      const std::string pack = update.text(1);
      while (update.step()) {
      }
      for (const std::string& name : verdict.charge_to) {
        if (verdict.charge_ms <= 0) break;
        Statement charge(db,
                         "INSERT INTO counters(name, window, value) VALUES(?, ?, ?) "
                         "ON CONFLICT(name, window) DO UPDATE SET value = value + excluded.value");
        charge.bind(1, name).bind(2, verdict.charge_window).bind(3, verdict.charge_ms).step();
      }
      if (verdict.status == RUN_VERIFIED) {
        Statement played(db, "INSERT OR IGNORE INTO pack_players(pack, player) VALUES(?, ?)");
        played.bind(1, pack).bind(2, player).step();
        if (sqlite3_changes(db) > 0) {
          Statement plays(db, "UPDATE packs SET plays = plays + 1 WHERE id = ?");
          plays.bind(1, pack).step();
        }
        for (const StoreRunLevel& level : verdict.levels) {
          Statement add(db, "INSERT INTO run_levels(run, level, score) VALUES(?, ?, ?)");
          add.bind(1, verdict.id).bind(2, level.level).bind(3, level.score).step();
          Statement best(db,
                         "INSERT INTO bests(pack, level, player, score) VALUES(?, ?, ?, ?) "
                         "ON CONFLICT(pack, level, player) DO UPDATE SET score = excluded.score "
                         "WHERE excluded.score > bests.score");
          best.bind(1, pack).bind(2, level.level).bind(3, player).bind(4, level.score).step();
        }
      }
    });
    // Its lease ends with it, so its player counts as busy no longer.
    std::lock_guard lock(lease_mutex_);
    leases_.erase(verdict.id);
  }

  int64_t add_job(const std::string& kind, int64_t player, const std::string& address,
                  const std::string& payload, int64_t now) override {
    int64_t id = 0;
    writer_.write([&](Connection& db) {
      Statement insert(db,
                       "INSERT INTO jobs(kind, player, address, payload, created, status) "
                       "VALUES(?, ?, ?, ?, ?, 'queued')");
      insert.bind(1, kind).bind(2, player).bind(3, address);
      insert.bind_blob(4, payload.data(), payload.size()).bind(5, now).step();
      id = sqlite3_last_insert_rowid(db);
    });
    return id;
  }
  std::optional<StoreJob> job(int64_t id, bool with_payload) override {
    Reader reader(*this);
    Statement select(reader,
                     "SELECT id, kind, player, address, created, status, result, lease_until, "
                     "claims, CASE WHEN ? THEN payload ELSE x'' END FROM jobs WHERE id = ?");
    select.bind(1, with_payload ? 1 : 0).bind(2, id);
    if (!select.step()) return std::nullopt;
    return read_job(select);
  }
  std::optional<StoreJob> claim_job(int64_t now, int64_t lease_until) override {
    std::optional<StoreJob> found;
    writer_.write([&](Connection& db) {
      found.reset();
      Statement claim(db,
                      "UPDATE jobs SET lease_until = ?2, claims = claims + 1 WHERE id = (SELECT "
                      "id FROM jobs WHERE status = 'queued' AND lease_until < ?1 ORDER BY id "
                      "LIMIT 1) RETURNING id, kind, player, address, created, status, result, "
                      "lease_until, claims, payload");
      claim.bind(1, now).bind(2, lease_until);
      if (!claim.step()) return;
      found = read_job(claim);
      while (claim.step()) {
      }
    });
    return found;
  }
  void finish_job(int64_t id, const std::string& status, const std::string& result) override {
    writer_.write([&](Connection& db) {
      Statement update(db,
                       "UPDATE jobs SET status = ?, result = ?, payload = x'' WHERE id = ? AND "
                       "status = 'queued'");
      update.bind(1, status).bind(2, result).bind(3, id).step();
    });
  }
  int64_t jobs_since(int64_t player, const std::string& kind, int64_t since) override {
    Reader reader(*this);
    Statement select(reader,
                     "SELECT COUNT(*) FROM jobs WHERE player = ? AND kind = ? AND created >= ?");
    select.bind(1, player).bind(2, kind).bind(3, since).step();
    return select.integer(0);
  }

  std::optional<int32_t> best(int64_t player, const std::string& pack, int32_t level) override {
    Reader reader(*this);
    Statement select(reader, "SELECT score FROM bests WHERE pack = ? AND level = ? AND player = ?");
    select.bind(1, pack).bind(2, level).bind(3, player);
    if (!select.step()) return std::nullopt;
    return static_cast<int32_t>(select.integer(0));
  }
  std::vector<std::pair<int32_t, int64_t>> histogram(const std::string& pack,
                                                     int32_t level) override {
    Reader reader(*this);
    Statement select(reader,
                     "SELECT score, COUNT(*) FROM bests WHERE pack = ? AND level = ? "
                     "GROUP BY score ORDER BY score");
    select.bind(1, pack).bind(2, level);
    std::vector<std::pair<int32_t, int64_t>> counts;
    while (select.step())
      counts.push_back({static_cast<int32_t>(select.integer(0)), select.integer(1)});
    return counts;
  }
  void rate(int64_t player, const std::string& pack, int32_t level, int32_t stars) override {
    writer_.write([&](Connection& db) {
      Statement upsert(db,
                       "INSERT INTO ratings(pack, level, player, stars) VALUES(?, ?, ?, ?) "
                       "ON CONFLICT(pack, level, player) DO UPDATE SET stars = excluded.stars");
      upsert.bind(1, pack).bind(2, level).bind(3, player).bind(4, stars).step();
      // The pack's totals counted again from its own ratings: a few rows.
      Statement totals(db,
                       "UPDATE packs SET stars = (SELECT COALESCE(SUM(stars), 0) FROM ratings "
                       "WHERE pack = ?1), ratings = (SELECT COUNT(*) FROM ratings WHERE pack = "
                       "?1) WHERE id = ?1");
      totals.bind(1, pack).step();
    });
  }

  int64_t count(const std::string& name, int64_t window_start, int64_t amount) override {
    int64_t value = 0;
    writer_.write([&](Connection& db) {
      // Windows two days gone say nothing any more.
      Statement forget(db, "DELETE FROM counters WHERE window < ?");
      forget.bind(1, window_start - 2 * 86400).step();
      Statement add(db,
                    "INSERT INTO counters(name, window, value) VALUES(?, ?, ?) "
                    "ON CONFLICT(name, window) DO UPDATE SET value = value + excluded.value "
                    "RETURNING value");
      add.bind(1, name).bind(2, window_start).bind(3, amount);
      add.step();
      value = add.integer(0);
      while (add.step()) {
      }
    });
    return value;
  }

  int64_t counted(const std::string& name, int64_t window_start) override {
    Reader reader(*this);
    Statement select(reader, "SELECT value FROM counters WHERE name = ? AND window = ?");
    select.bind(1, name).bind(2, window_start);
    return select.step() ? select.integer(0) : 0;
  }

  int32_t schema_version() override {
    Reader reader(*this);
    Statement select(reader, "PRAGMA user_version");
    select.step();
    return static_cast<int32_t>(select.integer(0));
  }

 private:
  // A reading connection lent for one read: reads run side by side, each connection in a
  // snapshot of its own, and none waits behind another's.
  class Reader {
   public:
    explicit Reader(SqliteStore& store) : store_(store) {
      std::unique_lock lock(store_.read_mutex_);
      store_.returned_.wait(lock, [this] { return !store_.idle_.empty(); });
      db_ = store_.idle_.back();
      store_.idle_.pop_back();
    }
    ~Reader() {
      {
        std::lock_guard lock(store_.read_mutex_);
        store_.idle_.push_back(db_);
      }
      store_.returned_.notify_one();
    }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
    operator Connection&() const { return *db_; }

   private:
    SqliteStore& store_;
    Connection* db_ = nullptr;
  };

  static StoreJob read_job(Statement& row) {
    StoreJob job;
    job.id = row.integer(0);
    job.kind = row.text(1);
    job.player = row.integer(2);
    job.address = row.text(3);
    job.created = row.integer(4);
    job.status = row.text(5);
    job.result = row.text(6);
    job.lease_until = row.integer(7);
    job.claims = static_cast<int32_t>(row.integer(8));
    job.payload = row.text(9);
    return job;
  }

  std::optional<StorePlayer> read_player(Statement& select) {
    if (!select.step()) return std::nullopt;
    return StorePlayer{select.integer(0), select.text(1), select.text(2), select.integer(3)};
  }

  // Writes and reads go through connections of their own: in WAL mode a read sees every commit
  // made before it began and never waits for a write's sync to the disk.
  Connection db_;  // the writing connection, used by writer_'s thread alone
  std::vector<std::unique_ptr<Connection>> readers_;  // the reading connections
  std::vector<Connection*> idle_;                     // those of readers_ not lent
  std::mutex read_mutex_;                             // over idle_
  std::mutex lease_mutex_;                            // over leases_: one claim at a time
  struct Lease {
    int64_t until = 0;   // Unix seconds
    int64_t player = 0;  // whose run
    int32_t claims = 0;  // times it was claimed here
  };
  std::unordered_map<int64_t, Lease> leases_;  // by run id
  std::condition_variable returned_;           // a reader came back to idle_
  Writer writer_{db_};  // last: its thread stops before the connections close
};

// Throws StoreError with SQLite's first finding when the file is damaged: a hub that started
// on it would answer 503 to every request that touched the damage.
void check_whole(sqlite3* db) {
  std::string finding;
  const auto first = [](void* out, int, char** values, char**) {
    auto* kept = static_cast<std::string*>(out);
    if (kept->empty() && values[0]) *kept = values[0];
    return 0;
  };
  char* message = nullptr;
  if (sqlite3_exec(db, "PRAGMA quick_check", first, &finding, &message) != SQLITE_OK) {
    const std::string text = message ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    throw StoreError("the database is damaged: " + text);
  }
  if (finding != "ok") throw StoreError("the database is damaged: " + finding);
}

// Makes the tables of a new file, or brings an older file's up to STORE_SCHEMA_VERSION, in one
// transaction; refuses a file a newer hub made.
void migrate(sqlite3* db) {
  execute(db, "BEGIN IMMEDIATE");
  try {
    execute(db, SCHEMA);
    int32_t version = 0;
    const auto read = [](void* out, int, char** values, char**) {
      *static_cast<int32_t*>(out) = values[0] ? std::atoi(values[0]) : 0;
      return 0;
    };
    if (sqlite3_exec(db, "PRAGMA user_version", read, &version, nullptr) != SQLITE_OK) {
      throw StoreError(sqlite3_errmsg(db));
    }
    if (version > STORE_SCHEMA_VERSION) {
      throw StoreError("the tables are of version " + std::to_string(version) +
                       ", made by a newer hub (this one reads up to " +
                       std::to_string(STORE_SCHEMA_VERSION) + ")");
    }
    for (; version < STORE_SCHEMA_VERSION; ++version) execute(db, MIGRATIONS[version]);
    execute(db, ("PRAGMA user_version = " + std::to_string(version)).c_str());
    execute(db, "COMMIT");
  } catch (...) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

}  // namespace

std::unique_ptr<Store> store_open_sqlite(const std::string& path, std::string& error) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                      nullptr) != SQLITE_OK) {
    error = path + ": " + (db ? sqlite3_errmsg(db) : "cannot open");
    sqlite3_close(db);
    return nullptr;
  }
  try {
    sqlite3_busy_timeout(db, 10000);
    execute(db, "PRAGMA journal_mode = WAL");
    execute(db, "PRAGMA synchronous = FULL");
    execute(db, "PRAGMA foreign_keys = ON");
    check_whole(db);
    migrate(db);
  } catch (const StoreError& failure) {
    error = path + ": " + failure.what();
    sqlite3_close(db);
    return nullptr;
  }
  std::vector<sqlite3*> readers;
  for (int i = 0; i < SQLITE_READERS; ++i) {
    sqlite3* reader = nullptr;
    if (sqlite3_open_v2(path.c_str(), &reader, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
      error = path + ": " + (reader ? sqlite3_errmsg(reader) : "cannot open");
      sqlite3_close(reader);
      for (sqlite3* opened : readers) sqlite3_close(opened);
      sqlite3_close(db);
      return nullptr;
    }
    sqlite3_busy_timeout(reader, 10000);
    readers.push_back(reader);
  }
  return std::make_unique<SqliteStore>(db, readers);
}

std::string sqlite_backup(const std::string& path, const std::string& out) {
  if (access(path.c_str(), R_OK) != 0) return path + ": no such database";
  sqlite3* source = nullptr;
  if (sqlite3_open_v2(path.c_str(), &source, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    const std::string why = path + ": " + (source ? sqlite3_errmsg(source) : "cannot open");
    sqlite3_close(source);
    return why;
  }
  sqlite3_busy_timeout(source, 10000);
  const std::string temporary = out + ".tmp-" + std::to_string(getpid());
  std::remove(temporary.c_str());
  sqlite3* target = nullptr;
  std::string why;
  if (sqlite3_open_v2(temporary.c_str(), &target, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                      nullptr) != SQLITE_OK) {
    why = temporary + ": " + (target ? sqlite3_errmsg(target) : "cannot open");
  } else {
    // One step of every page reads one snapshot: the copy is the database as of one moment.
    sqlite3_backup* backup = sqlite3_backup_init(target, "main", source, "main");
    if (!backup) {
      why = out + ": " + sqlite3_errmsg(target);
    } else {
      int result = SQLITE_OK;
      while ((result = sqlite3_backup_step(backup, -1)) == SQLITE_BUSY || result == SQLITE_LOCKED) {
        sqlite3_sleep(50);
      }
      sqlite3_backup_finish(backup);
      if (result != SQLITE_DONE) why = path + ": " + sqlite3_errstr(result);
    }
  }
  sqlite3_close(target);
  sqlite3_close(source);
  if (why.empty()) {
    const int fd = open(temporary.c_str(), O_RDONLY);
    if (fd < 0 || fsync(fd) != 0) why = temporary + ": cannot sync";
    if (fd >= 0) close(fd);
  }
  if (why.empty() && std::rename(temporary.c_str(), out.c_str()) != 0) {
    why = out + ": cannot rename the copy into place";
  }
  if (!why.empty()) std::remove(temporary.c_str());
  return why;
}
