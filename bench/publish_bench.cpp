// The level editor's frames while Ctrl+U publishes to a hub that takes the connection and never
// answers: the real editor (edit_main) on a one-level pack with its proof kept beside it, the
// keys given to it as SDL events, and a thread beside the loop that notes the longest time
// without a frame. Target: the longest frame gap at most 100 ms (the hub's wait runs beside the
// frame). On SDL's dummy video and audio drivers; one iteration is one publication waited on
// for WAIT_MS, then given up with Escape.
#include <SDL.h>
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "core/level_check.h"
#include "core/level_pack.h"
#include "desktop/commands.h"
#include "desktop/files.h"
#include "desktop/options.h"
#include "desktop/shell.h"
#include "play/replay.h"
#include "play/session.h"

namespace fs = std::filesystem;

namespace {

constexpr int WAIT_MS = 3000;          // the publication waited on before Escape gives up
constexpr double GAP_TARGET_MS = 100;  // the longest a frame may wait

// A hub on a loopback port that takes every connection and never says a word.
struct SilentHub {
  int listener = -1;
  int port = 0;
  std::atomic<int> taken{0};
  std::vector<int> held;
  std::thread acceptor;
  bool start() {
    listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        listen(listener, 8) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      return false;
    }
    port = ntohs(address.sin_port);
    acceptor = std::thread([this] {
      for (;;) {
        const int connection = accept(listener, nullptr, nullptr);
        if (connection < 0) return;  // the listener was shut down
        held.push_back(connection);
        ++taken;
      }
    });
    return true;
  }
  ~SilentHub() {
    if (listener >= 0) shutdown(listener, SHUT_RDWR);
    if (acceptor.joinable()) acceptor.join();
    for (int connection : held) close(connection);
    if (listener >= 0) close(listener);
  }
};

// The editor's window: the only one the program has.
Uint32 window_id() {
  for (Uint32 id = 1; id < 64; ++id) {
    if (SDL_GetWindowFromID(id)) return id;
  }
  return 0;
}

// The window takes the keyboard, as it does when the player clicks into it.
void push_focus() {
  SDL_Event event{};
  event.type = SDL_WINDOWEVENT;
  event.window.event = SDL_WINDOWEVENT_FOCUS_GAINED;
  event.window.windowID = window_id();
  SDL_PushEvent(&event);
}

void push_key(SDL_Scancode scancode, bool down) {
  SDL_Event event{};
  event.key.windowID = window_id();
  event.type = down ? SDL_KEYDOWN : SDL_KEYUP;
  event.key.state = down ? SDL_PRESSED : SDL_RELEASED;
  event.key.keysym.scancode = scancode;
  event.key.keysym.sym = SDL_GetKeyFromScancode(scancode);
  SDL_PushEvent(&event);
}

// Waits until the loop has run frames more frames than it had; false after five seconds.
bool frames_pass(uint64_t frames) {
  const uint64_t until = game_frames_run() + frames;
  for (int i = 0; i < 5000 && game_frames_run() < until; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return game_frames_run() >= until;
}

void BM_EditorFramesWhilePublishingToASilentHub(benchmark::State& state) {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  const fs::path folder =
      fs::temp_directory_path() / ("q47-publish-bench-" + std::to_string(getpid()));
  fs::create_directories(folder / "state");
  setenv("XDG_STATE_HOME", (folder / "state").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
  // The hub's browser test's one room, its checker's plan kept as the level's proof.
  const std::string pack_path = (folder / "room.q47l").string();
  fs::copy_file(Q47_SOURCE_DIR "/tests/web/hub_room.q47l", pack_path,
                fs::copy_options::overwrite_existing);
  LevelPack pack;
  std::string error;
  if (!files_read_pack(pack_path, pack, error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  session_use_stream(level_pack_compile(pack));
  const LevelReport plan = level_check(session_stream(), 1);
  if (!plan.winnable ||
      !files_write_replay((folder / "room.level01.q47r").string(), replay_of_plan(plan), error)) {
    state.SkipWithError(("no proof for the room: " + error).c_str());
    return;
  }
  SilentHub hub;
  if (!hub.start()) {
    state.SkipWithError("no loopback port for the silent hub");
    return;
  }
  game_options.mute = 1;
  game_options.hub_url = "http://127.0.0.1:" + std::to_string(hub.port);

  double longest_ms = 0;
  int64_t frames = 0;
  bool driven = true;
  for (auto _ : state) {
    std::atomic<bool> editing{true};
    // Beside the loop: Ctrl+U once the editor runs, then WAIT_MS of watching its frames, then
    // Escape gives the wait up and the window's close ends the editor.
    std::thread player([&] {
      driven = frames_pass(20);
      push_focus();
      driven = driven && frames_pass(2);
      push_key(SDL_SCANCODE_LCTRL, true);
      push_key(SDL_SCANCODE_U, true);
      driven = driven && frames_pass(2);
      push_key(SDL_SCANCODE_U, false);
      push_key(SDL_SCANCODE_LCTRL, false);
      const uint64_t first = game_frames_run();
      uint64_t seen = first;
      auto last = std::chrono::steady_clock::now();
      const auto end = last + std::chrono::milliseconds(WAIT_MS);
      while (std::chrono::steady_clock::now() < end) {
        const uint64_t now_frames = game_frames_run();
        const auto now = std::chrono::steady_clock::now();
        if (now_frames != seen) {
          seen = now_frames;
          last = now;
        }
        longest_ms =
            std::max(longest_ms, std::chrono::duration<double, std::milli>(now - last).count());
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
      frames += static_cast<int64_t>(seen - first);
      push_key(SDL_SCANCODE_ESCAPE, true);
      frames_pass(2);
      push_key(SDL_SCANCODE_ESCAPE, false);
      while (editing) {
        SDL_Event quit{};
        quit.type = SDL_QUIT;
        SDL_PushEvent(&quit);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    });
    edit_main(pack_path);
    editing = false;
    player.join();
  }
  if (!driven) state.SkipWithError("the editor ran no frames");
  if (hub.taken == 0) state.SkipWithError("Ctrl+U never reached the hub");
  state.counters["longest_frame_gap_ms"] = longest_ms;
  state.counters["frames_while_waiting"] = static_cast<double>(frames);
  state.counters["hub_connections"] = hub.taken.load();
  state.counters["within_target"] = longest_ms <= GAP_TARGET_MS ? 1 : 0;
  std::error_code ignored;
  fs::remove_all(folder, ignored);
}

}  // namespace

BENCHMARK(BM_EditorFramesWhilePublishingToASilentHub)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
