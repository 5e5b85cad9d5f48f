// The hub as its clients meet it: the real q47-hub process on a free port, driven over HTTP.
// Players, a pack published with its proofs, runs verified or refused, histograms, ratings, the
// limits, the page's escaping, a kill -9 under load and a backup of a live database. The store
// is SQLite in a fresh folder unless --database names another (the same suite runs on each), so
// nothing here assumes an empty database.
//   hub_server_tests --hub q47-hub --q47 q47 --source DIR [--database DB] [gtest options]
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/digest.h"
#include "core/replay_codec.h"
#include "hub/api.h"
#include "hub/store.h"
#include "tests/support/hub_process.h"

namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

struct Setup {
  std::string hub;       // the q47-hub executable
  std::string q47;       // the game, which makes the proofs
  std::string source;    // the source tree
  std::string database;  // "" = a fresh SQLite file per server
};
Setup SETUP;

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<uint8_t> read_bytes(const fs::path& path) {
  const std::string text = read_file(path);
  return {text.begin(), text.end()};
}

// A fresh folder, removed with the object.
struct TempDir {
  TempDir() {
    char name[] = "/tmp/q47-hub-test-XXXXXX";
    path = mkdtemp(name);
  }
  ~TempDir() { fs::remove_all(path); }
  fs::path path;
};

// A random word, so that packs and names differ from one run of the suite to the next.
std::string nonce() {
  static std::mt19937_64 random{std::random_device{}()};
  return std::to_string(random());
}

// One q47-hub process.
class HubProcess {
 public:
  HubProcess(const std::string& database, std::vector<std::string> extra = {})
      : database_(database), extra_(std::move(extra)) {
    start();
  }
  ~HubProcess() { stop(SIGTERM); }

  void start() {
    // A write past a file size limit fails as on a full disk rather than ending the hub: an
    // ignored signal stays ignored in the child across its exec.
    signal(SIGXFSZ, SIG_IGN);
    std::vector<std::string> args = {
        SETUP.hub, "--listen", "127.0.0.1:0", "--database", database_, "--workers", "2"};
    args.insert(args.end(), extra_.begin(), extra_.end());
    port_ = hub_spawn(args, pid_);
  }
  // Ends the process with signal and waits for it; its exit status.
  int stop(int signal_number) {
    if (pid_ <= 0) return -1;
    kill(pid_, signal_number);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = 0;
    return status;
  }
  httplib::Client client() const {
    httplib::Client client("127.0.0.1", port_);
    client.set_read_timeout(30);
    return client;
  }
  int port() const { return port_; }
  // Limits the files the process writes to bytes (RLIMIT_FSIZE): to the database, a disk full
  // (RLIM_INFINITY: room again).
  bool limit_file_size(rlim_t bytes) {
    const rlimit limit{bytes, RLIM_INFINITY};
    return prlimit(pid_, RLIMIT_FSIZE, &limit, nullptr) == 0;
  }

 private:
  std::string database_;
  std::vector<std::string> extra_;
  pid_t pid_ = 0;
  int port_ = 0;
};

// A response's status and body as JSON (null when it is not JSON).
struct Answer {
  int status = 0;
  Json body;
  std::string text;
  httplib::Headers headers;
};

Answer call_raw(const HubProcess& hub, const std::string& method, const std::string& path,
                const std::string& text, const std::string& key = "") {
  httplib::Client client = hub.client();
  httplib::Headers headers;
  if (!key.empty()) headers.emplace("Authorization", "Bearer " + key);
  httplib::Result result = method == "GET"    ? client.Get(path, headers)
                           : method == "POST" ? client.Post(path, headers, text, "application/json")
                           : method == "PUT"  ? client.Put(path, headers, text, "application/json")
                                              : client.Delete(path, headers);
  Answer answer;
  if (!result) return answer;
  answer.status = result->status;
  answer.text = result->body;
  answer.headers = result->headers;
  answer.body = Json::parse(result->body, nullptr, false);
  return answer;
}

Answer call(const HubProcess& hub, const std::string& method, const std::string& path,
            const Json& body = nullptr, const std::string& key = "") {
  return call_raw(hub, method, path, body.is_null() ? "" : body.dump(), key);
}

// A publication asked for, and once the hub answered 202 its job followed to its end: the job's
// answer with the status the publication came to (201, or its refusal's).
Answer publish(const HubProcess& hub, const Json& body, const std::string& key = "") {
  Answer asked = call(hub, "POST", "/api/packs", body, key);
  if (asked.status != 202) return asked;
  const std::string job = "/api/jobs/" + std::to_string(asked.body.value("job", int64_t{0}));
  EXPECT_EQ(asked.body.value("status", ""), "queued") << asked.text;
  EXPECT_EQ(asked.headers.find("Location") == asked.headers.end()
                ? ""
                : asked.headers.find("Location")->second,
            job);
  for (int i = 0; i < 800; ++i) {
    Answer polled = call(hub, "GET", job);
    const std::string status = polled.body.value("status", "");
    if (status != "queued" && status != "running") {
      EXPECT_EQ(polled.body.value("kind", ""), "publish") << polled.text;
      EXPECT_EQ(status, polled.body.value("http_status", 0) == 201 ? "done" : "refused");
      polled.status = polled.body.value("http_status", 0);
      return polled;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  ADD_FAILURE() << job << " did not end in 20 s";
  return asked;
}

// A new player: its key.
std::string new_player(const HubProcess& hub, const std::string& name) {
  const Answer made = call(hub, "POST", "/api/players", {{"name", name}});
  EXPECT_EQ(made.status, 201) << made.text;
  return made.body.value("key", "");
}

// The proofs of a pack's text: one winning replay per level, made by the game's checker.
std::vector<std::string> proofs_of(const std::string& text) {
  TempDir dir;
  const fs::path pack = dir.path / "pack.q47l";
  std::ofstream(pack, std::ios::binary) << text;
  fs::create_directory(dir.path / "proofs");
  const std::string command = SETUP.q47 + " --check " + pack.string() + " --write-replays " +
                              (dir.path / "proofs").string() + " > /dev/null";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  std::vector<std::string> runs;
  for (int level = 1;; ++level) {
    char name[32];
    std::snprintf(name, sizeof name, "level%02d.q47r", level);
    if (!fs::exists(dir.path / "proofs" / name)) break;
    runs.push_back(base64_encode(read_bytes(dir.path / "proofs" / name)));
  }
  return runs;
}

// Polls run until it is no longer queued; its last answer.
Json settled(const HubProcess& hub, int64_t run) {
  Json body;
  for (int i = 0; i < 400; ++i) {
    body = call(hub, "GET", "/api/runs/" + std::to_string(run)).body;
    if (body.value("status", "") != RUN_QUEUED) return body;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return body;
}

std::string database_in(const TempDir& dir) {
  return SETUP.database.empty() ? (dir.path / "hub.sqlite3").string() : SETUP.database;
}

std::string builtin_run(const char* name) {
  return base64_encode(read_bytes(fs::path(SETUP.source) / "tests" / "replays" / name));
}

TEST(HubServer, PlayersPublishRunsHistogramsAndRatings) {
  TempDir dir;
  HubProcess hub(database_in(dir), {"--rate", "0"});
  const std::string ann = new_player(hub, "Ann " + nonce());
  const std::string bob = new_player(hub, "Bob");
  ASSERT_EQ(ann.size(), 64u);

  // A hostile name comes back as it was given, in JSON that never carries markup.
  const std::string hostile = "<script>alert(\"x\")</script>'";
  const std::string eve = new_player(hub, hostile);
  const Answer me = call(hub, "GET", "/api/players/me", nullptr, eve);
  EXPECT_EQ(me.body.value("name", ""), hostile);
  EXPECT_EQ(me.text.find('<'), std::string::npos) << me.text;
  for (const std::string& bad :
       {std::string(""), std::string(33, 'a'), std::string("a\nb"), std::string("   ")}) {
    EXPECT_EQ(call(hub, "POST", "/api/players", {{"name", bad}}).status, 422);
  }
  EXPECT_EQ(call_raw(hub, "POST", "/api/players", "{\"name\": \"\xff\xfe\"}").status, 400);
  EXPECT_EQ(call(hub, "GET", "/api/players/me", nullptr, std::string(64, 'a')).status, 401);
  EXPECT_EQ(call(hub, "PUT", "/api/players/me", {{"name", "Bobby"}}, bob).status, 200);
  EXPECT_EQ(call(hub, "GET", "/api/players/me", nullptr, bob).body.value("name", ""), "Bobby");

  // Publishing: the pack with one proof per level; a comment makes it this run's own bytes.
  std::string text = read_file(fs::path(SETUP.source) / "levels" / "first-shift.q47l");
  text += "# " + nonce() + "\n";
  std::vector<std::string> runs = proofs_of(text);
  ASSERT_EQ(runs.size(), 5u);
  Answer published = publish(hub, {{"pack", text}, {"runs", runs}}, ann);
  ASSERT_EQ(published.status, 201) << published.text;
  const std::string pack = published.body.value("pack", "");
  EXPECT_EQ(pack.size(), 64u);
  EXPECT_EQ(published.body.value("levels", 0), 5);
  EXPECT_EQ(publish(hub, {{"pack", text}, {"runs", runs}}, ann).status, 409);
  // Refusals: no key, a pack that does not read, a run missing, a run of another level.
  EXPECT_EQ(publish(hub, {{"pack", text}, {"runs", runs}}).status, 401);
  const Answer unreadable =
      publish(hub, {{"pack", "q47-level-pack 1\nbogus\n"}, {"runs", runs}}, ann);
  EXPECT_EQ(unreadable.status, 422);
  EXPECT_EQ(unreadable.body.value("error", "").rfind("pack:2:", 0), 0u) << unreadable.text;
  std::string other = text + "# " + nonce() + "\n";
  std::vector<std::string> short_runs(runs.begin(), runs.end() - 1);
  EXPECT_EQ(publish(hub, {{"pack", other}, {"runs", short_runs}}, ann).status, 422);
  std::vector<std::string> swapped = runs;
  std::swap(swapped[0], swapped[1]);
  const Answer wrong = publish(hub, {{"pack", other}, {"runs", swapped}}, ann);
  EXPECT_EQ(wrong.status, 422);
  EXPECT_EQ(wrong.body.value("level", 0), 1) << wrong.text;

  // Finding it: newest first, its levels as the checker found them, its bytes as sent.
  const Answer newest = call(hub, "GET", "/api/packs?sort=newest&limit=100");
  ASSERT_EQ(newest.status, 200);
  bool listed = false;
  for (const Json& item : newest.body["packs"]) listed = listed || item["pack"] == pack;
  EXPECT_TRUE(listed);
  const Answer shown = call(hub, "GET", "/api/packs/" + pack);
  ASSERT_EQ(shown.status, 200);
  ASSERT_EQ(shown.body["levels"].size(), 5u);
  EXPECT_GT(shown.body["levels"][0].value("bound", 0), 0);
  EXPECT_EQ(call(hub, "GET", "/api/packs/" + pack + "/file").text, text);
  for (const char* sort : {"played", "rated", "random", "daily"}) {
    EXPECT_EQ(call(hub, "GET", std::string("/api/packs?sort=") + sort).status, 200) << sort;
  }
  const Answer unplayed = call(hub, "GET", "/api/packs?sort=unplayed&limit=100", nullptr, bob);
  listed = false;
  for (const Json& item : unplayed.body["packs"]) listed = listed || item["pack"] == pack;
  EXPECT_TRUE(listed);
  EXPECT_EQ(call(hub, "GET", "/api/packs?sort=best").status, 400);

  // A run of the built-in levels, verified; the score comes from the rules alone.
  Answer sent = call(hub, "POST", "/api/runs",
                     {{"pack", "builtin"}, {"replay", builtin_run("level01-win.q47r")}}, bob);
  ASSERT_EQ(sent.status, 202) << sent.text;
  Json run = settled(hub, sent.body.value("run", 0));
  EXPECT_EQ(run.value("status", ""), RUN_VERIFIED) << run;
  ASSERT_EQ(run["levels"].size(), 1u);
  EXPECT_EQ(run["levels"][0].value("score", 0), 93);
  Answer histogram = call(hub, "GET", "/api/levels/builtin/1/histogram", nullptr, bob);
  EXPECT_EQ(histogram.body["mine"], 93);
  EXPECT_EQ(histogram.body["bound"], 93);
  EXPECT_EQ(histogram.body["proven_best"], true);
  EXPECT_GE(histogram.body.value("players", 0), 1);
  EXPECT_TRUE(call(hub, "GET", "/api/levels/builtin/1/histogram").body["mine"].is_null());
  // The built-in levels' bests are proven by the exact search; a published pack's are searched
  // by a job of their own after its publication, and its histograms say so once it is done.
  EXPECT_EQ(histogram.body["best_possible"], (Json{{"score", 93}, {"by", "solver"}}));
  Json best;
  for (int i = 0; i < 400 && !(best.is_object() && best.value("by", "") == "solver"); ++i) {
    if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    best = call(hub, "GET", "/api/levels/" + pack + "/5/histogram").body["best_possible"];
  }
  EXPECT_EQ(best, (Json{{"score", 78}, {"by", "solver"}}));

  // A forged run (a higher final checksum claimed, or frames cut) is refused, and so is a run
  // recorded on another version of a pack.
  Replay replay;
  std::string error;
  const std::vector<uint8_t> bytes =
      read_bytes(fs::path(SETUP.source) / "tests" / "replays" / "level02-win.q47r");
  ASSERT_TRUE(replay_decode(bytes.data(), bytes.size(), replay, error)) << error;
  Replay forged = replay;
  forged.final_checksum ^= 0x47;
  Replay cut = replay;
  cut.frame_count -= 1;
  for (const Replay& lie : {forged, cut}) {
    std::vector<uint8_t> encoded = replay_encode(lie);
    sent = call(hub, "POST", "/api/runs", {{"pack", "builtin"}, {"replay", base64_encode(encoded)}},
                bob);
    ASSERT_EQ(sent.status, 202);
    run = settled(hub, sent.body.value("run", 0));
    EXPECT_EQ(run.value("status", ""), RUN_REFUSED) << run;
    EXPECT_TRUE(run["levels"].empty());
  }
  EXPECT_FALSE(
      call(hub, "GET", "/api/levels/builtin/2/histogram", nullptr, bob).body["mine"].is_number());
  sent = call(hub, "POST", "/api/runs",
              {{"pack", pack}, {"replay", builtin_run("level01-win.q47r")}}, bob);
  run = settled(hub, sent.body.value("run", 0));
  EXPECT_EQ(run.value("reason", ""), "recorded on another version of the pack");

  // An update is a new version; only the author may publish one, or withdraw a pack.
  std::string updated = text;
  const size_t title = updated.find("FIRST SHIFT");
  ASSERT_NE(title, std::string::npos);
  updated.replace(title, 11, "FIRST SHIFT AGAIN");
  const std::vector<std::string> updated_runs = proofs_of(updated);
  EXPECT_EQ(
      publish(hub, {{"pack", updated}, {"runs", updated_runs}, {"replaces", pack}}, bob).status,
      403);
  published = publish(hub, {{"pack", updated}, {"runs", updated_runs}, {"replaces", pack}}, ann);
  ASSERT_EQ(published.status, 201) << published.text;
  const std::string version2 = published.body.value("pack", "");
  EXPECT_EQ(call(hub, "GET", "/api/packs/" + version2).body.value("replaces", ""), pack);
  // The first version's proof is no run of the second.
  sent = call(hub, "POST", "/api/runs", {{"pack", version2}, {"replay", runs[0]}}, bob);
  EXPECT_EQ(settled(hub, sent.body.value("run", 0)).value("reason", ""),
            "recorded on another version of the pack");
  sent = call(hub, "POST", "/api/runs", {{"pack", version2}, {"replay", updated_runs[0]}}, bob);
  EXPECT_EQ(settled(hub, sent.body.value("run", 0)).value("status", ""), RUN_VERIFIED);

  // Ratings only from a verified win of the level.
  EXPECT_EQ(call(hub, "POST", "/api/levels/" + version2 + "/2/rating", {{"stars", 5}}, bob).status,
            403);
  EXPECT_EQ(call(hub, "POST", "/api/levels/" + version2 + "/1/rating", {{"stars", 4}}, bob).status,
            204);
  EXPECT_EQ(call(hub, "POST", "/api/levels/" + version2 + "/1/rating", {{"stars", 9}}, bob).status,
            422);
  const Answer rated = call(hub, "GET", "/api/packs?sort=rated&limit=100");
  bool rated_listed = false;
  for (const Json& item : rated.body["packs"]) {
    if (item["pack"] == version2) rated_listed = item["rating"] == 4.0;
  }
  EXPECT_TRUE(rated_listed) << rated.text;

  EXPECT_EQ(call(hub, "DELETE", "/api/packs/" + pack, nullptr, bob).status, 403);
  EXPECT_EQ(call(hub, "DELETE", "/api/packs/" + pack, nullptr, ann).status, 204);
  EXPECT_EQ(call(hub, "GET", "/api/packs/" + pack).body["withdrawn"], true);
  for (const Json& item : call(hub, "GET", "/api/packs?limit=100").body["packs"]) {
    EXPECT_NE(item["pack"], pack);
  }
  EXPECT_EQ(call(hub, "POST", "/api/runs", {{"pack", pack}, {"replay", runs[0]}}, bob).status, 410);

  // The pack's page names its author escaped.
  const std::string eve_text = text + "# " + nonce() + "\n";
  published = publish(hub, {{"pack", eve_text}, {"runs", runs}, {"title", hostile}}, eve);
  ASSERT_EQ(published.status, 201) << published.text;
  const Answer page = call(hub, "GET", "/packs/" + published.body.value("pack", ""));
  EXPECT_EQ(page.status, 200);
  EXPECT_EQ(page.text.find("<script>"), std::string::npos);
  EXPECT_NE(page.text.find("&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt;&#39;"),
            std::string::npos);
}

// One key floods the queue with the longest replays a file may hold, each forged from its first
// checkpoint, sent to a process that only answers (--workers 0) so that all of it is queued
// before any is charged: the flood stops at 100 runs queued (429 and a time to wait). A second
// process on the same store then verifies: another player's run sent after the flood gets its
// turn beside it, and each forged run is refused at its first checkpoint. How long the honest
// verdict took is recorded; bench/hub_bench.cpp holds the target.
TEST(HubServer, AForgedFloodFromOneKeyLeavesAnHonestRunItsTurn) {
  TempDir dir;
  HubProcess answering(database_in(dir), {"--rate", "0", "--workers", "0"});
  const std::string flood = new_player(answering, "Flood " + nonce());
  const std::string honest = new_player(answering, "Honest " + nonce());
  Replay forged;
  std::string error;
  const std::vector<uint8_t> bytes =
      read_bytes(fs::path(SETUP.source) / "tests" / "replays" / "level01-win.q47r");
  ASSERT_TRUE(replay_decode(bytes.data(), bytes.size(), forged, error)) << error;
  ReplayEncoder idle;
  for (int64_t frame = 0; frame < REPLAY_MAX_FRAMES; ++frame) idle.add(InputFrame{});
  forged.frame_data.clear();
  idle.finish(forged.frame_data);
  forged.frame_count = REPLAY_MAX_FRAMES;
  forged.checkpoints.assign(static_cast<size_t>(REPLAY_MAX_FRAMES / REPLAY_CHECKPOINT_FRAMES), 0);
  const Json body = {{"pack", "builtin"}, {"replay", base64_encode(replay_encode(forged))}};

  std::vector<int64_t> queued;
  Answer sent;
  for (int i = 0;
       i < 150 && (sent = call(answering, "POST", "/api/runs", body, flood)).status == 202; ++i) {
    queued.push_back(sent.body.value("run", int64_t{0}));
  }
  EXPECT_EQ(queued.size(), 100u);
  EXPECT_EQ(sent.status, 429) << sent.text;
  EXPECT_TRUE(sent.headers.count("Retry-After")) << sent.text;
  sent = call(answering, "POST", "/api/runs",
              {{"pack", "builtin"}, {"replay", builtin_run("level01-win.q47r")}}, honest);
  ASSERT_EQ(sent.status, 202) << sent.text;

  // From before the verifying process starts: its start is counted in the wait.
  const auto began = std::chrono::steady_clock::now();
  HubProcess verifying(database_in(dir), {"--workers", "2"});
  const Json verdict = settled(answering, sent.body.value("run", int64_t{0}));
  const double waited =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  EXPECT_EQ(verdict.value("status", ""), RUN_VERIFIED) << verdict;
  RecordProperty("honest_verdict_ms", static_cast<int>(waited * 1000));
  std::printf("an honest verdict beside %zu forged runs: %.0f ms\n", queued.size(), waited * 1000);

  for (const int64_t id : {queued.front(), queued.back()}) {
    const Json run = settled(answering, id);
    EXPECT_EQ(run.value("status", ""), RUN_REFUSED) << run;
    EXPECT_NE(run.value("reason", "").find("by frame 256"), std::string::npos) << run;
  }
  EXPECT_EQ(call(answering, "POST", "/api/runs", body, flood).status, 202);
}

// How many of runs have a verdict.
size_t settled_count(const HubProcess& hub, const std::vector<int64_t>& runs) {
  size_t settled = 0;
  for (const int64_t run : runs) {
    const Answer polled = call(hub, "GET", "/api/runs/" + std::to_string(run));
    settled += polled.body.value("status", "") == RUN_QUEUED ? 0 : 1;
  }
  return settled;
}

// Waits up to 30 s for every one of runs to be verified, the database just back.
void wait_for_all_verified(const HubProcess& hub, const std::vector<int64_t>& runs) {
  const auto back = std::chrono::steady_clock::now();
  size_t left = runs.size();
  int64_t at_back = -1;  // runs not yet verified at the first look after it was back
  while (left > 0 && std::chrono::steady_clock::now() - back < std::chrono::seconds(30)) {
    left = 0;
    for (const int64_t run : runs) {
      const Answer polled = call(hub, "GET", "/api/runs/" + std::to_string(run));
      left += polled.body.value("status", "") == RUN_VERIFIED ? 0 : 1;
    }
    if (at_back < 0) at_back = static_cast<int64_t>(left);
    if (left > 0) std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  std::printf("%lld of %zu runs still queued as the database came back; %zu 30 s later\n",
              static_cast<long long>(at_back), runs.size(), left);
  EXPECT_EQ(left, 0u) << "acknowledged runs not verified 30 s after the database was back";
}

// The database lost under a verifying hub with runs queued: PostgreSQL's server stopped and
// started (the cluster with_postgresql.sh names), or for SQLite a full disk that has room again.
// The workers fail meanwhile and, with no restart of either hub, every acknowledged run is
// verified within 30 s of the database being back.
TEST(HubServer, RunsQueuedWhileTheDatabaseFailsAreVerifiedOnceItIsBack) {
  const char* cluster = std::getenv("Q47_HUB_PG_CLUSTER");
  if (!SETUP.database.empty() && !cluster) GTEST_SKIP() << "needs a private PostgreSQL";
  const std::string control = SETUP.source + "/tests/hub/pg_cluster.sh ";
  TempDir dir;
  HubProcess answering(database_in(dir), {"--rate", "0", "--workers", "0"});
  // Three players, since one may have 100 runs queued at most.
  const std::vector<std::string> players = {new_player(answering, "Restart " + nonce()),
                                            new_player(answering, "Restart " + nonce()),
                                            new_player(answering, "Restart " + nonce())};
  std::vector<int64_t> runs;
  for (int i = 0; i < 300; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "level%02d-win.q47r", i % 10 + 1);
    const Answer sent = call(answering, "POST", "/api/runs",
                             {{"pack", "builtin"}, {"replay", builtin_run(name)}}, players[i % 3]);
    ASSERT_EQ(sent.status, 202) << sent.text;
    runs.push_back(sent.body.value("run", int64_t{0}));
  }
  if (cluster) {
    HubProcess verifying(database_in(dir), {"--workers", "1"});
    ASSERT_EQ(std::system((control + "down " + cluster).c_str()), 0);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    ASSERT_EQ(std::system((control + "up " + cluster).c_str()), 0);
    wait_for_all_verified(answering, runs);
  } else {
    // SQLite: the verifying process finds the disk full (it may write no byte past the first)
    // soon after it started, then room again.
    HubProcess verifying(database_in(dir), {"--workers", "1"});
    ASSERT_TRUE(verifying.limit_file_size(1));
    const size_t before = settled_count(answering, runs);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    EXPECT_EQ(settled_count(answering, runs), before) << "verdicts written to a full disk";
    EXPECT_LT(before, runs.size());
    ASSERT_TRUE(verifying.limit_file_size(RLIM_INFINITY));
    wait_for_all_verified(answering, runs);
  }
}

TEST(HubServer, LimitsPoliciesAndStaticFiles) {
  TempDir dir;
  HubProcess hub(database_in(dir), {"--rate", "2"});
  // Every answer carries a content security policy, the API's and the page's alike.
  for (const char* path : {"/", "/api/packs", "/api/nothing", "/nothing.html"}) {
    const Answer answer = call(hub, "GET", path);
    EXPECT_TRUE(answer.headers.count("Content-Security-Policy")) << path;
  }
  // Files come from the page's folder only.
  httplib::Client raw = hub.client();
  for (const char* path :
       {"/../CMakeLists.txt", "/%2e%2e/CMakeLists.txt", "/page/../../README.md"}) {
    const httplib::Result result = raw.Get(path);
    ASSERT_TRUE(result);
    EXPECT_NE(result->status, 200) << path;
  }
  // A burst beyond ten requests from one address is told to wait.
  int refused = 0;
  for (int i = 0; i < 30; ++i) refused += call(hub, "GET", "/api/packs").status == 429 ? 1 : 0;
  EXPECT_GT(refused, 0);
  // X-Forwarded-For is a client's say-so unless the hub was told to trust its sender.
  httplib::Client forwarded = hub.client();
  const httplib::Result spoofed =
      forwarded.Get("/api/packs", {{"X-Forwarded-For", "198.51.100.23"}});
  ASSERT_TRUE(spoofed);
  EXPECT_EQ(spoofed->status, 429);
  // A client that starts a request and never ends it is let go, and others are served meanwhile.
  const int slow = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(hub.port()));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(connect(slow, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const char partial[] = "GET /api/packs HTTP/1.1\r\nHost: x\r\n";
  ASSERT_EQ(write(slow, partial, sizeof partial - 1), static_cast<ssize_t>(sizeof partial - 1));
  const auto began = std::chrono::steady_clock::now();
  EXPECT_EQ(call(hub, "GET", "/").status, 200);
  pollfd closed{slow, POLLIN, 0};
  ASSERT_EQ(poll(&closed, 1, 20000), 1);
  char head[16] = {};
  const ssize_t got = read(slow, head, sizeof head - 1);
  // Closed without an answer, or with a refusal of the request it never finished.
  EXPECT_TRUE(got <= 0 || std::string(head).rfind("HTTP/1.1 4", 0) == 0) << head;
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(15));
  close(slow);
  // A run's body is at most 1 MiB.
  std::this_thread::sleep_for(std::chrono::seconds(2));
  const std::string key = new_player(hub, "Big");
  const Answer big = call(hub, "POST", "/api/runs",
                          {{"pack", "builtin"}, {"replay", std::string(2 << 20, 'A')}}, key);
  EXPECT_EQ(big.status, 413);
}

// Submits runs as fast as one client can until stopped; the ids acknowledged.
void submit_until(const HubProcess& hub, const std::string& key, const std::string& replay,
                  std::atomic<bool>& stop, std::vector<int64_t>& acknowledged, std::mutex& lock) {
  httplib::Client client = hub.client();
  client.set_connection_timeout(2);
  const std::string body = Json{{"pack", "builtin"}, {"replay", replay}}.dump();
  while (!stop) {
    const httplib::Result result =
        client.Post("/api/runs", {{"Authorization", "Bearer " + key}}, body, "application/json");
    if (!result) return;  // the hub is gone
    if (result->status != 202) continue;
    const Json answer = Json::parse(result->body, nullptr, false);
    std::lock_guard guard(lock);
    acknowledged.push_back(answer.value("run", int64_t{0}));
  }
}

// Behind a reverse proxy every request comes from the proxy's address: with --trust-proxy, the
// limits per address hold each client the proxy names, not all of them as one.
TEST(HubServer, ATrustedProxysClientsAreLimitedEachAlone) {
  TempDir dir;
  HubProcess hub(database_in(dir), {"--rate", "2", "--trust-proxy", "127.0.0.1"});
  httplib::Client client = hub.client();
  auto status_from = [&client](const std::string& forwarded) {
    const httplib::Result result = client.Get("/api/packs", {{"X-Forwarded-For", forwarded}});
    return result ? result->status : 0;
  };
  int refused = 0;
  for (int i = 0; i < 30; ++i) refused += status_from("203.0.113.7") == 429 ? 1 : 0;
  EXPECT_GT(refused, 0);
  // The last address is the one the proxy saw; what the client wrote before it counts for
  // nothing, and a header that names no address leaves the proxy's own.
  EXPECT_EQ(status_from("203.0.113.7, 198.51.100.1"), 200);
  EXPECT_EQ(status_from("198.51.100.1, 203.0.113.7"), 429);
  EXPECT_EQ(status_from("2001:db8::5"), 200);
  for (int i = 0; i < 30; ++i) status_from("<script>");
  EXPECT_EQ(status_from(""), 429);
}

TEST(HubServer, KillNineLosesNoAcknowledgedRun) {
  TempDir dir;
  const std::string database = database_in(dir);
  std::string key;
  std::vector<int64_t> acknowledged;
  std::mutex lock;
  const std::string replay = builtin_run("level03-win.q47r");
  std::mt19937 random{std::random_device{}()};
  for (int round = 0; round < 5; ++round) {
    HubProcess hub(database, {"--rate", "0", "--workers", "1", "--lease", "2"});
    if (key.empty()) key = new_player(hub, "Loader");
    std::atomic<bool> stop{false};
    std::vector<std::thread> clients;
    for (int i = 0; i < 4; ++i) {
      clients.emplace_back([&] { submit_until(hub, key, replay, stop, acknowledged, lock); });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300 + random() % 700));
    hub.stop(SIGKILL);
    stop = true;
    for (std::thread& client : clients) client.join();
  }
  ASSERT_GT(acknowledged.size(), 20u);
  std::printf("%zu runs acknowledged over 5 kills\n", acknowledged.size());
  // After the last kill every run acknowledged is there, and each is verified by the restarted
  // hub, those the killed one had claimed once their lease is over, all within 10 s.
  HubProcess hub(database, {"--rate", "0", "--lease", "2"});
  std::set<int64_t> unique(acknowledged.begin(), acknowledged.end());
  EXPECT_EQ(unique.size(), acknowledged.size());
  int verified = 0;
  for (int64_t id : acknowledged) {
    const Json run = settled(hub, id);
    ASSERT_EQ(run.value("run", int64_t{0}), id) << run;
    verified += run.value("status", "") == RUN_VERIFIED ? 1 : 0;
  }
  EXPECT_EQ(verified, static_cast<int>(acknowledged.size()));
}

TEST(HubServer, BackupOfALiveHubOpensWithItsPlayersAndPacks) {
  if (!SETUP.database.empty() && SETUP.database.find("://") != std::string::npos) {
    GTEST_SKIP() << "--backup copies SQLite databases";
  }
  TempDir dir;
  const std::string database = (dir.path / "hub.sqlite3").string();
  HubProcess hub(database, {"--rate", "0"});
  const std::string key = new_player(hub, "Keeper");
  std::string text = read_file(fs::path(SETUP.source) / "levels" / "first-shift.q47l");
  const Answer published = publish(hub, {{"pack", text}, {"runs", proofs_of(text)}}, key);
  ASSERT_EQ(published.status, 201) << published.text;
  // The copy is made while runs keep coming in.
  std::atomic<bool> stop{false};
  std::vector<int64_t> acknowledged;
  std::mutex lock;
  std::thread load(
      [&] { submit_until(hub, key, builtin_run("level01-win.q47r"), stop, acknowledged, lock); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const fs::path copy = dir.path / "copy.sqlite3";
  const std::string command = SETUP.hub + " --database " + database + " --backup " + copy.string();
  EXPECT_EQ(std::system(command.c_str()), 0);
  stop = true;
  load.join();
  std::string error;
  std::unique_ptr<Store> store = store_open_sqlite(copy.string(), error);
  ASSERT_TRUE(store) << error;
  EXPECT_EQ(store->player_by_key(sha256_hex(key))->name, "Keeper");
  const std::optional<StorePack> pack = store->pack(published.body.value("pack", ""), true);
  ASSERT_TRUE(pack);
  EXPECT_EQ(pack->text, text);
  for (const auto& entry : fs::directory_iterator(dir.path)) {
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos);
  }
  // A backup of what is not a database says so.
  EXPECT_NE(std::system((SETUP.hub + " --database " + (dir.path / "none").string() + " --backup " +
                         (dir.path / "x").string() + " 2> /dev/null")
                            .c_str()),
            0);
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    if (name == "--hub") SETUP.hub = argv[i + 1];
    if (name == "--q47") SETUP.q47 = argv[i + 1];
    if (name == "--source") SETUP.source = argv[i + 1];
    if (name == "--database") SETUP.database = argv[i + 1];
  }
  if (SETUP.hub.empty() || SETUP.q47.empty() || SETUP.source.empty()) {
    std::fprintf(stderr, "usage: %s --hub Q47_HUB --q47 Q47 --source DIR [--database DB]\n",
                 argv[0]);
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  return RUN_ALL_TESTS();
}
