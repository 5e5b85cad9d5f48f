// Runs as replays: recording the window's run, watching a recording, checking one headless, and
// running a script of input through the real loop. The rules never learn which of these is
// going on: every input answer passes through play/input.h, and the frame's device work through
// a FrameDevice. Nothing here touches a file: the shell reads and writes them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/level_check.h"
#include "core/replay_codec.h"
#include "play/input.h"
#include "play/session.h"

// --- Recording the window's run ---
// Seeds the picture's random choices and starts an empty recording of a run from start_level.
void replay_record_begin(int32_t start_level);
// After every frame, also the last: keeps the frame's input and every 256th frame's state
// checksum.
void replay_record_frame();
// The recording so far, finished: its frame count and final checksum filled in.
Replay replay_record_finish();

// --- Checking a replay headless ---
// What a headless run of a replay found.
struct ReplayOutcome {
  int64_t frames = 0;                 // frames run
  int32_t levels_completed = 0;       // levels won (each tally begun)
  int32_t score = 0;                  // final score
  uint32_t checksum = 0;              // state checksum after the last frame run
  int64_t first_bad_checkpoint = -1;  // index of the first checkpoint that differs, -1 = none
  uint32_t checkpoint_expected = 0;   // that checkpoint as recorded
  uint32_t checkpoint_got = 0;        // and as replayed
  double seconds = 0;                 // time the frames took
  bool matches = false;  // every checkpoint, the frame count and the final checksum agree
};
// Runs replay through the real frame with no window, sound, pacing or waits; with draw every
// frame is drawn into a 640 x 480 pixel array as in play. The game state is left as the run
// left it. picture_frame > 0 copies that frame's picture (drawn runs only) into picture.
ReplayOutcome replay_run_headless(const Replay& replay, int32_t draw, int64_t picture_frame = 0,
                                  std::vector<uint32_t>* picture = nullptr);
// The one line a verification prints: "levels L, score S, F frames, R frames/s, checksum C".
std::string replay_outcome_line(const ReplayOutcome& outcome);
// Why a run that does not match its recording differs (the first differing checkpoint, the
// frame count, or the final checksum); empty when it matches.
std::string replay_outcome_problem(const Replay& replay, const ReplayOutcome& outcome);

// --- Watching a replay in the window ---
// Starts showing replay (kept by the run) at normal speed on the game already started; the
// viewer's Escape and the close box stop it, and Space held runs four frames to each one shown.
// A recorded Ctrl+F is not done again.
void replay_watch_begin(const Replay& replay);
// The watching frame's device.
FrameDevice replay_watch_device();
// Whether the viewer asked to stop.
int32_t replay_watch_stopped();
// Whether the last frame was shown (a fast frame is not, and its shell does not pause after it).
int32_t replay_watch_shown();
// Lets go of the run.
void replay_watch_end();

// --- Scripted runs ---
// Runs script through the real loop headless, from the intro (start_level 0) or on level
// start_level, one InputFrame per frame (pointer in game pixels, buttons and keys held, keys
// released that frame; INPUT_ACTIVE should be set for the game to take the input), until the
// script ends or the game quits. Returns the resulting replay (its checksums are those of the
// real rules).
Replay replay_run_script(const std::vector<InputFrame>& script, int32_t start_level);
// report's plan played as a replay on the game's levels: the level started directly, the pointer
// over each action's cell with its button held for that frame, Enter once the chemical is
// walled in, and the tally to its end. Runs through the real loop.
Replay replay_of_plan(const LevelReport& report);
