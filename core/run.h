// One frame of the rules, and a whole run of a replay on them. The frame's order (the close
// box, the pointer, Ctrl+F, Tab, the spread and the buttons, the story's keys, then Escape, R,
// the tally and Enter) is written here once: the game's frame in play/ and a headless run here
// both call rules_frame, so a run checked by a server with no screen is the run the player saw.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/barriers.h"
#include "core/input_frame.h"
#include "core/level_stream.h"
#include "core/replay_codec.h"
#include "core/rules.h"
#include "core/spread.h"
#include "core/story.h"

// What rules_frame found.
constexpr int32_t RULES_FRAME_OVER = 0;     // the loop should end (quit requested)
constexpr int32_t RULES_FRAME_GOING = 1;    // go on with the next frame
constexpr int32_t RULES_FRAME_FAILED = -1;  // the frame's owner could not switch the display

// One frame of the rules on rules. Frame is the frame's owner: it answers each question at the
// moment the rules ask it (a live keyboard's release latch depends on that order) and does what
// happens around the rules. It provides:
//   int32_t closed(), active(), begin_pass()      the close box; the game in front; the drawing
//                                                 pass began (0 skips the simulation)
//   int32_t mouse_x(), mouse_y(), button(n)       the pointer in game pixels; button 1 or 2 held
//   int32_t held(bit), released(bit)              an INPUT_HELD_* key held; an INPUT_RELEASED_*
//                                                 key released (seen by the first test only)
//   int32_t switch_display()                      Ctrl+F: 0 when the display could not switch
//   void draw(), end_pass(), present()            the picture, inside the pass and after it
template <typename Frame>
int32_t rules_frame(Rules& rules, Frame& frame) {
  if (frame.closed()) rules.quit_requested = 1;
  // Input is taken only while the game is in front; otherwise no click can land on the board,
  // though the chemical keeps spreading.
  if (frame.active()) {
    if (rules.game_state != STATE_MESSAGE) update_cursor(rules, frame.mouse_x(), frame.mouse_y());
  } else {
    rules.cursor_on_board = 0;
  }
  // F is asked first so that its release is used up even when no Ctrl is held: F alone does
  // nothing, also later.
  if (frame.released(INPUT_RELEASED_F) &&
      (frame.held(INPUT_HELD_LCONTROL) || frame.held(INPUT_HELD_RCONTROL))) {
    if (!frame.switch_display()) return RULES_FRAME_FAILED;
  }
  if (frame.released(INPUT_RELEASED_TAB) && rules.game_state == STATE_PLAYING) {
    rules.plain_view = 1 - rules.plain_view;
    rules_cue(rules, SOUND_TAKE);
  }
  // The drawing pass. A pass that cannot begin skips the simulation, the clicks and the story's
  // keys of this frame, but the keys after the flip still work.
  if (frame.begin_pass()) {
    if (rules.game_state == STATE_PLAYING) {
      spread_step(rules);
      if (rules.cursor_on_board) barriers_apply_buttons(rules, frame.button(1), frame.button(2));
    }
    if (rules.game_state == STATE_MESSAGE) {
      story_take_cues(rules);
      story_show_score(rules);
      frame.draw();
      // Space is asked first; Enter only when Space was not released, so an Enter released in
      // the same frame is left to the loop's own Enter test.
      if (frame.released(INPUT_RELEASED_SPACE) || frame.released(INPUT_RELEASED_RETURN)) {
        story_next_line(rules);
      }
    } else {
      frame.draw();
    }
    frame.end_pass();
  }
  frame.present();
  // Keys tested after the flip. Each release is asked every frame, before its state guard, so a
  // release made on another screen is used up there and never acts later.
  if (frame.held(INPUT_HELD_ESCAPE)) {
    rules.quit_requested = 1;
  } else if (frame.released(INPUT_RELEASED_R) && rules.game_state == STATE_PLAYING) {
    rules_cue(rules, SOUND_BUMP);
    load_level(rules, rules.level_number);
  }
  if (rules.game_state == STATE_TALLY) {
    tally_step(rules);
    if (rules.tally_frames == 0 && rules.barriers_left == 0) advance_level(rules);
  }
  if (frame.released(INPUT_RELEASED_RETURN) && rules.contained &&
      rules.game_state == STATE_PLAYING) {
    rules_cue(rules, SOUND_CLEAN);
    tally_start(rules);
  }
  return rules.quit_requested ? RULES_FRAME_OVER : RULES_FRAME_GOING;
}

// The rules as at program start on stream (null: the built-in levels) with effects: level 1
// loaded behind the intro, which is open.
void run_begin(Rules& rules, const LevelStream* stream, const RulesEffects* effects);
// Skips the intro to practise level (1..level count), as the intro's end would: the music
// starts, score 0; 0 leaves the intro.
void run_start_at_level(Rules& rules, int32_t level);

// What a run may cost before it is given up: a server re-runs strangers' replays.
struct RunLimits {
  int64_t max_frames = REPLAY_MAX_FRAMES;  // frames run at most
  double max_seconds = 0;                  // seconds of running at most; 0 = no limit
  // The clock max_seconds is counted on, in seconds; null is the steady (wall) clock. A server
  // gives its thread's processor time, so that a run is never refused for waiting its turn on a
  // busy machine.
  double (*clock)() = nullptr;
};

// A level won in a run: which, and the score its tally adds (the barriers in hand).
struct RunLevel {
  int32_t level = 0;
  int32_t score = 0;
};

// What running a replay on the rules proved.
struct RunOutcome {
  std::string refused;                // why the replay cannot be run on the levels ("" = it ran)
  std::string stopped;                // the limit that cut the run short ("" = it ran to its end)
  int64_t frames = 0;                 // frames run
  int32_t levels_completed = 0;       // levels won (each tally begun)
  std::vector<RunLevel> levels;       // each won level, in the order won
  int32_t score = 0;                  // final score
  uint32_t checksum = 0;              // state checksum after the last frame run
  int64_t first_bad_checkpoint = -1;  // index of the first checkpoint that differs, -1 = none
  bool matches = false;  // ran whole, and every checkpoint, the frame count and the final
                         // checksum agree with the recording
};

// Runs replay on stream with the rules alone (no picture, no sound), within limits; it stops at
// the first checkpoint that differs from the recording.
RunOutcome run_replay(const Replay& replay, const LevelStream& stream, const RunLimits& limits);
