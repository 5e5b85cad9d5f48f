// The hub's doors: how its listener reads targets and finds files, then the real q47-hub on a
// free port of 127.0.0.1 against slow, silent and flooding clients, heads that are too large,
// bodies whose length reads two ways, and more connections than it keeps.
//   hub_doors_tests --hub q47-hub [gtest options]
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "hub/server.h"
#include "tests/support/hub_process.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::string HUB_PROGRAM;  // the q47-hub executable

TEST(HubDoors, TargetsAndFiles) {
  struct Case {
    const char* target;
    bool ok;
    const char* path;
    std::map<std::string, std::string> query;
  };
  const Case CASES[] = {
      {"/api/packs?sort=new&page=2", true, "/api/packs", {{"sort", "new"}, {"page", "2"}}},
      {"/api/players/a%20b?x=1+2&x=3&&y", true, "/api/players/a b", {{"x", "1 2"}, {"y", ""}}},
      {"/a+b?q=%3d%26", true, "/a+b", {{"q", "=&"}}},
      {"http://example.com/api/packs", false, "", {}},
      {"*", false, "", {}},
      {"", false, "", {}},
      {"/api/%zz", false, "", {}},
      {"/api/%4", false, "", {}},
      {"/api/%00", false, "", {}},
      {"/api?name=%", false, "", {}},
  };
  for (const Case& c : CASES) {
    std::string path;
    std::map<std::string, std::string> query;
    ASSERT_EQ(server_target(c.target, path, query), c.ok) << c.target;
    if (!c.ok) continue;
    EXPECT_EQ(path, c.path) << c.target;
    EXPECT_EQ(query, c.query) << c.target;
  }
  EXPECT_EQ(server_file("/srv/page", "/"), "/srv/page/index.html");
  EXPECT_EQ(server_file("/srv/page", "/js/./a.js"), "/srv/page/js/a.js");
  EXPECT_EQ(server_file("/srv/page", "//x//"), "/srv/page/x/index.html");
  EXPECT_EQ(server_file("/srv/page", "//./."), "/srv/page/index.html");
  EXPECT_EQ(server_file("/srv/page", "/x/."), "/srv/page/x/index.html");
  for (const char* path : {"/../etc/passwd", "/a/../../b", "/.git/config", "/a\\..\\b", "x", ""}) {
    EXPECT_EQ(server_file("/srv/page", path), "") << path;
  }
  // A proxy's X-Forwarded-For counts only from the proxy.
  EXPECT_EQ(server_request("GET", "/", {}, "", "203.0.113.9", "127.0.0.1", "127.0.0.1", "").address,
            "203.0.113.9");
  EXPECT_EQ(server_request("GET", "/", {}, "", "203.0.113.9", "10.0.0.2", "127.0.0.1", "").address,
            "10.0.0.2");
}

// One q47-hub on a fresh SQLite file, ended with the object.
class RunningHub {
 public:
  explicit RunningHub(std::vector<std::string> extra = {}) {
    char name[] = "/tmp/q47-doors-XXXXXX";
    dir_ = mkdtemp(name);
    std::vector<std::string> args = {
        HUB_PROGRAM, "--listen", "127.0.0.1:0", "--database", (dir_ / "hub.sqlite3").string(),
        "--rate",    "0"};
    args.insert(args.end(), extra.begin(), extra.end());
    port = hub_spawn(args, pid_);
  }
  ~RunningHub() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    fs::remove_all(dir_);
  }
  int port = 0;

 private:
  pid_t pid_ = -1;
  fs::path dir_;
};

// What fd reads until the hub closes it or seconds pass.
std::string read_all(int fd, double seconds) {
  std::string got;
  const auto until = Clock::now() + std::chrono::duration<double>(seconds);
  char chunk[4096];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
    pollfd wait{fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&wait, 1, static_cast<int>(left.count())) <= 0) break;
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n <= 0) break;
    got.append(chunk, static_cast<size_t>(n));
  }
  return got;
}

// Sends request on a new connection and reads the answer until the hub closes it.
std::string ask(int port, const std::string& request, double seconds = 5) {
  const int fd = loopback_connect(port);
  if (fd < 0) return "";
  if (write(fd, request.data(), request.size()) < 0) {
    close(fd);
    return "";
  }
  shutdown(fd, SHUT_WR);
  std::string answer = read_all(fd, seconds);
  close(fd);
  return answer;
}

// The status of the first answer in text, 0 when there is none.
int status_of(const std::string& text, size_t from = 0) {
  const size_t at = text.find("HTTP/1.", from);
  return at == std::string::npos || at + 12 > text.size() ? 0 : std::stoi(text.substr(at + 9, 3));
}

bool closed_by_peer(int fd) {
  pollfd wait{fd, POLLIN, 0};
  if (poll(&wait, 1, 0) <= 0) return false;
  char c = 0;
  return recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT) == 0 || (wait.revents & (POLLHUP | POLLERR));
}

const std::string GET = "GET /api/packs HTTP/1.1\r\nHost: hub\r\nConnection: close\r\n\r\n";

// How each malformed or oversized request is answered, and that the hub serves on after each.
TEST(HubDoors, HeadsAreBoundedAndABodysLengthIsReadOnce) {
  RunningHub hub;
  std::string many_fields = "GET /api/packs HTTP/1.1\r\nHost: hub\r\n";
  for (size_t i = 0; i < SERVER_HEAD_FIELDS + 1; ++i)
    many_fields += "X-" + std::to_string(i) + ": 1\r\n";
  const std::string post = "POST /api/players HTTP/1.1\r\nHost: hub\r\n";
  const struct {
    std::string request;
    int status;
  } CASES[] = {
      {GET, 200},
      {many_fields + "\r\n", 431},
      {"GET /api/packs HTTP/1.1\r\nHost: hub\r\nX-Big: " + std::string(SERVER_HEAD_BYTES, 'a') +
           "\r\n\r\n",
       431},
      {post + "Content-Length: 2\r\nContent-Length: 3\r\n\r\n{}}", 400},
      {post + "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 400},
      {post + "Transfer-Encoding: chunked\r\nContent-Length: 5\r\n\r\n0\r\n\r\n", 400},
      {post + "Content-Length: -1\r\n\r\n", 400},
      {post + "Content-Length: " + std::to_string(HUB_BODY_MAX + 1) + "\r\n\r\n", 413},
      {post + "Content-Length: " + std::to_string(HubLimits{}.small_body + 1) + "\r\n\r\n", 413},
      {post + "Transfer-Encoding: chunked\r\n\r\n2000\r\n" + std::string(0x2000, ' ') +
           "\r\n0\r\n\r\n",
       413},
      {post + "Transfer-Encoding: chunked\r\n\r\ne\r\n{\"name\":\"Kim\"}\r\n0\r\n\r\n", 201},
      {"GET /api/%zz HTTP/1.1\r\nHost: hub\r\n\r\n", 400},
      {"GET http://elsewhere/api/packs HTTP/1.1\r\nHost: hub\r\n\r\n", 400},
      {"BREW /api/packs HTTP/1.1\r\nHost: hub\r\n\r\n", 405},
      {"PUT /hub.js HTTP/1.1\r\nHost: hub\r\nContent-Length: 0\r\n\r\n", 405},
      {"GET /../CMakeLists.txt HTTP/1.1\r\nHost: hub\r\n\r\n", 404},
      {"GET / HTTP/1.0\r\n\r\n", 200},
  };
  for (const auto& c : CASES) {
    const std::string answer = ask(hub.port, c.request);
    EXPECT_EQ(status_of(answer), c.status) << c.request.substr(0, 80);
    if (status_of(answer) != 0) {
      EXPECT_NE(answer.find("Content-Security-Policy: "), std::string::npos);
      EXPECT_NE(answer.find("X-Content-Type-Options: nosniff"), std::string::npos);
    }
  }
  // Two requests sent at once are answered in turn on the connection; one that asks to be told
  // before it sends its body is told, then answered.
  const std::string kept = "GET /api/packs HTTP/1.1\r\nHost: hub\r\n\r\n";
  const std::string two = ask(hub.port, kept + GET);
  EXPECT_EQ(status_of(two), 200);
  EXPECT_EQ(status_of(two, two.find("HTTP/1.1", 1)), 200);
  const int asking = loopback_connect(hub.port);
  const std::string head = post + "Expect: 100-continue\r\nContent-Length: 14\r\n\r\n";
  ASSERT_EQ(write(asking, head.data(), head.size()), static_cast<ssize_t>(head.size()));
  EXPECT_EQ(status_of(read_all(asking, 2)), 100);
  ASSERT_EQ(write(asking, "{\"name\": \"Jo\"}", 14), 14);
  EXPECT_EQ(status_of(read_all(asking, 2)), 201);
  close(asking);
  // A kept connection carries a bounded number of requests, then is closed.
  const int busy = loopback_connect(hub.port);
  std::string requests;
  for (int i = 0; i < SERVER_REQUESTS_PER_CONNECTION + 5; ++i) requests += kept;
  ASSERT_EQ(write(busy, requests.data(), requests.size()), static_cast<ssize_t>(requests.size()));
  const std::string answers = read_all(busy, 10);
  close(busy);
  size_t count = 0;
  for (size_t at = answers.find("HTTP/1.1 200"); at != std::string::npos;
       at = answers.find("HTTP/1.1 200", at + 1)) {
    ++count;
  }
  EXPECT_EQ(count, static_cast<size_t>(SERVER_REQUESTS_PER_CONNECTION));
  EXPECT_NE(answers.rfind("Connection: close"), std::string::npos);
}

// A client that sends header lines without end is refused once its head is too large; the hub
// does not grow with it and serves others meanwhile.
TEST(HubDoors, EndlessHeaderLinesAreRefused) {
  RunningHub hub;
  const int flood = loopback_connect(hub.port);
  const std::string start = "GET /api/packs HTTP/1.1\r\nHost: hub\r\n";
  ASSERT_EQ(write(flood, start.data(), start.size()), static_cast<ssize_t>(start.size()));
  const std::string line = "X-Flood: " + std::string(40, 'f') + "\r\n";
  size_t sent = 0;
  fcntl(flood, F_SETFL, O_NONBLOCK);
  const auto until = Clock::now() + std::chrono::seconds(5);
  while (Clock::now() < until && sent < (64u << 20)) {
    const ssize_t n = send(flood, line.data(), line.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EAGAIN) {
      // A client that reads its answer once there is one, as a real one would.
      pollfd wait{flood, POLLIN, 0};
      if (poll(&wait, 1, 5) > 0) break;
      continue;
    }
    if (n <= 0) break;  // the hub closed it
    sent += static_cast<size_t>(n);
  }
  fcntl(flood, F_SETFL, 0);
  EXPECT_LT(sent, 4 * SERVER_HEAD_BYTES + (4u << 20));  // what the kernel's buffers take at most
  EXPECT_EQ(status_of(read_all(flood, 2)), 431);
  close(flood);
  EXPECT_EQ(status_of(ask(hub.port, GET)), 200);
}

// Slow and silent clients hold no serving thread: honest requests are answered while hundreds
// are held, and each slow or silent one is let go once its time is up, though it keeps sending.
TEST(HubDoors, SlowAndSilentClientsAreLetGo) {
  RunningHub hub;
  std::vector<int> slow;
  std::vector<int> silent;
  for (int i = 0; i < 200; ++i) slow.push_back(loopback_connect(hub.port));
  for (int i = 0; i < 1000; ++i) silent.push_back(loopback_connect(hub.port));
  for (const int fd : slow) {
    ASSERT_GE(fd, 0);
    const std::string start = "POST /api/players HTTP/1.1\r\nHost: hub\r\nX-Slow: ";
    ASSERT_EQ(write(fd, start.data(), start.size()), static_cast<ssize_t>(start.size()));
  }
  const auto began = Clock::now();
  int asked = 0;
  int answered = 0;
  int slow_cut = 0;
  while (Clock::now() - began < std::chrono::seconds(SERVER_REQUEST_SECONDS + 4)) {
    for (int& fd : slow) {
      if (fd < 0) continue;
      if (closed_by_peer(fd) || send(fd, "s", 1, MSG_NOSIGNAL | MSG_DONTWAIT) < 0) {
        EXPECT_GE(Clock::now() - began, std::chrono::seconds(SERVER_REQUEST_SECONDS - 1));
        close(fd);
        fd = -1;
        ++slow_cut;
      }
    }
    ++asked;
    answered += status_of(ask(hub.port, GET, 3)) == 200 ? 1 : 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  EXPECT_EQ(answered, asked);
  EXPECT_EQ(slow_cut, 200);
  size_t silent_cut = 0;
  for (const int fd : silent) {
    silent_cut += closed_by_peer(fd) ? 1 : 0;
    close(fd);
  }
  EXPECT_EQ(silent_cut, silent.size());
  for (const int fd : slow) {
    if (fd >= 0) close(fd);
  }
}

// Past its limit of connections the hub closes the one that has waited longest for a request;
// when every one is in the middle of a request, a newcomer is told 503 at once.
TEST(HubDoors, PastTheLimitTheIdleGoFirst) {
  RunningHub hub({"--max-connections", "16"});
  std::vector<int> idle;
  for (int i = 0; i < 16; ++i) {
    idle.push_back(loopback_connect(hub.port));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(status_of(ask(hub.port, GET)), 200);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_TRUE(closed_by_peer(idle.front()));
  EXPECT_FALSE(closed_by_peer(idle.back()));
  for (const int fd : idle) close(fd);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::vector<int> busy;
  for (int i = 0; i < 16; ++i) {
    busy.push_back(loopback_connect(hub.port));
    ASSERT_EQ(write(busy.back(), "GET / HTTP/1.1\r\n", 16), 16);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const std::string refused = ask(hub.port, GET);
  EXPECT_EQ(status_of(refused), 503);
  EXPECT_NE(refused.find("Retry-After: "), std::string::npos);
  for (const int fd : busy) close(fd);
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--hub") == 0) HUB_PROGRAM = argv[i + 1];
  }
  signal(SIGPIPE, SIG_IGN);
  if (HUB_PROGRAM.empty()) {
    std::fprintf(stderr, "usage: hub_doors_tests --hub q47-hub [gtest options]\n");
    return 2;
  }
  return RUN_ALL_TESTS();
}
