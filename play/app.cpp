#include "play/app.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <utility>

#include "media/draw.h"
#include "media/keyboard.h"
#include "media/screen.h"
#include "media/sound.h"
#include "media/timing.h"
#include "play/editor.h"
#include "play/key_cursor.h"
#include "play/pad_cursor.h"
#include "play/replay.h"
#include "play/settings_screen.h"
#include "play/sound_cues.h"

namespace {

// Unsaved editor work is kept this long after it changed at the latest, by the clock (frames
// come late on a busy machine), so a crash or a kill loses at most that much and a write's time.
constexpr int32_t APP_RECOVERY_MS = 1000;

struct AppState {
  AppMode mode = AppMode::ENDED;  // what app_frame runs
  View picture;                   // the font, colours and window every session starts with
  int32_t sound_ok = 0;           // a sound device is open: every session's sound_ok
  Session play;                   // PLAY: the player's game; TEST_PLAY: the editor's level
  KeyCursor keys;                 // PLAY and TEST_PLAY: the cell cursor of keys-alone play
  PadCursor pad;                  // PLAY and TEST_PLAY: the cell cursor of the game pad
  Recording recording;            // PLAY and TEST_PLAY: the run so far
  std::unique_ptr<Watch> watch;   // WATCH and SHOW_PLAN: the run shown
  int32_t test_level = 0;         // TEST_PLAY: the level played
  int32_t test_story = 0;         // it began at the story before it
  int32_t test_won = 0;           // the test-play has won that level
  int32_t told_won = 0;           // PLAY: the last level a LEVEL_WON ask was made for
  uint64_t kept_revision = 0;     // EDIT: the editor's revision last kept or saved
  int32_t unkept_since = 0;       // EDIT: the clock when a change not yet kept was first seen
  int32_t unkept = 0;             // EDIT: such a change exists
  Settings settings;              // the player's settings as kept (the palette in use is
                                  // picture's marked_cells)
  int32_t fresh = 0;              // a mode just began: its first frame tells its level begun
  std::vector<AppEvent> pending;  // events of calls between frames (the settings opened by a
                                  // shell's button), told with the next frame's
};

AppState APP;

// What the events of a frame are told from: the played session's rules before and after it.
struct Told {
  int32_t state = -1;    // game_state; -1: no session was seen yet
  int32_t level = 0;     // level_number
  int32_t barriers = 0;  // barriers_left
  int32_t lost = 0;      // edge_reached
  int64_t chemical = 0;  // every cell's concentration summed: it only grows while a level
                         // runs, so a smaller sum is the level loaded again (R, or a loss's
                         // restart), whatever the board's size
  std::string line;      // STATE_MESSAGE: the story line shown
};

Told told_of(const Rules& rules) {
  Told told{rules.game_state, rules.level_number, rules.barriers_left, rules.edge_reached, 0, {}};
  for (const Cell& cell : rules.grid) told.chemical += cell.concentration;
  if (rules.game_state == STATE_MESSAGE) told.line = rules.message_line;
  return told;
}

// The events between before and the rules now, into out; a mode's first frame has no before.
void tell(AppFrame& out, Told before, const Rules& rules) {
  if (APP.fresh) before.state = -1;
  APP.fresh = 0;
  const Told now = told_of(rules);
  const auto event = [&](AppEvent::Kind kind) {
    AppEvent made;
    made.kind = kind;
    made.level = now.level;
    made.barriers = now.barriers;
    made.x = rules.cursor_x;
    made.y = rules.cursor_y;
    out.events.push_back(std::move(made));
    return &out.events.back();
  };
  if (now.state == STATE_PLAYING) {
    if (before.state != STATE_PLAYING || before.level != now.level ||
        now.chemical < before.chemical) {
      event(AppEvent::Kind::LEVEL_BEGUN);
      return;
    }
    // A frame places or picks up at most one barrier, under the cursor.
    if (now.barriers < before.barriers) event(AppEvent::Kind::BARRIER_PLACED);
    if (now.barriers > before.barriers) event(AppEvent::Kind::BARRIER_PICKED_UP);
    if (now.lost && !before.lost) {
      event(AppEvent::Kind::LEVEL_LOST)->text = "the chemical reached the edge";
    }
  } else if (now.state == STATE_TALLY && before.state == STATE_PLAYING) {
    // The tally drains the barriers into the score: those in hand as it begins are what count.
    event(AppEvent::Kind::LEVEL_WON)->barriers = before.barriers;
  } else if (now.state == STATE_MESSAGE && !now.line.empty() &&
             (before.state != STATE_MESSAGE || before.line != now.line)) {
    // A small phone shows the picture's text too small to read: the page shows the line too.
    event(AppEvent::Kind::STORY_LINE)->text = now.line;
  }
}

constexpr const char* SETTINGS_SCREEN_NAME = "SETTINGS";

void tell_screen(AppFrame& out, AppEvent::Kind kind, std::string text) {
  AppEvent made;
  made.kind = kind;
  made.text = std::move(text);
  out.events.push_back(std::move(made));
}

// Stops a mode's sound so the next one starts quiet.
void hush() {
  sound_cues_stop_music(APP.sound_ok);
  sound_stop(-1, -1);
}

void leave_mode() {
  settings_screen_close();
  APP.pending.clear();
  if (APP.mode == AppMode::WATCH || APP.mode == AppMode::SHOW_PLAN) APP.watch.reset();
  if (APP.mode != AppMode::ENDED) hush();
  APP.mode = AppMode::ENDED;
}

void ask_recovery(AppFrame& out) {
  APP.unkept = 0;
  APP.kept_revision = editor_session().revision;
  if (!editor_session().changed) return;
  AppAsk ask;
  ask.kind = AppAsk::Kind::KEEP_RECOVERY;
  ask.text = edit_text(editor_session());
  out.asks.push_back(std::move(ask));
}

// The windowed flag follows the screen, also when a frame switched it.
void follow_screen() {
  APP.picture.windowed = screen_windowed();
  editor_set_windowed(APP.picture.windowed);
}

void back_to_editor(const Replay* won) {
  hush();
  APP.watch.reset();
  APP.mode = AppMode::EDIT;
  editor_resume(won);
}

bool game_mode() { return APP.mode == AppMode::PLAY || APP.mode == AppMode::TEST_PLAY; }

// Keys held into the settings screen and let go on it are none of the game's releases.
void forget_held_keys() {
  std::fill(std::begin(APP.play.input.armed), std::end(APP.play.input.armed), uint8_t{0});
}

// A frame of the settings screen over the paused game: the rules do not run and nothing is
// recorded, so a run with the screen opened in it replays as if it never was.
void settings_frame(AppFrame& out, const FrameDevice& device, const PlayerInput& input) {
  int32_t marked = APP.picture.marked_cells;
  const int32_t row = settings_screen_row();
  const int32_t answer = settings_screen_frame(input, APP.settings, marked);
  if (answer & SETTINGS_SCREEN_CLOSED) {
    tell_screen(out, AppEvent::Kind::SCREEN_CLOSED, SETTINGS_SCREEN_NAME);
  } else if (answer & SETTINGS_SCREEN_CHANGED) {
    tell_screen(out, AppEvent::Kind::SETTING_CHANGED,
                settings_screen_row_words(APP.settings, marked));
  } else if (settings_screen_row() != row) {
    tell_screen(out, AppEvent::Kind::ROW_SELECTED, settings_screen_row_words(APP.settings, marked));
  }
  if (answer & SETTINGS_SCREEN_CHANGED) {
    sound_cues_set_volumes(APP.settings.effects_volume, APP.settings.music_volume);
    APP.picture.marked_cells = marked;
    APP.play.view.marked_cells = marked;
    AppAsk ask;
    ask.kind = AppAsk::Kind::SAVE_SETTINGS;
    ask.text = settings_format(APP.settings);
    out.asks.push_back(std::move(ask));
  }
  if (answer & SETTINGS_SCREEN_CLOSED) forget_held_keys();
  if (device.begin_pass()) {
    if (device.draws && settings_screen_is_open()) {
      settings_screen_draw(APP.settings, marked, APP.picture);
    }
    draw_end();
  }
  device.present();
}

void game_frame(AppFrame& out, const FrameDevice& device, const PlayerInput& input, int32_t tick) {
  Session& session = APP.play;
  session.view.frame_tick = tick;
  session.view.windowed = screen_windowed();
  PlayerInput steered = input;
  key_cursor_apply(APP.keys, steered, session.rules);
  APP.pad.stick_percent = APP.settings.pad_stick_speed == PAD_SPEED_SLOW   ? 50
                          : APP.settings.pad_stick_speed == PAD_SPEED_FAST ? 200
                                                                           : 100;
  pad_cursor_apply(APP.pad, steered, session.rules);
  session.view.key_cursor = APP.keys.on || APP.pad.on ? 1 : 0;
  const Told before = told_of(session.rules);
  const int32_t status = session_frame(session, device, &steered, nullptr);
  tell(out, before, session.rules);
  if (status == SESSION_FAILED) {
    out.status = APP_FAILED;
    out.failure = session.failure;
    return;
  }
  out.switched = session.switched;
  if (out.switched) follow_screen();
  replay_record_frame(APP.recording, session);
  if (APP.mode == AppMode::PLAY) {
    // A level's tally began: the run so far proves it won, and goes to the shell at once.
    const Rules& now = session.rules;
    if (now.game_state == STATE_TALLY && APP.told_won != now.level_number) {
      APP.told_won = now.level_number;
      Recording so_far = APP.recording;
      AppAsk won;
      won.kind = AppAsk::Kind::LEVEL_WON;
      won.run = replay_record_finish(so_far, session);
      won.level = now.level_number;
      out.asks.push_back(std::move(won));
    }
    if (status == SESSION_GOING) return;
    AppAsk ask;
    ask.run = replay_record_finish(APP.recording, session);
    out.asks.push_back(std::move(ask));
    APP.mode = AppMode::ENDED;
    out.status = APP_OVER;
    return;
  }
  const Rules& rules = session.rules;
  if (rules.game_state == STATE_TALLY && rules.level_number == APP.test_level) APP.test_won = 1;
  if (status == SESSION_GOING && rules.level_number <= APP.test_level) return;
  const Replay run = replay_record_finish(APP.recording, session);
  // A run from the story is no proof of the level alone.
  back_to_editor(APP.test_won && !APP.test_story ? &run : nullptr);
}

// A pad's Back stops a replay or a plan shown as Escape does.
PlayerInput pad_as_escape(const PlayerInput& input) {
  PlayerInput viewer = input;
  if (input.pad.buttons & PAD_BACK) {
    viewer.keys_read = 1;
    viewer.keys[KEY_ESCAPE] = 1;
  }
  return viewer;
}

void watch_frame(AppFrame& out, const PlayerInput& input, int32_t tick) {
  const Told before = told_of(APP.watch->session.rules);
  const int32_t going = replay_watch_frame(*APP.watch, pad_as_escape(input), tick);
  tell(out, before, APP.watch->session.rules);
  out.shown = APP.watch->shown;
  if (going == SESSION_GOING) return;
  if (APP.mode == AppMode::SHOW_PLAN) {
    back_to_editor(nullptr);
    return;
  }
  leave_mode();
  out.status = APP_OVER;
}

void edit_frame(AppFrame& out, const FrameDevice& device, const PlayerInput& input, int32_t tick) {
  const EditorAsk asked = editor_frame(device, input, tick);
  // Unsaved work is kept a moment after it changed, and at once when the window is asked to
  // close (a logout's SIGTERM is followed by a SIGKILL that no question survives).
  if (editor_session().revision != APP.kept_revision) {
    if (!APP.unkept) {
      APP.unkept = 1;
      APP.unkept_since = tick;
    }
    if (input.closed || tick - APP.unkept_since >= APP_RECOVERY_MS) ask_recovery(out);
  }
  switch (asked) {
    case EditorAsk::NOTHING:
      break;
    case EditorAsk::SAVE:
    case EditorAsk::SAVE_OVER:
    case EditorAsk::SAVE_AS: {
      AppAsk ask;
      ask.kind = asked == EditorAsk::SAVE_AS ? AppAsk::Kind::SAVE_PACK_AS : AppAsk::Kind::SAVE_PACK;
      ask.force = asked == EditorAsk::SAVE_OVER;
      ask.text = edit_text(editor_session());
      ask.base = editor_session().saved_text;
      out.asks.push_back(std::move(ask));
      break;
    }
    case EditorAsk::TEST_PLAY:
    case EditorAsk::TEST_FROM_STORY:
      ask_recovery(out);
      APP.test_story = asked == EditorAsk::TEST_FROM_STORY ? 1 : 0;
      APP.play = editor_test_play(APP.test_story != 0);
      APP.keys = KeyCursor{};
      APP.pad = PadCursor{};
      // The pad's A that chose the test-play is still held: it must not place a barrier.
      APP.pad.buttons_before = input.pad.buttons;
      APP.test_level = editor_level_number();
      APP.test_won = 0;
      APP.recording = replay_record_begin(APP.play, APP.test_story ? 0 : APP.test_level);
      APP.mode = AppMode::TEST_PLAY;
      APP.fresh = 1;
      break;
    case EditorAsk::SHOW_PLAN:
      APP.watch = std::make_unique<Watch>();
      editor_plan(*APP.watch);
      APP.mode = AppMode::SHOW_PLAN;
      APP.fresh = 1;
      break;
    case EditorAsk::KEEP_PROOF: {
      AppAsk ask;
      ask.kind = AppAsk::Kind::KEEP_PROOF;
      ask.run = editor_proof();
      ask.level = editor_level_number();
      out.asks.push_back(std::move(ask));
      break;
    }
    case EditorAsk::PUBLISH: {
      AppAsk ask;
      ask.kind = AppAsk::Kind::PUBLISH;
      ask.text = edit_text(editor_session());
      ask.runs = editor_publish_runs();
      out.asks.push_back(std::move(ask));
      break;
    }
    case EditorAsk::QUIT:
      leave_mode();
      out.status = APP_OVER;
      break;
  }
}

}  // namespace

void app_start(const View& picture, int32_t sound_ok) {
  leave_mode();
  settings_screen_close();
  APP = AppState{};
  APP.picture = picture;
  APP.sound_ok = sound_ok;
}

View& app_picture() { return APP.picture; }

void app_use_settings(const Settings& settings) {
  APP.settings = settings;
  sound_cues_set_volumes(settings.effects_volume, settings.music_volume);
}

const Settings& app_settings() { return APP.settings; }

bool app_open_settings() {
  if (!game_mode()) return false;
  if (!settings_screen_is_open()) {
    settings_screen_open();
    AppEvent opened;
    opened.kind = AppEvent::Kind::SCREEN_OPENED;
    opened.text = std::string(SETTINGS_SCREEN_NAME) + ": " +
                  settings_screen_row_words(APP.settings, APP.picture.marked_cells);
    APP.pending.push_back(std::move(opened));
  }
  return true;
}

bool app_close_settings() {
  if (!settings_screen_is_open()) return false;
  settings_screen_close();
  forget_held_keys();
  AppEvent closed;
  closed.kind = AppEvent::Kind::SCREEN_CLOSED;
  closed.text = SETTINGS_SCREEN_NAME;
  APP.pending.push_back(std::move(closed));
  return true;
}

void app_play(int32_t start_level) {
  leave_mode();
  APP.picture.windowed = screen_windowed();
  APP.play = session_make(session_levels(), APP.picture, APP.sound_ok, 1);
  APP.keys = KeyCursor{};
  APP.pad = PadCursor{};
  session_start_at_level(APP.play, start_level);
  APP.recording = replay_record_begin(APP.play, start_level);
  APP.told_won = 0;
  APP.mode = AppMode::PLAY;
  APP.fresh = 1;
}

void app_watch(const Replay& replay) {
  leave_mode();
  APP.picture.windowed = screen_windowed();
  APP.watch = std::make_unique<Watch>();
  replay_watch_begin(*APP.watch, replay, session_levels(), APP.picture, APP.sound_ok);
  APP.mode = AppMode::WATCH;
  APP.fresh = 1;
}

void app_edit(EditSession session, const std::string& recovery) {
  leave_mode();
  APP.picture.windowed = screen_windowed();
  editor_begin(std::move(session), APP.picture, APP.sound_ok);
  if (!recovery.empty()) editor_offer_recovery(recovery);
  APP.kept_revision = editor_session().revision;
  APP.unkept = 0;
  APP.mode = AppMode::EDIT;
}

void app_add_proof(int32_t level, const Replay& run) { editor_add_proof(level, run); }

AppFrame app_stop() {
  AppFrame out;
  out.status = APP_OVER;
  if (APP.mode == AppMode::PLAY) {
    AppAsk ask;
    ask.run = replay_record_finish(APP.recording, APP.play);
    out.asks.push_back(std::move(ask));
  }
  if (APP.mode == AppMode::EDIT || APP.mode == AppMode::TEST_PLAY ||
      APP.mode == AppMode::SHOW_PLAN) {
    ask_recovery(out);
  }
  leave_mode();
  return out;
}

AppFrame app_frame(const FrameDevice& device) {
  AppFrame out;
  if (APP.mode == AppMode::ENDED) {
    out.status = APP_OVER;
    return out;
  }
  sound_service();
  const int32_t tick = static_cast<int32_t>(tick_ms());
  const bool viewing = APP.mode == AppMode::WATCH || APP.mode == AppMode::SHOW_PLAN;
  PlayerInput input = input_read_devices(viewing ? 0 : 1);
  if (game_mode()) {
    // F2 opens the settings over the game; a close request still ends the game through it.
    if (!settings_screen_is_open() && input.keys_read && input.pressed[KEY_F2]) {
      app_open_settings();
      input.pressed[KEY_F2] = 0;  // the press that opened it does not close it
    }
    out.events = std::move(APP.pending);
    APP.pending.clear();
    if (settings_screen_is_open() && input.closed) settings_screen_close();
    if (settings_screen_is_open()) {
      settings_frame(out, device, input);
      return out;
    }
  }
  // The player's keys for the game's actions; the editor's keys are its own.
  if (APP.mode != AppMode::EDIT) input_apply_bindings(input, APP.settings);
  // M silences everything in any mode and plays no cue; the music runs on unheard, so it comes
  // back in time. It changes no rule, so it is never recorded.
  if (input.keys_read && input.released[KEY_M]) sound_cues_toggle_mute();
  const AppMode was = APP.mode;
  switch (APP.mode) {
    case AppMode::PLAY:
    case AppMode::TEST_PLAY:
      game_frame(out, device, input, tick);
      break;
    case AppMode::WATCH:
    case AppMode::SHOW_PLAN:
      watch_frame(out, input, tick);
      break;
    case AppMode::EDIT:
      edit_frame(out, device, input, tick);
      break;
    case AppMode::ENDED:
      break;
  }
  // A close request (a logout's SIGTERM) during a test-play or a plan shown is the editor's
  // too: it keeps the unsaved work and ends as it would from editing, not from that mode alone.
  if (input.closed && (was == AppMode::TEST_PLAY || was == AppMode::SHOW_PLAN) &&
      APP.mode == AppMode::EDIT) {
    edit_frame(out, device, input, tick);
  }
  return out;
}

AppMode app_mode() { return APP.mode; }

Session& app_session() {
  if ((APP.mode == AppMode::WATCH || APP.mode == AppMode::SHOW_PLAN) && APP.watch) {
    return APP.watch->session;
  }
  if (APP.mode == AppMode::EDIT) return editor_preview();
  return APP.play;
}

void app_saved(const std::string& error) {
  if (error.empty()) {
    editor_saved();
    APP.kept_revision = editor_session().revision;
    APP.unkept = 0;
  } else {
    editor_say("CANNOT SAVE: " + error);
  }
}

void app_ask_before_saving(const std::string& why, const std::string* their_text) {
  editor_ask_before_saving(why, their_text);
}

void app_say(const std::string& message) { editor_say(message); }

void app_publish() {
  if (APP.mode == AppMode::EDIT) editor_ask_publish();
}

void app_published(const std::string& address, const std::string& error) {
  editor_published(address, error);
}
