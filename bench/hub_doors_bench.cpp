// The hub's doors under hostile clients, on this machine only: a real q47-hub on a loopback port
// with a fresh SQLite database. Reported:
//  - an honest client's GET /api/packs (a new connection each) alone, then while 200 slow
//    clients (a byte a second) and 5,000 idle ones are held open (each reconnects when the hub
//    lets it go, as an attacker would): p50, p99, the longest, and requests left unanswered;
//  - the hub's resident memory before and after a minute of endless header lines (the flooder
//    starts over each time it is refused), and the answers it got.
// A plain program, not a test: the figures depend on the machine. It raises its own limit of
// open files to the hard limit (5,200 held connections need more than the usual 1,024).
//   q47_bench_hub_doors [--seconds N] [--idle N] [--slow N] [--flood-seconds N]
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
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
#include <string>
#include <thread>
#include <vector>

#include "tests/support/hub_process.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Plan {
  int seconds = 30;        // honest requests measured while the hostile clients are held
  int idle = 5000;         // connections that send nothing
  int slow = 200;          // connections that send a byte a second
  int flood_seconds = 60;  // endless header lines
};

// One honest GET on a new connection: its latency in ms, or -1 when it got no 200 in 5 s.
double honest_get(int port) {
  const auto began = Clock::now();
  const int fd = loopback_connect(port);
  if (fd < 0) return -1;
  const char request[] = "GET /api/packs HTTP/1.1\r\nHost: hub\r\nConnection: close\r\n\r\n";
  if (write(fd, request, sizeof request - 1) != static_cast<ssize_t>(sizeof request - 1)) {
    close(fd);
    return -1;
  }
  char head[16] = {};
  pollfd wait{fd, POLLIN, 0};
  const bool answered = poll(&wait, 1, 5000) > 0 && read(fd, head, 12) == 12 &&
                        std::strncmp(head, "HTTP/1.1 200", 12) == 0;
  close(fd);
  if (!answered) return -1;
  return std::chrono::duration<double, std::milli>(Clock::now() - began).count();
}

double percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<size_t>(share * values.size()))];
}

// An honest client's GETs for seconds, ten a second: latencies printed under label.
void measure(int port, int seconds, const char* label) {
  std::vector<double> ms;
  int unanswered = 0;
  const auto until = Clock::now() + std::chrono::seconds(seconds);
  while (Clock::now() < until) {
    const double took = honest_get(port);
    if (took < 0) {
      ++unanswered;
    } else {
      ms.push_back(took);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::printf("%-34s %5zu answered, %d not: p50 %7.2f ms, p99 %7.2f ms, longest %7.2f ms\n", label,
              ms.size(), unanswered, percentile(ms, 0.5), percentile(ms, 0.99),
              ms.empty() ? 0.0 : *std::max_element(ms.begin(), ms.end()));
}

// Holds idle and slow connections open until stop, opening a new one for each the hub closes.
void hold(int port, const Plan& plan, const std::atomic<bool>& stop, std::atomic<int>& reopened) {
  std::vector<int> idle(static_cast<size_t>(plan.idle), -1);
  std::vector<int> slow(static_cast<size_t>(plan.slow), -1);
  const char start[] = "POST /api/players HTTP/1.1\r\nHost: hub\r\nX-Slow: ";
  auto gone = [](int fd) {
    if (fd < 0) return true;
    char c = 0;
    const ssize_t n = recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN);
  };
  auto tick = Clock::now();
  while (!stop) {
    for (int& fd : idle) {
      if (!gone(fd)) continue;
      if (fd >= 0) {
        close(fd);
        ++reopened;
      }
      fd = loopback_connect(port);
    }
    const bool second = Clock::now() - tick >= std::chrono::seconds(1);
    for (int& fd : slow) {
      if (!gone(fd) && !(second && send(fd, "s", 1, MSG_NOSIGNAL | MSG_DONTWAIT) != 1)) continue;
      if (fd >= 0) {
        close(fd);
        ++reopened;
      }
      fd = loopback_connect(port);
      if (fd >= 0) send(fd, start, sizeof start - 1, MSG_NOSIGNAL);
    }
    if (second) tick = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  for (const int fd : idle) close(fd);
  for (const int fd : slow) close(fd);
}

// The process's resident memory in KiB.
long resident_kib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

// Sends header lines without end for seconds, starting over each time the hub refuses; the
// answers' first lines counted.
void flood(int port, int seconds) {
  const std::string line = "X-Flood: " + std::string(60, 'f') + "\r\n";
  const std::string start = "GET /api/packs HTTP/1.1\r\nHost: hub\r\n";
  int refused_431 = 0;
  int other = 0;
  long long sent = 0;
  const auto until = Clock::now() + std::chrono::seconds(seconds);
  while (Clock::now() < until) {
    const int fd = loopback_connect(port);
    if (fd < 0) break;
    send(fd, start.data(), start.size(), MSG_NOSIGNAL);
    for (;;) {
      pollfd wait{fd, POLLIN | POLLOUT, 0};
      if (poll(&wait, 1, 1000) <= 0 || Clock::now() >= until) break;
      if (wait.revents & POLLIN) {
        char head[13] = {};
        const ssize_t n = read(fd, head, 12);
        if (n == 12 && std::strncmp(head + 9, "431", 3) == 0) {
          ++refused_431;
        } else {
          ++other;
        }
        break;
      }
      const ssize_t n = send(fd, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n <= 0) break;
      sent += n;
    }
    close(fd);
  }
  std::printf("header flood: %lld bytes of header lines sent, %d answered 431, %d otherwise\n",
              sent, refused_431, other);
}

}  // namespace

int main(int argc, char** argv) {
  Plan plan;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const int value = std::atoi(argv[i + 1]);
    if (name == "--seconds") {
      plan.seconds = value;
    } else if (name == "--idle") {
      plan.idle = value;
    } else if (name == "--slow") {
      plan.slow = value;
    } else if (name == "--flood-seconds") {
      plan.flood_seconds = value;
    } else {
      std::fprintf(stderr, "usage: %s [--seconds N] [--idle N] [--slow N] [--flood-seconds N]\n",
                   argv[0]);
      return 2;
    }
  }
  signal(SIGPIPE, SIG_IGN);
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = files.rlim_max;
  setrlimit(RLIMIT_NOFILE, &files);
  if (files.rlim_cur < static_cast<rlim_t>(plan.idle + plan.slow + 100)) {
    std::fprintf(stderr, "q47_bench_hub_doors: the limit of open files (%llu) is below %d\n",
                 static_cast<unsigned long long>(files.rlim_cur), plan.idle + plan.slow + 100);
    return 1;
  }

  char folder[] = "/tmp/q47-doors-bench-XXXXXX";
  if (!mkdtemp(folder)) return 1;
  pid_t hub = -1;
  int port = 0;
  try {
    port = hub_spawn({Q47_HUB_PROGRAM, "--listen", "127.0.0.1:0", "--database",
                      std::string(folder) + "/hub.sqlite3", "--rate", "0"},
                     hub);
  } catch (const std::runtime_error& failure) {
    std::fprintf(stderr, "q47_bench_hub_doors: %s\n", failure.what());
    return 1;
  }
  std::printf("q47-hub on port %d, %d idle and %d slow clients, open-file limit %llu\n", port,
              plan.idle, plan.slow, static_cast<unsigned long long>(files.rlim_cur));

  std::printf("hub resident memory at start: %ld KiB\n", resident_kib(hub));
  measure(port, 5, "honest GET alone");
  std::atomic<bool> stop{false};
  std::atomic<int> reopened{0};
  std::atomic<long> held_kib{0};
  std::thread holder([&] { hold(port, plan, stop, reopened); });
  std::this_thread::sleep_for(std::chrono::seconds(3));  // every hostile connection made
  measure(port, plan.seconds, "honest GET, slow and idle held");
  held_kib = resident_kib(hub);
  stop = true;
  holder.join();
  std::printf(
      "hostile connections the hub let go (and were made again): %d; hub resident "
      "memory with them held: %ld KiB\n",
      reopened.load(), held_kib.load());

  std::this_thread::sleep_for(std::chrono::seconds(1));
  const long before = resident_kib(hub);
  flood(port, plan.flood_seconds);
  const long after = resident_kib(hub);
  std::printf("hub resident memory: %ld KiB before the flood, %ld KiB after (%+ld KiB)\n", before,
              after, after - before);
  measure(port, 3, "honest GET after the flood");

  kill(hub, SIGTERM);
  waitpid(hub, nullptr, 0);
  std::filesystem::remove_all(folder);
  return 0;
}
