// The browser's shell around the game, as desktop/ is the desktop's: start-up in the page, the
// frames the page's animation frame runs in whole fixed steps, the files and links the page
// hands over, and the few numbers its tests read. The page (web/page.js) owns everything of the
// document: the start overlay, the canvas's size, touch, storage, fetching; it calls the
// functions exported here, and they answer through the hooks on Module.page.
#include <emscripten.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/level_pack.h"
#include "core/parse.h"
#include "core/replay_codec.h"
#include "core/report.h"
#include "media/draw.h"
#include "media/events.h"
#include "media/keyboard.h"
#include "media/mouse.h"
#include "media/screen.h"
#include "media/sound.h"
#include "media/window.h"
#include "play/board_view.h"
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

// What the animation frame runs.
enum class WebMode {
  NONE,      // nothing: no display (a verification page) or not started
  READY,     // the session's first frame is drawn; the start overlay waits for the player
  PLAYING,   // the player's session, recorded
  WATCHING,  // a replay shown on the canvas
  ENDED,     // the run is over; the start overlay offers a new one
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
};

WebState WEB;

// --- The page's side: each hook is a function page.js puts on Module.page ---

EM_JS(void, page_message, (const char* text), { Module.page.message(UTF8ToString(text)); });
EM_JS(void, page_output, (const char* text), { Module.page.output(UTF8ToString(text)); });
EM_JS(void, page_keep_run, (const uint8_t* bytes, int32_t size),
      { Module.page.keepRun(HEAPU8.slice(bytes, bytes + size)); });
EM_JS(void, page_picture, (const uint32_t* pixels, int32_t width, int32_t height),
      { Module.page.picture(HEAPU8.subarray(pixels, pixels + width * height * 4), width, height); });
EM_JS(void, page_first_frame, (), { Module.page.firstFrame(); });
EM_JS(void, page_running, (int32_t running), { Module.page.running(!!running); });
EM_JS(void, page_toggle_full_screen, (), { Module.page.toggleFullScreen(); });

void say(const std::string& text) { page_message(text.c_str()); }

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

// The animation frame: whole fixed steps for the time that passed, each one frame of the game.
void tick() {
  const double now = emscripten_get_now();
  const double passed = now - WEB.last_ms;
  WEB.last_ms = now;
  if (WEB.mode != WebMode::PLAYING && WEB.mode != WebMode::WATCHING) return;
  WEB.owed_ms += passed;
  for (int32_t step = 0; step < WEB_MAX_STEPS && WEB.owed_ms >= WEB_FRAME_MS; ++step) {
    WEB.owed_ms -= WEB_FRAME_MS;
    if (WEB.mode == WebMode::PLAYING) {
      play_frame();
    } else if (WEB.mode == WebMode::WATCHING) {
      watch_frame();
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
  if (!WEB.display_open) return;
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
