// The embedded store: one SQLite file in WAL mode with synchronous=FULL, so a change is on the
// disk before the call that made it returns. One connection behind one lock; every value goes in
// through a bound parameter.
#include "hub/store_sqlite.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "hub/store.h"

namespace {

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

// One prepared statement, finalised with the object; a failure throws StoreError.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK) fail();
  }
  ~Statement() { sqlite3_finalize(statement_); }
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

// A transaction taken at once for writing, rolled back unless committed.
class Transaction {
 public:
  explicit Transaction(sqlite3* db) : db_(db) { execute(db_, "BEGIN IMMEDIATE"); }
  ~Transaction() {
    if (!done_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  void commit() {
    execute(db_, "COMMIT");
    done_ = true;
  }

 private:
  sqlite3* db_;
  bool done_ = false;
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
  SqliteStore(sqlite3* db, sqlite3* reader) : db_(db), reader_(reader) {}
  ~SqliteStore() override {
    sqlite3_close(reader_);
    sqlite3_close(db_);
  }

  int64_t add_player(const std::string& name, const std::string& key_hash, int64_t now) override {
    std::lock_guard lock(mutex_);
    Statement insert(db_, "INSERT INTO players(name, key_hash, created) VALUES(?, ?, ?)");
    insert.bind(1, name).bind(2, key_hash).bind(3, now).step();
    return sqlite3_last_insert_rowid(db_);
  }
  std::optional<StorePlayer> player_by_key(const std::string& key_hash) override {
    std::lock_guard lock(read_mutex_);
    Statement select(reader_, "SELECT id, name, key_hash, created FROM players WHERE key_hash = ?");
    select.bind(1, key_hash);
    return read_player(select);
  }
  std::optional<StorePlayer> player(int64_t id) override {
    std::lock_guard lock(read_mutex_);
    Statement select(reader_, "SELECT id, name, key_hash, created FROM players WHERE id = ?");
    select.bind(1, id);
    return read_player(select);
  }
  bool rename_player(int64_t id, const std::string& name) override {
    std::lock_guard lock(mutex_);
    Statement update(db_, "UPDATE players SET name = ? WHERE id = ?");
    update.bind(1, name).bind(2, id).step();
    return sqlite3_changes(db_) > 0;
  }

  bool add_pack(const StorePack& pack, const std::vector<StoreLevel>& levels) override {
    std::lock_guard lock(mutex_);
    Transaction transaction(db_);
    Statement exists(db_, "SELECT 1 FROM packs WHERE id = ?");
    if (exists.bind(1, pack.id).step()) return false;
    Statement insert(db_,
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
      Statement add(db_,
                    "INSERT INTO levels(pack, level, edge_frame, enclosure, bound) "
                    "VALUES(?, ?, ?, ?, ?)");
      add.bind(1, pack.id)
          .bind(2, level.level)
          .bind(3, level.edge_frame)
          .bind(4, level.enclosure)
          .bind(5, level.bound)
          .step();
    }
    transaction.commit();
    return true;
  }
  std::optional<StorePack> pack(const std::string& id, bool with_text) override {
    std::lock_guard lock(read_mutex_);
    const std::string sql = std::string("SELECT ") + PACK_COLUMNS +
                            ", CASE WHEN ? THEN p.text ELSE x'' END "
                            "FROM packs p JOIN players pl ON pl.id = p.author WHERE p.id = ?";
    Statement select(reader_, sql.c_str());
    select.bind(1, with_text ? 1 : 0).bind(2, id);
    if (!select.step()) return std::nullopt;
    StorePack pack = read_pack(select);
    pack.text = select.text(11);
    return pack;
  }
  std::vector<StoreLevel> pack_levels(const std::string& id) override {
    std::lock_guard lock(read_mutex_);
    Statement select(reader_,
                     "SELECT level, edge_frame, enclosure, bound FROM levels WHERE pack = ? "
                     "ORDER BY level");
    select.bind(1, id);
    std::vector<StoreLevel> levels;
    while (select.step()) {
      levels.push_back(
          {static_cast<int32_t>(select.integer(0)), static_cast<int32_t>(select.integer(1)),
           static_cast<int32_t>(select.integer(2)), static_cast<int32_t>(select.integer(3))});
    }
    return levels;
  }
  bool withdraw_pack(const std::string& id) override {
    std::lock_guard lock(mutex_);
    Statement update(db_, "UPDATE packs SET withdrawn = 1 WHERE id = ?");
    update.bind(1, id).step();
    return sqlite3_changes(db_) > 0;
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
        ", (SELECT COUNT(DISTINCT r.player) FROM runs r WHERE r.pack = p.id AND "
        "r.status = 'verified') AS plays, "
        "(SELECT AVG(stars) FROM ratings WHERE pack = p.id) AS rating, "
        "(SELECT COUNT(*) FROM ratings WHERE pack = p.id) "
        "FROM packs p JOIN players pl ON pl.id = p.author WHERE p.withdrawn = 0 AND "
        "(? = 0 OR NOT EXISTS (SELECT 1 FROM runs r WHERE r.player = ? AND r.pack = p.id)) "
        "ORDER BY " +
        order_by + " LIMIT ? OFFSET ?";
    std::lock_guard lock(read_mutex_);
    Statement select(reader_, sql.c_str());
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
    std::lock_guard lock(read_mutex_);
    Statement select(reader_, "SELECT COUNT(*) FROM packs WHERE withdrawn = 0");
    select.step();
    return select.integer(0);
  }
  int64_t packs_published_since(int64_t player, int64_t since) override {
    std::lock_guard lock(read_mutex_);
    Statement select(reader_, "SELECT COUNT(*) FROM packs WHERE author = ? AND published >= ?");
    select.bind(1, player).bind(2, since).step();
    return select.integer(0);
  }

  int64_t add_run(int64_t player, const std::string& pack, const std::vector<uint8_t>& replay,
                  int64_t now) override {
    std::lock_guard lock(mutex_);
    Statement insert(db_,
                     "INSERT INTO runs(player, pack, replay, submitted, status) "
                     "VALUES(?, ?, ?, ?, 'queued')");
    insert.bind(1, player).bind(2, pack).bind_blob(3, replay.data(), replay.size()).bind(4, now);
    insert.step();
    return sqlite3_last_insert_rowid(db_);
  }
  std::optional<StoreRun> run(int64_t id, bool with_replay) override {
    std::lock_guard lock(read_mutex_);
    Statement select(reader_,
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
    Statement levels(reader_, "SELECT level, score FROM run_levels WHERE run = ? ORDER BY rowid");
    levels.bind(1, id);
    while (levels.step()) {
      run.levels.push_back(
          {static_cast<int32_t>(levels.integer(0)), static_cast<int32_t>(levels.integer(1))});
    }
    return run;
  }
  std::vector<int64_t> queued_runs() override {
    std::lock_guard lock(read_mutex_);
    Statement select(reader_, "SELECT id FROM runs WHERE status = 'queued' ORDER BY id");
    std::vector<int64_t> ids;
    while (select.step()) ids.push_back(select.integer(0));
    return ids;
  }
  void finish_run(const StoreRun& verdict) override {
    std::lock_guard lock(mutex_);
    Transaction transaction(db_);
    Statement update(db_,
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
    if (verdict.status == RUN_VERIFIED) {
      for (const StoreRunLevel& level : verdict.levels) {
        Statement add(db_, "INSERT INTO run_levels(run, level, score) VALUES(?, ?, ?)");
        add.bind(1, verdict.id).bind(2, level.level).bind(3, level.score).step();
        Statement best(db_,
                       "INSERT INTO bests(pack, level, player, score) VALUES(?, ?, ?, ?) "
                       "ON CONFLICT(pack, level, player) DO UPDATE SET score = excluded.score "
                       "WHERE excluded.score > bests.score");
        best.bind(1, pack).bind(2, level.level).bind(3, player).bind(4, level.score).step();
      }
    }
    transaction.commit();
  }

  std::optional<int32_t> best(int64_t player, const std::string& pack, int32_t level) override {
    std::lock_guard lock(read_mutex_);
    Statement select(reader_,
                     "SELECT score FROM bests WHERE pack = ? AND level = ? AND player = ?");
    select.bind(1, pack).bind(2, level).bind(3, player);
    if (!select.step()) return std::nullopt;
    return static_cast<int32_t>(select.integer(0));
  }
  std::vector<std::pair<int32_t, int64_t>> histogram(const std::string& pack,
                                                     int32_t level) override {
    std::lock_guard lock(read_mutex_);
    Statement select(reader_,
                     "SELECT score, COUNT(*) FROM bests WHERE pack = ? AND level = ? "
                     "GROUP BY score ORDER BY score");
    select.bind(1, pack).bind(2, level);
    std::vector<std::pair<int32_t, int64_t>> counts;
    while (select.step())
      counts.push_back({static_cast<int32_t>(select.integer(0)), select.integer(1)});
    return counts;
  }
  void rate(int64_t player, const std::string& pack, int32_t level, int32_t stars) override {
    std::lock_guard lock(mutex_);
    Statement upsert(db_,
                     "INSERT INTO ratings(pack, level, player, stars) VALUES(?, ?, ?, ?) "
                     "ON CONFLICT(pack, level, player) DO UPDATE SET stars = excluded.stars");
    upsert.bind(1, pack).bind(2, level).bind(3, player).bind(4, stars).step();
  }

  int64_t count(const std::string& name, int64_t window_start, int64_t amount) override {
    std::lock_guard lock(mutex_);
    Transaction transaction(db_);
    // Windows two days gone say nothing any more.
    Statement forget(db_, "DELETE FROM counters WHERE window < ?");
    forget.bind(1, window_start - 2 * 86400).step();
    Statement add(db_,
                  "INSERT INTO counters(name, window, value) VALUES(?, ?, ?) "
                  "ON CONFLICT(name, window) DO UPDATE SET value = value + excluded.value "
                  "RETURNING value");
    add.bind(1, name).bind(2, window_start).bind(3, amount);
    add.step();
    const int64_t value = add.integer(0);
    while (add.step()) {
    }
    transaction.commit();
    return value;
  }

 private:
  std::optional<StorePlayer> read_player(Statement& select) {
    if (!select.step()) return std::nullopt;
    return StorePlayer{select.integer(0), select.text(1), select.text(2), select.integer(3)};
  }

  // Writes and reads go through connections of their own: in WAL mode a read sees every commit
  // made before it began and never waits for a write's sync to the disk.
  sqlite3* db_;            // the writing connection
  std::mutex mutex_;       // over db_
  sqlite3* reader_;        // the reading connection
  std::mutex read_mutex_;  // over reader_
};

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
    execute(db, SCHEMA);
  } catch (const StoreError& failure) {
    error = path + ": " + failure.what();
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3* reader = nullptr;
  if (sqlite3_open_v2(path.c_str(), &reader, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) !=
      SQLITE_OK) {
    error = path + ": " + (reader ? sqlite3_errmsg(reader) : "cannot open");
    sqlite3_close(reader);
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(reader, 10000);
  return std::make_unique<SqliteStore>(db, reader);
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
