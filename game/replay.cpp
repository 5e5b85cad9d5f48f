#include "game/replay.h"

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "game/game_globals.h"
#include "game/game_loop.h"
#include "game/level_stream.h"
#include "game/options.h"
#include "media/draw.h"
#include "media/draw_target.h"
#include "media/events.h"
#include "media/keyboard.h"
#include "media/mouse.h"
#include "media/random.h"
#include "media/screen.h"
#include "media/sound.h"
#include "media/timing.h"
#include "media/window.h"

namespace {

constexpr int32_t REPLAY_FRAME_MS = 1000 / GAME_FRAME_RATE;  // the clock of a headless frame
constexpr int32_t REPLAY_FAST_FRAMES = 4;    // frames per shown frame while Space is held
constexpr uint32_t REPLAY_SCRIPT_SEED = 47;  // scripted runs all draw the same specks

// The recording of the window's run.
struct RecordState {
  int32_t on = 0;        // replay_record_begin ran
  Replay replay;         // header and checkpoints so far
  ReplayEncoder frames;  // the frames so far
};

// A run of given frames: a decoder over a replay, or a script.
struct RunState {
  ReplayDecoder* decoder = nullptr;                 // frames of a replay, or null
  const std::vector<InputFrame>* script = nullptr;  // frames of a script, or null
  size_t script_next = 0;                           // next script frame
  int64_t started = 0;                              // frames begun
  std::vector<uint32_t> pixels;                     // the headless picture when drawn
  int32_t stop = 0;                                 // the viewer asked to stop (play)
  int32_t fast = 0;                                 // Space held (play)
  int32_t batch = 0;                                // frames since the last one shown (play)
  int32_t shown = 0;                                // this frame was presented (play)
};

RecordState RECORD;  // the window's run
RunState RUN;        // the replayed or scripted run under way

// The seed of a recorded run: any value, as long as it is stored.
uint32_t fresh_seed() {
  return static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
         static_cast<uint32_t>(tick_ms());
}

bool next_given(InputFrame& frame) {
  if (RUN.decoder) return RUN.decoder->next(frame);
  if (RUN.script && RUN.script_next < RUN.script->size()) {
    frame = (*RUN.script)[RUN.script_next++];
    return true;
  }
  return false;
}

// --- The headless device: no window, no sound, no pacing ---

int32_t headless_start() {
  InputFrame frame;
  if (!next_given(frame)) return 0;
  // The picture's pulse follows a steady 50-frames-a-second clock.
  frame_tick = static_cast<int32_t>(RUN.started * REPLAY_FRAME_MS);
  RUN.started += 1;
  input_frame_start(&frame);
  return 1;
}

int32_t no_close() { return 0; }
void no_pointer(int32_t) {}
void no_switch() {}
void nothing() {}
int32_t headless_pass() { return 1; }

int32_t headless_drawn_pass() {
  std::memset(RUN.pixels.data(), 0, RUN.pixels.size() * sizeof(uint32_t));
  return draw_begin(
      draw_target_on_pixels(RUN.pixels.data(), SCREEN_WIDTH, SCREEN_HEIGHT, SCREEN_WIDTH));
}

constexpr FrameDevice HEADLESS_DEVICE = {headless_start, no_close, no_pointer, no_switch,
                                         headless_pass,  nothing,  nothing,    0};
constexpr FrameDevice HEADLESS_DRAWN_DEVICE = {headless_start,      no_close, no_pointer, no_switch,
                                               headless_drawn_pass, nothing,  nothing,    1};

// --- The watching device: the window shows the replay, the viewer's own keys steer it ---

int32_t play_start() {
  frame_tick = static_cast<int32_t>(tick_ms());
  events_pump();
  sound_service();
  keyboard_examine();
  if (key_down(KEY_ESCAPE)) RUN.stop = 1;
  RUN.fast = key_down(KEY_SPACE) ? 1 : 0;
  InputFrame frame;
  if (RUN.stop || !next_given(frame)) return 0;
  RUN.started += 1;
  input_frame_start(&frame);
  return 1;
}

int32_t play_closed() {
  for (int32_t event = window_poll_event(); event != 0; event = window_poll_event()) {
    if (event == EVENT_CLOSE_WINDOW) RUN.stop = 1;
  }
  return 0;
}

// The viewer keeps the pointer: the run's own pointer is only in the recording.
void play_pointer(int32_t) {
  if (windowed) mouse_release(1);
}

int32_t play_pass() {
  screen_clear(0);
  return draw_begin(screen_output());
}

void play_present() {
  RUN.batch += 1;
  RUN.shown = !RUN.fast || RUN.batch >= REPLAY_FAST_FRAMES;
  if (!RUN.shown) return;
  RUN.batch = 0;
  screen_flip();
}

void play_finish() {
  if (RUN.shown) delay_ms(GAME_FRAME_SLEEP_MS);
}

constexpr FrameDevice PLAY_DEVICE = {play_start, play_closed,  play_pointer, no_switch,
                                     play_pass,  play_present, play_finish,  1};

// Continues hash with one 32-bit value, byte by byte in little-endian order.
uint32_t hash_int(uint32_t hash, int64_t value) {
  const auto v = static_cast<uint32_t>(value);
  const uint8_t bytes[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                            static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
  return replay_hash(bytes, 4, hash);
}

std::string hex(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08" PRIx32, value);
  return text;
}

void report(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", GAME_PROGRAM_NAME, message.c_str());
}

// Makes each missing folder of path (not its last part) with mode.
bool make_parents(const std::string& path, std::string& error) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    const std::string folder = path.substr(0, slash);
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
      error = folder + ": " + std::strerror(errno);
      return false;
    }
  }
  return true;
}

// Reads path and checks it fits this game; on failure reports "q47: PATH: reason".
bool load_usable(const std::string& path, Replay& replay) {
  std::string error;
  if (!replay_read(path, replay, error)) {
    report(error);
    return false;
  }
  error = replay_unusable(replay);
  if (!error.empty()) {
    report(path + ": " + error);
    return false;
  }
  return true;
}

// The run's first state: the intro, or the level a --level run began on.
void start_run(const Replay& replay) {
  random_seed(replay.seed);
  game_start_at_level(replay.start_level);
}

}  // namespace

uint32_t replay_state_checksum() {
  uint32_t h = REPLAY_HASH_START;
  for (int64_t value : {int64_t{game_state},
                        int64_t{level_number},
                        int64_t{quit_requested},
                        int64_t{plain_view},
                        int64_t{score},
                        int64_t{grid_width},
                        int64_t{grid_height},
                        int64_t{board_size},
                        int64_t{board_left},
                        int64_t{board_top},
                        int64_t{cell_width},
                        int64_t{cell_height},
                        int64_t{barriers_left},
                        int64_t{barriers_at_start},
                        int64_t{spread_rate},
                        int64_t{spread_threshold},
                        int64_t{contained},
                        int64_t{edge_reached},
                        int64_t{fill_generation},
                        int64_t{mouse_px},
                        int64_t{mouse_py},
                        int64_t{cursor_x},
                        int64_t{cursor_y},
                        int64_t{cursor_on_board},
                        int64_t{empty_click_latch},
                        int64_t{tally_frames},
                        static_cast<int64_t>(level_data_cursor),
                        int64_t{message_colour}}) {
    h = hash_int(h, value);
  }
  h = hash_int(h, static_cast<int64_t>(message_line.size()));
  h = replay_hash(message_line.data(), message_line.size(), h);
  for (const Cell& cell : grid) {
    h = hash_int(h, cell.concentration);
    h = hash_int(h, cell.flags);
    h = hash_int(h, cell.highlight);
    h = hash_int(h, cell.fill_mark);
  }
  return h;
}

uint32_t replay_level_data_hash() { return replay_hash(level_stream_data(), level_stream_length()); }

uint32_t replay_level_data_size() { return static_cast<uint32_t>(level_stream_length()); }

void replay_record_begin(int32_t start_level) {
  RECORD = RecordState{};
  RECORD.on = 1;
  Replay& replay = RECORD.replay;
  replay.game_version = Q47_VERSION;
  replay.level_data_hash = replay_level_data_hash();
  replay.level_data_size = replay_level_data_size();
  replay.seed = fresh_seed();
  replay.start_level = start_level;
  random_seed(replay.seed);
}

void replay_record_frame() {
  if (!RECORD.on) return;
  // Past a day of play the recording stops growing; the game goes on.
  if (RECORD.frames.count() >= REPLAY_MAX_FRAMES) return;
  RECORD.frames.add(input_frame_noted());
  if (RECORD.frames.count() % REPLAY_CHECKPOINT_FRAMES == 0) {
    RECORD.replay.checkpoints.push_back(replay_state_checksum());
  }
}

void replay_record_finish(const std::vector<std::string>& paths) {
  if (!RECORD.on) return;
  Replay& replay = RECORD.replay;
  replay.frame_count = RECORD.frames.count();
  RECORD.frames.finish(replay.frame_data);
  replay.final_checksum = replay_state_checksum();
  for (const std::string& path : paths) {
    std::string error;
    if (!replay_write(path, replay, error)) report("cannot save the replay: " + error);
  }
  RECORD = RecordState{};
}

std::string replay_last_run_path(std::string& error) {
  std::string folder;
  const char* state = std::getenv("XDG_STATE_HOME");
  // Only an absolute path counts; a relative one is to be ignored.
  if (state && state[0] == '/') {
    folder = state;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/') {
      error = "no home folder to keep the last run in (HOME is not set)";
      return {};
    }
    folder = std::string(home) + "/.local/state";
  }
  const std::string path = folder + "/q47/" + REPLAY_LAST_RUN_NAME;
  if (!make_parents(path, error)) return {};
  return path;
}

std::string replay_unusable(const Replay& replay) {
  if (replay.level_data_hash != replay_level_data_hash() ||
      replay.level_data_size != replay_level_data_size()) {
    return "recorded on other level data (hash " + hex(replay.level_data_hash) + ", " +
           std::to_string(replay.level_data_size) +
           " bytes; these levels: " + hex(replay_level_data_hash()) + ", " +
           std::to_string(replay_level_data_size()) + " bytes)";
  }
  if (replay.start_level < 0 || replay.start_level > level_count()) {
    return "starts on level " + std::to_string(replay.start_level) + ", which does not exist";
  }
  return {};
}

ReplayOutcome replay_run_headless(const Replay& replay, int32_t draw) {
  ReplayOutcome outcome;
  game_startup_headless(draw);
  start_run(replay);
  ReplayDecoder decoder(replay.frame_data);
  RUN = RunState{};
  RUN.decoder = &decoder;
  if (draw) RUN.pixels.assign(static_cast<size_t>(SCREEN_WIDTH) * SCREEN_HEIGHT, 0);
  const FrameDevice& device = draw ? HEADLESS_DRAWN_DEVICE : HEADLESS_DEVICE;
  const auto began = std::chrono::steady_clock::now();
  int32_t previous_state = game_state;
  for (;;) {
    const int32_t going = game_frame_with(device);
    if (RUN.started == outcome.frames) break;  // the recording had no frame left
    outcome.frames = RUN.started;
    if (game_state == STATE_TALLY && previous_state != STATE_TALLY) outcome.levels_completed += 1;
    previous_state = game_state;
    if (outcome.frames % REPLAY_CHECKPOINT_FRAMES == 0 && outcome.first_bad_checkpoint < 0) {
      const size_t index = static_cast<size_t>(outcome.frames / REPLAY_CHECKPOINT_FRAMES - 1);
      const uint32_t got = replay_state_checksum();
      if (index < replay.checkpoints.size() && replay.checkpoints[index] != got) {
        outcome.first_bad_checkpoint = static_cast<int64_t>(index);
        outcome.checkpoint_expected = replay.checkpoints[index];
        outcome.checkpoint_got = got;
      }
    }
    if (!going) break;
  }
  outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  outcome.score = score;
  outcome.checksum = replay_state_checksum();
  outcome.matches = outcome.first_bad_checkpoint < 0 && outcome.frames == replay.frame_count &&
                    outcome.checksum == replay.final_checksum;
  if (draw) draw_forget_pixels(RUN.pixels.data());
  RUN = RunState{};
  return outcome;
}

int replay_verify_main(const std::string& path, int32_t draw) {
  Replay replay;
  if (!load_usable(path, replay)) return 2;
  const ReplayOutcome outcome = replay_run_headless(replay, draw);
  const double rate =
      outcome.seconds > 0 ? static_cast<double>(outcome.frames) / outcome.seconds : 0;
  std::printf("levels %d, score %d, %" PRId64 " frames, %.0f frames/s, checksum %s\n",
              outcome.levels_completed, outcome.score, outcome.frames, rate,
              hex(outcome.checksum).c_str());
  std::fflush(stdout);
  if (outcome.matches) return 0;
  if (outcome.first_bad_checkpoint >= 0) {
    report(path + ": first difference at checkpoint " +
           std::to_string(outcome.first_bad_checkpoint + 1) + " (frame " +
           std::to_string((outcome.first_bad_checkpoint + 1) * REPLAY_CHECKPOINT_FRAMES) +
           "): recorded " + hex(outcome.checkpoint_expected) + ", replayed " +
           hex(outcome.checkpoint_got));
  } else if (outcome.frames != replay.frame_count) {
    report(path + ": the game ended after " + std::to_string(outcome.frames) +
           " frames; the recording has " + std::to_string(replay.frame_count));
  } else {
    report(path + ": final checksum differs: recorded " + hex(replay.final_checksum) +
           ", replayed " + hex(outcome.checksum));
  }
  return 1;
}

int replay_play_main(const std::string& path) {
  Replay replay;
  if (!load_usable(path, replay)) return 2;
  game_startup();
  start_run(replay);
  ReplayDecoder decoder(replay.frame_data);
  RUN = RunState{};
  RUN.decoder = &decoder;
  while (game_frame_with(PLAY_DEVICE) && !RUN.stop) {
  }
  RUN = RunState{};
  game_end();
  return 0;
}

bool replay_run_script(const std::vector<InputFrame>& script, int32_t start_level,
                       const std::string& path, Replay& replay, std::string& error) {
  replay = Replay{};
  replay.game_version = Q47_VERSION;
  replay.level_data_hash = replay_level_data_hash();
  replay.level_data_size = replay_level_data_size();
  replay.seed = REPLAY_SCRIPT_SEED;
  replay.start_level = start_level;
  game_startup_headless(0);
  start_run(replay);
  RUN = RunState{};
  RUN.script = &script;
  ReplayEncoder frames;
  for (;;) {
    const int32_t going = game_frame_with(HEADLESS_DEVICE);
    if (RUN.started == frames.count()) break;  // the script is over
    frames.add(input_frame_noted());
    if (frames.count() % REPLAY_CHECKPOINT_FRAMES == 0) {
      replay.checkpoints.push_back(replay_state_checksum());
    }
    if (!going) break;
  }
  RUN = RunState{};
  replay.frame_count = frames.count();
  frames.finish(replay.frame_data);
  replay.final_checksum = replay_state_checksum();
  return path.empty() || replay_write(path, replay, error);
}
