// Three q47-hub processes over one PostgreSQL database behind nginx running the shipped
// configuration (dist/q47-hub-nginx.conf, its ports and listening address changed), on
// 127.0.0.1 only. Clients from several loopback addresses, each with its own key, submit runs
// through the proxy; one process is killed with SIGKILL under that load; every run that was
// acknowledged must be verified by the others within a job's lease and 10 seconds. The proxy's
// own limits are checked on the way: a burst from one address is refused with 429 and the time
// to wait.
//   hub_proxy_tests --hub q47-hub --nginx nginx --config FILE --source DIR --database URL
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "core/digest.h"
#include "hub/store.h"
#include "tests/support/hub_process.h"

namespace fs = std::filesystem;
using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace {

struct Setup {
  std::string hub;       // q47-hub
  std::string nginx;     // nginx
  std::string config;    // dist/q47-hub-nginx.conf
  std::string source;    // the source tree
  std::string database;  // postgresql://...
};
Setup SETUP;

// How long a claimed run is held before another process may claim it (--lease).
constexpr int LEASE_SECONDS = 15;

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A port free on 127.0.0.1 now.
int free_port() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

// A child process running argv, ended with the object.
class Child {
 public:
  explicit Child(std::vector<std::string> args) {
    pid_ = fork();
    if (pid_ == 0) {
      std::vector<char*> argv;
      for (std::string& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
  }
  ~Child() { end(SIGTERM); }
  void end(int signal_number) {
    if (pid_ <= 0) return;
    kill(pid_, signal_number);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

struct Answer {
  int status = 0;  // 0: no answer
  std::string head;
  Json body;
};

// One request to port on a new connection made from the loopback address from.
Answer ask(int port, const std::string& from, const std::string& method, const std::string& path,
           const std::string& body = "", const std::string& key = "") {
  Answer answer;
  const int fd = loopback_connect(port, from);
  if (fd < 0) return answer;
  std::string request = method + " " + path + " HTTP/1.1\r\nHost: hub\r\nConnection: close\r\n";
  if (!key.empty()) request += "Authorization: Bearer " + key + "\r\n";
  request += "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
             "\r\n\r\n" + body;
  std::string got;
  if (write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
    char chunk[4096];
    pollfd wait{fd, POLLIN, 0};
    ssize_t n = 0;
    while (poll(&wait, 1, 10000) > 0 && (n = read(fd, chunk, sizeof chunk)) > 0) {
      got.append(chunk, static_cast<size_t>(n));
    }
  }
  close(fd);
  const size_t end = got.find("\r\n\r\n");
  if (got.rfind("HTTP/1.1 ", 0) != 0 || end == std::string::npos) return answer;
  answer.status = std::stoi(got.substr(9, 3));
  answer.head = got.substr(0, end);
  answer.body = Json::parse(got.substr(end + 4), nullptr, false);
  return answer;
}

// Waits until port takes connections; false after seconds.
bool wait_for(int port, double seconds) {
  const auto until = Clock::now() + std::chrono::duration<double>(seconds);
  while (Clock::now() < until) {
    if (ask(port, "127.0.0.1", "GET", "/api/packs").status != 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

TEST(HubProxy, ThreeProcessesOneKilledUnderLoad) {
  char name[] = "/tmp/q47-proxy-XXXXXX";
  const fs::path dir = mkdtemp(name);
  const int front = free_port();
  std::vector<int> ports = {free_port(), free_port(), free_port()};
  std::vector<std::unique_ptr<Child>> hubs;
  for (const int port : ports) {
    hubs.push_back(std::make_unique<Child>(std::vector<std::string>{
        SETUP.hub, "--listen", "127.0.0.1:" + std::to_string(port), "--database", SETUP.database,
        "--rate", "0", "--trust-proxy", "127.0.0.1", "--workers", "1", "--lease",
        std::to_string(LEASE_SECONDS)}));
  }
  // The shipped site, on our ports; nginx's own files in the folder.
  std::string site = read_file(SETUP.config);
  site = std::regex_replace(site, std::regex("listen 80;"),
                            "listen 127.0.0.1:" + std::to_string(front) + ";");
  site = std::regex_replace(site, std::regex("\n *listen \\[::\\]:80;"), "");
  for (int i = 0; i < 3; ++i) {
    site = std::regex_replace(site, std::regex("127\\.0\\.0\\.1:" + std::to_string(8048 + i)),
                              "127.0.0.1:" + std::to_string(ports[static_cast<size_t>(i)]));
  }
  ASSERT_NE(site.find(std::to_string(ports[2])), std::string::npos);
  std::ofstream(dir / "site.conf") << site;
  std::ofstream(dir / "nginx.conf")
      << (geteuid() == 0 ? "user root root;\n" : "") << "daemon off;\nworker_processes 1;\n"
      << "pid " << (dir / "nginx.pid").string() << ";\nerror_log " << (dir / "error.log").string()
      << " warn;\nevents { worker_connections 1024; }\nhttp {\n  access_log off;\n"
      << "  client_body_temp_path " << (dir / "body").string() << ";\n  proxy_temp_path "
      << (dir / "proxy").string() << ";\n  fastcgi_temp_path " << (dir / "fastcgi").string()
      << ";\n  uwsgi_temp_path " << (dir / "uwsgi").string() << ";\n  scgi_temp_path "
      << (dir / "scgi").string() << ";\n  include " << (dir / "site.conf").string() << ";\n}\n";
  Child nginx({SETUP.nginx, "-p", dir.string(), "-c", (dir / "nginx.conf").string()});
  for (const int port : ports) ASSERT_TRUE(wait_for(port, 20)) << "a hub did not start";
  ASSERT_TRUE(wait_for(front, 10)) << read_file(dir / "error.log");

  // The proxy's limit: a burst from one address past its allowance is told when to come back.
  int refused = 0;
  bool told_when = true;
  for (int i = 0; i < 150; ++i) {
    const Answer answer = ask(front, "127.0.0.3", "GET", "/api/packs");
    if (answer.status == 429) {
      ++refused;
      told_when = told_when && answer.head.find("Retry-After: 1") != std::string::npos;
    }
  }
  EXPECT_GT(refused, 0);
  EXPECT_TRUE(told_when);
  // And so is a burst of one key's requests, though each comes from an address of its own.
  int refused_key = 0;
  for (int i = 0; i < 150; ++i) {
    const std::string from = "127.0.3." + std::to_string(1 + i);
    refused_key += ask(front, from, "GET", "/api/packs", "", std::string(64, 'e')).status == 429;
  }
  EXPECT_GT(refused_key, 0);

  // Clients from twelve addresses, each its own player, submit level runs at up to the proxy's
  // rate: the verifying threads always have runs to take, and time to take them all.
  const std::string replay =
      base64_encode(read_file(fs::path(SETUP.source) / "tests/replays/level03-win.q47r"));
  const std::string body = Json{{"pack", "builtin"}, {"replay", replay}}.dump();
  std::mutex lock;
  std::vector<int64_t> acknowledged;
  std::atomic<bool> stop{false};
  std::vector<std::thread> clients;
  for (int i = 0; i < 12; ++i) {
    clients.emplace_back([&, i] {
      const std::string from = "127.0.0." + std::to_string(10 + i);
      const Answer made = ask(front, from, "POST", "/api/players",
                              Json{{"name", "Loader " + std::to_string(i)}}.dump());
      const std::string key = made.body.is_object() ? made.body.value("key", "") : "";
      if (key.empty()) return;
      while (!stop) {
        const Answer sent = ask(front, from, "POST", "/api/runs", body, key);
        if (sent.status == 202 && sent.body.is_object()) {
          std::lock_guard guard(lock);
          acknowledged.push_back(sent.body.value("run", int64_t{0}));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(sent.status == 429 ? 200 : 20));
      }
    });
  }
  std::this_thread::sleep_for(std::chrono::seconds(3));
  hubs[0]->end(SIGKILL);
  const auto killed = Clock::now();
  // Runs were waiting when the process died, or the kill proves nothing.
  std::vector<int64_t> recent;
  {
    std::lock_guard guard(lock);
    recent.assign(acknowledged.end() - std::min<size_t>(acknowledged.size(), 30),
                  acknowledged.end());
  }
  int waiting = 0;
  for (const int64_t run : recent) {
    const Answer seen = ask(front, "127.0.2." + std::to_string(1 + run % 200), "GET",
                            "/api/runs/" + std::to_string(run));
    waiting += seen.body.is_object() && seen.body.value("status", "") == RUN_QUEUED ? 1 : 0;
  }
  EXPECT_GT(waiting, 0) << "no run was waiting for its verdict at the kill";
  std::this_thread::sleep_for(std::chrono::seconds(1));
  stop = true;
  for (std::thread& client : clients) client.join();
  ASSERT_GT(acknowledged.size(), 100u);
  std::printf("%zu runs acknowledged through the proxy, one process of three killed\n",
              acknowledged.size());

  // Every acknowledged run is verified by the processes left, in time.
  const auto deadline = killed + std::chrono::seconds(LEASE_SECONDS + 10);
  size_t verified = 0;
  std::vector<int64_t> late;
  for (const int64_t run : acknowledged) {
    std::string status;
    for (;;) {
      // Read from many addresses, so that the proxy's limit per address does not slow the count.
      const std::string from = "127.0.1." + std::to_string(1 + run % 200);
      const Answer seen = ask(front, from, "GET", "/api/runs/" + std::to_string(run));
      status = seen.body.is_object() ? seen.body.value("status", "") : "";
      if (status == RUN_VERIFIED || status == RUN_REFUSED || Clock::now() > deadline) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (status == RUN_VERIFIED) {
      ++verified;
    } else if (late.size() < 5) {
      late.push_back(run);
    }
  }
  std::printf("%zu of them verified %.1f s after the kill (the lease: %d s)\n", verified,
              std::chrono::duration<double>(Clock::now() - killed).count(), LEASE_SECONDS);
  EXPECT_EQ(verified, acknowledged.size())
      << "runs not verified within the lease and 10 s, the first: "
      << ::testing::PrintToString(late);
  nginx.end(SIGQUIT);
  hubs.clear();
  fs::remove_all(dir);
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  const std::map<std::string, std::string*> OPTIONS = {{"--hub", &SETUP.hub},
                                                       {"--nginx", &SETUP.nginx},
                                                       {"--config", &SETUP.config},
                                                       {"--source", &SETUP.source},
                                                       {"--database", &SETUP.database}};
  for (int i = 1; i + 1 < argc; i += 2) {
    const auto option = OPTIONS.find(argv[i]);
    if (option == OPTIONS.end()) {
      std::fprintf(stderr, "hub_proxy_tests: unknown option %s\n", argv[i]);
      return 2;
    }
    *option->second = argv[i + 1];
  }
  for (const auto& [name, value] : OPTIONS) {
    if (value->empty()) {
      std::fprintf(stderr, "hub_proxy_tests: %s is needed\n", name.c_str());
      return 2;
    }
  }
  signal(SIGPIPE, SIG_IGN);
  return RUN_ALL_TESTS();
}
