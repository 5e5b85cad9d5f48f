// The hub under load, on this machine only: a real q47-hub started on a loopback port with a
// fresh SQLite database, then with a private PostgreSQL; many clients at once each make a
// player, submit winning runs of the built-in levels (one level each: "level runs") and read
// that level's histogram after every submission, then wait until each of their runs is
// verified. Reported: verified runs per second until the queue drained, the latency of a
// submission and of a histogram read (p50, p99, the longest), and every answer that was not a
// success. With --pack-lists yes, only the processor time of a pack list over a store filled
// directly with 1,000 packs, at 1,000 and at 100,000 verified runs. A plain program, not a test:
// the figures depend on the machine.
#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/digest.h"
#include "core/level_stream.h"
#include "core/replay_codec.h"
#include "core/run.h"
#include "desktop/hub_client.h"
#include "hub/store.h"

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
  std::vector<std::string> stores = {"sqlite", "postgresql"};
  bool pack_lists = false;  // only the pack lists' row: 1,000 packs at 1,000 and 100,000 runs
};

// A winning run of one built-in level, ready to send.
struct LevelRun {
  int level;
  std::string body;    // the JSON of POST /api/runs
  std::string replay;  // the replay file's bytes
};

// What the clients measured.
struct Measured {
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

// The verification limit of this machine at this moment: the same runs re-run by the rules
// alone (decoded and run, nothing else) on two threads for about two seconds, in runs a second.
// The hub's verified runs a second are shown as a share of it, both measured in the same run
// of the bench so that a busy machine lowers both.
double rules_limit(const std::vector<LevelRun>& runs) {
  std::atomic<int> done{0};
  const Clock::time_point start = Clock::now();
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&, t] {
      for (int i = t; ms_since(start) < 2000; i += 2) {
        const std::string& bytes = runs[static_cast<size_t>(i) % runs.size()].replay;
        Replay replay;
        std::string error;
        if (!replay_decode(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), replay,
                           error)) {
          return;
        }
        if (run_replay(replay, level_stream_builtin(), RunLimits{}).matches) done += 1;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  return done / (ms_since(start) / 1000);
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

// A process's /proc stat fields from the third on (state, parent, ...), counted after the
// command's name, which may hold spaces; empty when the process is gone.
std::vector<std::string> stat_fields(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');
  std::vector<std::string> fields;
  if (close == std::string::npos) return fields;
  std::istringstream words(text.substr(close + 2));
  for (std::string word; words >> word;) fields.push_back(word);
  return fields;
}

// Processor seconds (user and system) a process has used so far, with its children that
// ended when children; 0 when unknown.
double cpu_seconds(pid_t pid, bool children = false) {
  const std::vector<std::string> fields = stat_fields(pid);
  if (fields.size() < 15) return 0;
  // Fields 14 to 17 (utime, stime, cutime, cstime) stand at 11 to 14 here.
  double ticks = std::atof(fields[11].c_str()) + std::atof(fields[12].c_str());
  if (children) ticks += std::atof(fields[13].c_str()) + std::atof(fields[14].c_str());
  return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Processor seconds a PostgreSQL server (its data folder's postmaster and the server processes
// it started, ended or not) has used so far; 0 when unknown.
double server_cpu_seconds(const std::string& data_folder) {
  std::ifstream pid_file(data_folder + "/postmaster.pid");
  pid_t postmaster = 0;
  if (!(pid_file >> postmaster) || postmaster <= 0) return 0;
  double seconds = cpu_seconds(postmaster, true);
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t pid = static_cast<pid_t>(std::atoi(name.c_str()));
    const std::vector<std::string> fields = stat_fields(pid);
    if (fields.size() > 1 && std::atoi(fields[1].c_str()) == postmaster)
      seconds += cpu_seconds(pid);
  }
  return seconds;
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

// The clients. One thread drives them all over non-blocking sockets, as load generators do:
// a hundred client threads on the hub's own two processors spent a third of them on their own
// switching, and a reply that had arrived waited for its thread's turn before it was timed.
// Each client is a player of its own: it makes its player, then for each of its runs submits it
// and reads that level's histogram, then asks after each run until it is settled. Every request
// is a connection of its own ("Connection: close"), as players' occasional requests come.
class Clients {
 public:
  Clients(int port, const Load& load, const std::vector<LevelRun>& runs, Measured& measured)
      : port_(port), runs_(runs), measured_(measured) {
    for (int i = 0; i < load.clients; ++i) {
      Client client;
      client.index = i;
      client.share = load.runs / load.clients + (i < load.runs % load.clients ? 1 : 0);
      clients_.push_back(std::move(client));
    }
  }

  // Runs every client to its end; false when the event loop itself failed.
  bool run() {
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    if (epoll_ < 0) return false;
    for (Client& client : clients_) ask(client);
    std::vector<epoll_event> events(clients_.size() + 1);
    while (unfinished()) {
      const Clock::time_point now = Clock::now();
      int wait_ms = 1000;
      for (Client& client : clients_) {
        if (client.step == Step::DONE || client.fd >= 0) continue;
        if (client.wake <= now) {
          ask(client);
        } else {
          wait_ms = std::min<int>(
              wait_ms, static_cast<int>(
                           std::chrono::duration_cast<std::chrono::milliseconds>(client.wake - now)
                               .count()) +
                           1);
        }
      }
      const int ready = epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), wait_ms);
      if (ready < 0 && errno != EINTR) return false;
      for (int i = 0; i < ready; ++i) serve(clients_[events[i].data.u32], events[i].events);
    }
    close(epoll_);
    return true;
  }

 private:
  enum class Step { PLAYER, SUBMIT, HISTOGRAM, POLL, DONE };

  struct Client {
    int index = 0;
    int share = 0;  // runs it submits
    Step step = Step::PLAYER;
    int attempts = 0;              // tries of the current request
    int submitted = 0;             // runs submitted (or given up)
    std::string key;               // the player's key
    std::vector<std::string> ids;  // acknowledged runs
    size_t settled = 0;            // runs of ids the hub has settled
    std::chrono::milliseconds pause{50};
    Clock::time_point wake{};      // when to send the next request
    Clock::time_point deadline{};  // when to stop waiting for the runs
    // The request on the wire.
    int fd = -1;
    std::string out;
    size_t written = 0;
    std::string in;
    Clock::time_point started{};
    std::map<std::string, int> other;
    std::vector<double> submit_ms;
    std::vector<double> histogram_ms;
    int verified = 0;
    int refused = 0;
    int lost = 0;
  };

  bool unfinished() const {
    for (const Client& client : clients_)
      if (client.step != Step::DONE) return true;
    return false;
  }

  // The request the client's step calls for, on a new connection.
  void ask(Client& client) {
    std::string method = "GET";
    std::string path;
    std::string body;
    switch (client.step) {
      case Step::PLAYER:
        method = "POST";
        path = "/api/players";
        body = Json{{"name", "bench " + std::to_string(client.index)}}.dump();
        break;
      case Step::SUBMIT:
        method = "POST";
        path = "/api/runs";
        body = run_of(client).body;
        break;
      case Step::HISTOGRAM:
        path = "/api/levels/builtin/" + std::to_string(run_of(client).level) + "/histogram";
        break;
      case Step::POLL:
        path = "/api/runs/" + client.ids[client.settled];
        break;
      case Step::DONE:
        return;
    }
    client.out = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) +
                 "\r\nConnection: close\r\n";
    if (!client.key.empty()) client.out += "Authorization: Bearer " + client.key + "\r\n";
    if (method == "POST") {
      client.out +=
          "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
          "\r\n";
    }
    client.out += "\r\n" + body;
    client.written = 0;
    client.in.clear();
    client.started = Clock::now();
    client.fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (client.fd < 0) return answered(client, 0, "socket failed");
    // Each client from an address of its own (all of 127.0.0.0/8 is this machine), as players
    // are: the hub's limits per address then hold each alone, not the whole load as one.
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(0x7f000000u | static_cast<uint32_t>(10 + client.index % 200));
    const int yes = 1;
    setsockopt(client.fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<uint16_t>(port_));
    if (bind(client.fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        (connect(client.fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 &&
         errno != EINPROGRESS)) {
      return hang_up(client, "connect failed");
    }
    epoll_event event{};
    event.events = EPOLLOUT | EPOLLIN | EPOLLRDHUP;
    event.data.u32 = static_cast<uint32_t>(client.index);
    epoll_ctl(epoll_, EPOLL_CTL_ADD, client.fd, &event);
  }

  void serve(Client& client, uint32_t events) {
    if (client.fd < 0) return;
    if ((events & EPOLLOUT) && client.written < client.out.size()) {
      const ssize_t sent = send(client.fd, client.out.data() + client.written,
                                client.out.size() - client.written, MSG_NOSIGNAL);
      if (sent < 0 && errno != EAGAIN) return hang_up(client, "send failed");
      if (sent > 0) client.written += static_cast<size_t>(sent);
      if (client.written == client.out.size()) {
        epoll_event event{};
        event.events = EPOLLIN | EPOLLRDHUP;
        event.data.u32 = static_cast<uint32_t>(client.index);
        epoll_ctl(epoll_, EPOLL_CTL_MOD, client.fd, &event);
      }
    }
    if (events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) {
      char buffer[16384];
      for (;;) {
        const ssize_t got = recv(client.fd, buffer, sizeof buffer, 0);
        if (got > 0) {
          client.in.append(buffer, static_cast<size_t>(got));
          continue;
        }
        if (got < 0 && errno == EAGAIN) return;
        if (got < 0) return hang_up(client, "connection reset");
        break;  // the hub closed: the whole answer is in
      }
      close(client.fd);
      client.fd = -1;
      const double ms = ms_since(client.started);
      // "HTTP/1.1 200 OK\r\n...\r\n\r\nbody"
      const size_t end = client.in.find("\r\n\r\n");
      if (client.in.compare(0, 5, "HTTP/") != 0 || end == std::string::npos) {
        return answered(client, 0, "no answer", ms);
      }
      const int status = std::atoi(client.in.c_str() + client.in.find(' ') + 1);
      std::string retry_after;
      const size_t retry = client.in.find("\r\nRetry-After: ");
      if (retry != std::string::npos && retry < end) {
        retry_after = client.in.substr(retry + 15, client.in.find("\r\n", retry + 2) - retry - 15);
      }
      answered(client, status, client.in.substr(end + 4), ms, retry_after);
    }
  }

  void hang_up(Client& client, const std::string& why) {
    if (client.fd >= 0) close(client.fd);
    client.fd = -1;
    answered(client, 0, why, ms_since(client.started));
  }

  const LevelRun& run_of(const Client& client) const {
    return runs_[static_cast<size_t>(client.index + client.submitted) % runs_.size()];
  }

  // The answer to the client's request (status 0: none came, body says why): the next step.
  void answered(Client& client, int status, const std::string& body, double ms = 0,
                const std::string& retry_after = "") {
    const auto note = [&](const std::string& what) {
      client.other[what + " " + (status ? std::to_string(status) : body)]++;
    };
    const Json parsed = status ? Json::parse(body, nullptr, false) : Json();
    const Clock::time_point now = Clock::now();
    client.wake = now;
    switch (client.step) {
      case Step::PLAYER:
        if (status == 201 && parsed.is_object()) {
          client.key = parsed.value("key", std::string());
          client.step = client.share ? Step::SUBMIT : Step::DONE;
          return;
        }
        note("POST /api/players");
        // A connection dropped before any answer is tried again, as a player's client would.
        if (status == 0 && ++client.attempts < 5) return;
        client.step = Step::DONE;
        return finish(client);
      case Step::SUBMIT:
        client.submit_ms.push_back(ms);
        if (status == 202 && parsed.is_object()) {
          const Json id = parsed.value("run", Json());
          client.ids.push_back(id.is_string() ? id.get<std::string>() : id.dump());
        } else {
          note("POST /api/runs");
          // Slowed down by the hub: wait as told and try again; anything else is given up.
          if (status == 429) {
            client.wake =
                now + std::chrono::milliseconds(
                          retry_after.empty() ? 100 : 1000 * std::atoi(retry_after.c_str()));
            return;
          }
        }
        client.step = Step::HISTOGRAM;
        return;
      case Step::HISTOGRAM:
        client.histogram_ms.push_back(ms);
        if (status != 200) note("GET histogram");
        if (++client.submitted < client.share) {
          client.step = Step::SUBMIT;
          return;
        }
        client.deadline = now + std::chrono::minutes(10);
        client.step = client.ids.empty() ? Step::DONE : Step::POLL;
        if (client.step == Step::DONE) finish(client);
        return;
      case Step::POLL: {
        const std::string run_status =
            parsed.is_object() ? parsed.value("status", std::string()) : "";
        // No answer at all (a dropped connection) is asked again too.
        if (status == 0) note("GET /api/runs/ID");
        if ((run_status == "queued" || status == 0) && now < client.deadline) {
          // Asked again after a pause that doubles up to a second, as the game's --submit
          // asks: clients asking every few milliseconds would take the processor from the very
          // verification they wait for.
          client.wake = now + client.pause;
          client.pause = std::min(client.pause * 2, std::chrono::milliseconds(1000));
          return;
        }
        if (run_status == "verified") {
          ++client.verified;
        } else if (run_status == "refused") {
          ++client.refused;
        } else {
          if (run_status != "queued" && status != 0) note("GET /api/runs/ID");
          ++client.lost;
        }
        client.pause = std::chrono::milliseconds(50);
        if (++client.settled == client.ids.size()) {
          client.step = Step::DONE;
          finish(client);
        }
        return;
      }
      case Step::DONE:
        return;
    }
  }

  void finish(Client& client) {
    Measured& measured = measured_;
    measured.submit_ms.insert(measured.submit_ms.end(), client.submit_ms.begin(),
                              client.submit_ms.end());
    measured.histogram_ms.insert(measured.histogram_ms.end(), client.histogram_ms.begin(),
                                 client.histogram_ms.end());
    for (const auto& [what, count] : client.other) measured.other[what] += count;
    measured.verified += client.verified;
    measured.refused += client.refused;
    measured.lost += client.lost;
    measured.unsent += client.share - static_cast<int>(client.ids.size());
  }

  const int port_;
  const std::vector<LevelRun>& runs_;
  Measured& measured_;
  std::vector<Client> clients_;
  int epoll_ = -1;
};

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
      Clients clients(port, load, runs, measured);
      const double clients_before = cpu_seconds(getpid());
      const double server_before = cluster_started ? server_cpu_seconds(cluster + "/data") : 0;
      const Clock::time_point start = Clock::now();
      if (!clients.run()) std::perror("hub_bench: epoll");
      const double seconds = ms_since(start) / 1000;
      const double hub_cpu = cpu_seconds(hub.pid);
      const double limit = rules_limit(runs);
      const double clients_cpu = cpu_seconds(getpid()) - clients_before;
      const double server_cpu =
          cluster_started ? server_cpu_seconds(cluster + "/data") - server_before : 0;
      std::printf(
          "%-10s  %d clients, %d level runs in %.1f s: %.0f verified runs/s (%d verified, "
          "%d refused, %d not settled, %d not sent)\n",
          store.c_str(), load.clients, load.runs, seconds, measured.verified / seconds,
          measured.verified, measured.refused, measured.lost, measured.unsent);
      std::printf("%-10s  the rules alone on two threads: %.0f runs/s; the hub reached %.0f %%\n",
                  "", limit, limit > 0 ? 100 * measured.verified / seconds / limit : 0.0);
      std::printf("%-10s  submit    p50 %6.1f ms  p99 %6.1f ms  longest %6.1f ms  (%zu requests)\n",
                  "", percentile(measured.submit_ms, 0.5), percentile(measured.submit_ms, 0.99),
                  percentile(measured.submit_ms, 1.0), measured.submit_ms.size());
      std::printf("%-10s  histogram p50 %6.1f ms  p99 %6.1f ms  longest %6.1f ms  (%zu requests)\n",
                  "", percentile(measured.histogram_ms, 0.5),
                  percentile(measured.histogram_ms, 0.99), percentile(measured.histogram_ms, 1.0),
                  measured.histogram_ms.size());
      std::printf(
          "%-10s  the hub used %.1f processor s: %.1f ms per verified run, all included; "
          "the clients %.1f s\n",
          "", hub_cpu, measured.verified ? 1000 * hub_cpu / measured.verified : 0.0, clients_cpu);
      if (cluster_started) {
        std::printf("%-10s  PostgreSQL's processes used %.1f processor s: %.1f ms per run\n", "",
                    server_cpu, measured.verified ? 1000 * server_cpu / measured.verified : 0.0);
      }
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

// Processor time of one pack list (the first page, most played first: the order that counted
// players per pack) over a SQLite store filled directly with 1,000 packs and runs verified
// runs on them, in ms: the mean of many lists.
double pack_list_ms(const std::filesystem::path& folder, int64_t runs) {
  std::string error;
  std::unique_ptr<Store> store = store_open_sqlite((folder / "lists.sqlite3").string(), error);
  if (!store) {
    std::fprintf(stderr, "hub_bench: %s\n", error.c_str());
    return -1;
  }
  std::vector<int64_t> players;
  for (int i = 0; i < 200; ++i) {
    players.push_back(store->add_player("p" + std::to_string(i), sha256_hex(std::to_string(i)), 1));
  }
  std::vector<std::string> packs;
  for (int i = 0; i < 1000; ++i) {
    StorePack pack;
    pack.id = sha256_hex("pack " + std::to_string(i));
    pack.author = players[static_cast<size_t>(i) % players.size()];
    pack.title = pack.first_line = "Pack " + std::to_string(i);
    pack.published = 100 + i;
    pack.levels = 1;
    pack.text = "pack " + std::to_string(i);
    store->add_pack(pack, {StoreLevel{1, 100, 4, 90}});
    packs.push_back(pack.id);
  }
  for (int64_t i = 0; i < runs; ++i) {
    StoreRun verdict;
    verdict.player = players[static_cast<size_t>(i * 7) % players.size()];
    verdict.pack = packs[static_cast<size_t>(i) % packs.size()];
    verdict.id = store->add_run(verdict.player, verdict.pack, {0}, 2000, "");
    verdict.status = RUN_VERIFIED;
    verdict.levels = {{1, static_cast<int32_t>(i % 90)}};
    store->finish_run(verdict);
  }
  auto thread_seconds = [] {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
  };
  const int lists = 200;
  const double began = thread_seconds();
  for (int i = 0; i < lists; ++i) store->list_packs(PackOrder::PLAYED, 0, 0, 50);
  return (thread_seconds() - began) * 1000 / lists;
}

int usage(const char* problem) {
  if (problem) std::fprintf(stderr, "hub_bench: %s\n", problem);
  std::fprintf(stderr,
               "Usage: q47_bench_hub [--clients N] [--runs N] [--workers N] [--rate N]\n"
               "                     [--store sqlite|postgresql] [--pack-lists yes]\n"
               "                     [--hub PROGRAM] [--replays DIR]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  Load load;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "-h" || option == "--help") return usage(nullptr) - 2;
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
    } else if (option == "--pack-lists") {
      load.pack_lists = value == "yes";
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
    runs.push_back({level, Json{{"pack", "builtin"}, {"replay", base64_encode(bytes.str())}}.dump(),
                    bytes.str()});
  }
  if (load.pack_lists) {
    double ms[2] = {0, 0};
    const int64_t counts[2] = {1000, 100000};
    for (int i = 0; i < 2; ++i) {
      const std::filesystem::path folder =
          std::filesystem::temp_directory_path() / ("q47-bench-lists-" + std::to_string(getpid()));
      std::filesystem::create_directories(folder);
      ms[i] = pack_list_ms(folder, counts[i]);
      std::filesystem::remove_all(folder);
      if (ms[i] < 0) return 1;
    }
    std::printf("pack list, 1,000 packs: %.2f ms at 1,000 runs, %.2f ms at 100,000 (%.2fx)\n",
                ms[0], ms[1], ms[1] / ms[0]);
    return 0;
  }
  int code = 0;
  for (const std::string& store : load.stores) {
    if (!run_load(load, store, runs)) code = 1;
  }
  return code;
}
