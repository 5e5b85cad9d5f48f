#include "play/replay.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "core/barriers.h"
#include "media/draw.h"
#include "media/draw_target.h"
#include "media/keyboard.h"
#include "media/random.h"
#include "media/screen.h"
#include "media/timing.h"
#include "play/board_view.h"

namespace {

constexpr int32_t REPLAY_FAST_FRAMES = 4;    // frames per shown frame while Space is held
constexpr uint32_t REPLAY_SCRIPT_SEED = 47;  // scripted runs all draw the same specks

// The seed of a recorded run: any value, as long as it is stored.
uint32_t fresh_seed() {
  return static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
         static_cast<uint32_t>(tick_ms());
}

// --- The headless devices: no window, no sound, no pacing ---

// The picture a drawn headless run draws into (one run at a time draws).
std::vector<uint32_t>* HEADLESS_PIXELS = nullptr;

void nothing() {}
int32_t headless_pass() { return 1; }

int32_t headless_drawn_pass() {
  std::memset(HEADLESS_PIXELS->data(), 0, HEADLESS_PIXELS->size() * sizeof(uint32_t));
  return draw_begin(
      draw_target_on_pixels(HEADLESS_PIXELS->data(), SCREEN_WIDTH, SCREEN_HEIGHT, SCREEN_WIDTH));
}

constexpr FrameDevice HEADLESS_DEVICE = {nullptr, headless_pass, nothing, 0};
constexpr FrameDevice HEADLESS_DRAWN_DEVICE = {nullptr, headless_drawn_pass, nothing, 1};

// The window's screen, presented by the watcher itself: fast frames are not shown.
int32_t watch_pass() {
  screen_clear(0);
  return draw_begin(screen_output());
}
constexpr FrameDevice WATCH_DEVICE = {nullptr, watch_pass, nothing, 1};

// A session for a run checked or scripted headless, on levels, as the replay began it.
Session headless_session(std::shared_ptr<const LevelStream> levels, int32_t draw,
                         const Replay& replay, int32_t marked_cells = 0) {
  View picture = board_view_picture(draw);
  picture.marked_cells = marked_cells;
  Session session = session_make(std::move(levels), picture, 0, 0);
  session.view.windowed = 0;
  random_seed(replay.seed);
  session_start_at_level(session, replay.start_level);
  return session;
}

// Runs next's frames on session headless, noting each frame and a checksum every 256 into a
// replay of the run; returns it finished.
template <typename Next>
Replay record_given_run(Session& session, Replay replay, Next next) {
  ReplayEncoder frames;
  InputFrame frame;
  int64_t started = 0;
  while (next(frame)) {
    session.view.frame_tick = session_frame_ms(started);
    started += 1;
    const int32_t going = session_frame(session, HEADLESS_DEVICE, nullptr, &frame);
    frames.add(input_frame_noted(session.input));
    if (frames.count() % REPLAY_CHECKPOINT_FRAMES == 0) {
      replay.checkpoints.push_back(replay_state_checksum(session.rules));
    }
    if (going != SESSION_GOING) break;
  }
  replay.frame_count = frames.count();
  frames.finish(replay.frame_data);
  replay.final_checksum = replay_state_checksum(session.rules);
  return replay;
}

}  // namespace

Recording replay_record_begin(const Session& session, int32_t start_level) {
  Recording recording;
  recording.replay = replay_header(rules_stream(session.rules), fresh_seed(), start_level);
  random_seed(recording.replay.seed);
  return recording;
}

void replay_record_frame(Recording& recording, const Session& session) {
  // Past a day of play the recording stops growing; the game goes on.
  if (recording.frames.count() >= REPLAY_MAX_FRAMES) return;
  recording.frames.add(input_frame_noted(session.input));
  if (recording.frames.count() % REPLAY_CHECKPOINT_FRAMES == 0) {
    recording.replay.checkpoints.push_back(replay_state_checksum(session.rules));
  }
}

Replay replay_record_finish(Recording& recording, const Session& session) {
  Replay replay = std::move(recording.replay);
  replay.frame_count = recording.frames.count();
  recording.frames.finish(replay.frame_data);
  replay.final_checksum = replay_state_checksum(session.rules);
  recording = Recording{};
  return replay;
}

ReplayOutcome replay_run_headless(const Replay& replay, int32_t draw, int64_t picture_frame,
                                  std::vector<uint32_t>* picture, Session* ended,
                                  int32_t marked_cells) {
  ReplayOutcome outcome;
  Session session = headless_session(session_levels(), draw, replay, marked_cells);
  std::vector<uint32_t> pixels;
  if (draw) {
    pixels.assign(static_cast<size_t>(SCREEN_WIDTH) * SCREEN_HEIGHT, 0);
    HEADLESS_PIXELS = &pixels;
  }
  const FrameDevice& device = draw ? HEADLESS_DRAWN_DEVICE : HEADLESS_DEVICE;
  ReplayDecoder decoder(replay.frame_data);
  const auto began = std::chrono::steady_clock::now();
  int32_t previous_state = session.rules.game_state;
  InputFrame frame;
  while (decoder.next(frame)) {
    session.view.frame_tick = session_frame_ms(outcome.frames);
    const int32_t going = session_frame(session, device, nullptr, &frame);
    outcome.frames += 1;
    if (draw && picture && outcome.frames == picture_frame) *picture = pixels;
    if (session.rules.game_state == STATE_TALLY && previous_state != STATE_TALLY) {
      outcome.levels_completed += 1;
    }
    previous_state = session.rules.game_state;
    if (outcome.frames % REPLAY_CHECKPOINT_FRAMES == 0 && outcome.first_bad_checkpoint < 0) {
      const size_t index = static_cast<size_t>(outcome.frames / REPLAY_CHECKPOINT_FRAMES - 1);
      const uint32_t got = replay_state_checksum(session.rules);
      if (index < replay.checkpoints.size() && replay.checkpoints[index] != got) {
        outcome.first_bad_checkpoint = static_cast<int64_t>(index);
        outcome.checkpoint_expected = replay.checkpoints[index];
        outcome.checkpoint_got = got;
      }
    }
    if (going != SESSION_GOING) break;
  }
  outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  outcome.score = session.rules.score;
  outcome.checksum = replay_state_checksum(session.rules);
  outcome.matches = outcome.first_bad_checkpoint < 0 && outcome.frames == replay.frame_count &&
                    outcome.checksum == replay.final_checksum;
  if (draw) {
    draw_forget_pixels(pixels.data());
    HEADLESS_PIXELS = nullptr;
  }
  if (ended) *ended = std::move(session);
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

ReplayVerdict replay_verify(const Replay& replay, int32_t draw, int64_t picture_frame,
                            const std::string& frame_option, int32_t marked_cells) {
  ReplayVerdict verdict;
  const bool picture = picture_frame > 0;
  const ReplayOutcome outcome = replay_run_headless(replay, draw || picture, picture_frame,
                                                    &verdict.pixels, nullptr, marked_cells);
  verdict.line = replay_outcome_line(outcome);
  if (picture && verdict.pixels.empty()) {
    verdict.code = 2;
    verdict.problem =
        frame_option + ": the run has only " + std::to_string(outcome.frames) + " frames";
  } else if (!outcome.matches) {
    verdict.code = 1;
    verdict.problem = replay_outcome_problem(replay, outcome);
  }
  return verdict;
}

void replay_watch_begin(Watch& watch, const Replay& replay,
                        std::shared_ptr<const LevelStream> levels, const View& picture,
                        int32_t sound_ok) {
  watch.session = session_make(std::move(levels), picture, sound_ok, 0);
  watch.replay = replay;
  watch.decoder = std::make_unique<ReplayDecoder>(watch.replay.frame_data);
  watch.started = watch.stop = watch.fast = watch.batch = watch.shown = 0;
  random_seed(replay.seed);
  session_start_at_level(watch.session, replay.start_level);
}

int32_t replay_watch_frame(Watch& watch, const PlayerInput& viewer, int32_t frame_tick) {
  watch.shown = 0;
  if (viewer.keys_read && viewer.keys[KEY_ESCAPE]) watch.stop = 1;
  watch.fast = viewer.keys_read && viewer.keys[KEY_SPACE] ? 1 : 0;
  InputFrame frame;
  if (watch.stop || !watch.decoder || !watch.decoder->next(frame)) return SESSION_OVER;
  watch.started += 1;
  watch.session.view.frame_tick = frame_tick;
  watch.session.view.windowed = screen_windowed();
  const int32_t going = session_frame(watch.session, WATCH_DEVICE, nullptr, &frame);
  // The close box stops the showing after the frame it came in.
  if (viewer.closed) watch.stop = 1;
  watch.batch += 1;
  watch.shown = !watch.fast || watch.batch >= REPLAY_FAST_FRAMES;
  if (watch.shown) {
    watch.batch = 0;
    screen_present();
  }
  return going == SESSION_GOING && !watch.stop ? SESSION_GOING : SESSION_OVER;
}

Replay replay_run_script(const std::vector<InputFrame>& script, int32_t start_level,
                         std::shared_ptr<const LevelStream> levels) {
  Replay replay =
      replay_header(levels ? *levels : level_stream_builtin(), REPLAY_SCRIPT_SEED, start_level);
  Session session = headless_session(std::move(levels), 0, replay);
  size_t next = 0;
  return record_given_run(session, std::move(replay), [&](InputFrame& frame) {
    if (next >= script.size()) return false;
    frame = script[next++];
    return true;
  });
}

Replay replay_of_plan(const LevelReport& report, std::shared_ptr<const LevelStream> levels) {
  std::vector<InputFrame> script =
      level_check_plan_frames(levels ? *levels : level_stream_builtin(), report);
  InputFrame frame = script.back();
  frame.events = 0;
  // The tally drains a barrier a frame and lasts at least BARRIERS_TALLY_MIN_FRAMES.
  const int32_t tally = std::max(report.plan_score, BARRIERS_TALLY_MIN_FRAMES) + 2;
  for (int32_t i = 0; i < tally; ++i) script.push_back(frame);
  return replay_run_script(script, report.level, std::move(levels));
}
