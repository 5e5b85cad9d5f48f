// What a player pays at every start: the time from launching the game to its window, and the
// resident memory and shared libraries of the game on level 1 once that window is up. Each row
// launches the real executable; the second row launches another build of it (Q47_BASE_GAME, say
// an older commit's) in the same run, so the two compare on one machine under one load. Needs an
// X display (run it under with-xvfb):
//   Q47_GAME=build/q47 Q47_BASE_GAME=../base/build/q47 build/bench/q47_bench_start
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <thread>

namespace {

constexpr int WINDOW_WAIT_MS = 10000;  // a game that shows no window by then is a failed row

// Whether a top-level window of the X server belongs to process pid (by _NET_WM_PID).
bool has_window(Display* display, pid_t pid) {
  const Atom wm_pid = XInternAtom(display, "_NET_WM_PID", True);
  if (wm_pid == None) return false;
  Window root = 0, parent = 0;
  Window* children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) {
    return false;
  }
  bool found = false;
  for (unsigned i = 0; i < count && !found; ++i) {
    Atom type = 0;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* value = nullptr;
    if (XGetWindowProperty(display, children[i], wm_pid, 0, 1, False, XA_CARDINAL, &type, &format,
                           &items, &after, &value) == Success &&
        value && items == 1 && format == 32) {
      found = static_cast<pid_t>(*reinterpret_cast<unsigned long*>(value)) == pid;
    }
    if (value) XFree(value);
  }
  if (children) XFree(children);
  return found;
}

// VmRSS of pid in megabytes; 0 when /proc cannot say.
double resident_mb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    long kb = 0;
    if (std::sscanf(line.c_str(), "VmRSS: %ld kB", &kb) == 1) return kb / 1024.0;
  }
  return 0;
}

// The shared libraries mapped into pid.
size_t libraries(pid_t pid) {
  std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
  std::set<std::string> names;
  std::string line;
  while (std::getline(maps, line)) {
    const size_t slash = line.find('/');
    if (slash != std::string::npos && line.find(".so", slash) != std::string::npos) {
      names.insert(line.substr(slash));
    }
  }
  return names.size();
}

// Launches game on level 1 until its window shows, then reads its memory and libraries.
void launch(benchmark::State& state, const char* variable) {
  const char* game = std::getenv(variable);
  if (!game || !*game) {
    state.SkipWithError((std::string(variable) + " names no game to launch").c_str());
    return;
  }
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    state.SkipWithError("no X display (run under with-xvfb)");
    return;
  }
  double rss = 0, libs = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
      std::freopen("/dev/null", "w", stderr);
      execl(game, game, "--level", "1", "--mute", "--scale", "1", static_cast<char*>(nullptr));
      _exit(127);
    }
    bool shown = false;
    for (int waited = 0; waited < WINDOW_WAIT_MS && !shown; ++waited) {
      shown = has_window(display, pid);
      if (!shown) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // Level 1 drawn for a moment, as a player sees it, before its memory is read.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    rss = resident_mb(pid);
    libs = static_cast<double>(libraries(pid));
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    if (!shown) {
      state.SkipWithError("the game showed no window");
      break;
    }
    state.SetIterationTime(seconds);
  }
  state.counters["rss_mb"] = rss;
  state.counters["libraries"] = libs;
  XCloseDisplay(display);
}

void BM_StartToWindow(benchmark::State& state) { launch(state, "Q47_GAME"); }
void BM_StartToWindowBase(benchmark::State& state) { launch(state, "Q47_BASE_GAME"); }

}  // namespace

BENCHMARK(BM_StartToWindow)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StartToWindowBase)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
