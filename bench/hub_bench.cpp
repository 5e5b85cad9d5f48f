// The hub under load, on this machine only: a real q47-hub started on a loopback port with a
// fresh SQLite database, then with a private PostgreSQL; many clients at once each make a
// player, submit winning runs of the built-in levels (one level each: "level runs") and read
// that level's histogram after every submission, then wait until each of their runs is
// verified. Reported: verified runs per second until the queue drained, the latency of a
// submission and of a histogram read (p50, p99, the longest), and every answer that was not a
// success. A plain program, not a test: the figures depend on the machine.
#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/digest.h"
#include "desktop/hub_client.h"

namespace {

using Clock = std::chrono::steady_clock;
using Json = nlohmann::json;

// What one run of the load was asked to do.
struct Load {
  std::string hub_program = Q47_HUB_PROGRAM;  // the q47-hub executable
  std::string replays_dir = Q47_REPLAYS_DIR;  // tests/replays: levelNN-win.q47r
  std::string pg_cluster = Q47_PG_CLUSTER;    // tests/hub/pg_cluster.sh
  int clients = 100;                          // concurrent clients
  int runs = 10000;                           // level runs submitted in all
  int workers = 0;                            // --workers for the hub; 0 = its default
  // --rate for the hub: every client comes from 127.0.0.1, which a limit per address would
  // throttle as one; 0 is no limit.
  std::string rate = "0";
  bool keep_alive = false;  // --keep-alive: each client keeps one connection open
  std::vector<std::string> stores = {"sqlite", "postgresql"};
};

// A winning run of one built-in level, ready to send.
struct LevelRun {
  int level;
  std::string body;  // the JSON of POST /api/runs
};

// What the clients measured.
struct Measured {
  std::mutex lock;
  std::vector<double> submit_ms;     // every submission's latency, acknowledged or not
  std::vector<double> histogram_ms;  // every histogram read's latency
  std::map<std::string, int> other;  // answers that were not a success: "POST /api/runs 429"
  int verified = 0;
  int refused = 0;
  int lost = 0;    // acknowledged runs the hub never settled in time
  int unsent = 0;  // runs a client could not send (no player, or a submission refused)
};

double percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t at = std::min(values.size() - 1, static_cast<size_t>(share * values.size()));
  return values[at];
}

double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A port on 127.0.0.1 that nothing listens on now.
int free_port() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    close(fd);
    return 0;
  }
  close(fd);
  return ntohs(address.sin_port);
}

// Runs a command and returns its standard output's first line (empty on failure).
std::string first_line_of(const std::string& command) {
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return {};
  char line[4096] = {};
  const bool got = std::fgets(line, sizeof line, pipe) != nullptr;
  const int status = pclose(pipe);
  if (!got || status != 0) return {};
  std::string text = line;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// Processor seconds (user and system) a process has used so far, from /proc; 0 when unknown.
double cpu_seconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The fields after the command's name, which may hold spaces, are counted from its ')'.
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i >= 14) ticks += std::atof(field.c_str());
  }
  return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The hub as a child process, stopped (SIGTERM, then waited for) when dropped.
struct HubProcess {
  pid_t pid = -1;
  ~HubProcess() {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
  }
};

bool start_hub(const Load& load, const std::string& database, const std::string& data_home,
               int port, HubProcess& hub) {
  std::vector<std::string> words = {load.hub_program, "--listen",
                                    "127.0.0.1:" + std::to_string(port), "--database", database};
  words.push_back("--rate");
  words.push_back(load.rate);
  if (load.workers > 0) {
    words.push_back("--workers");
    words.push_back(std::to_string(load.workers));
  }
  hub.pid = fork();
  if (hub.pid == 0) {
    setenv("XDG_DATA_HOME", data_home.c_str(), 1);
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    std::perror(argv[0]);
    _exit(127);
  }
  if (hub.pid < 0) return false;
  httplib::Client client("127.0.0.1", port);
  client.set_connection_timeout(1);
  for (int attempt = 0; attempt < 200; ++attempt) {
    if (const auto answer = client.Get("/api/packs?sort=newest&limit=1"); answer) return true;
    int status = 0;
    if (waitpid(hub.pid, &status, WNOHANG) == hub.pid) {
      hub.pid = -1;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

// One client: a player of its own, its share of the runs, a histogram read after each, then
// the wait for every run it sent.
void client_work(int port, int index, int share, bool keep_alive, const std::vector<LevelRun>& runs,
                 Measured& measured) {
  httplib::Client client("127.0.0.1", port);
  // Each client from an address of its own (all of 127.0.0.0/8 is this machine), as players
  // are: the hub's limits per address then hold each alone, not the whole load as one.
  client.set_interface("127.0.0." + std::to_string(10 + index % 200));
  // A connection per request by default, as players' occasional requests come: a hundred kept
  // connections would each hold one of the hub's threads between requests.
  client.set_keep_alive(keep_alive);
  // Headers and body go in separate writes; without this, each request waits out the
  // receiver's delayed acknowledgement (some 40 ms) on a fast network.
  client.set_tcp_nodelay(true);
  client.set_connection_timeout(10);
  client.set_read_timeout(60);
  std::vector<double> submit_ms;
  std::vector<double> histogram_ms;
  std::map<std::string, int> other;
  const auto note = [&other](const std::string& what, const httplib::Result& answer) {
    other[what + " " +
          (answer ? std::to_string(answer->status) : httplib::to_string(answer.error()))]++;
  };
  // A connection dropped before any answer is tried again, as a player's client would: no
  // player was made.
  const auto make_player = [&client, index] {
    return client.Post("/api/players", Json{{"name", "bench " + std::to_string(index)}}.dump(),
                       "application/json");
  };
  httplib::Result player = make_player();
  for (int attempt = 1; attempt < 5 && !player; ++attempt) {
    note("POST /api/players", player);
    player = make_player();
  }
  if (!player || player->status != 201) {
    if (player) note("POST /api/players", player);
    std::lock_guard<std::mutex> hold(measured.lock);
    for (const auto& [what, count] : other) measured.other[what] += count;
    measured.unsent += share;
    return;
  }
  const std::string key = Json::parse(player->body).value("key", std::string());
  const httplib::Headers auth = {{"Authorization", "Bearer " + key}};
  std::vector<std::string> sent;
  for (int i = 0; i < share; ++i) {
    const LevelRun& run = runs[(index + i) % runs.size()];
    for (;;) {
      const Clock::time_point start = Clock::now();
      const auto answer = client.Post("/api/runs", auth, run.body, "application/json");
      submit_ms.push_back(ms_since(start));
      if (answer && answer->status == 202) {
        const Json parsed = Json::parse(answer->body, nullptr, false);
        const Json id = parsed.is_object() ? parsed.value("run", Json()) : Json();
        sent.push_back(id.is_string() ? id.get<std::string>() : id.dump());
        break;
      }
      note("POST /api/runs", answer);
      // Slowed down by the hub: wait as told and try again; anything else is given up.
      if (!answer || answer->status != 429) break;
      const std::string wait = answer->get_header_value("Retry-After");
      std::this_thread::sleep_for(
          std::chrono::milliseconds(wait.empty() ? 100 : 1000 * std::atoi(wait.c_str())));
    }
    const std::string path = "/api/levels/builtin/" + std::to_string(run.level) + "/histogram";
    const Clock::time_point start = Clock::now();
    const auto histogram = client.Get(path, auth);
    histogram_ms.push_back(ms_since(start));
    if (!histogram || histogram->status != 200) note("GET histogram", histogram);
  }
  int verified = 0;
  int refused = 0;
  int lost = 0;
  const Clock::time_point deadline = Clock::now() + std::chrono::minutes(10);
  for (const std::string& id : sent) {
    for (;;) {
      const auto answer = client.Get("/api/runs/" + id);
      const Json parsed =
          answer && answer->status == 200 ? Json::parse(answer->body, nullptr, false) : Json();
      const std::string status = parsed.is_object() ? parsed.value("status", std::string()) : "";
      if (status == "verified") {
        ++verified;
        break;
      }
      if (status == "refused") {
        ++refused;
        break;
      }
      if (status != "queued") note("GET /api/runs/ID", answer);
      if (Clock::now() > deadline || (status != "queued" && answer)) {
        ++lost;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  std::lock_guard<std::mutex> hold(measured.lock);
  measured.submit_ms.insert(measured.submit_ms.end(), submit_ms.begin(), submit_ms.end());
  measured.histogram_ms.insert(measured.histogram_ms.end(), histogram_ms.begin(),
                               histogram_ms.end());
  for (const auto& [what, count] : other) measured.other[what] += count;
  measured.verified += verified;
  measured.refused += refused;
  measured.lost += lost;
  measured.unsent += share - static_cast<int>(sent.size());
}

// One load against one store; false when the hub could not be started.
bool run_load(const Load& load, const std::string& store, const std::vector<LevelRun>& runs) {
  const std::filesystem::path scratch = std::filesystem::temp_directory_path() /
                                        ("q47-hub-bench-" + std::to_string(getpid()) + "-" + store);
  std::filesystem::create_directories(scratch);
  // Others may need to pass through to the private PostgreSQL's socket, which it owns.
  std::filesystem::permissions(scratch, std::filesystem::perms::owner_all |
                                            std::filesystem::perms::others_exec |
                                            std::filesystem::perms::group_exec);
  std::string database = (scratch / "hub.db").string();
  const std::string cluster = (scratch / "pg").string();
  bool cluster_started = false;
  if (store == "postgresql") {
    database = first_line_of(load.pg_cluster + " start " + cluster);
    if (database.empty()) {
      std::fprintf(stderr, "hub_bench: the private PostgreSQL did not start\n");
      std::filesystem::remove_all(scratch);
      return false;
    }
    cluster_started = true;
  }
  bool ok = true;
  {
    HubProcess hub;
    const int port = free_port();
    if (!start_hub(load, database, (scratch / "data").string(), port, hub)) {
      std::fprintf(stderr, "hub_bench: %s did not start with --database %s\n",
                   load.hub_program.c_str(), database.c_str());
      ok = false;
    } else {
      Measured measured;
      std::vector<std::thread> clients;
      const Clock::time_point start = Clock::now();
      for (int i = 0; i < load.clients; ++i) {
        const int share = load.runs / load.clients + (i < load.runs % load.clients ? 1 : 0);
        clients.emplace_back(client_work, port, i, share, load.keep_alive, std::cref(runs),
                             std::ref(measured));
      }
      for (std::thread& client : clients) client.join();
      const double seconds = ms_since(start) / 1000;
      const double hub_cpu = cpu_seconds(hub.pid);
      std::printf(
          "%-10s  %d clients, %d level runs in %.1f s: %.0f verified runs/s (%d verified, "
          "%d refused, %d not settled, %d not sent)\n",
          store.c_str(), load.clients, load.runs, seconds, measured.verified / seconds,
          measured.verified, measured.refused, measured.lost, measured.unsent);
      std::printf("%-10s  submit    p50 %6.1f ms  p99 %6.1f ms  longest %6.1f ms  (%zu requests)\n",
                  "", percentile(measured.submit_ms, 0.5), percentile(measured.submit_ms, 0.99),
                  percentile(measured.submit_ms, 1.0), measured.submit_ms.size());
      std::printf("%-10s  histogram p50 %6.1f ms  p99 %6.1f ms  longest %6.1f ms  (%zu requests)\n",
                  "", percentile(measured.histogram_ms, 0.5),
                  percentile(measured.histogram_ms, 0.99), percentile(measured.histogram_ms, 1.0),
                  measured.histogram_ms.size());
      std::printf("%-10s  the hub used %.1f processor s: %.1f ms per verified run, all included\n",
                  "", hub_cpu, measured.verified ? 1000 * hub_cpu / measured.verified : 0.0);
      for (const auto& [what, count] : measured.other) {
        std::printf("%-10s  %d x %s\n", "", count, what.c_str());
      }
      std::fflush(stdout);
    }
  }
  if (cluster_started) {
    std::system((load.pg_cluster + " stop " + cluster).c_str());
  }
  std::filesystem::remove_all(scratch);
  return ok;
}

int usage(const char* problem) {
  if (problem) std::fprintf(stderr, "hub_bench: %s\n", problem);
  std::fprintf(
      stderr,
      "Usage: q47_bench_hub [--clients N] [--runs N] [--workers N] [--rate N] [--keep-alive]\n"
      "                     [--store sqlite|postgresql]\n"
      "                     [--hub PROGRAM] [--replays DIR]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  Load load;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "-h" || option == "--help") return usage(nullptr) - 2;
    if (option == "--keep-alive") {
      load.keep_alive = true;
      continue;
    }
    if (i + 1 >= argc) return usage(("option '" + option + "' needs a value").c_str());
    const std::string value = argv[++i];
    if (option == "--clients") {
      load.clients = std::max(1, std::atoi(value.c_str()));
    } else if (option == "--runs") {
      load.runs = std::max(1, std::atoi(value.c_str()));
    } else if (option == "--workers") {
      load.workers = std::max(0, std::atoi(value.c_str()));
    } else if (option == "--rate") {
      load.rate = value;
    } else if (option == "--store" && (value == "sqlite" || value == "postgresql")) {
      load.stores = {value};
    } else if (option == "--hub") {
      load.hub_program = value;
    } else if (option == "--replays") {
      load.replays_dir = value;
    } else {
      return usage(("unrecognized option '" + option + "' or value '" + value + "'").c_str());
    }
  }
  std::vector<LevelRun> runs;
  for (int level = 1; level <= 10; ++level) {
    char name[32];
    std::snprintf(name, sizeof name, "/level%02d-win.q47r", level);
    std::ifstream in(load.replays_dir + name, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    if (!in || bytes.str().empty()) {
      std::fprintf(stderr, "hub_bench: cannot read %s%s\n", load.replays_dir.c_str(), name);
      return 2;
    }
    runs.push_back(
        {level, Json{{"pack", "builtin"}, {"replay", base64_encode(bytes.str())}}.dump()});
  }
  int code = 0;
  for (const std::string& store : load.stores) {
    if (!run_load(load, store, runs)) code = 1;
  }
  return code;
}
