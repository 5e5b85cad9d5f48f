// The hub's storage: players, packs and their levels, runs and what they proved, each player's
// best per level, ratings and counters. One interface with an embedded store (SQLite, the
// default), a server store (PostgreSQL) and one in memory (tests, the fuzzer); the same API tests
// run against each. Every operation is safe to call from several threads at once, and an
// operation that returns has made its change durable (the hub acknowledges nothing before).
// A failure of the database itself throws StoreError; refusals are return values.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// The database failed (it could not be opened, written, or read): the hub answers 503.
struct StoreError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A player: no password, only a key the player keeps; the hub keeps its SHA-256.
struct StorePlayer {
  int64_t id = 0;
  std::string name;      // 1..32 printable characters, as the player gave it
  std::string key_hash;  // lowercase hex SHA-256 of the key
  int64_t created = 0;   // Unix seconds
};

// One level of a published pack, as the checker found it.
struct StoreLevel {
  int32_t level = 0;         // 1..levels
  int32_t edge_frame = -1;   // frame the chemical reaches an edge with nobody acting
  int32_t enclosure = -1;    // fewest wall cells that wall it in
  int32_t bound = -1;        // the best score the rules allow (the checker's best_score_bound)
  int32_t best = -1;         // the best score of a run the exact search verified; -1 = none yet
  bool best_proven = false;  // best is the best possible (the search's run met the bound)
};

// A published pack version. Its id is the SHA-256 of its bytes; an update is a new version that
// names the one it replaces.
struct StorePack {
  std::string id;                // lowercase hex SHA-256 of text (64 characters)
  int64_t author = 0;            // the player who published it
  std::string author_name;       // filled in on reading
  std::string title;             // given at publication, else the intro's first line
  std::string first_line;        // the intro's first line as shown (cues taken off)
  int64_t published = 0;         // Unix seconds
  std::string replaces;          // id of the version this one updates, "" for none
  bool withdrawn = false;        // taken down by its author: kept (runs refer to it), not listed
  int32_t levels = 0;            // levels in the pack
  uint32_t level_data_hash = 0;  // replay_level_data_hash of its compiled stream: a run's
  uint32_t level_data_size = 0;  // replay must carry these two to belong to this version
  std::string text;              // the pack byte for byte (empty when read without it)
};

// A pack as the lists show it.
struct StorePackSummary {
  StorePack pack;       // without its text
  int64_t plays = 0;    // players with a verified run on it
  double rating = 0;    // mean stars of its levels' ratings, 0 when none
  int64_t ratings = 0;  // how many ratings
};

// Orders of list_packs.
enum class PackOrder {
  NEWEST,    // published, newest first
  OLDEST,    // published, oldest first (a stable order for picking by index)
  PLAYED,    // most players first
  RATED,     // best mean rating first (unrated last)
  UNPLAYED,  // newest first, only packs the viewer has no run on
  RANDOM,    // any order, different each time
};

// A run's status.
constexpr const char* RUN_QUEUED = "queued";
constexpr const char* RUN_VERIFIED = "verified";
constexpr const char* RUN_REFUSED = "refused";

// A level won in a verified run and the score its tally added.
struct StoreRunLevel {
  int32_t level = 0;
  int32_t score = 0;
};

// A run sent by a player, and once verified what it proved.
struct StoreRun {
  int64_t id = 0;
  int64_t player = 0;
  std::string pack;                   // a pack id, or "builtin"
  std::vector<uint8_t> replay;        // the replay file as sent (empty when read without it)
  int64_t submitted = 0;              // Unix seconds
  std::string status = RUN_QUEUED;    // RUN_QUEUED, RUN_VERIFIED or RUN_REFUSED
  std::string reason;                 // why it was refused
  int64_t frames = 0;                 // frames the rules ran
  uint32_t checksum = 0;              // state checksum after the last frame
  std::vector<StoreRunLevel> levels;  // levels won (verified runs)
  std::string address;                // the address it was sent from ("" when not known)
  int32_t claims = 0;                 // times a worker claimed it (see claim_run)
  // The processor time its verification took, in milliseconds, added by finish_run in the same
  // transaction as the verdict to each counter of charge_to in the window charge_window.
  int64_t charge_ms = 0;
  int64_t charge_window = 0;
  std::vector<std::string> charge_to;
};

// A piece of work kept in the store until a worker of any process has done it: a publication
// (the checker and every proof run) is too long for the thread that answers a request.
constexpr const char* JOB_PUBLISH = "publish";
// The exact search of a published pack's best scores, queued when it is published (payload: the
// pack's id).
constexpr const char* JOB_EXACT_BEST = "exact-best";
// A job's status: queued (running while a worker holds its lease), then done or refused.
constexpr const char* JOB_QUEUED = "queued";
constexpr const char* JOB_DONE = "done";
constexpr const char* JOB_REFUSED = "refused";

struct StoreJob {
  int64_t id = 0;
  std::string kind;                 // JOB_PUBLISH
  int64_t player = 0;               // who asked for it
  std::string address;              // the address it was asked from
  std::string payload;              // what it works on (empty when read without it, and once done)
  int64_t created = 0;              // Unix seconds
  std::string status = JOB_QUEUED;  // JOB_QUEUED, JOB_DONE or JOB_REFUSED
  std::string result;               // what it came to, a JSON object, once done or refused
  int64_t lease_until = 0;          // a worker holds it until then (Unix seconds)
  int32_t claims = 0;               // times a worker claimed it
};

class Store {
 public:
  virtual ~Store() = default;

  // --- Players ---
  // A new player; returns its id.
  virtual int64_t add_player(const std::string& name, const std::string& key_hash, int64_t now) = 0;
  virtual std::optional<StorePlayer> player_by_key(const std::string& key_hash) = 0;
  virtual std::optional<StorePlayer> player(int64_t id) = 0;
  // Renames player id; false when there is no such player.
  virtual bool rename_player(int64_t id, const std::string& name) = 0;

  // --- Packs ---
  // Stores pack (with its text) and its levels; false when a pack with its id exists already.
  virtual bool add_pack(const StorePack& pack, const std::vector<StoreLevel>& levels) = 0;
  // The pack with id, with its text when with_text; withdrawn ones too.
  virtual std::optional<StorePack> pack(const std::string& id, bool with_text) = 0;
  virtual std::vector<StoreLevel> pack_levels(const std::string& id) = 0;
  // Records the exact search's best and whether it is proven on a level of pack id.
  virtual void set_level_best(const std::string& id, int32_t level, int32_t best, bool proven) = 0;
  // Marks the pack withdrawn; false when there is no such pack.
  virtual bool withdraw_pack(const std::string& id) = 0;
  // Packs not withdrawn, in order, from offset, at most limit; viewer (0 = nobody) is the
  // player UNPLAYED is about.
  virtual std::vector<StorePackSummary> list_packs(PackOrder order, int64_t viewer, int64_t offset,
                                                   int64_t limit) = 0;
  // Packs not withdrawn.
  virtual int64_t pack_count() = 0;
  // Packs player published since (Unix seconds), withdrawn ones too.
  virtual int64_t packs_published_since(int64_t player, int64_t since) = 0;

  // --- Runs ---
  // Stores a run as queued (durably, before the hub answers), sent from address; returns its
  // id. Its turn is one after the player's last run still queued, or the queue's first turn
  // when the player has none: runs are claimed player by player in turn.
  virtual int64_t add_run(int64_t player, const std::string& pack,
                          const std::vector<uint8_t>& replay, int64_t now,
                          const std::string& address) = 0;
  // The run with id, with its replay when with_replay.
  virtual std::optional<StoreRun> run(int64_t id, bool with_replay) = 0;
  // Ids of the runs still queued, oldest first.
  virtual std::vector<int64_t> queued_runs() = 0;
  // How many of player's runs are still queued: what a burst of runs from one key would cost
  // before any of it is charged.
  virtual int64_t queued_runs_of(int64_t player) = 0;
  // Claims a queued run for a worker until lease_until (Unix seconds), with its replay and its
  // claims counted: the first by turn (then by id) whose lease ended before now, of a player with
  // no run held when there is one. None when every queued run is held. A run whose worker died, or
  // whose verdict could not be written, is claimed again once its lease is over. PostgreSQL's
  // leases hold for every process; SQLite's are the process's own, so that a claim costs no sync to
  // the disk (two processes on one file may verify a run twice, which finish_run makes harmless,
  // and a restarted one claims at once).
  virtual std::optional<StoreRun> claim_run(int64_t now, int64_t lease_until) = 0;
  // Hands a claimed run back before its lease ends (its verdict could not be written), so that
  // it is claimed again as soon as the database answers; throws StoreError while it does not
  // (the caller tries again). The memory store leaves it to the lease.
  virtual void release_run(int64_t /*id*/) {}
  // Records a queued run's verdict: status RUN_VERIFIED or RUN_REFUSED with its reason, frames,
  // checksum and levels won. A verified run raises the player's best of each level it won, in
  // the same transaction, and so is its charge. A run no longer queued is left as it is.
  virtual void finish_run(const StoreRun& verdict) = 0;

  // --- Jobs ---
  // Stores a queued job (durably, before the hub answers); returns its id.
  virtual int64_t add_job(const std::string& kind, int64_t player, const std::string& address,
                          const std::string& payload, int64_t now) = 0;
  // The job with id, with its payload when with_payload.
  virtual std::optional<StoreJob> job(int64_t id, bool with_payload) = 0;
  // Claims the oldest queued job whose lease ended before now until lease_until, with its
  // payload and its claims counted; none when every queued job is held.
  virtual std::optional<StoreJob> claim_job(int64_t now, int64_t lease_until) = 0;
  // Records a queued job's outcome (JOB_DONE or JOB_REFUSED and its result) and lets its payload
  // go; a job no longer queued is left as it is.
  virtual void finish_job(int64_t id, const std::string& status, const std::string& result) = 0;
  // Jobs of kind player asked for since (Unix seconds), whatever became of them.
  virtual int64_t jobs_since(int64_t player, const std::string& kind, int64_t since) = 0;

  // --- Bests, histograms and ratings ---
  // The player's best score on a level of pack (a verified win), if any.
  virtual std::optional<int32_t> best(int64_t player, const std::string& pack, int32_t level) = 0;
  // Players by their best score on a level of pack: (score, players), by score ascending.
  virtual std::vector<std::pair<int32_t, int64_t>> histogram(const std::string& pack,
                                                             int32_t level) = 0;
  // The histogram of a level of pack and player's best on it (none for player 0): what a player
  // is shown after a level. By default the two reads above; a server's store answers in one.
  virtual std::pair<std::vector<std::pair<int32_t, int64_t>>, std::optional<int32_t>> standing(
      const std::string& pack, int32_t level, int64_t player) {
    return {histogram(pack, level), player ? best(player, pack, level) : std::nullopt};
  }
  // Sets player's stars (1..5) for a level of pack, replacing an earlier rating.
  virtual void rate(int64_t player, const std::string& pack, int32_t level, int32_t stars) = 0;

  // --- Counters ---
  // Adds amount to the counter name in the window starting at window_start (Unix seconds) and
  // returns its new value: limits per key or address per day that outlive a restart.
  virtual int64_t count(const std::string& name, int64_t window_start, int64_t amount) = 0;
  // The counter's value without changing it (0 when it was never counted): a read, no write.
  virtual int64_t counted(const std::string& name, int64_t window_start) = 0;

  // The version of the tables, which opening the store brings up to STORE_SCHEMA_VERSION.
  virtual int32_t schema_version() = 0;
};

// The tables' version this hub makes and reads. 0 is the first hub's, which had no number; each
// store migrates an older one when it opens it and refuses a newer one.
constexpr int32_t STORE_SCHEMA_VERSION = 2;

// Opens the store a --database value names: "postgresql://..." or "postgres://..." a PostgreSQL
// server, "memory:" a store in memory, anything else the path of a SQLite file (made with its
// tables when missing). Null with a reason in error when it cannot be opened.
std::unique_ptr<Store> store_open(const std::string& database, std::string& error);
// The stores themselves, for store_open and the tests.
std::unique_ptr<Store> store_open_memory();
std::unique_ptr<Store> store_open_sqlite(const std::string& path, std::string& error);
// Null with a reason when this hub was built without PostgreSQL.
std::unique_ptr<Store> store_open_postgresql(const std::string& url, std::string& error);
