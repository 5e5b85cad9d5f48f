// The browser's shell around the game, as desktop/ is the desktop's: start-up in the page, the
// frames the page's animation frame runs in whole fixed steps, the files and links the page
// hands over, and the few numbers its tests read. The page (web/page.js) owns everything of the
// document: the start overlay, the canvas's size, touch, storage, fetching; it calls the
// functions exported here, and they answer through the hooks on Module.page.
#include <emscripten.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "core/digest.h"
#include "core/edit.h"
#include "core/level_pack.h"
#include "core/level_stream.h"
#include "core/parse.h"
#include "core/replay_codec.h"
#include "core/report.h"
#include "core/settings.h"
#include "core/share_code.h"
#include "media/draw.h"
#include "media/events.h"
#include "media/keyboard.h"
#include "media/mouse.h"
#include "media/pad.h"
#include "media/screen.h"
#include "media/sound.h"
#include "media/window.h"
#include "play/app.h"
#include "play/board_view.h"
#include "play/editor.h"
#include "play/replay.h"
#include "play/session.h"
#include "play/settings_screen.h"
#include "play/sound_cues.h"

namespace {

// Frames one animation frame may run. A display slower than the game needs a few; after a
// hidden tab, a stall or a breakpoint the time owed is dropped rather than raced through.
constexpr int32_t WEB_MAX_STEPS = 4;
constexpr const char* WEB_SOUND_DIR = "/assets";  // the sounds, as packaged into the page
constexpr const char* WEB_WINDOW_TITLE = "Q-47";
constexpr char WEB_REPLAY_MAGIC[] = "Q47RPLAY";  // how a replay file begins (a pack is text)

struct WebState {
  int32_t display_open = 0;  // the window, the screen, input and the sound device are up
  int32_t running = 0;       // the animation frame runs the program's frames (no overlay)
  int32_t start_level = 0;   // ?level=N: games skip the intro to practise N; 0 = the intro
  int64_t frames = 0;        // frames run since the mode started
  double last_ms = 0;        // when tick last ran (ms of emscripten_get_now)
  double owed_ms = 0;        // time not yet run as whole frames
  // The levels played before the editor opened (none: the built-in ones), played again after
  // it: the editor's packs are its own, but a pack opened in it becomes the one in use.
  std::optional<LevelStream> stream_before_edit;
  // The settings as this page last read or kept them: what a change is made from, so only what
  // the player changed here is written over what another tab wrote meanwhile.
  Settings known_settings;
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
EM_JS(void, page_level_won, (const uint8_t* bytes, int32_t size, int32_t level),
      { Module.page.levelWon(HEAPU8.slice(bytes, bytes + size), level); });
EM_JS(void, page_first_frame, (), { Module.page.firstFrame(); });
EM_JS(void, page_running, (int32_t running), { Module.page.running(!!running); });
EM_JS(void, page_toggle_full_screen, (), { Module.page.toggleFullScreen(); });
EM_JS(int32_t, page_edit_save, (const char* text),
      { return Module.page.editSave(UTF8ToString(text)); });
EM_JS(void, page_edit_recovery, (const char* text),
      { Module.page.editRecovery(UTF8ToString(text)); });
EM_JS(void, page_edit_proof, (const uint8_t* bytes, int32_t size, int32_t level),
      { Module.page.editProof(HEAPU8.slice(bytes, bytes + size), level); });
EM_JS(void, page_edit_publish,
      (const char* text, const uint8_t* bytes, const int32_t* sizes, int32_t count), {
        const runs = [];
        let at = bytes;
        for (let i = 0; i < count; i++) {
          const size = HEAP32[(sizes >> 2) + i];
          runs.push(HEAPU8.slice(at, at + size));
          at += size;
        }
        Module.page.editPublish(UTF8ToString(text), runs);
      });
EM_JS(void, page_editing, (int32_t on), { Module.page.editing(!!on); });
EM_JS(void, page_event,
      (const char* kind, int32_t level, int32_t barriers, int32_t x, int32_t y, const char* text), {
        Module.page.event(
            {kind : UTF8ToString(kind), level, barriers, x, y, text : UTF8ToString(text)});
      });
EM_JS(void, page_save_settings, (const char* text),
      { Module.page.saveSettings(UTF8ToString(text)); });
// What the page's storage holds as the settings now, copied into the game's memory (the caller
// frees it), or null when it holds none. Text over limit is never copied: it is kept aside as
// q47.settings.unreadable (said on the console) and *aside set, or left where it is with *aside
// 2 when even that cannot be done.
// clang-format off
EM_JS(char*, page_stored_settings, (int32_t limit, int32_t* aside), {
  let text = null;
  try {
    text = localStorage.getItem('q47.settings');
  } catch (e) {
    return 0;
  }
  if (text === null) return 0;
  const bytes = text.length > limit ? null : new TextEncoder().encode(text);
  if (!bytes || bytes.length > limit) {
    try {
      localStorage.setItem('q47.settings.unreadable', text);
      console.warn('q47: q47.settings: too long to merge a change into; kept as ' +
                   'q47.settings.unreadable and new settings started');
      HEAP32[aside >> 2] = 1;
    } catch (e) {
      console.warn('q47: q47.settings: too long to merge a change into, and cannot be kept ' +
                   'aside (' + e.message + '); the change is not kept');
      HEAP32[aside >> 2] = 2;
    }
    return 0;
  }
  const at = _malloc(bytes.length + 1);
  HEAPU8.set(bytes, at);
  HEAPU8[at + bytes.length] = 0;
  return at;
});
// clang-format on

void say(const std::string& text) { page_message(text.c_str()); }

// Keeps the settings the player changed in this tab: the one change merged into what the
// page's storage holds now, as the desktop merges into its file, so two tabs changing settings
// at once both keep theirs, and a line written into the storage by hand stays.
void save_settings(const std::string& text) {
  std::vector<std::string> problems;
  const Settings changed = settings_parse(text, "q47.settings", problems);
  int32_t aside = 0;
  char* stored = page_stored_settings(static_cast<int32_t>(SETTINGS_TEXT_MAX), &aside);
  if (aside == 2) return;
  std::string kept = settings_format(changed);
  if (stored) {
    const std::string now(stored);
    std::free(stored);
    kept = settings_merge(now, WEB.known_settings, changed);
    if (kept.size() > SETTINGS_TEXT_MAX) {
      report("q47.settings: the change would make it too long; the change is not kept");
      return;
    }
  }
  page_save_settings(kept.c_str());
  WEB.known_settings = changed;
}

bool editing() {
  const AppMode mode = app_mode();
  return mode == AppMode::EDIT || mode == AppMode::TEST_PLAY || mode == AppMode::SHOW_PLAN;
}

// Ctrl+F: the browser's own full screen around the page. The canvas keeps its 640 x 480 pixels
// and only its shown size follows, so nothing the game knows of its screen changes, and the
// request is answered later by the browser: there is no failure to report now.
const char* switch_display() {
  page_toggle_full_screen();
  return nullptr;
}

// Does what a frame asked: the run kept in the page's storage, as the desktop keeps last.q47r;
// the pack downloaded and kept; unsaved work kept; a proof downloaded.
void do_asks(const std::vector<AppAsk>& asks) {
  for (const AppAsk& ask : asks) {
    switch (ask.kind) {
      case AppAsk::Kind::KEEP_RUN: {
        const std::vector<uint8_t> bytes = replay_encode(ask.run);
        page_keep_run(bytes.data(), static_cast<int32_t>(bytes.size()));
        break;
      }
      case AppAsk::Kind::LEVEL_WON: {
        const std::vector<uint8_t> bytes = replay_encode(ask.run);
        page_level_won(bytes.data(), static_cast<int32_t>(bytes.size()), ask.level);
        break;
      }
      case AppAsk::Kind::SAVE_PACK:
      case AppAsk::Kind::SAVE_PACK_AS:
        app_saved(page_edit_save(ask.text.c_str()) ? "" : "THE BROWSER'S STORAGE REFUSED IT");
        break;
      case AppAsk::Kind::KEEP_RECOVERY:
        page_edit_recovery(ask.text.c_str());
        break;
      case AppAsk::Kind::KEEP_PROOF: {
        const std::vector<uint8_t> bytes = replay_encode(ask.run);
        page_edit_proof(bytes.data(), static_cast<int32_t>(bytes.size()), ask.level);
        app_say("DOWNLOADED THE RUN (SAVE THE PACK TOO)");
        break;
      }
      case AppAsk::Kind::SAVE_SETTINGS:
        save_settings(ask.text);
        break;
      case AppAsk::Kind::PUBLISH: {
        // The page sends them and answers through web_edit_published.
        std::vector<uint8_t> bytes;
        std::vector<int32_t> sizes;
        for (const Replay& run : ask.runs) {
          const std::vector<uint8_t> one = replay_encode(run);
          bytes.insert(bytes.end(), one.begin(), one.end());
          sizes.push_back(static_cast<int32_t>(one.size()));
        }
        page_edit_publish(ask.text.c_str(), bytes.data(), sizes.data(),
                          static_cast<int32_t>(sizes.size()));
        break;
      }
    }
  }
}

// The page's names of the frame's events, in AppEvent::Kind's order.
constexpr const char* EVENT_NAMES[] = {
    "level-begun",   "barrier-placed", "barrier-picked-up", "level-won",     "level-lost",
    "screen-opened", "row-selected",   "setting-changed",   "screen-closed", "story-line"};
static_assert(std::size(EVENT_NAMES) == static_cast<size_t>(AppEvent::Kind::STORY_LINE) + 1);

// What happened in a frame, to the page, which says it to a screen reader.
void tell_page(const std::vector<AppEvent>& events) {
  for (const AppEvent& event : events) {
    page_event(EVENT_NAMES[static_cast<size_t>(event.kind)], event.level, event.barriers, event.x,
               event.y, event.text.c_str());
  }
}

// The editor is done: the levels played before it are played again.
void restore_levels() {
  if (!WEB.stream_before_edit) return;
  session_use_stream(std::move(*WEB.stream_before_edit));
  WEB.stream_before_edit.reset();
}

// The mode is over (Escape, the game's end, the replay's end, the editor quit): the page shows
// its start again.
void ended(bool was_editing) {
  sound_stop(-1, -1);
  WEB.running = 0;
  if (was_editing) {
    restore_levels();
    page_editing(0);
  }
  page_running(0);
}

// One frame of the program on the page's canvas.
void step() {
  FrameDevice device = session_window_device();
  device.switch_display = switch_display;
  const bool was_editing = editing();
  const AppFrame frame = app_frame(device);
  tell_page(frame.events);
  do_asks(frame.asks);
  WEB.frames += 1;
  if (frame.status != APP_GOING) ended(was_editing);
}

// Ends what runs as the player would, keeping what it leaves (the run, unsaved work).
void stop_mode() {
  const bool was_editing = editing();
  if (app_mode() == AppMode::ENDED) return;
  do_asks(app_stop().asks);
  if (was_editing) restore_levels();
}

// A new game of the player's, its first frame drawn behind the start overlay.
void begin_game() {
  stop_mode();
  app_play(WEB.start_level);
  WEB.frames = 0;
  WEB.owed_ms = 0;
  step();
}

// The editor on session's pack, over whatever ran (unsaved work it replaces is kept).
void begin_editing(EditSession session) {
  const bool was_editing = editing();
  if (app_mode() != AppMode::ENDED) do_asks(app_stop().asks);
  if (!was_editing) {
    if (&session_stream() == &level_stream_builtin()) {
      WEB.stream_before_edit.reset();
    } else {
      WEB.stream_before_edit = session_stream();
    }
  }
  app_edit(std::move(session), "");
  WEB.frames = 0;
  WEB.owed_ms = 0;
  WEB.running = 1;
  page_running(1);
  page_editing(1);
}

// The animation frame: whole fixed steps for the time that passed, each one frame of the game.
void tick() {
  const double now = emscripten_get_now();
  const double passed = now - WEB.last_ms;
  WEB.last_ms = now;
  if (!WEB.running) return;
  WEB.owed_ms += passed;
  const double frame_ms = 1000.0 / GAME_FRAMES_PER_SECOND;
  for (int32_t step_count = 0; step_count < WEB_MAX_STEPS && WEB.owed_ms >= frame_ms;
       ++step_count) {
    WEB.owed_ms -= frame_ms;
    step();
    if (!WEB.running) return;
  }
  if (WEB.owed_ms >= frame_ms) WEB.owed_ms = 0;
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
    say(report_line(name + ": " + PACK_TOO_LARGE));
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
  stop_mode();
  app_watch(replay);
  WEB.frames = 0;
  WEB.owed_ms = 0;
  WEB.running = 1;
  page_running(1);
  step();
  page_first_frame();
}

}  // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE int32_t web_edit_text(const uint8_t* bytes, int32_t size, const char* name);
EMSCRIPTEN_KEEPALIVE void web_start();

// A ?palette= value: 0 plain (also when the link has none), 1 marked, -1 after saying it is
// neither, in the command line's words.
int32_t web_palette_marked(const char* text) {
  const std::string value = text;
  if (value.empty() || value == "plain") return 0;
  if (value == "marked") return 1;
  say(report_line("palette=" + value + ": invalid palette (plain or marked)"));
  return -1;
}

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
  // Without pad support the game plays on with the mouse and keys.
  pad_init();
  if (!window_open(0, 0, 0, SCREEN_WIDTH, SCREEN_HEIGHT, WEB_WINDOW_TITLE, 0) ||
      !screen_open_scaled(window_handle(0), SCREEN_WIDTH, SCREEN_HEIGHT)) {
    say(report_line("Window could not be opened!"));
    return 0;
  }
  const int32_t sound_ok = sound_cues_open_device();
  sound_cues_load({WEB_SOUND_DIR}, sound_ok);
  app_start(board_view_picture(1), sound_ok);
  WEB.display_open = 1;
  return 1;
}

// ?level=N: every session skips the intro and practises level N with score 0; 0 after saying
// why text is no level of the levels in use.
EMSCRIPTEN_KEEPALIVE int32_t web_set_level(const char* text) {
  int64_t level = 0;
  const int32_t count = level_count(session_stream());
  // The range said is that of the levels in use: a pack's, or the game's own.
  if (parse_int(text, 1, PACK_LEVELS_MAX, level) != ParseInt::OK) {
    say(report_line("level=" + std::string(text) + ": not a level (a whole number from 1 to " +
                    std::to_string(count) + ")"));
    return 0;
  }
  const std::string problem = level_pack_level_problem(
      "level=" + std::to_string(level), level, count, &session_stream() != &level_stream_builtin());
  if (!problem.empty()) {
    say(report_line(problem));
    return 0;
  }
  WEB.start_level = static_cast<int32_t>(level);
  return 1;
}

// ?palette=plain|marked: the picture's cells with or without their cue besides colour, from the
// next session on; 0 after saying why text is neither.
EMSCRIPTEN_KEEPALIVE int32_t web_set_palette(const char* text) {
  const int32_t marked = web_palette_marked(text);
  if (marked < 0 || !WEB.display_open) return 0;
  app_picture().marked_cells = marked;
  return 1;
}

// The settings the page kept (its storage's q47.settings), read as the desktop reads its file:
// every problem one line on the console, and the defaults for what is wrong. Before ?palette,
// which wins for the visit and is not kept.
EMSCRIPTEN_KEEPALIVE void web_use_settings(const char* text) {
  if (!WEB.display_open) return;
  std::vector<std::string> problems;
  const Settings settings = settings_parse(text, "q47.settings", problems);
  for (const std::string& problem : problems) report(problem);
  WEB.known_settings = settings;
  app_use_settings(settings);
  app_picture().marked_cells = settings.palette_marked;
}

// The page's Settings button (toggle 0) and F2, which the page keeps from the browser (toggle
// 1): the settings screen over the game, which starts first when it waits behind the overlay.
// 1 when the screen shows.
EMSCRIPTEN_KEEPALIVE int32_t web_settings(int32_t toggle) {
  if (!WEB.display_open || editing()) return 0;
  if (toggle && app_close_settings()) return 0;
  if (!WEB.running) web_start();
  return app_open_settings() ? 1 : 0;
}

// Whether the settings screen shows (for the page's tests).
EMSCRIPTEN_KEEPALIVE int32_t web_settings_open() { return settings_screen_is_open(); }

// The settings as the program holds them now, as they would be kept (for the page's tests).
EMSCRIPTEN_KEEPALIVE const char* web_settings_text() {
  static std::string text;
  text = settings_format(app_settings());
  return text.c_str();
}

// ?levels=URL: the pack's levels are played from now on; 0 (the built-in levels stay) after
// saying what is wrong with it.
EMSCRIPTEN_KEEPALIVE int32_t web_use_pack(const uint8_t* bytes, int32_t size, const char* name) {
  return install_pack(bytes, size, name) ? 1 : 0;
}

// The game's first frame, drawn behind the start overlay; the page's q47Ready follows.
EMSCRIPTEN_KEEPALIVE void web_ready() {
  if (!WEB.display_open) return;
  begin_game();
  page_first_frame();
}

// The start overlay's click: the game waiting behind it plays, or a new one begins.
EMSCRIPTEN_KEEPALIVE void web_start() {
  if (!WEB.display_open || editing()) return;
  // Keys pressed while the overlay waited (the Escape that ended the last run, a stray Space)
  // are none of the new run's: one pump takes them, and no frame ever reads that record.
  events_pump();
  if (app_mode() == AppMode::ENDED) begin_game();
  if (app_mode() == AppMode::WATCH) return;
  WEB.running = 1;
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
  if (editing()) return web_edit_text(bytes, size, name);
  if (!install_pack(bytes, size, name)) return 0;
  begin_game();
  WEB.running = 1;
  WEB.owed_ms = 0;
  page_running(1);
  return 1;
}

// ?verify=URL: runs the replay headless as `q47 --verify` does and prints the same line; with
// draw every frame is drawn, and frame > 0 also shows that frame's picture on the canvas. The
// exit code the desktop would give: 0 as recorded, 1 differing, 2 unusable.
// The SHA-256 of a block of bytes in hex, the name the hub gives a pack: the page asks the
// game's own code, since browsers offer theirs only to https pages and localhost.
EMSCRIPTEN_KEEPALIVE const char* web_sha256(const uint8_t* bytes, int32_t size) {
  static std::string hex;
  hex = sha256_hex(std::string_view(reinterpret_cast<const char*>(bytes),
                                    static_cast<size_t>(std::max(size, 0))));
  return hex.c_str();
}

EMSCRIPTEN_KEEPALIVE int32_t web_verify(const uint8_t* bytes, int32_t size, const char* name,
                                        int32_t draw, int32_t frame, const char* palette) {
  Replay replay;
  const int32_t marked = web_palette_marked(palette);
  if (marked < 0) return 2;
  if (!usable_replay(bytes, size, name, replay)) return 2;
  const ReplayVerdict verdict =
      replay_verify(replay, draw, frame > 0 ? frame : 0, "frame=" + std::to_string(frame), marked);
  page_output(verdict.line.c_str());
  if (verdict.code == 2) {
    say(report_line(verdict.problem));
    return 2;
  }
  if (frame > 0) page_picture(verdict.pixels.data(), SCREEN_WIDTH, SCREEN_HEIGHT);
  if (verdict.code == 0) return 0;
  say(report_line(name + std::string(": ") + verdict.problem));
  return 1;
}

// The page is going away: the run so far, and unsaved work, are kept.
EMSCRIPTEN_KEEPALIVE void web_leave() { stop_mode(); }

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
    say(report_line(std::string(name) + ": " + PACK_TOO_LARGE));
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
  if (app_mode() != AppMode::EDIT || text == edit_text(editor_session())) return;
  editor_offer_recovery(text);
}

// Whether a text of length bytes from the page's storage or a link may be handed to the game:
// the page asks before it copies one into the game's memory, so one the game would refuse by its
// size is refused here with a line and never copied. kind: 0 the settings, 1 a pack's text (a
// recovery copy), 2 a pack's code (a "#pack=" link).
EMSCRIPTEN_KEEPALIVE int32_t web_text_fits(int32_t kind, double length) {
  constexpr size_t LIMITS[] = {SETTINGS_TEXT_MAX, PACK_FILE_MAX, SHARE_CODE_MAX};
  constexpr const char* NAMES[] = {"q47.settings", "the recovery copy", SHARE_CODE_NAME};
  if (kind < 0 || kind > 2) return 0;
  const size_t limit = LIMITS[kind];
  if (length >= 0 && length <= static_cast<double>(limit)) return 1;
  const std::string line = std::string(NAMES[kind]) + ": too long (" +
                           std::to_string(static_cast<uint64_t>(std::max(length, 0.0))) +
                           " bytes, limit " + std::to_string(limit) + "); not read";
  report(line);
  if (kind == 2) say(report_line(line));
  return 0;
}

// The link fragment of the pack being edited ("#pack=CODE"); "" when the editor is closed.
EMSCRIPTEN_KEEPALIVE const char* web_edit_fragment() {
  static std::string fragment;
  fragment = app_mode() == AppMode::EDIT ? share_code_fragment(edit_text(editor_session())) : "";
  return fragment.c_str();
}

// The page's Publish button: the editor publishes as Ctrl+U does.
EMSCRIPTEN_KEEPALIVE void web_edit_publish() { app_publish(); }

// The hub's answer to a publication: the pack's address there, or why not (error not empty).
EMSCRIPTEN_KEEPALIVE void web_edit_published(const char* address, const char* error) {
  if (app_mode() == AppMode::EDIT) app_published(address, error);
}

// For the tests: the editor's levels, and the letter of cell (x, y) of the level being edited
// (-1 outside it or with the editor closed).
EMSCRIPTEN_KEEPALIVE int32_t web_edit_level_count() {
  if (app_mode() != AppMode::EDIT) return -1;
  return static_cast<int32_t>(editor_session().pack.levels.size());
}
EMSCRIPTEN_KEEPALIVE int32_t web_edit_cell(int32_t x, int32_t y) {
  if (app_mode() != AppMode::EDIT) return -1;
  const EditSession& session = editor_session();
  const PackLevel& level = session.pack.levels[static_cast<size_t>(session.level)];
  if (x < 0 || y < 0 || x >= level.width || y >= level.height) return -1;
  return static_cast<unsigned char>(level.rows[static_cast<size_t>(y)][static_cast<size_t>(x)]);
}

// --- What the tests read ---

EMSCRIPTEN_KEEPALIVE int32_t web_game_state() { return app_session().rules.game_state; }
EMSCRIPTEN_KEEPALIVE int32_t web_level_number() { return app_session().rules.level_number; }
EMSCRIPTEN_KEEPALIVE int32_t web_barriers_left() { return app_session().rules.barriers_left; }
// The CELL_* bits of cell (x, y); -1 outside the grid.
EMSCRIPTEN_KEEPALIVE int32_t web_cell_flags(int32_t x, int32_t y) {
  const Rules& rules = app_session().rules;
  if (x < 0 || y < 0 || x >= rules.grid_width || y >= rules.grid_height) return -1;
  return rules.at(x, y).flags;
}
// One frame of the game in milliseconds, for the page's timing of touch.
EMSCRIPTEN_KEEPALIVE double web_frame_ms() { return 1000.0 / GAME_FRAMES_PER_SECOND; }
EMSCRIPTEN_KEEPALIVE double web_frames() { return static_cast<double>(WEB.frames); }

}  // extern "C"

// The page decides what comes first (a display, a verification, the links); until then the
// animation frame only keeps its clock.
int main() {
  WEB.last_ms = emscripten_get_now();
  emscripten_set_main_loop(tick, 0, 0);
  return 0;
}
