// The level editor as the player sees and works it: the level drawn as the game draws it, a
// palette and tools beside it, the level's numbers and the checker's verdict, story lines typed
// in place, help. What an edit does is the core's (core/edit.h); what touches a file or starts a
// game (saving, test-play, the checker's plan shown) is done when editor_frame asks, by the
// program's frame (play/app.h) and its shell.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/edit.h"
#include "core/replay_codec.h"
#include "play/frame.h"
#include "play/input.h"
#include "play/replay.h"
#include "play/session.h"

// What editor_frame asks of its shell.
enum class EditorAsk {
  NOTHING,          // go on with the next frame
  SAVE,             // write edit_text(editor_session()) to the file, then editor_saved or _say
                    // (or editor_ask_before_saving, when the file is not simply replaced)
  SAVE_OVER,        // the same, over a file that changed or is read-only: the player chose it
  SAVE_AS,          // the same, under a new name beside the file
  TEST_PLAY,        // play editor_test_play(false), then editor_resume
  TEST_FROM_STORY,  // the same, from the story before the level
  SHOW_PLAN,        // show editor_plan, then editor_resume
  KEEP_PROOF,       // keep the last winning test-play (editor_proof()) beside the pack
  PUBLISH,          // send the pack and editor_publish_runs() to the hub, then editor_published
  QUIT,             // the player is done (unsaved changes were confirmed)
};

// Starts editing session's pack (the editor keeps it) in picture's font, colours and window;
// sound_ok is the sound device's verdict, for its test-plays.
void editor_begin(EditSession session, const View& picture, int32_t sound_ok);
// Offers text (a recovery copy newer than the file) to replace the pack, asking the player.
void editor_offer_recovery(const std::string& text);
// One frame of the editor on device, told by the frame's input: its picture, and what must be
// done next. frame_tick: the clock at the top of the frame (the walls' pulse).
EditorAsk editor_frame(const FrameDevice& device, const PlayerInput& input, int32_t frame_tick);
// Back from a test-play or a shown plan: the editor as it was. won_replay is the test-play's
// run when it won the level (kept until the next test-play, for KEEP_PROOF), else empty.
void editor_resume(const Replay* won_replay);
// A line on the status bar ("SAVED", an error), shown for a few seconds.
void editor_say(const std::string& message);
// A SAVE found the file not ours to replace without asking: why (it changed since it was
// opened, or it is read-only), and what it holds now (null when that is not to be offered).
// The player then takes theirs, keeps theirs aside by saving under a new name, saves over it
// (SAVE_OVER) or goes back.
void editor_ask_before_saving(const std::string& why, const std::string* their_text);
// The pack was written: it is no longer changed.
void editor_saved();
// The session being edited.
EditSession& editor_session();
// The verdict on the level being edited, as far as it is known.
const LevelReport& editor_verdict();
// Whether editor_verdict is the whole verdict on the level as it is now.
bool editor_verdict_known();
// The exact search's answer on the level being edited (best_score, best_proven), null while it
// still runs.
const LevelReport* editor_exact();
// The level being edited as the game shows it (its rules are that level, just loaded).
Session& editor_preview();
// The level being edited, as a pack's number from 1.
int32_t editor_level_number();
// The last winning test-play, or the run of the plan last shown.
const Replay& editor_proof();
// A proof of level (from 1) kept earlier, as the shell found it beside the pack.
void editor_add_proof(int32_t level, const Replay& run);
// The status bar's line, as last said (for the tests and the page's live region).
const std::string& editor_said();
// Publishes as Ctrl+U does, at the next frame of the editing mode (a page's button).
void editor_ask_publish();
// After PUBLISH: a proof of each level in order, each checked to win it on the pack as it is.
const std::vector<Replay>& editor_publish_runs();
// The hub's answer to a PUBLISH: the pack's address there, or why it was not published.
void editor_published(const std::string& address, const std::string& error);

// The session a TEST_PLAY or TEST_FROM_STORY plays: the pack being edited as its levels, in the
// editor's picture, started on the level being edited or on the story before it. The run ends
// when its level_number passes editor_level_number().
Session editor_test_play(bool from_story);
// What a SHOW_PLAN shows: the checker's plan for the level being edited, begun in watch.
void editor_plan(Watch& watch);
// The window was switched to full screen (0) or back (1) while the editor or its test-play ran.
void editor_set_windowed(int32_t windowed);
