// Runs as replays: recording a session's run, watching a recording, checking one headless, and
// running a script of input through the real frame. Each run plays on a Session of its own; the
// rules never learn which of these is going on, since every input answer passes through the
// session's SessionInput. Nothing here touches a file: the shell reads and writes them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/level_check.h"
#include "core/replay_codec.h"
#include "play/frame.h"
#include "play/session.h"

// --- Recording a run ---
// A run being recorded: its header, its frames and every 256th frame's state checksum.
struct Recording {
  Replay replay;         // header and checkpoints so far
  ReplayEncoder frames;  // the frames so far
};
// Seeds the picture's random choices and starts an empty recording of session's run from
// start_level (0: from the intro).
Recording replay_record_begin(const Session& session, int32_t start_level);
// After every frame, also the last: keeps the frame's input and every 256th frame's checksum.
void replay_record_frame(Recording& recording, const Session& session);
// The recording, finished: its frame count and final checksum filled in.
Replay replay_record_finish(Recording& recording, const Session& session);

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
// Runs replay on the levels in use through the real frame with no window, sound, pacing or
// waits, on a session of its own; with draw every frame is drawn into a 640 x 480 pixel array as
// in play. picture_frame > 0 copies that frame's picture (drawn runs only) into picture; ended,
// when given, receives the session as the run left it; marked_cells is the picture's View
// setting of that name (the rules, and so the checksum, never see it).
ReplayOutcome replay_run_headless(const Replay& replay, int32_t draw, int64_t picture_frame = 0,
                                  std::vector<uint32_t>* picture = nullptr,
                                  Session* ended = nullptr, int32_t marked_cells = 0);
// The one line a verification prints: "levels L, score S, F frames, R frames/s, checksum C".
std::string replay_outcome_line(const ReplayOutcome& outcome);
// Why a run that does not match its recording differs (the first differing checkpoint, the
// frame count, or the final checksum); empty when it matches.
std::string replay_outcome_problem(const Replay& replay, const ReplayOutcome& outcome);

// What checking a replay as --verify and the page's ?verify do it found.
struct ReplayVerdict {
  int32_t code = 0;              // 0 as recorded, 1 it differs, 2 the frame asked for is past
                                 // the run's end
  std::string line;              // replay_outcome_line
  std::string problem;           // why, for codes 1 and 2 ("" for 0)
  std::vector<uint32_t> pixels;  // the picture of the frame asked for (640 x 480), else empty
};
// Runs replay headless (drawn when draw or when picture_frame > 0, which also keeps that frame's
// picture); frame_option names the frame in a problem ("--frame 900", "frame=900"); the
// picture is drawn with marked cells when marked_cells.
ReplayVerdict replay_verify(const Replay& replay, int32_t draw, int64_t picture_frame,
                            const std::string& frame_option, int32_t marked_cells = 0);

// --- Watching a replay in the window ---
// A replay being shown at normal speed on a session of its own; the viewer's Escape and the
// close box stop it, and Space held runs four frames to each one shown. A recorded Ctrl+F is
// not done again. Made in place and never moved (its decoder reads its replay).
struct Watch {
  Session session;                         // the run being shown
  Replay replay;                           // its recording
  std::unique_ptr<ReplayDecoder> decoder;  // over replay.frame_data
  int64_t started = 0;                     // frames begun
  int32_t stop = 0;                        // the viewer asked to stop
  int32_t fast = 0;                        // Space held
  int32_t batch = 0;                       // frames since the last one shown
  int32_t shown = 0;                       // the last frame was presented
};
// Starts showing replay (on levels) in watch with picture's font, colours and window.
void replay_watch_begin(Watch& watch, const Replay& replay,
                        std::shared_ptr<const LevelStream> levels, const View& picture,
                        int32_t sound_ok);
// One frame of the run in the window, steered by the viewer's input; the run's picture is shown
// when watch.shown. SESSION_GOING while the run goes on; SESSION_OVER at its end or when the
// viewer stopped it.
int32_t replay_watch_frame(Watch& watch, const PlayerInput& viewer, int32_t frame_tick);

// --- Scripted runs ---
// Runs script through the real frame headless on levels (null: the built-in ones), from the
// intro (start_level 0) or on level start_level, one InputFrame per frame (pointer in game
// pixels, buttons and keys held, keys released that frame; INPUT_ACTIVE should be set for the
// game to take the input), until the script ends or the game quits. Returns the resulting replay
// (its checksums are those of the real rules).
Replay replay_run_script(const std::vector<InputFrame>& script, int32_t start_level,
                         std::shared_ptr<const LevelStream> levels = session_levels());
// report's plan played as a replay on levels: the level started directly, the pointer over each
// action's cell with its button held for that frame, Enter once the chemical is walled in, and
// the tally to its end. Runs through the real frame.
Replay replay_of_plan(const LevelReport& report,
                      std::shared_ptr<const LevelStream> levels = session_levels());
