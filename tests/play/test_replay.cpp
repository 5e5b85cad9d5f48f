// Replays: the file format and its reader's refusals, the input seam's answers, the window's
// run recorded and checked headless, the golden runs, a changed click found at its checkpoint,
// and a checksum that changes with every field of the rules' state and with nothing else.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <numeric>
#include <set>
#include <string>
#include <vector>

#include "core/level_stream.h"
#include "core/rules_state.h"
#include "core/run.h"
#include "desktop/commands.h"
#include "desktop/files.h"
#include "media/keyboard.h"
#include "play/input.h"
#include "play/replay.h"
#include "tests/support/game_harness.h"
#include "tests/support/game_state.h"
#include "tests/support/replay_script.h"

namespace fs = std::filesystem;
namespace gh = game_harness;
namespace rs = replay_script;

namespace {

// Where each golden run must end: levels won and score. A new file in tests/replays needs a row.
const std::map<std::string, std::pair<int32_t, int32_t>> GOLDEN_RUNS = {
    {"complete.q47r", {10, 1491}},  // the whole game from the intro
    {"level01-win.q47r", {1, 93}},      {"level01-lose.q47r", {0, 0}},  // from --level 1
    {"level02-win.q47r", {1, 240}},     {"level02-lose.q47r", {0, 0}},  // from --level 2
    {"level03-win.q47r", {1, 165}},     {"level03-lose.q47r", {0, 0}},  // from --level 3
    {"level04-win.q47r", {1, 149}},     {"level04-lose.q47r", {0, 0}},  // from --level 4
    {"level05-win.q47r", {1, 122}},     {"level05-lose.q47r", {0, 0}},  // from --level 5
    {"level06-win.q47r", {1, 126}},     {"level06-lose.q47r", {0, 0}},  // from --level 6
    {"level07-win.q47r", {1, 175}},     {"level07-lose.q47r", {0, 0}},  // from --level 7
    {"level08-win.q47r", {1, 73}},      {"level08-lose.q47r", {0, 0}},  // from --level 8
    {"level09-win.q47r", {1, 206}},     {"level09-lose.q47r", {0, 0}},  // from --level 9
    {"level10-win.q47r", {1, 142}},     {"level10-lose.q47r", {0, 0}},  // from --level 10
    {"intro-level1-win.q47r", {1, 46}},  // four barriers, from the intro
    {"keys-tab-ctrlf-r.q47r", {1, 46}},
};

const fs::path GOLDEN_DIR = fs::path(Q47_SOURCE_DIR) / "tests" / "replays";

// A fresh folder under the system's temporary folder, removed with the object.
struct TempDir {
  TempDir() {
    char name[] = "/tmp/q47-replay-XXXXXX";
    path = mkdtemp(name);
  }
  ~TempDir() { fs::remove_all(path); }
  fs::path path;
};

std::vector<uint8_t> file_bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

Replay small_replay() {
  rs::Script script;
  script.idle(300).click(INPUT_HELD_LEFT, 3, 4, 30).tap(INPUT_RELEASED_SPACE).idle(10);
  return replay_run_script(script.frames, 1);
}

bool decodes(const std::vector<uint8_t>& bytes, std::string& error) {
  Replay replay;
  return replay_decode(bytes.data(), bytes.size(), replay, error);
}

}  // namespace

TEST(ReplayFile, FramesSurviveTheEncodingAndIdleTimeCostsAlmostNothing) {
  std::vector<InputFrame> frames;
  InputFrame frame;
  for (int i = 0; i < 1000; ++i) frames.push_back(frame);  // idle runs longer than one byte holds
  frame.pointer_x = 639;
  frame.pointer_y = -5;
  frame.held = INPUT_ACTIVE | INPUT_HELD_LEFT;
  frames.push_back(frame);
  frame.events = INPUT_RELEASED_RETURN | INPUT_CLOSED;  // an event on an otherwise equal frame
  frames.push_back(frame);
  frame.events = 0;
  frames.push_back(frame);
  frame.pointer_x = INT32_MIN;  // the largest possible moves, both ways
  frame.pointer_y = INT32_MAX;
  frames.push_back(frame);
  frame.pointer_x = INT32_MAX;
  frame.held = INPUT_HELD_ALL;
  frames.push_back(frame);

  ReplayEncoder encoder;
  for (const InputFrame& f : frames) encoder.add(f);
  Replay replay;
  replay.game_version = "9.9.9";
  replay.frame_count = encoder.count();
  encoder.finish(replay.frame_data);
  replay.checkpoints.assign(static_cast<size_t>(replay.frame_count / 256), 0x12345678);
  EXPECT_LT(replay.frame_data.size(), 50u);

  const std::vector<uint8_t> bytes = replay_encode(replay);
  Replay back;
  std::string error;
  ASSERT_TRUE(replay_decode(bytes.data(), bytes.size(), back, error)) << error;
  EXPECT_EQ(back.game_version, "9.9.9");
  EXPECT_EQ(back.checkpoints, replay.checkpoints);
  EXPECT_EQ(replay_frames(back), frames);
}

TEST(ReplayFile, TwentyThousandFramesOfDraggingFitIn64KB) {
  std::vector<InputFrame> frames;
  InputFrame frame;
  frame.pointer_x = 320;
  frame.pointer_y = 240;
  for (int i = 0; i < 20480; ++i) {
    // Steps of every small size both ways, the largest ones included, and a button now and then.
    frame.pointer_x += i % 16 - 8;
    frame.pointer_y += 7 - i % 15;
    frame.held = static_cast<uint8_t>(INPUT_ACTIVE | ((i / 10) % 2 ? INPUT_HELD_LEFT : 0));
    frames.push_back(frame);
  }
  ReplayEncoder encoder;
  for (const InputFrame& f : frames) encoder.add(f);
  Replay replay;
  replay.frame_count = encoder.count();
  encoder.finish(replay.frame_data);
  replay.checkpoints.assign(static_cast<size_t>(replay.frame_count / 256), 0);
  const std::vector<uint8_t> bytes = replay_encode(replay);
  EXPECT_LE(bytes.size(), 64u * 1024);
  Replay back;
  std::string error;
  ASSERT_TRUE(replay_decode(bytes.data(), bytes.size(), back, error)) << error;
  EXPECT_EQ(replay_frames(back), frames);
}

TEST(ReplayFile, EveryDamagedFileIsRefusedWithAReason) {
  const std::vector<uint8_t> good = replay_encode(small_replay());
  std::string error;
  ASSERT_TRUE(decodes(good, error)) << error;

  // Cut short anywhere, or with a byte too many.
  for (size_t size = 0; size < good.size(); ++size) {
    EXPECT_FALSE(decodes({good.begin(), good.begin() + static_cast<long>(size)}, error)) << size;
    EXPECT_FALSE(error.empty());
  }
  std::vector<uint8_t> longer = good;
  longer.push_back(0);
  EXPECT_FALSE(decodes(longer, error));

  std::vector<uint8_t> bad = good;
  bad[0] = 'X';
  EXPECT_FALSE(decodes(bad, error));
  EXPECT_EQ(error, "not a Q-47 replay");
  bad = good;
  bad[8] = 2;
  EXPECT_FALSE(decodes(bad, error));
  EXPECT_EQ(error, "replay format version 2 (this game reads version 1)");

  // The frame count sits after magic, version, the version text and 13 header bytes.
  const size_t count_at = 8 + 2 + 1 + good[10] + 13;
  auto put_u32 = [](std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
  };
  const uint32_t count = good[count_at] | good[count_at + 1] << 8;
  for (uint32_t lie : {count - 1, count + 1, count + 256, 4320001u, 0xFFFFFFFFu}) {
    bad = good;
    put_u32(bad, count_at, lie);
    EXPECT_FALSE(decodes(bad, error)) << lie;
  }
  // A frame-data length larger than the file.
  bad = good;
  put_u32(bad, count_at + 4, 0x7F000000u);
  EXPECT_FALSE(decodes(bad, error));
  EXPECT_EQ(error, "truncated frames");
  // A frame's lead byte with a bit no field has, or with both kinds of move.
  const size_t data_at = count_at + 8;
  for (uint8_t lead : {0x80, 0x80 | 0x10, 0x80 | 0x08 | 0x01}) {
    bad = good;
    bad[data_at] = lead;
    EXPECT_FALSE(decodes(bad, error)) << int{lead};
    EXPECT_EQ(error, "malformed frame data");
  }
}

TEST(ReplayFile, AFailedWriteLeavesTheOldFileAndNoTemporaryFile) {
  TempDir dir;
  const fs::path path = dir.path / "run.q47r";
  const Replay replay = small_replay();
  std::string error;
  ASSERT_TRUE(files_write_replay(path, replay, error)) << error;
  const std::vector<uint8_t> old = file_bytes(path);
  EXPECT_EQ(old, replay_encode(replay));

  // The folder made read-only; root ignores that, so the write is tried by an ordinary user.
  chmod(dir.path.c_str(), 0555);
  chmod(dir.path.parent_path().c_str(), 0777 | S_ISVTX);
  const pid_t child = fork();
  if (child == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
    Replay other = replay;
    other.seed += 1;
    std::string child_error;
    const bool written = files_write_replay(path, other, child_error);
    _exit(written ? 1 : child_error.find("Permission denied") != std::string::npos ? 0 : 2);
  }
  int status = 0;
  waitpid(child, &status, 0);
  chmod(dir.path.c_str(), 0700);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(file_bytes(path), old);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1);
}

// Every run is kept: the newest as last.q47r, the last twenty under dated names in the order they
// were made, even many in one second.
TEST(ReplayFile, TheLastTwentyRunsAreKeptAndLastIsTheNewest) {
  TempDir dir;
  Replay replay = small_replay();
  std::string error;
  for (uint32_t run = 1; run <= FILES_RUNS_KEPT + 3; ++run) {
    replay.seed = run;
    ASSERT_TRUE(files_keep_run(dir.path.string(), replay, error)) << error;
  }
  std::vector<uint32_t> kept;
  for (const auto& entry : fs::directory_iterator(dir.path)) {
    const std::string name = entry.path().filename().string();
    if (name == FILES_LAST_RUN_NAME || name == FILES_RUNS_LOCK_NAME) continue;
    Replay read;
    ASSERT_TRUE(files_read_replay(entry.path(), read, error)) << error;
    kept.push_back(read.seed);
  }
  std::sort(kept.begin(), kept.end());
  std::vector<uint32_t> newest(FILES_RUNS_KEPT);
  std::iota(newest.begin(), newest.end(), 4u);
  EXPECT_EQ(kept, newest);
  Replay last;
  ASSERT_TRUE(files_read_replay(dir.path / FILES_LAST_RUN_NAME, last, error)) << error;
  EXPECT_EQ(last.seed, FILES_RUNS_KEPT + 3u);
}

// The runs kept in dir, by number: their seeds.
std::map<int64_t, uint32_t> kept_runs(const fs::path& dir) {
  std::map<int64_t, uint32_t> runs;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const int64_t number = files_run_number(entry.path().filename().string());
    if (number < 0) continue;
    Replay read;
    std::string error;
    runs[number] = files_read_replay(entry.path(), read, error) ? read.seed : 0;
  }
  return runs;
}

// Games ended at the same moment (one SIGTERM to all of them) each keep a file of their own.
TEST(ReplayFile, RunsEndingTogetherEachKeepTheirOwnFile) {
  TempDir dir;
  constexpr uint32_t GAMES = 12;
  std::vector<pid_t> children;
  for (uint32_t game = 1; game <= GAMES; ++game) {
    const pid_t child = fork();
    if (child == 0) {
      Replay replay = small_replay();
      replay.seed = game;
      std::string error;
      _exit(files_keep_run(dir.path.string(), replay, error) ? 0 : 1);
    }
    children.push_back(child);
  }
  for (pid_t child : children) {
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::vector<uint32_t> seeds;
  for (const auto& [number, seed] : kept_runs(dir.path)) seeds.push_back(seed);
  std::sort(seeds.begin(), seeds.end());
  std::vector<uint32_t> all(GAMES);
  std::iota(all.begin(), all.end(), 1u);
  EXPECT_EQ(seeds, all);
  EXPECT_TRUE(fs::exists(dir.path / FILES_LAST_RUN_NAME));
}

// After the clock was set back, the newest run still has the highest number and the oldest
// goes; files of other names, the player's own among them, are never removed.
TEST(ReplayFile, TheOrderOfWritingCountsNotTheClockAndOtherNamesStay) {
  TempDir dir;
  const char* const others[] = {"run-0-my-best.q47r", "run-20261208-140000-0001.q47r",
                                "run-20261208-140000-000001.q47r.bak", "notes.txt"};
  for (const char* name : others) std::ofstream(dir.path / name) << "mine";
  for (int number = 1; number <= FILES_RUNS_KEPT; ++number) {
    char name[48];
    std::snprintf(name, sizeof name, "run-29991231-235959-%06d.q47r", number);
    std::ofstream(dir.path / name) << "x";
  }
  Replay replay = small_replay();
  replay.seed = 77;
  std::string error;
  ASSERT_TRUE(files_keep_run(dir.path.string(), replay, error)) << error;
  const std::map<int64_t, uint32_t> runs = kept_runs(dir.path);
  ASSERT_EQ(runs.size(), size_t{FILES_RUNS_KEPT});
  EXPECT_EQ(runs.begin()->first, 2);
  EXPECT_EQ(runs.rbegin()->first, FILES_RUNS_KEPT + 1);
  EXPECT_EQ(runs.rbegin()->second, 77u);
  for (const char* name : others) EXPECT_TRUE(fs::exists(dir.path / name)) << name;

  // A run kept by an earlier version (a two-digit count) is older than any numbered one.
  EXPECT_EQ(files_run_number("run-20261208-140000-07.q47r"), 0);
}

TEST(ReplayInput, GivenFramesAnswerLikeTheDevices) {
  InputFrame frame;
  frame.pointer_x = 123;
  frame.pointer_y = 45;
  frame.held = INPUT_ACTIVE | INPUT_HELD_RIGHT | INPUT_HELD_RCONTROL;
  frame.events = INPUT_RELEASED_RETURN;
  SessionInput input;
  input_frame_start(input, nullptr, &frame);
  EXPECT_EQ(input.given, 1);
  EXPECT_EQ(input_is_active(input), 1);
  EXPECT_EQ(input_mouse_x(input), 123);
  EXPECT_EQ(input_mouse_y(input), 45);
  EXPECT_EQ(input_mouse_button(input, 1), 0);
  EXPECT_EQ(input_mouse_button(input, 2), 1);
  EXPECT_EQ(input_key_down(input, KEY_RCONTROL), 128);
  EXPECT_EQ(input_key_down(input, KEY_LCONTROL), 0);
  EXPECT_EQ(input_key_released(input, KEY_SPACE), 0);
  // A release is seen by the first question about it in the frame only, as with the keyboard.
  EXPECT_EQ(input_key_released(input, KEY_RETURN), 1);
  EXPECT_EQ(input_key_released(input, KEY_RETURN), 0);
  EXPECT_EQ(input_frame_noted(input), frame);
  EXPECT_EQ(input_pass_began(input, 0), 1);
  EXPECT_EQ(input_closed(input), 0);
  frame.held = INPUT_NO_PASS;
  frame.events = INPUT_CLOSED;
  input_frame_start(input, nullptr, &frame);
  EXPECT_EQ(input_is_active(input), 0);
  EXPECT_EQ(input_pass_began(input, 1), 0);
  EXPECT_EQ(input_closed(input), 1);
}

// Live frames answer from the record the frame read once; the release rule runs on it, so a
// release goes to the first test after a test saw the key held, and what the rules were told is
// noted for the recording.
TEST(ReplayInput, LiveFramesAnswerFromTheFramesRecord) {
  SessionInput input;
  PlayerInput held;
  held.active = held.keys_read = 1;
  held.keys[KEY_RETURN] = held.keys[KEY_ESCAPE] = 1;
  held.pointer_x = 200;
  held.buttons = 1;
  input_frame_start(input, &held, nullptr);
  EXPECT_EQ(input_key_released(input, KEY_RETURN), 0);  // held: the latch is armed
  EXPECT_EQ(input_key_down(input, KEY_ESCAPE), 128);
  EXPECT_EQ(input_mouse_x(input), 200);
  EXPECT_EQ(input_mouse_button(input, 1), 1);
  EXPECT_EQ(input_frame_noted(input).held & (INPUT_HELD_ESCAPE | INPUT_HELD_LEFT),
            INPUT_HELD_ESCAPE | INPUT_HELD_LEFT);
  PlayerInput unread;  // no keyboard snapshot: nothing is released, the latch waits
  unread.active = 1;
  input_frame_start(input, &unread, nullptr);
  EXPECT_EQ(input_key_released(input, KEY_RETURN), 0);
  PlayerInput up;
  up.active = up.keys_read = 1;
  input_frame_start(input, &up, nullptr);
  EXPECT_EQ(input_key_released(input, KEY_SPACE), 0);  // never seen held
  EXPECT_EQ(input_key_released(input, KEY_RETURN), 1);
  EXPECT_EQ(input_key_released(input, KEY_RETURN), 0);
  EXPECT_EQ(input_frame_noted(input).events, INPUT_RELEASED_RETURN);
  EXPECT_EQ(input_mouse_x(input), 0);
  input_frame_start(input, &up, nullptr);
  EXPECT_EQ(input_key_released(input, KEY_RETURN), 0);
}

// The window's run on the dummy drivers, recorded as main records it, then checked headless.
TEST(ReplayRecord, TheWindowsRunReplaysHeadlessToTheSameState) {
  TempDir dir;
  gh::start();
  std::vector<AppAsk> asks;
  auto frames = [&](int n) {
    for (int i = 0; i < n; ++i) game_frame(&asks);
    gh::moves_pending = false;
  };
  auto tap = [&](SDL_Scancode key) {
    gh::push_key(key, true);
    frames(1);
    gh::push_key(key, false);
    frames(1);
  };
  while (GAME.game_state == STATE_MESSAGE) tap(SDL_SCANCODE_SPACE);
  frames(5);
  tap(SDL_SCANCODE_TAB);
  for (auto [x, y] : {std::pair{10, 12}, {18, 16}, {10, 17}, {11, 18}, {5, 5}}) {
    gh::push_move_to_cell(x, y);
    gh::push_button(1, true);
    frames(1);
    gh::push_button(1, false);
    frames(1);
  }
  gh::push_focus(false);  // the chemical goes on while the window is behind another
  frames(300);
  gh::push_focus(true);
  frames(2);
  tap(SDL_SCANCODE_RETURN);
  frames(100);
  gh::push_key(SDL_SCANCODE_ESCAPE, true);
  frames(1);
  ASSERT_EQ(GAME.quit_requested, 1);
  const int32_t live_score = GAME.score;
  const uint32_t live_checksum = replay_state_checksum(GAME);
  const fs::path path = dir.path / "window.q47r";
  std::string record_error;
  ASSERT_EQ(asks.size(), 2u);
  EXPECT_EQ(asks[0].kind, AppAsk::Kind::LEVEL_WON);  // level 1, won on the way
  ASSERT_EQ(asks[1].kind, AppAsk::Kind::KEEP_RUN);
  ASSERT_TRUE(files_write_replay(path, asks[1].run, record_error)) << record_error;
  game_end();
  EXPECT_EQ(live_score, 45);

  Replay replay;
  std::string error;
  ASSERT_TRUE(files_read_replay(path, replay, error)) << error;
  EXPECT_EQ(replay.final_checksum, live_checksum);
  EXPECT_EQ(replay.checkpoints.size(), static_cast<size_t>(replay.frame_count / 256));
  for (int32_t draw : {0, 1}) {
    const ReplayOutcome outcome = replay_run_headless(replay, draw);
    EXPECT_TRUE(outcome.matches) << draw;
    EXPECT_EQ(outcome.frames, replay.frame_count);
    EXPECT_EQ(outcome.score, live_score);
    EXPECT_EQ(outcome.levels_completed, 1);
    EXPECT_EQ(outcome.checksum, live_checksum);
  }
}

TEST(ReplayGolden, EveryGoldenRunVerifiesDrawnAndNotDrawn) {
  int files = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(GOLDEN_DIR)) {
    if (entry.path().extension() != ".q47r") continue;
    ++files;
    const std::string name = entry.path().filename().string();
    const auto expected = GOLDEN_RUNS.find(name);
    ASSERT_NE(expected, GOLDEN_RUNS.end()) << name << " has no row in GOLDEN_RUNS";
    Replay replay;
    std::string error;
    ASSERT_TRUE(files_read_replay(entry.path(), replay, error)) << error;
    EXPECT_LE(replay_encode(replay).size(), 64u * 1024) << name;
    for (int32_t draw : {0, 1}) {
      const ReplayOutcome outcome = replay_run_headless(replay, draw);
      EXPECT_TRUE(outcome.matches) << name << " draw " << draw;
      EXPECT_EQ(outcome.levels_completed, expected->second.first) << name;
      EXPECT_EQ(outcome.score, expected->second.second) << name;
    }
    // The rules alone, as a server runs them: the same state, and each level's share of it.
    const RunOutcome ruled = run_replay(replay, level_stream_builtin(), RunLimits{});
    EXPECT_TRUE(ruled.matches) << name;
    EXPECT_EQ(ruled.checksum, replay.final_checksum) << name;
    EXPECT_EQ(ruled.frames, replay.frame_count) << name;
    EXPECT_EQ(ruled.levels_completed, expected->second.first) << name;
    EXPECT_EQ(ruled.score, expected->second.second) << name;
    int32_t sum = 0;
    for (const RunLevel& level : ruled.levels) sum += level.score;
    EXPECT_EQ(sum, ruled.score) << name;
    if (replay.start_level > 0 && !ruled.levels.empty()) {
      EXPECT_EQ(ruled.levels[0].level, replay.start_level) << name;
    }
  }
  EXPECT_EQ(files, static_cast<int>(GOLDEN_RUNS.size()));
}

// A stranger's replay is run within limits, and one made on other levels is not run at all.
TEST(ReplayGolden, TheRulesAloneStopAtTheirLimitsAndRefuseOtherLevels) {
  Replay replay;
  std::string error;
  ASSERT_TRUE(files_read_replay(GOLDEN_DIR / "complete.q47r", replay, error)) << error;
  RunLimits limits;
  limits.max_frames = 1000;
  RunOutcome ruled = run_replay(replay, level_stream_builtin(), limits);
  EXPECT_EQ(ruled.frames, 1000);
  EXPECT_FALSE(ruled.stopped.empty());
  EXPECT_FALSE(ruled.matches);
  limits = RunLimits{};
  limits.max_seconds = 1e-9;
  ruled = run_replay(replay, level_stream_builtin(), limits);
  EXPECT_LT(ruled.frames, replay.frame_count);
  EXPECT_FALSE(ruled.stopped.empty());
  // The limit counts on the clock it is given: one that stands still (a thread that got no
  // processor time) never stops the run.
  limits.clock = [] { return 1.0; };
  EXPECT_TRUE(run_replay(replay, level_stream_builtin(), limits).matches);
  Replay forged = replay;
  forged.final_checksum ^= 1;
  EXPECT_FALSE(run_replay(forged, level_stream_builtin(), RunLimits{}).matches);
  // A checkpoint that differs ends the run where it is found.
  ASSERT_GT(replay.checkpoints.size(), 3u);
  forged = replay;
  forged.checkpoints[2] ^= 1;
  ruled = run_replay(forged, level_stream_builtin(), RunLimits{});
  EXPECT_FALSE(ruled.matches);
  EXPECT_EQ(ruled.first_bad_checkpoint, 2);
  EXPECT_EQ(ruled.frames, 3 * REPLAY_CHECKPOINT_FRAMES);
  LevelStream other = level_stream_builtin();
  other.bytes.back() ^= 1;
  ruled = run_replay(replay, other, RunLimits{});
  EXPECT_FALSE(ruled.refused.empty());
  EXPECT_EQ(ruled.frames, 0);
}

TEST(ReplayGolden, EachLosingRunReachesTheEdgeOfItsLevelAndTheKeysRunUsesEveryKey) {
  Replay replay;
  std::string error;
  for (int32_t level = 1; level <= 10; ++level) {
    char name[32];
    std::snprintf(name, sizeof name, "level%02d-lose.q47r", level);
    ASSERT_TRUE(files_read_replay(GOLDEN_DIR / name, replay, error)) << error;
    EXPECT_EQ(replay.start_level, level) << name;
    Session ended;
    replay_run_headless(replay, 0, 0, nullptr, &ended);
    EXPECT_EQ(ended.rules.edge_reached, 1) << name;
    EXPECT_EQ(ended.rules.level_number, level) << name;
  }

  ASSERT_TRUE(files_read_replay(GOLDEN_DIR / "keys-tab-ctrlf-r.q47r", replay, error)) << error;
  uint8_t events = 0;
  bool ctrl_f = false;
  for (const InputFrame& frame : replay_frames(replay)) {
    events |= frame.events;
    ctrl_f = ctrl_f || ((frame.events & INPUT_RELEASED_F) && (frame.held & INPUT_HELD_LCONTROL));
  }
  EXPECT_TRUE(ctrl_f);
  EXPECT_TRUE(events & INPUT_RELEASED_TAB);
  EXPECT_TRUE(events & INPUT_RELEASED_R);
}

// The whole game from the intro, which only the final screen's last line may end: no Escape, no
// close. Every level in it earns what its own winning run from --level earns.
TEST(ReplayGolden, TheCompleteRunEndsOnTheFinalScreenWithEveryLevelsScore) {
  Replay replay;
  std::string error;
  ASSERT_TRUE(files_read_replay(GOLDEN_DIR / "complete.q47r", replay, error)) << error;
  EXPECT_EQ(replay.start_level, 0);
  for (const InputFrame& frame : replay_frames(replay)) {
    ASSERT_EQ(frame.held & INPUT_HELD_ESCAPE, 0);
    ASSERT_EQ(frame.events & INPUT_CLOSED, 0);
  }
  Session ended;
  const ReplayOutcome outcome = replay_run_headless(replay, 0, 0, nullptr, &ended);
  Rules& rules = ended.rules;
  EXPECT_EQ(rules.quit_requested, 1);
  EXPECT_EQ(rules.game_state, STATE_MESSAGE);
  EXPECT_EQ(rules.message_line, "~");
  int32_t sum = 0;
  for (int32_t level = 1; level <= 10; ++level) {
    char name[32];
    std::snprintf(name, sizeof name, "level%02d-win.q47r", level);
    sum += GOLDEN_RUNS.at(name).second;
  }
  EXPECT_EQ(outcome.score, sum);
}

TEST(ReplayVerify, AChangedClickIsFoundAtTheCheckpointAfterIt) {
  Replay replay;
  std::string error;
  ASSERT_TRUE(files_read_replay(GOLDEN_DIR / "intro-level1-win.q47r", replay, error)) << error;
  std::vector<InputFrame> frames = replay_frames(replay);
  // The third barrier's click taken back: its frame's left button let go.
  size_t clicks = 0;
  size_t changed = 0;
  for (size_t i = 0; i < frames.size(); ++i) {
    if ((frames[i].held & INPUT_HELD_LEFT) && ++clicks == 3) {
      frames[i].held &= static_cast<uint8_t>(~INPUT_HELD_LEFT);
      changed = i;
      break;
    }
  }
  ASSERT_EQ(clicks, 3u);
  ReplayEncoder encoder;
  for (const InputFrame& frame : frames) encoder.add(frame);
  replay.frame_data.clear();
  encoder.finish(replay.frame_data);

  const ReplayOutcome outcome = replay_run_headless(replay, 0);
  EXPECT_FALSE(outcome.matches);
  EXPECT_EQ(outcome.first_bad_checkpoint, static_cast<int64_t>(changed / 256));
  EXPECT_EQ(outcome.checkpoint_expected, replay.checkpoints[changed / 256]);

  TempDir dir;
  const fs::path path = dir.path / "changed.q47r";
  ASSERT_TRUE(files_write_replay(path, replay, error)) << error;
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  EXPECT_EQ(replay_verify_main(path, 0), 1);
  testing::internal::GetCapturedStdout();
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("first difference at checkpoint " + std::to_string(changed / 256 + 1) +
                      " (frame " + std::to_string((changed / 256 + 1) * 256) + ")"),
            std::string::npos)
      << said;
}

// Each field core/rules_state.h calls state changes the checksum on its own (so none in the lists
// is left out of the hash), and no field it calls not state does. Every field is listed once, so
// with the count checked when it builds, the lists hold every field of Rules.
TEST(ReplayChecksum, EveryFieldOfTheStateChangesItAndNothingElseDoes) {
  Rules base;
  rules_start(base, nullptr, nullptr);
  load_level(base, 1);
  base.message_line = "WALL IT IN";
  const uint32_t sum = replay_state_checksum(base);
  std::set<const void*> fields;
  auto changes = [&](auto field, auto change) {
    EXPECT_TRUE(fields.insert(&(base.*field)).second) << "a field listed twice";
    Rules changed = base;
    change(changed.*field);
    return replay_state_checksum(changed) != sum;
  };
  size_t number = 0;
  auto number_changes = [&](auto field) {
    EXPECT_TRUE(changes(field, [](auto& value) { ++value; })) << "number " << number;
    ++number;
  };
  std::apply([&](auto... field) { (number_changes(field), ...); }, RULES_STATE_NUMBERS);
  EXPECT_TRUE(changes(RULES_STATE_LINE, [](std::string& line) { line.back() = '!'; }));
  EXPECT_TRUE(changes(RULES_STATE_GRID, [](std::vector<Cell>& grid) { grid.push_back({}); }));
  for (int32_t Cell::*part :
       {&Cell::concentration, &Cell::flags, &Cell::highlight, &Cell::fill_mark}) {
    Rules changed = base;
    changed.grid[17].*part += 1;
    EXPECT_NE(replay_state_checksum(changed), sum);
  }

  const RulesEffects effects{};
  const LevelStream other = level_stream_builtin();
  const auto [sound_ok, shake_frames, stream, effects_of, fill_stack] = RULES_NOT_STATE;
  EXPECT_FALSE(changes(sound_ok, [](int32_t& value) { value = 1; }));
  EXPECT_FALSE(changes(shake_frames, [](int32_t& value) { value = 10; }));
  EXPECT_FALSE(changes(stream, [&](const LevelStream*& value) { value = &other; }));
  EXPECT_FALSE(changes(effects_of, [&](const RulesEffects*& value) { value = &effects; }));
  EXPECT_FALSE(changes(fill_stack, [](std::vector<int32_t>& value) { value.assign(9, 3); }));
  EXPECT_EQ(fields.size(), std::tuple_size_v<decltype(RULES_STATE_NUMBERS)> + RULES_STATE_OTHERS +
                               std::tuple_size_v<decltype(RULES_NOT_STATE)>);
}

TEST(ReplayVerify, OtherLevelDataOrAMissingLevelIsRefused) {
  Replay replay = small_replay();
  EXPECT_EQ(replay_unusable(replay, session_stream()), "");
  replay.level_data_hash ^= 1;
  EXPECT_NE(replay_unusable(replay, session_stream()).find("recorded on other level data"),
            std::string::npos);
  replay.level_data_hash ^= 1;
  replay.start_level = 11;
  EXPECT_EQ(replay_unusable(replay, session_stream()), "starts on level 11, which does not exist");

  TempDir dir;
  const fs::path path = dir.path / "level11.q47r";
  std::string error;
  ASSERT_TRUE(files_write_replay(path, replay, error)) << error;
  testing::internal::CaptureStderr();
  EXPECT_EQ(replay_verify_main(path, 0), 2);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "q47: " + path.string() + ": starts on level 11, which does not exist\n");
}
