#include "play/replay.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>

#include "core/barriers.h"
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

constexpr int32_t REPLAY_FRAME_MS = 20;      // the clock of a headless frame: 50 a second
constexpr int32_t REPLAY_FAST_FRAMES = 4;    // frames per shown frame while Space is held
constexpr uint32_t REPLAY_SCRIPT_SEED = 47;  // scripted runs all draw the same specks

// The recording of the window's run.
struct RecordState {
  int32_t on = 0;        // replay_record_begin ran
  Replay replay;         // header and checkpoints so far
  ReplayEncoder frames;  // the frames so far
};

// A run of given frames: a replay's, or a script's.
struct RunState {
  Replay replay;                                    // the replay being run (owned)
  std::unique_ptr<ReplayDecoder> decoder;           // over replay.frame_data, or null
  const std::vector<InputFrame>* script = nullptr;  // frames of a script, or null
  size_t script_next = 0;                           // next script frame
  int64_t started = 0;                              // frames begun
  std::vector<uint32_t> pixels;                     // the headless picture when drawn
  int32_t stop = 0;                                 // the viewer asked to stop (watching)
  int32_t fast = 0;                                 // Space held (watching)
  int32_t batch = 0;                                // frames since the last one shown
  int32_t shown = 0;                                // this frame was presented (watching)
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

// Runs replay's frames from RUN.replay.
void run_replay(const Replay& replay) {
  RUN = RunState{};
  RUN.replay = replay;
  RUN.decoder = std::make_unique<ReplayDecoder>(RUN.replay.frame_data);
}

// --- The headless device: no window, no sound, no pacing ---

int32_t headless_start() {
  InputFrame frame;
  if (!next_given(frame)) return 0;
  // The picture's pulse follows a steady 50-frames-a-second clock.
  VIEW.frame_tick = static_cast<int32_t>(RUN.started * REPLAY_FRAME_MS);
  RUN.started += 1;
  input_frame_start(&frame);
  return 1;
}

int32_t no_close() { return 0; }
void no_pointer(int32_t) {}
void nothing() {}
int32_t headless_pass() { return 1; }

int32_t headless_drawn_pass() {
  std::memset(RUN.pixels.data(), 0, RUN.pixels.size() * sizeof(uint32_t));
  return draw_begin(
      draw_target_on_pixels(RUN.pixels.data(), SCREEN_WIDTH, SCREEN_HEIGHT, SCREEN_WIDTH));
}

constexpr FrameDevice HEADLESS_DEVICE = {headless_start, no_close, no_pointer, nullptr,
                                         headless_pass,  nothing,  0};
constexpr FrameDevice HEADLESS_DRAWN_DEVICE = {headless_start,      no_close, no_pointer, nullptr,
                                               headless_drawn_pass, nothing,  1};

// --- The watching device: the window shows the replay, the viewer's own keys steer it ---

int32_t watch_start() {
  VIEW.frame_tick = static_cast<int32_t>(tick_ms());
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

int32_t watch_closed() {
  for (int32_t event = window_poll_event(); event != 0; event = window_poll_event()) {
    if (event == EVENT_CLOSE_WINDOW) RUN.stop = 1;
  }
  return 0;
}

// The viewer keeps the pointer: the run's own pointer is only in the recording.
void watch_pointer(int32_t) {
  if (VIEW.windowed) mouse_release(1);
}

int32_t watch_pass() {
  screen_clear(0);
  return draw_begin(screen_output());
}

void watch_present() {
  RUN.batch += 1;
  RUN.shown = !RUN.fast || RUN.batch >= REPLAY_FAST_FRAMES;
  if (!RUN.shown) return;
  RUN.batch = 0;
  screen_present();
}

constexpr FrameDevice WATCH_DEVICE = {
    watch_start, watch_closed, watch_pointer, nullptr, watch_pass, watch_present, 1};

// The run's first state: the intro, or the level a --level run began on.
void start_run(const Replay& replay) {
  random_seed(replay.seed);
  game_start_at_level(replay.start_level);
}

// Runs the frames given in RUN on device, noting each frame and a checksum every 256 into a
// replay of the run; returns it finished.
Replay record_given_run(Replay replay, const FrameDevice& device) {
  ReplayEncoder frames;
  for (;;) {
    const int32_t going = session_frame(device);
    if (RUN.started == frames.count()) break;  // nothing was left to give
    frames.add(input_frame_noted());
    if (frames.count() % REPLAY_CHECKPOINT_FRAMES == 0) {
      replay.checkpoints.push_back(replay_state_checksum(GAME));
    }
    if (going != SESSION_GOING) break;
  }
  replay.frame_count = frames.count();
  frames.finish(replay.frame_data);
  replay.final_checksum = replay_state_checksum(GAME);
  return replay;
}

}  // namespace

void replay_record_begin(int32_t start_level) {
  RECORD = RecordState{};
  RECORD.on = 1;
  RECORD.replay = replay_header(session_stream(), fresh_seed(), start_level);
  random_seed(RECORD.replay.seed);
}

void replay_record_frame() {
  if (!RECORD.on) return;
  // Past a day of play the recording stops growing; the game goes on.
  if (RECORD.frames.count() >= REPLAY_MAX_FRAMES) return;
  RECORD.frames.add(input_frame_noted());
  if (RECORD.frames.count() % REPLAY_CHECKPOINT_FRAMES == 0) {
    RECORD.replay.checkpoints.push_back(replay_state_checksum(GAME));
  }
}

Replay replay_record_finish() {
  Replay replay = std::move(RECORD.replay);
  replay.frame_count = RECORD.frames.count();
  RECORD.frames.finish(replay.frame_data);
  replay.final_checksum = replay_state_checksum(GAME);
  RECORD = RecordState{};
  return replay;
}

ReplayOutcome replay_run_headless(const Replay& replay, int32_t draw, int64_t picture_frame,
                                  std::vector<uint32_t>* picture) {
  ReplayOutcome outcome;
  game_startup_headless(draw);
  start_run(replay);
  run_replay(replay);
  if (draw) RUN.pixels.assign(static_cast<size_t>(SCREEN_WIDTH) * SCREEN_HEIGHT, 0);
  const FrameDevice& device = draw ? HEADLESS_DRAWN_DEVICE : HEADLESS_DEVICE;
  const auto began = std::chrono::steady_clock::now();
  int32_t previous_state = GAME.game_state;
  for (;;) {
    const int32_t going = session_frame(device);
    if (RUN.started == outcome.frames) break;  // the recording had no frame left
    outcome.frames = RUN.started;
    if (draw && picture && outcome.frames == picture_frame) *picture = RUN.pixels;
    if (GAME.game_state == STATE_TALLY && previous_state != STATE_TALLY) {
      outcome.levels_completed += 1;
    }
    previous_state = GAME.game_state;
    if (outcome.frames % REPLAY_CHECKPOINT_FRAMES == 0 && outcome.first_bad_checkpoint < 0) {
      const size_t index = static_cast<size_t>(outcome.frames / REPLAY_CHECKPOINT_FRAMES - 1);
      const uint32_t got = replay_state_checksum(GAME);
      if (index < replay.checkpoints.size() && replay.checkpoints[index] != got) {
        outcome.first_bad_checkpoint = static_cast<int64_t>(index);
        outcome.checkpoint_expected = replay.checkpoints[index];
        outcome.checkpoint_got = got;
      }
    }
    if (going != SESSION_GOING) break;
  }
  outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  outcome.score = GAME.score;
  outcome.checksum = replay_state_checksum(GAME);
  outcome.matches = outcome.first_bad_checkpoint < 0 && outcome.frames == replay.frame_count &&
                    outcome.checksum == replay.final_checksum;
  if (draw) draw_forget_pixels(RUN.pixels.data());
  RUN = RunState{};
  return outcome;
}

std::string replay_outcome_line(const ReplayOutcome& outcome) {
  const double rate =
      outcome.seconds > 0 ? static_cast<double>(outcome.frames) / outcome.seconds : 0;
  char line[160];
  std::snprintf(line, sizeof line,
                "levels %d, score %d, %" PRId64 " frames, %.0f frames/s, checksum %s",
                outcome.levels_completed, outcome.score, outcome.frames, rate,
                replay_hex(outcome.checksum).c_str());
  return line;
}

std::string replay_outcome_problem(const Replay& replay, const ReplayOutcome& outcome) {
  if (outcome.matches) return {};
  if (outcome.first_bad_checkpoint >= 0) {
    return "first difference at checkpoint " + std::to_string(outcome.first_bad_checkpoint + 1) +
           " (frame " +
           std::to_string((outcome.first_bad_checkpoint + 1) * REPLAY_CHECKPOINT_FRAMES) +
           "): recorded " + replay_hex(outcome.checkpoint_expected) + ", replayed " +
           replay_hex(outcome.checkpoint_got);
  }
  if (outcome.frames != replay.frame_count) {
    return "the game ended after " + std::to_string(outcome.frames) +
           " frames; the recording has " + std::to_string(replay.frame_count);
  }
  return "final checksum differs: recorded " + replay_hex(replay.final_checksum) + ", replayed " +
         replay_hex(outcome.checksum);
}

void replay_watch_begin(const Replay& replay) {
  start_run(replay);
  run_replay(replay);
}

FrameDevice replay_watch_device() { return WATCH_DEVICE; }

int32_t replay_watch_stopped() { return RUN.stop; }

int32_t replay_watch_shown() { return RUN.shown; }

void replay_watch_end() { RUN = RunState{}; }

Replay replay_run_script(const std::vector<InputFrame>& script, int32_t start_level) {
  Replay replay = replay_header(session_stream(), REPLAY_SCRIPT_SEED, start_level);
  game_startup_headless(0);
  start_run(replay);
  RUN = RunState{};
  RUN.script = &script;
  replay = record_given_run(std::move(replay), HEADLESS_DEVICE);
  RUN = RunState{};
  return replay;
}

Replay replay_of_plan(const LevelReport& report) {
  std::vector<InputFrame> script = level_check_plan_frames(session_stream(), report);
  InputFrame frame = script.back();
  frame.events = 0;
  // The tally drains a barrier a frame and lasts at least BARRIERS_TALLY_MIN_FRAMES.
  const int32_t tally = std::max(report.plan_score, BARRIERS_TALLY_MIN_FRAMES) + 2;
  for (int32_t i = 0; i < tally; ++i) script.push_back(frame);
  return replay_run_script(script, report.level);
}
