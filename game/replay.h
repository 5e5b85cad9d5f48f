// Runs as replays: recording the window's run, watching a recording, checking one headless, and
// running a script of input through the real loop. The rules never learn which of these is
// going on: every input answer passes through game/input.h, and the frame's device work through
// a FrameDevice.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "game/input.h"
#include "game/replay_file.h"

constexpr const char* REPLAY_LAST_RUN_NAME = "last.q47r";  // under $XDG_STATE_HOME/q47/

// Checksum of everything the rules carry from frame to frame: the grid, the level's numbers,
// the state, the score, the pointer's cell, the story's place. Nothing only the picture uses
// (the shake, the random generator, the clock) is in it, so a run drawn and a run not drawn
// agree.
uint32_t replay_state_checksum();
// Hash and length of the level data the game plays on; a replay made on other data is refused.
uint32_t replay_level_data_hash();
uint32_t replay_level_data_size();

// --- Recording the window's run (main's loop) ---
// Seeds the picture's random choices and starts an empty recording of a run from start_level.
void replay_record_begin(int32_t start_level);
// After every game_frame, also the last: keeps the frame's input and every 256th frame's
// state checksum.
void replay_record_frame();
// Writes the recording to each path (temporary file and rename). A failure is one line on
// standard error and never stops the game.
void replay_record_finish(const std::vector<std::string>& paths);
// Where the last run is kept: $XDG_STATE_HOME/q47/last.q47r, else ~/.local/state/q47/last.q47r;
// the folders are made as needed. Empty, with the reason in error, when there is no such place.
std::string replay_last_run_path(std::string& error);

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
// Why replay cannot be played here (other level data, a level that does not exist); empty
// when it can.
std::string replay_unusable(const Replay& replay);
// Runs replay through the real frame with no window, sound, pacing or waits; with draw every
// frame is drawn into a 640 x 480 pixel array as in play. The game state is left as the run
// left it.
ReplayOutcome replay_run_headless(const Replay& replay, int32_t draw);
// --verify PATH: runs the replay and prints "levels L, score S, F frames, R frames/s, checksum C".
// Returns the exit code: 0 = checksum as recorded, 1 = it differs (the first differing
// checkpoint on standard error), 2 = the file cannot be used.
int replay_verify_main(const std::string& path, int32_t draw);

// --- Watching a replay in the window ---
// --play PATH: shows the run at normal speed; the viewer's Escape quits and Space held runs four
// frames to each one shown. A recorded Ctrl+F is not done again. Returns the exit code (0 at the
// end of the recording, 2 for a file that cannot be used).
int replay_play_main(const std::string& path);

// --- Scripted runs ---
// Runs script through the real loop headless, from the intro (start_level 0) or on level
// start_level, one InputFrame per frame (pointer in game pixels, buttons and keys held, keys
// released that frame; INPUT_ACTIVE should be set for the game to take the input), until the
// script ends or the game quits. Builds the resulting replay into replay (its checksums are
// those of the real rules), and writes it to path unless path is empty. False with the reason
// in error when the file cannot be written.
bool replay_run_script(const std::vector<InputFrame>& script, int32_t start_level,
                       const std::string& path, Replay& replay, std::string& error);
