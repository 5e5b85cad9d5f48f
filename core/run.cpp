#include "core/run.h"

#include <chrono>

#include "core/level_stream.h"

namespace {

// A replay's frame as the rules' input: the answers the devices gave when it was noted. No
// picture, no display to switch.
struct GivenFrame {
  InputFrame frame;  // what is left to answer: a release goes with the first test that sees it

  int32_t closed() { return (frame.events & INPUT_CLOSED) ? 1 : 0; }
  int32_t active() { return (frame.held & INPUT_ACTIVE) ? 1 : 0; }
  int32_t begin_pass() { return (frame.held & INPUT_NO_PASS) ? 0 : 1; }
  int32_t mouse_x() { return frame.pointer_x; }
  int32_t mouse_y() { return frame.pointer_y; }
  int32_t button(int32_t n) {
    const uint8_t bit = n == 1 ? INPUT_HELD_LEFT : n == 2 ? INPUT_HELD_RIGHT : 0;
    return (frame.held & bit) ? 1 : 0;
  }
  int32_t held(uint8_t bit) { return (frame.held & bit) ? 1 : 0; }
  int32_t released(uint8_t bit) { return input_frame_take_release(frame, bit); }
  int32_t switch_display() { return 1; }
  void draw() {}
  void end_pass() {}
  void present() {}
};

double seconds_now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

void run_begin(Rules& rules, const LevelStream* stream, const RulesEffects* effects) {
  rules_start(rules, stream, effects);
  // Level 1 is loaded once already so that the board state is valid behind the intro; the
  // intro's end loads it again.
  load_level(rules, 1);
  story_open(rules, LEVEL_ENTRY_INTRO);
}

void run_start_at_level(Rules& rules, int32_t level) {
  if (level <= 0) return;
  rules_start_music(rules);
  rules.score = 0;
  load_level(rules, level);
}

RunOutcome run_replay(const Replay& replay, const LevelStream& stream, const RunLimits& limits) {
  RunOutcome outcome;
  outcome.refused = replay_unusable(replay, stream);
  if (!outcome.refused.empty()) return outcome;
  Rules rules;
  run_begin(rules, &stream, nullptr);
  run_start_at_level(rules, replay.start_level);
  ReplayDecoder decoder(replay.frame_data);
  double (*const clock)() = limits.clock ? limits.clock : seconds_now;
  const double began = clock();
  GivenFrame given;
  while (decoder.next(given.frame)) {
    if (outcome.frames >= limits.max_frames) {
      outcome.stopped = "more than " + std::to_string(limits.max_frames) + " frames";
      break;
    }
    // The clock is asked every 4096 frames (a few milliseconds of rules).
    if (limits.max_seconds > 0 && outcome.frames % 4096 == 0 &&
        clock() - began > limits.max_seconds) {
      outcome.stopped = "took longer than the time allowed";
      break;
    }
    const int32_t before = rules.game_state;
    const int32_t going = rules_frame(rules, given);
    outcome.frames += 1;
    if (rules.game_state == STATE_TALLY && before != STATE_TALLY) {
      outcome.levels_completed += 1;
      outcome.levels.push_back({rules.level_number, rules.barriers_left});
    }
    if (outcome.frames % REPLAY_CHECKPOINT_FRAMES == 0 && outcome.first_bad_checkpoint < 0) {
      const size_t index = static_cast<size_t>(outcome.frames / REPLAY_CHECKPOINT_FRAMES - 1);
      // The run cannot match once a checkpoint differs: running on would only spend the
      // processor time a forged replay asks for.
      if (index < replay.checkpoints.size() &&
          replay.checkpoints[index] != replay_state_checksum(rules)) {
        outcome.first_bad_checkpoint = static_cast<int64_t>(index);
        break;
      }
    }
    if (going != RULES_FRAME_GOING) break;
  }
  outcome.score = rules.score;
  outcome.checksum = replay_state_checksum(rules);
  outcome.matches = outcome.stopped.empty() && outcome.first_bad_checkpoint < 0 &&
                    outcome.frames == replay.frame_count &&
                    outcome.checksum == replay.final_checksum;
  return outcome;
}
