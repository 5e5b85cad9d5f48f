// The level editor as the player sees and works it: the level drawn as the game draws it, a
// palette and tools beside it, the level's numbers and the checker's verdict, story lines typed
// in place, help. What an edit does is the core's (core/edit.h); what touches a file or starts a
// game (saving, test-play, the checker's plan shown) the shell does when editor_frame asks.
#pragma once

#include <cstdint>
#include <string>

#include "core/edit.h"
#include "core/replay_codec.h"
#include "play/session.h"

// What editor_frame asks of its shell.
enum class EditorAsk {
  NOTHING,          // go on with the next frame
  SAVE,             // write edit_text(editor_session()) to the file, then editor_saved or _say
  TEST_PLAY,        // play the level being edited straight into the board, then editor_resume
  TEST_FROM_STORY,  // the same, from the story before it
  SHOW_PLAN,        // play the checker's plan for the level (editor_verdict()), then resume
  KEEP_PROOF,       // keep the last winning test-play (editor_proof()) beside the pack
  QUIT,             // the player is done (unsaved changes were confirmed)
};

// Starts editing session's pack (the editor keeps it); the window and the sounds are up.
void editor_begin(EditSession session);
// Offers text (a recovery copy newer than the file) to replace the pack, asking the player.
void editor_offer_recovery(const std::string& text);
// One frame of the editor on device: its input, its picture; what the shell must do next.
EditorAsk editor_frame(const FrameDevice& device);
// Back from a test-play or a shown plan: the editor as it was. won_replay is the test-play's
// run when it won the level (kept until the next test-play, for KEEP_PROOF), else empty.
void editor_resume(const Replay* won_replay);
// A line on the status bar ("SAVED", an error), shown for a few seconds.
void editor_say(const std::string& message);
// The pack was written: it is no longer changed.
void editor_saved();
// The session being edited.
EditSession& editor_session();
// The verdict on the level being edited, as far as it is known.
const LevelReport& editor_verdict();
// The level being edited, as a pack's number from 1.
int32_t editor_level_number();
// The last winning test-play.
const Replay& editor_proof();

// What a shell does for TEST_PLAY and TEST_FROM_STORY: the pack being edited becomes the levels
// played, in a fresh session that keeps the picture's font, colours and window (GAME.sound_ok =
// sound_ok), started on the level being edited or on the story before it, and recorded. Returns
// that level's number; the run ends when GAME.level_number passes it.
int32_t editor_start_test_play(bool from_story, int32_t sound_ok);
// What a shell does for SHOW_PLAN: the same fresh session, watching the checker's plan for the
// level being edited (replay_watch_device runs it).
void editor_start_plan(int32_t sound_ok);
