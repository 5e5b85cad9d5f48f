// The hub's parts in one process: SHA-256 against the FIPS examples, base64 and names, the
// stores' contract (the same table of checks on every store that builds here), and the answers
// over a store in memory with runs verified at once.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "core/digest.h"
#include "hub/api.h"
#include "hub/store.h"
#include "hub/verify.h"

namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

TEST(HubSha256, FipsExamplesInAnyPiecesAndKeys) {
  EXPECT_EQ(sha256_hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(sha256_hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  const std::string two_blocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  EXPECT_EQ(sha256_hex(two_blocks),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  // A million "a" added in uneven pieces, across every block boundary.
  Sha256 hash;
  const std::string piece(997, 'a');
  size_t added = 0;
  while (added < 1000000) {
    const size_t take = std::min(piece.size(), 1000000 - added);
    hash.add(piece.data(), take);
    added += take;
  }
  const auto digest = hash.digest();
  EXPECT_EQ(hex_of(digest.data(), digest.size()),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  const std::string key = random_key();
  EXPECT_EQ(key.size(), 64u);
  EXPECT_EQ(key.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_NE(key, random_key());
}

TEST(HubText, Base64AndNames) {
  for (const std::string text : {"", "a", "ab", "abc", "abcd", "\xff\x00\x10"}) {
    const std::vector<uint8_t> bytes(text.begin(), text.end());
    std::vector<uint8_t> back;
    ASSERT_TRUE(base64_decode(base64_encode(bytes), back)) << text;
    EXPECT_EQ(back, bytes);
  }
  std::vector<uint8_t> bytes;
  for (const char* bad : {"a", "ab!c", "abc===", "a=bc"})
    EXPECT_FALSE(base64_decode(bad, bytes)) << bad;
  const std::pair<std::string, bool> names[] = {{"Ann", true},
                                                {"Zoë ünd 李", true},
                                                {std::string(32, 'x'), true},
                                                {std::string(33, 'x'), false},
                                                {"", false},
                                                {"   ", false},
                                                // Blank to the eye: ideographic and no-break
                                                // spaces, zero-width space, byte order mark.
                                                {"\u3000\u00a0", false},
                                                {"\u200b\ufeff ", false},
                                                {"\u3000a", true},
                                                // A right-to-left override, an isolate.
                                                {"Ann\u202e", false},
                                                {"\u2067x\u2069", false},
                                                {"a\tb", false},
                                                {"a\x7f", false},
                                                {"\xc3", false},  // cut short
                                                {"\xc0\xaf", false},
                                                {"\xed\xa0\x80", false},  // overlong, surrogate
                                                {"<script>", true},
                                                {"a\u2028b", false}};
  for (const auto& [name, ok] : names) EXPECT_EQ(hub_name_ok(name), ok) << name;
  EXPECT_EQ(html_escape("<a href=\"x\">'&'</a>"),
            "&lt;a href=&quot;x&quot;&gt;&#39;&amp;&#39;&lt;/a&gt;");
  // A proxy's X-Forwarded-For: the last address, the one that proxy saw, or none.
  const std::pair<std::string, std::string> forwarded[] = {
      {"203.0.113.7", "203.0.113.7"},
      {"10.1.1.1, 203.0.113.7", "203.0.113.7"},
      {" 10.1.1.1 ,\t2001:db8::5 ", "2001:db8::5"},
      {"203.0.113.7, ", ""},
      {"", ""},
      {"unknown", ""},
      {"1.2.3.4<script>", ""},
      {std::string(46, '1'), ""},
      {std::string(45, '1'), std::string(45, '1')},
  };
  for (const auto& [header, address] : forwarded) {
    EXPECT_EQ(hub_forwarded_for(header), address) << header;
  }
}

// --- The stores' contract ---

struct StoreCase {
  const char* name;
  std::unique_ptr<Store> (*open)(const fs::path& folder);
};

// Test names say the store, not the struct's bytes.
void PrintTo(const StoreCase& store, std::ostream* out) { *out << store.name; }

const StoreCase STORES[] = {
    {"memory", [](const fs::path&) { return store_open_memory(); }},
    {"sqlite",
     [](const fs::path& folder) {
       std::string error;
       auto store = store_open_sqlite((folder / "hub.sqlite3").string(), error);
       EXPECT_TRUE(store) << error;
       return store;
     }},
    // A server's store, on the empty database $Q47_HUB_DATABASE names
    // (tests/hub/with_postgresql.sh makes one per test); skipped without it.
    {"postgresql",
     [](const fs::path&) -> std::unique_ptr<Store> {
       const char* url = std::getenv("Q47_HUB_DATABASE");
       if (!url || !*url) return nullptr;
       std::string error;
       auto store = store_open_postgresql(url, error);
       EXPECT_TRUE(store) << error;
       return store;
     }},
};

class HubStore : public testing::TestWithParam<StoreCase> {
 protected:
  void SetUp() override {
    char name[] = "/tmp/q47-hub-store-XXXXXX";
    folder_ = mkdtemp(name);
    store_ = GetParam().open(folder_);
    if (!store_ && std::string(GetParam().name) == "postgresql" &&
        !std::getenv("Q47_HUB_DATABASE")) {
      GTEST_SKIP() << "no PostgreSQL: run under tests/hub/with_postgresql.sh";
    }
    ASSERT_TRUE(store_);
  }
  void TearDown() override {
    store_.reset();
    fs::remove_all(folder_);
  }
  StorePack pack_of(int64_t author, const std::string& id, int64_t published) {
    StorePack pack;
    pack.id = id;
    pack.author = author;
    pack.title = "T " + id;
    pack.published = published;
    pack.levels = 2;
    pack.text = "text of " + id;
    return pack;
  }
  StoreRun verdict(int64_t id, const char* status, std::vector<StoreRunLevel> levels) {
    StoreRun run;
    run.id = id;
    run.status = status;
    run.levels = std::move(levels);
    return run;
  }
  fs::path folder_;
  std::unique_ptr<Store> store_;
};

TEST_P(HubStore, PlayersPacksRunsBestsAndCounters) {
  Store& store = *store_;
  const int64_t ann = store.add_player("Ann", "hash-a", 10);
  const int64_t bob = store.add_player("Bob", "hash-b", 11);
  EXPECT_NE(ann, bob);
  EXPECT_EQ(store.player_by_key("hash-b")->id, bob);
  EXPECT_FALSE(store.player_by_key("hash-c"));
  EXPECT_TRUE(store.rename_player(bob, "Bobby"));
  EXPECT_EQ(store.player(bob)->name, "Bobby");
  EXPECT_FALSE(store.rename_player(999, "Nobody"));

  // Packs: stored once, with their bytes and levels; listed in each order; withdrawn unlisted.
  const std::vector<StoreLevel> levels = {{1, 100, 4, 93}, {2, 50, 8, 20}};
  ASSERT_TRUE(store.add_pack(pack_of(ann, "p1", 100), levels));
  EXPECT_FALSE(store.add_pack(pack_of(bob, "p1", 101), levels));
  ASSERT_TRUE(store.add_pack(pack_of(bob, "p2", 200), levels));
  ASSERT_TRUE(store.add_pack(pack_of(ann, "p3", 200), {}));
  EXPECT_EQ(store.pack("p1", true)->text, "text of p1");
  EXPECT_EQ(store.pack("p1", false)->text, "");
  EXPECT_EQ(store.pack("p1", false)->author_name, "Ann");
  EXPECT_EQ(store.pack_levels("p1").size(), 2u);
  EXPECT_EQ(store.pack_levels("p1")[1].bound, 20);
  // Each level's best from the exact search: none until it has run, then kept with its proof.
  EXPECT_EQ(store.pack_levels("p1")[1].best, -1);
  store.set_level_best("p1", 2, 19, false);
  store.set_level_best("p1", 1, 93, true);
  EXPECT_EQ(store.pack_levels("p1")[1].best, 19);
  EXPECT_FALSE(store.pack_levels("p1")[1].best_proven);
  EXPECT_TRUE(store.pack_levels("p1")[0].best_proven);
  EXPECT_EQ(store.pack_levels("p2")[0].best, -1);  // the same level of another pack is its own
  auto ids = [](const std::vector<StorePackSummary>& packs) {
    std::vector<std::string> out;
    for (const StorePackSummary& pack : packs) out.push_back(pack.pack.id);
    return out;
  };
  // Published in the same second, the later one is newer.
  EXPECT_EQ(ids(store.list_packs(PackOrder::NEWEST, 0, 0, 10)),
            (std::vector<std::string>{"p3", "p2", "p1"}));
  EXPECT_EQ(ids(store.list_packs(PackOrder::OLDEST, 0, 1, 1)), (std::vector<std::string>{"p2"}));
  EXPECT_EQ(store.packs_published_since(ann, 150), 1);

  // Runs: queued until finished once; a verified run raises bests, never lowers them.
  const int64_t r1 = store.add_run(bob, "p1", {1, 2, 3}, 300, "");
  const int64_t r2 = store.add_run(bob, "p1", {}, 301, "");
  const int64_t r3 = store.add_run(ann, "p1", {4}, 302, "");
  EXPECT_EQ(store.queued_runs(), (std::vector<int64_t>{r1, r2, r3}));
  EXPECT_EQ(store.run(r1, true)->replay, (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_TRUE(store.run(r1, false)->replay.empty());
  EXPECT_EQ(ids(store.list_packs(PackOrder::UNPLAYED, bob, 0, 10)),
            (std::vector<std::string>{"p3", "p2"}));
  store.finish_run(verdict(r1, RUN_VERIFIED, {{1, 50}, {2, 10}}));
  store.finish_run(verdict(r2, RUN_VERIFIED, {{1, 40}}));
  store.finish_run(verdict(r1, RUN_REFUSED, {}));  // no longer queued: left as it is
  store.finish_run(verdict(r3, RUN_REFUSED, {}));
  EXPECT_EQ(store.run(r1, false)->status, RUN_VERIFIED);
  EXPECT_EQ(store.run(r1, false)->levels.size(), 2u);
  EXPECT_EQ(store.run(r3, false)->status, RUN_REFUSED);
  EXPECT_TRUE(store.queued_runs().empty());
  EXPECT_EQ(store.best(bob, "p1", 1), 50);
  EXPECT_FALSE(store.best(ann, "p1", 1));
  const int64_t r4 = store.add_run(ann, "p1", {5}, 303, "");
  store.finish_run(verdict(r4, RUN_VERIFIED, {{1, 50}}));
  EXPECT_EQ(store.histogram("p1", 1), (std::vector<std::pair<int32_t, int64_t>>{{50, 2}}));
  EXPECT_EQ(store.histogram("p1", 2), (std::vector<std::pair<int32_t, int64_t>>{{10, 1}}));
  // What a player is shown: the same counts and the player's own best, or none.
  using Standing = std::pair<std::vector<std::pair<int32_t, int64_t>>, std::optional<int32_t>>;
  EXPECT_EQ(store.standing("p1", 2, bob), (Standing{{{10, 1}}, 10}));
  EXPECT_EQ(store.standing("p1", 2, ann), (Standing{{{10, 1}}, std::nullopt}));
  EXPECT_EQ(store.standing("p1", 1, 0), (Standing{{{50, 2}}, std::nullopt}));
  EXPECT_EQ(store.standing("p1", 7, bob), (Standing{}));

  // Plays and ratings order the lists.
  store.rate(bob, "p1", 1, 2);
  store.rate(bob, "p1", 1, 5);  // replaces
  store.rate(ann, "p1", 1, 4);
  EXPECT_EQ(ids(store.list_packs(PackOrder::PLAYED, 0, 0, 1)), (std::vector<std::string>{"p1"}));
  const StorePackSummary rated = store.list_packs(PackOrder::RATED, 0, 0, 1).at(0);
  EXPECT_EQ(rated.pack.id, "p1");
  EXPECT_EQ(rated.plays, 2);
  EXPECT_EQ(rated.ratings, 2);
  EXPECT_DOUBLE_EQ(rated.rating, 4.5);
  EXPECT_TRUE(store.withdraw_pack("p1"));
  EXPECT_TRUE(store.pack("p1", false)->withdrawn);
  EXPECT_EQ(store.pack_count(), 2);
  EXPECT_EQ(store.list_packs(PackOrder::RANDOM, 0, 0, 10).size(), 2u);

  EXPECT_EQ(store.count("players 1.2.3.4", 86400, 1), 1);
  EXPECT_EQ(store.count("players 1.2.3.4", 86400, 1), 2);
  EXPECT_EQ(store.count("players 1.2.3.4", 2 * 86400, 1), 1);  // a new day
}

// Workers verify side by side: one player's runs of one level finished at once leave the best of
// them and one count in the histogram, and no run is lost or counted twice. (Its own players and
// level: a server's store is one database for every test of a run.)
TEST_P(HubStore, RunsFinishedAtOnceCountOncePerPlayer) {
  Store& store = *store_;
  const int64_t ann = store.add_player("Ann", "hash-together-a", 10);
  const int64_t bob = store.add_player("Bob", "hash-together-b", 11);
  std::vector<int64_t> runs;
  for (int i = 0; i < 16; ++i)
    runs.push_back(store.add_run(i % 4 ? ann : bob, "builtin", {}, 20, ""));
  std::vector<std::thread> workers;
  for (int i = 0; i < 16; ++i) {
    workers.emplace_back([&, i] {
      store.finish_run(verdict(runs[i], RUN_VERIFIED, {{3, 10 + (i * 7) % 16}}));
    });
  }
  for (std::thread& worker : workers) worker.join();
  EXPECT_TRUE(store.queued_runs().empty());
  int32_t ann_best = 0;
  int32_t bob_best = 0;
  for (int i = 0; i < 16; ++i) {
    int32_t& best = i % 4 ? ann_best : bob_best;
    best = std::max(best, 10 + (i * 7) % 16);
  }
  EXPECT_EQ(store.best(ann, "builtin", 3), ann_best);
  EXPECT_EQ(store.best(bob, "builtin", 3), bob_best);
  std::vector<std::pair<int32_t, int64_t>> expected = {{bob_best, 1}, {ann_best, 1}};
  std::sort(expected.begin(), expected.end());
  if (ann_best == bob_best) expected = {{ann_best, 2}};
  EXPECT_EQ(store.histogram("builtin", 3), expected);
}

// Workers of any process claim runs from the store: player by player in turn, so one key's
// flood delays another's run by at most one of its own; a claimed run is held until its lease
// ends and then claimed again (its worker died), and a finished one never is.
TEST_P(HubStore, RunsAreClaimedWithLeasesPlayerByPlayerInTurn) {
  Store& store = *store_;
  EXPECT_EQ(store.schema_version(), STORE_SCHEMA_VERSION);
  ASSERT_TRUE(store.queued_runs().empty());
  const int64_t flood = store.add_player("Flood", "hash-lease-f", 10);
  const int64_t honest = store.add_player("Hon", "hash-lease-h", 10);
  std::vector<int64_t> forged;
  for (uint8_t i = 0; i < 5; ++i)
    forged.push_back(store.add_run(flood, "builtin", {i}, 100, "::1"));
  std::optional<StoreRun> held = store.claim_run(1000, 1010);
  ASSERT_TRUE(held);
  EXPECT_EQ(held->id, forged[0]);
  EXPECT_EQ(held->claims, 1);
  EXPECT_EQ(held->address, "::1");
  EXPECT_EQ(held->replay, (std::vector<uint8_t>{0}));
  const int64_t first = store.add_run(honest, "builtin", {9}, 101, "");
  const int64_t second = store.add_run(honest, "builtin", {9}, 101, "");
  // A held run is still queued until its verdict: it counts toward its key's burst.
  EXPECT_EQ(store.queued_runs_of(flood), 5);
  EXPECT_EQ(store.claim_run(1000, 1010)->id, first);
  EXPECT_EQ(store.queued_runs_of(honest), 2);
  store.finish_run(verdict(first, RUN_REFUSED, {}));
  // A player with a run being verified waits behind those with none: both workers are never
  // on one key's runs while another's wait.
  std::vector<int64_t> order;
  while (const std::optional<StoreRun> run = store.claim_run(1000, 1010)) order.push_back(run->id);
  EXPECT_EQ(order, (std::vector<int64_t>{second, forged[1], forged[2], forged[3], forged[4]}));
  EXPECT_FALSE(store.claim_run(1010, 1020));  // every lease runs to 1010
  for (int64_t id : order) store.finish_run(verdict(id, RUN_REFUSED, {}));
  EXPECT_EQ(store.queued_runs_of(flood), 1);
  EXPECT_EQ(store.queued_runs_of(honest), 0);
  held = store.claim_run(1011, 1020);
  ASSERT_TRUE(held);
  EXPECT_EQ(held->id, forged[0]);
  EXPECT_EQ(held->claims, 2);
  EXPECT_FALSE(store.claim_run(1020, 1030));
  // Its processor time is charged with its verdict, once.
  StoreRun charged = verdict(forged[0], RUN_REFUSED, {});
  charged.charge_ms = 7;
  charged.charge_window = 3600;
  charged.charge_to = {"cpu lease-test key", "cpu lease-test address"};
  store.finish_run(charged);
  store.finish_run(charged);
  EXPECT_EQ(store.counted("cpu lease-test key", 3600), 7);
  EXPECT_EQ(store.counted("cpu lease-test address", 3600), 7);
  EXPECT_EQ(store.counted("cpu lease-test none", 3600), 0);
  EXPECT_FALSE(store.claim_run(5000, 5010));
  EXPECT_TRUE(store.queued_runs().empty());

  // Jobs the same way, oldest first; a finished one lets its payload go.
  const int64_t job = store.add_job(JOB_PUBLISH, honest, "::1", "body", 100);
  const int64_t later = store.add_job(JOB_PUBLISH, flood, "", "other", 101);
  EXPECT_EQ(store.job(job, false)->payload, "");
  std::optional<StoreJob> claimed = store.claim_job(1000, 1010);
  ASSERT_TRUE(claimed);
  EXPECT_EQ(claimed->id, job);
  EXPECT_EQ(claimed->payload, "body");
  EXPECT_EQ(claimed->address, "::1");
  EXPECT_EQ(store.job(job, false)->lease_until, 1010);
  EXPECT_EQ(store.claim_job(1000, 1010)->id, later);
  EXPECT_FALSE(store.claim_job(1010, 1020));
  claimed = store.claim_job(1011, 1020);
  ASSERT_TRUE(claimed);
  EXPECT_EQ(claimed->id, job);
  EXPECT_EQ(claimed->claims, 2);
  store.finish_job(job, JOB_DONE, "{}");
  store.finish_job(job, JOB_REFUSED, "{\"late\": 1}");  // no longer queued: left as it is
  const std::optional<StoreJob> done = store.job(job, true);
  EXPECT_EQ(done->status, JOB_DONE);
  EXPECT_EQ(done->result, "{}");
  EXPECT_EQ(done->payload, "");
  store.finish_job(later, JOB_REFUSED, "{}");
  EXPECT_FALSE(store.claim_job(9000, 9010));
  EXPECT_EQ(store.jobs_since(honest, JOB_PUBLISH, 100), 1);
  EXPECT_EQ(store.jobs_since(honest, JOB_PUBLISH, 101), 0);
}

INSTANTIATE_TEST_SUITE_P(Each, HubStore, testing::ValuesIn(STORES),
                         [](const testing::TestParamInfo<StoreCase>& info) {
                           return info.param.name;
                         });

// SQLite's writes are made in batches, one commit each: a write the database refuses (here a
// run of no player, against the foreign key) must undo only itself, while every write that was
// acknowledged beside it in the same batch is kept.
TEST(HubSqlite, ARefusedWriteUndoesOnlyItselfInItsBatch) {
  char name[] = "/tmp/q47-hub-batch-XXXXXX";
  ASSERT_TRUE(mkdtemp(name));
  const fs::path folder = name;
  {
    std::string error;
    std::unique_ptr<Store> store = store_open_sqlite((folder / "hub.sqlite3").string(), error);
    ASSERT_TRUE(store) << error;
    const int64_t ann = store->add_player("Ann", "hash-batch", 1);
    constexpr int THREADS = 8;
    constexpr int EACH = 150;
    std::vector<std::vector<int64_t>> kept(THREADS);
    std::vector<int> refused(THREADS, 0);
    std::atomic<int> unseen = 0;
    std::vector<std::thread> writers;
    for (int t = 0; t < THREADS; ++t) {
      writers.emplace_back([&, t] {
        for (int i = 0; i < EACH; ++i) {
          const bool bad = (t + i) % 5 == 0;
          try {
            const int64_t id =
                store->add_run(bad ? 999999 : ann, "builtin", {uint8_t(t), uint8_t(i)}, 2, "");
            if (!bad) kept[t].push_back(id);
            // Acknowledged means committed: any reading connection finds it at once.
            if (!bad && !store->run(id, false)) ++unseen;
          } catch (const StoreError&) {
            if (bad) ++refused[t];
          }
        }
      });
    }
    for (std::thread& writer : writers) writer.join();
    size_t acknowledged = 0;
    for (int t = 0; t < THREADS; ++t) {
      EXPECT_EQ(refused[t], EACH / 5) << "thread " << t;
      acknowledged += kept[t].size();
      for (int64_t id : kept[t]) {
        const std::optional<StoreRun> run = store->run(id, true);
        ASSERT_TRUE(run) << "run " << id << " was acknowledged and is gone";
        EXPECT_EQ(run->replay[0], t);
      }
    }
    EXPECT_EQ(acknowledged, size_t(THREADS * EACH * 4 / 5));
    EXPECT_EQ(unseen, 0);
    EXPECT_EQ(store->queued_runs().size(), acknowledged);
  }
  fs::remove_all(folder);
}

// A file the first hub made (tests/hub/data/hub-v0.sqlite3: two players, a published pack with
// its five proofs, a run of the second player and two ratings on it, and a built-in run left
// queued as a killed hub leaves one) opens migrated: the lists' counters are what the old
// counts were, and the queued run is claimed and verified. A damaged file, and one a newer hub
// made, are refused with the reason.
TEST(HubSqlite, AnOldFileIsMigratedADamagedOrNewerOneRefused) {
  char name[] = "/tmp/q47-hub-migrate-XXXXXX";
  ASSERT_TRUE(mkdtemp(name));
  const fs::path folder = name;
  const fs::path old = fs::path(Q47_SOURCE_DIR) / "tests" / "hub" / "data" / "hub-v0.sqlite3";
  const fs::path copy = folder / "hub.sqlite3";
  fs::copy_file(old, copy);
  std::string error;
  {
    std::unique_ptr<Store> store = store_open_sqlite(copy.string(), error);
    ASSERT_TRUE(store) << error;
    EXPECT_EQ(store->schema_version(), STORE_SCHEMA_VERSION);
    const std::vector<StorePackSummary> packs = store->list_packs(PackOrder::NEWEST, 0, 0, 10);
    ASSERT_EQ(packs.size(), 1u);
    EXPECT_EQ(packs[0].plays, 2);
    EXPECT_EQ(packs[0].ratings, 2);
    EXPECT_DOUBLE_EQ(packs[0].rating, 3.0);
    EXPECT_EQ(store->queued_runs(), (std::vector<int64_t>{7}));
    EXPECT_EQ(verify_queued(*store, VerifyLimits{}, 2000000000), 1);
    EXPECT_EQ(store->run(7, false)->status, RUN_VERIFIED);
    EXPECT_EQ(store->best(2, HUB_BUILTIN, 1), store->run(7, false)->levels.at(0).score);
    // A second verified run of a player who played the pack does not count twice.
    const int64_t again = store->add_run(2, packs[0].pack.id, store->run(6, true)->replay, 3, "");
    EXPECT_EQ(verify_queued(*store, VerifyLimits{}, 2000000000), 1);
    EXPECT_EQ(store->run(again, false)->status, RUN_VERIFIED);
    EXPECT_EQ(store->list_packs(PackOrder::NEWEST, 0, 0, 10).at(0).plays, 2);
  }
  // Opening it again migrates nothing twice.
  ASSERT_TRUE(store_open_sqlite(copy.string(), error)) << error;

  fs::copy_file(old, folder / "newer.sqlite3");
  {
    std::fstream file(folder / "newer.sqlite3", std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(60);  // the header's user_version, big-endian
    file.write("\0\0\0\x63", 4);
  }
  EXPECT_FALSE(store_open_sqlite((folder / "newer.sqlite3").string(), error));
  EXPECT_NE(error.find("made by a newer hub"), std::string::npos) << error;

  fs::copy_file(old, folder / "damaged.sqlite3");
  {
    std::fstream file(folder / "damaged.sqlite3", std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(4096 * 3);  // a page of the tables, zeroed
    file.write(std::string(4096, '\0').data(), 4096);
  }
  error.clear();
  EXPECT_FALSE(store_open_sqlite((folder / "damaged.sqlite3").string(), error));
  EXPECT_NE(error.find("damaged.sqlite3: the database is damaged"), std::string::npos) << error;
  fs::remove_all(folder);
}

// A store in memory that fails as a database does: every call while down, and the next
// verdicts written while failing_finishes counts down.
class FailingStore : public Store {
 public:
  std::unique_ptr<Store> kept = store_open_memory();
  std::atomic<bool> down{false};
  std::atomic<int> failing_finishes{0};

  int64_t add_player(const std::string& n, const std::string& k, int64_t t) override {
    return kept->add_player(n, k, t);
  }
  std::optional<StorePlayer> player_by_key(const std::string& k) override {
    return kept->player_by_key(k);
  }
  std::optional<StorePlayer> player(int64_t id) override { return kept->player(id); }
  bool rename_player(int64_t id, const std::string& n) override {
    return kept->rename_player(id, n);
  }
  bool add_pack(const StorePack& p, const std::vector<StoreLevel>& l) override {
    return kept->add_pack(p, l);
  }
  std::optional<StorePack> pack(const std::string& id, bool t) override {
    return kept->pack(id, t);
  }
  std::vector<StoreLevel> pack_levels(const std::string& id) override {
    return kept->pack_levels(id);
  }
  void set_level_best(const std::string& id, int32_t level, int32_t best, bool proven) override {
    kept->set_level_best(id, level, best, proven);
  }
  bool withdraw_pack(const std::string& id) override { return kept->withdraw_pack(id); }
  std::vector<StorePackSummary> list_packs(PackOrder o, int64_t v, int64_t f, int64_t l) override {
    return kept->list_packs(o, v, f, l);
  }
  int64_t pack_count() override { return kept->pack_count(); }
  int64_t packs_published_since(int64_t p, int64_t s) override {
    return kept->packs_published_since(p, s);
  }
  int64_t add_run(int64_t p, const std::string& k, const std::vector<uint8_t>& r, int64_t t,
                  const std::string& a) override {
    return kept->add_run(p, k, r, t, a);
  }
  std::optional<StoreRun> run(int64_t id, bool r) override { return kept->run(id, r); }
  std::vector<int64_t> queued_runs() override { return kept->queued_runs(); }
  int64_t queued_runs_of(int64_t p) override { return kept->queued_runs_of(p); }
  std::optional<StoreRun> claim_run(int64_t now, int64_t until) override {
    if (down) throw StoreError("the server is gone");
    return kept->claim_run(now, until);
  }
  void finish_run(const StoreRun& verdict) override {
    if (down || failing_finishes.fetch_sub(1) > 0) throw StoreError("the disk is full");
    kept->finish_run(verdict);
  }
  int64_t add_job(const std::string& k, int64_t p, const std::string& a, const std::string& b,
                  int64_t t) override {
    return kept->add_job(k, p, a, b, t);
  }
  std::optional<StoreJob> job(int64_t id, bool p) override { return kept->job(id, p); }
  std::optional<StoreJob> claim_job(int64_t now, int64_t until) override {
    return kept->claim_job(now, until);
  }
  void finish_job(int64_t id, const std::string& s, const std::string& r) override {
    kept->finish_job(id, s, r);
  }
  int64_t jobs_since(int64_t p, const std::string& k, int64_t s) override {
    return kept->jobs_since(p, k, s);
  }
  std::optional<int32_t> best(int64_t p, const std::string& k, int32_t l) override {
    return kept->best(p, k, l);
  }
  std::vector<std::pair<int32_t, int64_t>> histogram(const std::string& k, int32_t l) override {
    return kept->histogram(k, l);
  }
  void rate(int64_t p, const std::string& k, int32_t l, int32_t s) override {
    kept->rate(p, k, l, s);
  }
  int64_t count(const std::string& n, int64_t w, int64_t a) override {
    return kept->count(n, w, a);
  }
  int64_t counted(const std::string& n, int64_t w) override { return kept->counted(n, w); }
  int32_t schema_version() override { return kept->schema_version(); }
};

std::vector<uint8_t> golden(const char* name);

// Runs acknowledged while the database is gone, or whose verdicts could not be written (a full
// disk), wait in the store and are verified once it answers, by the same workers with no
// restart; the log says once that it failed and once that it is back.
TEST(HubVerifyPool, RunsWaitWhileTheDatabaseFailsAndAreVerifiedWhenItAnswers) {
  FailingStore store;
  const int64_t player = store.add_player("Ann", "hash-a", 1);
  for (int i = 0; i < 4; ++i) store.add_run(player, HUB_BUILTIN, golden("level01-win.q47r"), 1, "");
  store.down = true;
  VerifyLimits limits;
  limits.lease_seconds = 1;
  testing::internal::CaptureStderr();
  {
    VerifyPool pool(store, 2, limits, [] { return hub_clock(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    EXPECT_EQ(store.queued_runs().size(), 4u);
    store.failing_finishes = 3;
    store.down = false;
    pool.add();
    for (int i = 0; i < 200 && !store.queued_runs().empty(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(store.queued_runs().empty());
  }
  const std::string said = testing::internal::GetCapturedStderr();
  for (int64_t id = 1; id <= 4; ++id) EXPECT_EQ(store.run(id, false)->status, RUN_VERIFIED);
  EXPECT_EQ(said,
            "q47-hub: the database failed, runs wait in it until it answers: the server is gone\n"
            "q47-hub: the database answers again; its queued runs are verified\n");
}

// --- The answers over a store in memory ---

HubRequest request(const std::string& method, const std::string& path, const Json& body = nullptr,
                   const std::string& key = "") {
  HubRequest made;
  made.method = method;
  made.path = path.substr(0, path.find('?'));
  // The query's NAME=VALUE pairs (no escapes in these tests).
  for (size_t at = path.find('?'); at != std::string::npos;) {
    const size_t end = path.find('&', at + 1);
    const std::string pair = path.substr(at + 1, end == std::string::npos ? end : end - at - 1);
    made.query[pair.substr(0, pair.find('='))] = pair.substr(pair.find('=') + 1);
    at = end;
  }
  made.address = "127.0.0.1";
  if (!body.is_null()) made.body = body.dump();
  if (!key.empty()) made.authorization = "Bearer " + key;
  return made;
}

std::vector<uint8_t> golden(const char* name) {
  std::ifstream in(fs::path(Q47_SOURCE_DIR) / "tests" / "replays" / name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The day's pack holds all day whatever is published, and whatever else is withdrawn; only
// its own withdrawal moves it.
TEST(HubAnswers, TheDailyPickHoldsForTheDay) {
  std::unique_ptr<Store> store = store_open_memory();
  Hub hub(*store);
  int64_t now = 20000 * 86400 + 3600;
  hub.clock = [&now] { return now; };
  const int64_t author = store->add_player("Ann", "hash-a", 1);
  auto publish = [&](const std::string& id, int64_t when) {
    StorePack pack;
    pack.id = id;
    pack.author = author;
    pack.published = when;
    store->add_pack(pack, {});
  };
  auto daily = [&] {
    const Json list = Json::parse(hub_handle(hub, request("GET", "/api/packs?sort=daily")).body);
    return list["packs"].empty() ? std::string() : list["packs"][0]["pack"].get<std::string>();
  };
  EXPECT_EQ(daily(), "");
  for (int i = 0; i < 8; ++i) publish("old" + std::to_string(i), 1000 + i);
  now += 60;
  const std::string pick = daily();
  ASSERT_FALSE(pick.empty());
  for (int i = 0; i < 8; ++i) {
    publish("new" + std::to_string(i), now);
    now += 61;
    EXPECT_EQ(daily(), pick);
  }
  for (int i = 0; i < 8; ++i) {
    if ("old" + std::to_string(i) != pick) store->withdraw_pack("old" + std::to_string(i));
    now += 61;
    EXPECT_EQ(daily(), pick);
  }
  store->withdraw_pack(pick);
  now += 61;
  EXPECT_EQ(daily(), "");  // every pack older than the day is withdrawn
  now += 86400;
  EXPECT_EQ(daily().rfind("new", 0), 0u);
}

TEST(HubAnswers, RoutesRefusalsAndARunVerifiedOnTheSpot) {
  std::unique_ptr<Store> store = store_open_memory();
  Hub hub(*store);
  hub.queue_run = [&](int64_t) { verify_queued(*store, hub.verify, hub.clock()); };
  hub.queue_job = [&] { hub_do_job(hub, hub.clock()); };
  const Json made =
      Json::parse(hub_handle(hub, request("POST", "/api/players", {{"name", "Ann"}})).body);
  const std::string key = made["key"];
  // Paths and methods that are not there, and bodies that are not what they should be.
  const std::pair<HubRequest, int> refusals[] = {
      {request("GET", "/api/nothing"), 404},
      {request("PATCH", "/api/packs"), 405},
      {request("GET", "/api/packs/xyz"), 404},
      {request("GET", "/api/packs/builtin/other"), 404},
      {request("GET", "/api/runs/0"), 404},
      {request("GET", "/api/runs/99999999999999999999"), 404},
      {request("GET", "/api/jobs/1"), 404},
      {request("GET", "/api/jobs/x"), 404},
      {request("DELETE", "/api/jobs/1"), 405},
      {request("GET", "/api/levels/builtin/11/histogram"), 404},
      {request("GET", "/api/levels/builtin/0/histogram"), 404},
      {request("POST", "/api/runs", {{"pack", "builtin"}}), 401},
      {request("POST", "/api/runs", {{"pack", "builtin"}}, key), 400},
      {request("POST", "/api/runs", {{"pack", "builtin"}, {"replay", "@@"}}, key), 400},
      {request("POST", "/api/runs", {{"pack", std::string(64, 'a')}, {"replay", ""}}, key), 404},
      {request("POST", "/api/players", Json::array()), 400},
      {request("POST", "/api/packs?sort=unplayed"), 401},
      {request("GET", "/api/packs?sort=unplayed"), 401},
      {request("GET", "/api/packs?limit=0"), 400},
      {request("POST", "/api/levels/builtin/1/rating", {{"stars", 3}}, key), 403},
  };
  for (const auto& [asked, status] : refusals) {
    const HubResponse response = hub_handle(hub, asked);
    EXPECT_EQ(response.status, status) << asked.method << " " << asked.path << " " << asked.body;
    EXPECT_TRUE(Json::parse(response.body, nullptr, false).contains("error")) << response.body;
  }
  // A replay that is no replay is taken, then refused with the reader's reason.
  HubResponse sent =
      hub_handle(hub, request("POST", "/api/runs", {{"pack", "builtin"}, {"replay", "AAAA"}}, key));
  ASSERT_EQ(sent.status, 202);
  Json run = Json::parse(
      hub_handle(hub, request("GET", "/api/runs/" +
                                         std::to_string(Json::parse(sent.body)["run"].get<int>())))
          .body);
  EXPECT_EQ(run["status"], RUN_REFUSED);
  EXPECT_EQ(run["reason"].get<std::string>().rfind("not a replay", 0), 0u) << run;
  // The whole game from the intro proves every level's score.
  sent = hub_handle(
      hub, request("POST", "/api/runs",
                   {{"pack", "builtin"}, {"replay", base64_encode(golden("complete.q47r"))}}, key));
  ASSERT_EQ(sent.status, 202);
  run = Json::parse(
      hub_handle(hub, request("GET", "/api/runs/" +
                                         std::to_string(Json::parse(sent.body)["run"].get<int>())))
          .body);
  EXPECT_EQ(run["status"], RUN_VERIFIED);
  ASSERT_EQ(run["levels"].size(), 10u);
  int total = 0;
  for (const Json& level : run["levels"]) total += level["score"].get<int>();
  EXPECT_EQ(total, 1491);
  EXPECT_EQ(
      hub_handle(hub, request("POST", "/api/levels/builtin/10/rating", {{"stars", 3}}, key)).status,
      204);
  const Json histogram = Json::parse(
      hub_handle(hub, request("GET", "/api/levels/builtin/10/histogram", nullptr, key)).body);
  EXPECT_EQ(histogram["mine"], run["levels"][9]["score"]);
  EXPECT_EQ(histogram["players"], 1);
  EXPECT_EQ(histogram["best_possible"], (Json{{"score", 142}, {"by", "solver"}}));

  // A key keeps naming its player (the hub keeps the pair), and the name it shows is the
  // latest, whoever renamed it.
  const std::string bob =
      Json::parse(hub_handle(hub, request("POST", "/api/players", {{"name", "Bob"}})).body)["key"];
  for (const std::string name : {"Ann", "Ann B."}) {
    store->rename_player(made["player"].get<int64_t>(), name);
    const Json me =
        Json::parse(hub_handle(hub, request("GET", "/api/players/me", nullptr, key)).body);
    EXPECT_EQ(me["player"], made["player"]);
    EXPECT_EQ(me["name"], name);
  }
  EXPECT_EQ(
      Json::parse(hub_handle(hub, request("GET", "/api/players/me", nullptr, bob)).body)["name"],
      "Bob");
  EXPECT_EQ(
      hub_handle(hub, request("GET", "/api/players/me", nullptr, std::string(64, '0'))).status,
      401);

  // The daily limits: new players per address, packs per player.
  hub.limits.players_per_address_day = 1;
  EXPECT_EQ(hub_handle(hub, request("POST", "/api/players", {{"name", "Too many"}})).status, 429);
  // A publication refused by its worker counts toward the limit as much as a published one:
  // both cost the checker's time.
  const HubResponse queued = hub_handle(
      hub, request("POST", "/api/packs",
                   {{"pack", "q47-level-pack 1\nbogus\n"}, {"runs", Json::array()}}, key));
  ASSERT_EQ(queued.status, 202) << queued.body;
  const Json job = Json::parse(
      hub_handle(
          hub,
          request("GET", "/api/jobs/" + std::to_string(Json::parse(queued.body)["job"].get<int>())))
          .body);
  EXPECT_EQ(job["status"], "refused") << job;
  EXPECT_EQ(job["http_status"], 422) << job;
  hub.limits.packs_per_key_day = 1;
  const HubResponse publish =
      hub_handle(hub, request("POST", "/api/packs",
                              {{"pack", "q47-level-pack 1\n"}, {"runs", Json::array()}}, key));
  EXPECT_EQ(publish.status, 429);
}

}  // namespace
