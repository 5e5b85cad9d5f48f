// The program's one frame: which mode runs (the game with its intro, levels and tallies, a
// replay watched, the level editor, its test-play and its plan shown) and what comes next is
// decided here, once, for every shell. A frame reads the player's devices once, runs the mode on
// sessions of its own, and returns what it asks of its shell (keep this run, save this text)
// instead of doing it: the desktop shell writes files and paces, the browser's shell hands them
// to the page. Neither reads a session's rules.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/edit.h"
#include "core/replay_codec.h"
#include "core/settings.h"
#include "play/frame.h"
#include "play/session.h"

// What the program is doing.
enum class AppMode {
  ENDED,      // nothing: the run or the editor is over (or nothing began)
  PLAY,       // the player's game from the intro or a level, recorded
  WATCH,      // a replay shown
  EDIT,       // the level editor
  TEST_PLAY,  // the editor's level played, recorded; back to EDIT at its end
  SHOW_PLAN,  // the checker's plan for the editor's level shown; back to EDIT at its end
};

// One thing a frame asks its shell to do before the next frame.
struct AppAsk {
  enum class Kind {
    KEEP_RUN,       // the player's game is over: keep run (the last run, --record)
    SAVE_PACK,      // write text to the pack's file (over it even when it changed or is
                    // read-only, when force), then tell app_saved how it went, or
                    // app_ask_before_saving why it was not written
    SAVE_PACK_AS,   // write text under a new name beside the pack's file, then app_saved
    KEEP_RECOVERY,  // keep text as the unsaved work's recovery copy
    KEEP_PROOF,     // keep run as the proof of the pack's level (beside the pack)
    SAVE_SETTINGS,  // the player changed a setting: keep text, the whole settings text
    PUBLISH,        // send text and runs (a proof of each level, in order) to the hub, then
                    // tell app_published what it answered
    LEVEL_WON,      // the player won level: run is the run so far, which proves it (a page
                    // on a hub sends it, with the player's consent, to see where it stands)
  };
  Kind kind = Kind::KEEP_RUN;
  std::string text;          // SAVE_PACK, KEEP_RECOVERY: the pack as text; SAVE_SETTINGS: settings
  Replay run;                // KEEP_RUN, KEEP_PROOF, LEVEL_WON
  std::vector<Replay> runs;  // PUBLISH
  int32_t level = 0;         // KEEP_PROOF: the pack's level it proves, from 1; LEVEL_WON: won
  bool force = false;        // SAVE_PACK: the player chose to replace what the file holds
  std::string base;          // SAVE_PACK: the text the work was last opened from, taken or saved
};

// Something that happened in a frame, for a shell to show or say (the page tells a screen
// reader): the program says it, so no shell works it out again from the picture or the rules.
struct AppEvent {
  enum class Kind {
    LEVEL_BEGUN,        // level began (or began again) with barriers in hand
    BARRIER_PLACED,     // a barrier placed at cell (x, y); barriers in hand after it
    BARRIER_PICKED_UP,  // a wall picked up at cell (x, y); barriers in hand after it
    LEVEL_WON,          // level walled in; barriers in hand go to the score
    LEVEL_LOST,         // level lost: text says why
    SCREEN_OPENED,      // a screen opened over the game: text is its name and selected row
    ROW_SELECTED,       // another row of the open screen selected: text is the row
    SETTING_CHANGED,    // a setting changed: text is its row with the new value
    SCREEN_CLOSED,      // the screen over the game closed: text is its name
    STORY_LINE,         // a story line shown between levels: text is the line
  };
  Kind kind = Kind::LEVEL_BEGUN;
  int32_t level = 0;     // the level played (LEVEL_*, BARRIER_*)
  int32_t barriers = 0;  // barriers in hand after the event (LEVEL_BEGUN, BARRIER_*, LEVEL_WON)
  int32_t x = 0;         // BARRIER_*: the cell's column, from 0
  int32_t y = 0;         // BARRIER_*: the cell's row, from 0
  std::string text;      // LEVEL_LOST, SCREEN_*, ROW_SELECTED, SETTING_CHANGED, STORY_LINE: words
};

// What app_frame found.
constexpr int32_t APP_OVER = 0;     // the mode is over and nothing follows: ENDED now
constexpr int32_t APP_GOING = 1;    // go on with the next frame
constexpr int32_t APP_FAILED = -1;  // a display switch failed: failure says why

struct AppFrame {
  int32_t status = APP_GOING;     // APP_*
  const char* failure = nullptr;  // APP_FAILED: the display's message
  int32_t shown = 1;              // the frame was presented (a fast replay frame is not)
  int32_t switched = 0;           // the display was switched in this frame
  std::vector<AppAsk> asks;       // for the shell, in order
  std::vector<AppEvent> events;   // what happened in the frame, in order
};

// The picture every session shares (its font, colours and window) and the sound device's
// verdict, once the shell's devices are up. Ends any mode.
void app_start(const View& picture, int32_t sound_ok);
// The player's settings as kept (after app_start): the volumes heard from now on, the keys and
// the pad's stick speed of every game. The palette in use stays the picture's (app_picture),
// which a command line may set apart from the kept one for the run.
void app_use_settings(const Settings& settings);
// The player's settings as the program holds them now.
const Settings& app_settings();
// Opens the settings screen over the player's game or test-play (F2 does too); the game waits
// while it shows. False when no game runs.
bool app_open_settings();
// Closes the settings screen as Escape does; false when it was not open.
bool app_close_settings();
// A new game of the player's on the levels in use: the intro, or level start_level (1..count)
// with score 0. Ends the mode before it, dropping its run.
void app_play(int32_t start_level);
// Shows replay (on the levels in use) in place of whatever ran.
void app_watch(const Replay& replay);
// The level editor on session's pack; a recovery copy (recovery not empty) is offered.
void app_edit(EditSession session, const std::string& recovery);
// A proof of the editor's level (from 1) kept earlier, found by the shell: PUBLISH may send it.
void app_add_proof(int32_t level, const Replay& run);
// Ends the mode as the player would (the page is going away): a game's run is asked to be
// kept, unsaved editor work to be kept as a recovery copy.
AppFrame app_stop();
// One frame of the mode on device: the devices read, the mode's frame, what follows.
AppFrame app_frame(const FrameDevice& device);

AppMode app_mode();
// The picture every new session starts with: a picture setting changed here (View's
// marked_cells) holds from the next session on.
View& app_picture();
// The session on screen now: the player's game or test-play, the replay shown, or the editor's
// level as the game draws it. For the tests and the page's probes; the shells do not need it.
Session& app_session();
// The pack's file after a SAVE_PACK: error is empty when it was written, else why not.
void app_saved(const std::string& error);
// The pack's file after a SAVE_PACK that was not written because it is not ours to replace
// without asking: why, and what it holds now (null when that is not to be offered).
void app_ask_before_saving(const std::string& why, const std::string* their_text);
// The editor publishes as its Ctrl+U does, at its next frame (a button of the page's).
void app_publish();
// The hub's answer to a PUBLISH: the pack's address there, or (error not empty) why it was not
// published, in the hub's words.
void app_published(const std::string& address, const std::string& error);
// A line for the editor's status bar (a proof kept, a file that could not be written).
void app_say(const std::string& message);
