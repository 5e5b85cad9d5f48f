// The browser's shell around the game, as desktop/ is the desktop's: start-up in the page, the
// frames the page's animation frame runs in whole fixed steps, the files and links the page
// hands over, and the few numbers its tests read. The page (web/page.js) owns everything of the
// document: the start overlay, the canvas's size, touch, storage, fetching; it calls the
// functions exported here, and they answer through the hooks on Module.page.
#include <emscripten.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/edit.h"
#include "core/level_pack.h"
#include "core/level_stream.h"
#include "core/parse.h"
#include "core/replay_codec.h"
#include "core/report.h"
#include "core/share_code.h"
#include "media/draw.h"
#include "media/events.h"
#include "media/keyboard.h"
#include "media/mouse.h"
#include "media/screen.h"
#include "media/sound.h"
#include "media/window.h"
#include "play/board_view.h"
#include "play/editor.h"
#include "play/replay.h"
#include "play/session.h"
#include "play/sound_cues.h"

namespace {

// The desktop paces its frames at one period of screen_set_frame_rate(50), which is 1/51 s; the
// rules count frames, so the browser runs them at that same rate whatever the display's.
constexpr double WEB_FRAME_MS = 1000.0 / 51;
// Frames one animation frame may run. A display slower than the game needs a few; after a
// hidden tab, a stall or a breakpoint the time owed is dropped rather than raced through.
constexpr int32_t WEB_MAX_STEPS = 4;
constexpr const char* WEB_SOUND_DIR = "/assets";  // the sounds, as packaged into the page
constexpr const char* WEB_WINDOW_TITLE = "Q-47";
constexpr char WEB_REPLAY_MAGIC[] = "Q47RPLAY";  // how a replay file begins (a pack is text)
constexpr double WEB_RECOVERY_MS = 60000;        // unsaved work is kept at least this often

// What the animation frame runs.
enum class WebMode {
  NONE,      // nothing: no display (a verification page) or not started
  READY,     // the session's first frame is drawn; the start overlay waits for the player
  PLAYING,   // the player's session, recorded
  WATCHING,  // a replay shown on the canvas
  ENDED,     // the run is over; the start overlay offers a new one
  EDITING,   // the level editor
  TESTING,   // the editor's level test-played, recorded; back to EDITING at its end
  PLANNING,  // the checker's plan for the edited level shown; back to EDITING at its end
};

struct WebState {
  WebMode mode = WebMode::NONE;  // what tick runs
  int32_t display_open = 0;      // the window, the screen, input and the sound device are up
  int32_t sound_ok = 0;          // a sound device opened: every session's GAME.sound_ok
  int32_t start_level = 0;       // ?level=N: sessions skip the intro to practise N; 0 = intro
  int32_t recording = 0;         // the session under way is being recorded
  int64_t frames = 0;            // frames run since the session started
  double last_ms = 0;            // when tick last ran (ms of emscripten_get_now)
  double owed_ms = 0;            // time not yet run as whole frames
  // The levels played before the editor opened (none: the built-in ones), played again after
  // it: test-play makes the edited pack the stream in use.
  std::optional<LevelStream> stream_before_edit;
  int32_t test_level = 0;       // the level test-played
  int32_t test_story = 0;       // it was started from the story before it
  int32_t test_won = 0;         // the test-play has won that level
  double recovery_kept_ms = 0;  // when unsaved work was last kept
};

WebState WEB;

// --- The page's side: each hook is a function page.js puts on Module.page ---

EM_JS(void, page_message, (const char* text), { Module.page.message(UTF8ToString(text)); });
EM_JS(void, page_output, (const char* text), { Module.page.output(UTF8ToString(text)); });
EM_JS(void, page_keep_run, (const uint8_t* bytes, int32_t size),
      { Module.page.keepRun(HEAPU8.slice(bytes, bytes + size)); });
EM_JS(void, page_picture, (const uint32_t* pixels, int32_t width, int32_t height), {
  Module.page.picture(HEAPU8.subarray(pixels, pixels + width * height * 4), width, height);
});
EM_JS(void, page_first_frame, (), { Module.page.firstFrame(); });
EM_JS(void, page_running, (int32_t running), { Module.page.running(!!running); });
EM_JS(void, page_toggle_full_screen, (), { Module.page.toggleFullScreen(); });
EM_JS(int32_t, page_edit_save, (const char* text),
      { return Module.page.editSave(UTF8ToString(text)); });
EM_JS(void, page_edit_recovery, (const char* text),
      { Module.page.editRecovery(UTF8ToString(text)); });
EM_JS(void, page_edit_proof, (const uint8_t* bytes, int32_t size, int32_t level),
      { Module.page.editProof(HEAPU8.slice(bytes, bytes + size), level); });
EM_JS(void, page_editing, (int32_t on), { Module.page.editing(!!on); });

void say(const std::string& text) { page_message(text.c_str()); }

bool editing() {
  return WEB.mode == WebMode::EDITING || WEB.mode == WebMode::TESTING ||
         WEB.mode == WebMode::PLANNING;
}

// Ctrl+F: the browser's own full screen around the page. The canvas keeps its 640 x 480 pixels
// and only its shown size follows, so nothing the game knows of its screen changes, and the
// request is answered later by the browser: there is no failure to report now.
const char* switch_display() {
  page_toggle_full_screen();
  return nullptr;
}

// Keeps the recorded run in the page's storage, as the desktop keeps last.q47r.
void keep_run() {
  if (!WEB.recording) return;
  WEB.recording = 0;
  const std::vector<uint8_t> bytes = replay_encode(replay_record_finish());
  page_keep_run(bytes.data(), static_cast<int32_t>(bytes.size()));
}

// A session never started (the overlay still waiting) is no run worth keeping.
void drop_run() {
  if (!WEB.recording) return;
  WEB.recording = 0;
  replay_record_finish();
}

// The state at program start, as desktop/shell.cpp's game_startup leaves it once its devices
// are up: a fresh session, its picture's font and colours, the sound device's verdict.
void fresh_session() {
  sound_stop(-1, -1);
  session_reset();
  board_view_load_font();
  build_chemical_palette();
  GAME.sound_ok = WEB.sound_ok;
  session_open_intro();
  WEB.frames = 0;
  WEB.owed_ms = 0;
}

// The run is over (Escape, the game's end, the replay's end): the page shows its start again.
void end_run() {
  keep_run();
  sound_stop(-1, -1);
  WEB.mode = WebMode::ENDED;
  page_running(0);
}

// One frame of the player's session, recorded as the desktop records it.
void play_frame() {
  FrameDevice device = session_window_device();
  device.switch_display = switch_display;
  const int32_t status = session_frame(device);
  if (WEB.recording) replay_record_frame();
  WEB.frames += 1;
  if (status != SESSION_GOING) end_run();
}

// A new session of the player's, its first frame drawn behind the start overlay.
void begin_session() {
  drop_run();
  fresh_session();
  game_start_at_level(WEB.start_level);
  replay_record_begin(WEB.start_level);
  WEB.recording = 1;
  play_frame();
}

// One shown frame of a replay: four run to each shown while the viewer holds Space.
void watch_frame() {
  const FrameDevice device = replay_watch_device();
  int32_t going = 0;
  do {
    going = session_frame(device) == SESSION_GOING && !replay_watch_stopped();
    WEB.frames += 1;
  } while (going && !replay_watch_shown());
  if (going) return;
  replay_watch_end();
  end_run();
}

// --- The level editor, as desktop/commands.cpp's edit_main runs it ---

// Unsaved work goes to the page's storage, to be offered when the editor opens the pack again.
void keep_recovery() {
  WEB.recovery_kept_ms = emscripten_get_now();
  if (editor_session().changed) page_edit_recovery(edit_text(editor_session()).c_str());
}

// The editor's picture and devices as the desktop's edit_main starts them: a session's font,
// colours and sound, and nothing of a run going on.
void begin_editing(EditSession session) {
  if (WEB.mode == WebMode::PLAYING) {
    keep_run();
  } else {
    drop_run();
  }
  if (WEB.mode == WebMode::WATCHING || WEB.mode == WebMode::PLANNING) replay_watch_end();
  if (!editing()) {
    if (&session_stream() == &level_stream_builtin()) {
      WEB.stream_before_edit.reset();
    } else {
      WEB.stream_before_edit = session_stream();
    }
  }
  fresh_session();
  editor_begin(std::move(session));
  WEB.mode = WebMode::EDITING;
  WEB.recovery_kept_ms = emscripten_get_now();
  page_running(1);
  page_editing(1);
}

// Test-play of the level being edited: straight into it, or from the story before it.
void begin_test(bool from_story) {
  keep_recovery();
  WEB.test_level = editor_start_test_play(from_story, WEB.sound_ok);
  WEB.test_story = from_story ? 1 : 0;
  WEB.test_won = 0;
  WEB.mode = WebMode::TESTING;
}

void back_to_editor(const Replay* won) {
  sound_cues_stop_music();
  sound_stop(-1, -1);
  WEB.mode = WebMode::EDITING;
  editor_resume(won);
}

void test_frame() {
  FrameDevice device = session_window_device();
  device.switch_display = switch_display;
  const int32_t status = session_frame(device);
  replay_record_frame();
  if (GAME.game_state == STATE_TALLY && GAME.level_number == WEB.test_level) WEB.test_won = 1;
  if (status == SESSION_GOING && GAME.level_number <= WEB.test_level) return;
  const Replay won = replay_record_finish();
  // A run from the story is no proof of the level alone.
  back_to_editor(WEB.test_won && !WEB.test_story ? &won : nullptr);
}

// The checker's plan for the level being edited, played on the board.
void begin_plan() {
  editor_start_plan(WEB.sound_ok);
  WEB.mode = WebMode::PLANNING;
}

void plan_frame() {
  const FrameDevice device = replay_watch_device();
  if (session_frame(device) == SESSION_GOING && !replay_watch_stopped()) return;
  replay_watch_end();
  back_to_editor(nullptr);
}

// The editor is done: the page's start overlay again, over the levels played before.
void end_editing() {
  if (WEB.stream_before_edit) {
    session_use_stream(std::move(*WEB.stream_before_edit));
  } else {
    session_use_builtin_levels();
  }
  WEB.stream_before_edit.reset();
  sound_stop(-1, -1);
  WEB.mode = WebMode::ENDED;
  page_editing(0);
  page_running(0);
}

void edit_frame() {
  FrameDevice device = session_window_device();
  device.switch_display = switch_display;
  const EditorAsk ask = editor_frame(device);
  if (emscripten_get_now() - WEB.recovery_kept_ms >= WEB_RECOVERY_MS) keep_recovery();
  switch (ask) {
    case EditorAsk::NOTHING:
      break;
    case EditorAsk::SAVE:
      // The page downloads the text and keeps it in its storage, the browser's own file.
      if (page_edit_save(edit_text(editor_session()).c_str())) {
        editor_saved();
      } else {
        editor_say("CANNOT SAVE: THE BROWSER'S STORAGE REFUSED IT");
      }
      break;
    case EditorAsk::TEST_PLAY:
    case EditorAsk::TEST_FROM_STORY:
      begin_test(ask == EditorAsk::TEST_FROM_STORY);
      break;
    case EditorAsk::SHOW_PLAN:
      begin_plan();
      break;
    case EditorAsk::KEEP_PROOF: {
      const std::vector<uint8_t> bytes = replay_encode(editor_proof());
      page_edit_proof(bytes.data(), static_cast<int32_t>(bytes.size()), editor_level_number());
      editor_say("DOWNLOADED THE RUN (SAVE THE PACK TOO)");
      break;
    }
    case EditorAsk::QUIT:
      end_editing();
      break;
  }
}

// The animation frame: whole fixed steps for the time that passed, each one frame of the game.
void tick() {
  const double now = emscripten_get_now();
  const double passed = now - WEB.last_ms;
  WEB.last_ms = now;
  if (WEB.mode == WebMode::NONE || WEB.mode == WebMode::READY || WEB.mode == WebMode::ENDED) {
    return;
  }
  WEB.owed_ms += passed;
  for (int32_t step = 0; step < WEB_MAX_STEPS && WEB.owed_ms >= WEB_FRAME_MS; ++step) {
    WEB.owed_ms -= WEB_FRAME_MS;
    if (WEB.mode == WebMode::PLAYING) {
      play_frame();
    } else if (WEB.mode == WebMode::WATCHING) {
      watch_frame();
    } else if (WEB.mode == WebMode::EDITING) {
      edit_frame();
    } else if (WEB.mode == WebMode::TESTING) {
      test_frame();
    } else if (WEB.mode == WebMode::PLANNING) {
      plan_frame();
    } else {
      return;
    }
  }
  if (WEB.owed_ms >= WEB_FRAME_MS) WEB.owed_ms = 0;
}

// Reads a replay as the desktop's files_read_replay and load_usable do; false after saying why.
bool usable_replay(const uint8_t* bytes, int32_t size, const std::string& name, Replay& replay) {
  std::string reason;
  if (static_cast<size_t>(size) > REPLAY_FILE_MAX) {
    reason = "too large for a replay";
  } else if (replay_decode(bytes, static_cast<size_t>(size), replay, reason)) {
    reason = replay_unusable(replay, session_stream());
  }
  if (reason.empty()) return true;
  say(report_line(name + ": " + reason));
  return false;
}

// The levels of a pack become the ones played, as --levels; false after telling every problem
// as the desktop does.
bool install_pack(const uint8_t* bytes, int32_t size, const std::string& name) {
  if (static_cast<size_t>(size) > PACK_FILE_MAX) {
    say(report_line(name + ": too large for a level pack (over 4 MiB)"));
    return false;
  }
  LevelPack pack;
  std::vector<PackProblem> problems;
  const std::string_view text(reinterpret_cast<const char*>(bytes), static_cast<size_t>(size));
  if (!level_pack_parse(text, pack, problems)) {
    say(level_pack_problems_text(name, problems));
    return false;
  }
  session_use_stream(level_pack_compile(pack));
  // A level asked for that this pack lacks falls back to the intro.
  if (WEB.start_level > level_count(session_stream())) WEB.start_level = 0;
  return true;
}

// Shows replay at once in place of whatever ran.
void watch(const Replay& replay) {
  if (WEB.mode == WebMode::PLAYING) {
    keep_run();
  } else {
    drop_run();
  }
  fresh_session();
  replay_watch_begin(replay);
  WEB.mode = WebMode::WATCHING;
  page_running(1);
  watch_frame();
  page_first_frame();
}

}  // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE int32_t web_edit_text(const uint8_t* bytes, int32_t size, const char* name);

// Brings up the devices as the desktop's game_startup does, in a 640 x 480 window that is the
// page's canvas; 1 when the game can be shown. Verification pages never call it.
EMSCRIPTEN_KEEPALIVE int32_t web_open_display() {
  if (WEB.display_open) return 1;
  window_system_init();
  drawing_system_init();
  if (!screen_system_init()) {
    say(report_line("Screen could not be initialized!"));
    return 0;
  }
  if (!mouse_init() || !keyboard_init()) {
    say(report_line("Input could not be initialized!"));
    return 0;
  }
  if (!window_open(0, 0, 0, SCREEN_WIDTH, SCREEN_HEIGHT, WEB_WINDOW_TITLE, 0) ||
      !screen_open_scaled(window_handle(0), SCREEN_WIDTH, SCREEN_HEIGHT)) {
    say(report_line("Window could not be opened!"));
    return 0;
  }
  WEB.sound_ok = sound_cues_open_device();
  GAME.sound_ok = WEB.sound_ok;
  sound_cues_load({WEB_SOUND_DIR});
  WEB.display_open = 1;
  return 1;
}

// ?level=N: every session skips the intro and practises level N with score 0; 0 after saying
// why text is no level of the levels in use.
EMSCRIPTEN_KEEPALIVE int32_t web_set_level(const char* text) {
  int64_t level = 0;
  const int32_t count = level_count(session_stream());
  if (parse_int(text, 1, PACK_LEVELS_MAX, level) != ParseInt::OK) {
    say(report_line("level=" + std::string(text) + ": not a level (a whole number from 1 to " +
                    std::to_string(PACK_LEVELS_MAX) + ")"));
    return 0;
  }
  if (level > count) {
    const bool pack = &session_stream() != &level_stream_builtin();
    say(report_line("level=" + std::to_string(level) + ": the " + (pack ? "pack" : "game") +
                    " has only " + std::to_string(count) + " levels"));
    return 0;
  }
  WEB.start_level = static_cast<int32_t>(level);
  return 1;
}

// ?levels=URL: the pack's levels are played from now on; 0 (the built-in levels stay) after
// saying what is wrong with it.
EMSCRIPTEN_KEEPALIVE int32_t web_use_pack(const uint8_t* bytes, int32_t size, const char* name) {
  return install_pack(bytes, size, name) ? 1 : 0;
}

// The session's first frame, drawn behind the start overlay; the page's q47Ready follows.
EMSCRIPTEN_KEEPALIVE void web_ready() {
  if (!WEB.display_open) return;
  begin_session();
  WEB.mode = WebMode::READY;
  page_first_frame();
}

// The start overlay's click: the session waiting behind it plays, or a new one begins.
EMSCRIPTEN_KEEPALIVE void web_start() {
  if (!WEB.display_open || editing()) return;
  // Keys pressed while the overlay waited (the Escape that ended the last run, a stray Space)
  // are none of the new run's: one pump takes them, and no frame ever reads that record.
  events_pump();
  if (WEB.mode == WebMode::ENDED || WEB.mode == WebMode::NONE) begin_session();
  if (WEB.mode == WebMode::WATCHING) return;
  WEB.mode = WebMode::PLAYING;
  WEB.owed_ms = 0;
  page_running(1);
}

// ?play=URL: shows the replay at once; 0 after saying why it cannot be used.
EMSCRIPTEN_KEEPALIVE int32_t web_watch(const uint8_t* bytes, int32_t size, const char* name) {
  Replay replay;
  if (!WEB.display_open || !usable_replay(bytes, size, name, replay)) return 0;
  if (editing()) {
    say(report_line(std::string(name) + ": the editor is open; Escape closes it first"));
    return 0;
  }
  watch(replay);
  return 1;
}

// A file dropped on the page or opened with its button: a replay is shown, a level pack is
// played from its intro, both at once. 0 after saying what is wrong; the game goes on.
EMSCRIPTEN_KEEPALIVE int32_t web_open_file(const uint8_t* bytes, int32_t size, const char* name) {
  if (!WEB.display_open) return 0;
  const int32_t magic = static_cast<int32_t>(sizeof WEB_REPLAY_MAGIC - 1);
  if (size >= magic && std::string_view(reinterpret_cast<const char*>(bytes), magic) ==
                           std::string_view(WEB_REPLAY_MAGIC, magic)) {
    return web_watch(bytes, size, name);
  }
  // A pack dropped on the editor is edited; the work it replaces stays as a recovery copy.
  if (editing()) {
    keep_recovery();
    return web_edit_text(bytes, size, name);
  }
  if (!install_pack(bytes, size, name)) return 0;
  if (WEB.mode == WebMode::PLAYING) keep_run();
  if (WEB.mode == WebMode::WATCHING) replay_watch_end();
  begin_session();
  WEB.mode = WebMode::PLAYING;
  WEB.owed_ms = 0;
  page_running(1);
  return 1;
}

// ?verify=URL: runs the replay headless as `q47 --verify` does and prints the same line; with
// draw every frame is drawn, and frame > 0 also shows that frame's picture on the canvas. The
// exit code the desktop would give: 0 as recorded, 1 differing, 2 unusable.
EMSCRIPTEN_KEEPALIVE int32_t web_verify(const uint8_t* bytes, int32_t size, const char* name,
                                        int32_t draw, int32_t frame) {
  Replay replay;
  if (!usable_replay(bytes, size, name, replay)) return 2;
  const bool picture = frame > 0;
  std::vector<uint32_t> pixels;
  const ReplayOutcome outcome =
      replay_run_headless(replay, draw || picture, picture ? frame : 0, &pixels);
  page_output(replay_outcome_line(outcome).c_str());
  if (picture) {
    if (pixels.empty()) {
      say(report_line("frame=" + std::to_string(frame) + ": the run has only " +
                      std::to_string(outcome.frames) + " frames"));
      return 2;
    }
    page_picture(pixels.data(), SCREEN_WIDTH, SCREEN_HEIGHT);
  }
  if (outcome.matches) return 0;
  say(report_line(name + std::string(": ") + replay_outcome_problem(replay, outcome)));
  return 1;
}

// The page is going away: the run so far is kept.
EMSCRIPTEN_KEEPALIVE void web_leave() {
  if (WEB.mode == WebMode::PLAYING) keep_run();
  if (editing()) keep_recovery();
}

// --- The level editor ---

// ?edit: the editor on a new pack.
EMSCRIPTEN_KEEPALIVE void web_edit_new() {
  if (!WEB.display_open) return;
  EditSession session;
  edit_start(session, edit_new_pack());
  begin_editing(std::move(session));
}

// ?edit&levels=URL, or the page's pack in use: the editor on text, read as the file name is.
// 0 (nothing changes) after saying its problems as the desktop does.
EMSCRIPTEN_KEEPALIVE int32_t web_edit_text(const uint8_t* bytes, int32_t size, const char* name) {
  if (!WEB.display_open) return 0;
  if (static_cast<size_t>(size) > PACK_FILE_MAX) {
    say(report_line(std::string(name) + ": too large for a level pack (over 4 MiB)"));
    return 0;
  }
  EditSession session;
  std::string problems;
  const std::string_view text(reinterpret_cast<const char*>(bytes), static_cast<size_t>(size));
  if (!edit_open(session, text, name, problems)) {
    say(problems);
    return 0;
  }
  begin_editing(std::move(session));
  return 1;
}

// A #pack=CODE link: the editor on the pack the code holds; 0 after saying what is wrong.
EMSCRIPTEN_KEEPALIVE int32_t web_edit_code(const char* code) {
  if (!WEB.display_open) return 0;
  EditSession session;
  std::string problems;
  if (!edit_open_code(session, code, problems)) {
    say(problems);
    return 0;
  }
  begin_editing(std::move(session));
  return 1;
}

// The built-in levels in the editor, as a new pack (the page's "Edit levels" without a pack).
EMSCRIPTEN_KEEPALIVE void web_edit_levels_in_use() {
  if (!WEB.display_open) return;
  EditSession session;
  edit_start(session, level_pack_from_stream(session_stream()));
  begin_editing(std::move(session));
}

// A recovery copy the page kept for this pack: offered when it differs from the pack opened.
EMSCRIPTEN_KEEPALIVE void web_edit_offer_recovery(const char* text) {
  if (WEB.mode != WebMode::EDITING || text == edit_text(editor_session())) return;
  editor_offer_recovery(text);
}

// The link fragment of the pack being edited ("#pack=CODE"); "" when the editor is closed.
EMSCRIPTEN_KEEPALIVE const char* web_edit_fragment() {
  static std::string fragment;
  fragment = WEB.mode == WebMode::EDITING ? share_code_fragment(edit_text(editor_session())) : "";
  return fragment.c_str();
}

// For the tests: the editor's levels, and the letter of cell (x, y) of the level being edited
// (-1 outside it or with the editor closed).
EMSCRIPTEN_KEEPALIVE int32_t web_edit_level_count() {
  if (WEB.mode != WebMode::EDITING) return -1;
  return static_cast<int32_t>(editor_session().pack.levels.size());
}
EMSCRIPTEN_KEEPALIVE int32_t web_edit_cell(int32_t x, int32_t y) {
  if (WEB.mode != WebMode::EDITING) return -1;
  const EditSession& session = editor_session();
  const PackLevel& level = session.pack.levels[static_cast<size_t>(session.level)];
  if (x < 0 || y < 0 || x >= level.width || y >= level.height) return -1;
  return static_cast<unsigned char>(level.rows[static_cast<size_t>(y)][static_cast<size_t>(x)]);
}

// --- What the tests read ---

EMSCRIPTEN_KEEPALIVE int32_t web_game_state() { return GAME.game_state; }
EMSCRIPTEN_KEEPALIVE int32_t web_level_number() { return GAME.level_number; }
EMSCRIPTEN_KEEPALIVE int32_t web_barriers_left() { return GAME.barriers_left; }
// The CELL_* bits of cell (x, y); -1 outside the grid.
EMSCRIPTEN_KEEPALIVE int32_t web_cell_flags(int32_t x, int32_t y) {
  if (x < 0 || y < 0 || x >= GAME.grid_width || y >= GAME.grid_height) return -1;
  return GAME.at(x, y).flags;
}
EMSCRIPTEN_KEEPALIVE double web_frames() { return static_cast<double>(WEB.frames); }

}  // extern "C"

// The page decides what comes first (a display, a verification, the links); until then the
// animation frame only keeps its clock.
int main() {
  WEB.last_ms = emscripten_get_now();
  emscripten_set_main_loop(tick, 0, 0);
  return 0;
}
