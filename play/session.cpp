#include "play/session.h"

#include <utility>

#include "core/barriers.h"
#include "core/spread.h"
#include "core/story.h"
#include "media/draw.h"
#include "media/events.h"
#include "media/keyboard.h"
#include "media/mouse.h"
#include "media/screen.h"
#include "media/sound.h"
#include "media/timing.h"
#include "media/window.h"
#include "play/board_view.h"
#include "play/input.h"
#include "play/message_screen.h"
#include "play/sound_cues.h"

Rules GAME;
View VIEW;

namespace {

struct SessionState {
  LevelStream pack;               // the levels played when a pack is in use
  int32_t pack_in_use = 0;        // pack holds them (else the built-in ones)
  const char* failure = nullptr;  // why the last frame failed
  int32_t switched = 0;           // the last frame switched the display
};

SessionState SESSION;

// The end of a story block: the pointer waits in the middle of the screen.
void centre_pointer() {
  input_mouse_locate(SCREEN_WIDTH / 2, SCREEN_HEIGHT / 2);
  // The input layer hid the pointer when it captured the mouse and only shows it again when
  // its own record changes; this raise keeps the system pointer visible over the window.
  if (VIEW.windowed) mouse_show_pointer(1);
}

constexpr RulesEffects SESSION_EFFECTS = {sound_cues_play, sound_cues_start_music,
                                          sound_cues_stop_music, centre_pointer};

// Drains the window's events; 1 when the close box asked to quit. Full screen has no window of
// ours, but a close request there (a signal, the session ending, the window manager's close)
// arrives the same way.
int32_t pump_window_events() {
  int32_t closed = 0;
  for (int32_t event = window_poll_event(); event != 0; event = window_poll_event()) {
    if (event == EVENT_CLOSE_WINDOW) closed = 1;
  }
  return closed;
}

// Input is read only while the game is in front; otherwise the pointer goes back to the
// desktop and no click can land on the board, though the chemical keeps spreading.
void read_input(const FrameDevice& device) {
  const int32_t active = input_is_active();
  device.hold_pointer(active);
  if (active) {
    input_examine();
    if (GAME.game_state != STATE_MESSAGE) update_cursor(GAME, input_mouse_x(), input_mouse_y());
  } else {
    GAME.cursor_on_board = 0;
  }
}

// Both mouse buttons applied to the cell under the pointer.
void handle_buttons() {
  barriers_apply_buttons(GAME, input_mouse_button(1), input_mouse_button(2));
}

// The drawing pass of the frame. A pass that cannot begin skips the simulation, the clicks and
// the message keys of this frame, but the keys after the flip still work.
void simulate_and_draw(const FrameDevice& device) {
  if (!input_pass_began(device.begin_pass())) return;
  if (GAME.game_state == STATE_PLAYING) {
    spread_step(GAME);
    if (GAME.cursor_on_board) handle_buttons();
  }
  // The board's picture feeds nothing back into the rules, so a run without a picture skips it.
  if (device.draws) draw_board_view();
  if (GAME.game_state == STATE_MESSAGE) message_screen_frame();
  draw_end();
}

// Keys tested after the flip. Each key_released is asked every frame, before its state guard,
// so a release made on another screen is used up there and never acts later.
void handle_keys_after_flip() {
  if (input_key_down(KEY_ESCAPE)) {
    GAME.quit_requested = 1;
  } else if (input_key_released(KEY_R) && GAME.game_state == STATE_PLAYING) {
    sound_cues_play(SOUND_BUMP);
    load_level(GAME, GAME.level_number);
  }
  if (GAME.game_state == STATE_TALLY) {
    tally_step(GAME);
    if (GAME.tally_frames == 0 && GAME.barriers_left == 0) advance_level(GAME);
  }
  if (input_key_released(KEY_RETURN) && GAME.contained && GAME.game_state == STATE_PLAYING) {
    sound_cues_play(SOUND_CLEAN);
    tally_start(GAME);
  }
}

// --- The window's frame: the player's own devices ---

int32_t window_start() {
  events_pump();
  sound_service();
  VIEW.frame_tick = static_cast<int32_t>(tick_ms());
  input_frame_start(nullptr);
  return 1;
}

int32_t window_closed() { return pump_window_events(); }

void window_hold_pointer(int32_t active) {
  if (VIEW.windowed) mouse_release(active ? 0 : 1);
}

int32_t window_begin_pass() {
  screen_clear(0);
  return draw_begin(screen_output());
}

void window_present() { screen_present(); }

}  // namespace

void session_use_stream(LevelStream stream) {
  SESSION.pack = std::move(stream);
  SESSION.pack_in_use = 1;
  GAME.stream = &SESSION.pack;
}

void session_use_builtin_levels() {
  SESSION.pack = LevelStream{};
  SESSION.pack_in_use = 0;
  GAME.stream = &level_stream_builtin();
}

const LevelStream& session_stream() {
  return SESSION.pack_in_use ? SESSION.pack : level_stream_builtin();
}

void session_reset() {
  rules_start(GAME, &session_stream(), &SESSION_EFFECTS);
  input_reset();
  VIEW = View{};
  VIEW.windowed = 1;
}

void session_clear() {
  GAME = Rules{};
  GAME.stream = &session_stream();
  GAME.effects = &SESSION_EFFECTS;
  VIEW = View{};
}

void session_open_intro() {
  // Level 1 is loaded once already so that the board state is valid behind the intro; the
  // intro's end loads it again.
  load_level(GAME, 1);
  story_open(GAME, LEVEL_ENTRY_INTRO);
}

void game_startup_headless(int32_t with_font) {
  session_reset();
  VIEW.windowed = 0;
  if (with_font) {
    drawing_system_init();
    board_view_load_font();
  }
  build_chemical_palette();
  GAME.sound_ok = 0;
  session_open_intro();
}

void game_start_at_level(int32_t level) {
  if (level <= 0) return;
  // As at the intro's end: the music starts, the pointer waits in the middle of the screen.
  sound_cues_start_music();
  input_mouse_locate(SCREEN_WIDTH / 2, SCREEN_HEIGHT / 2);
  GAME.score = 0;
  load_level(GAME, level);
}

int32_t session_frame(const FrameDevice& device) {
  SESSION.failure = nullptr;
  SESSION.switched = 0;
  if (!device.start()) return SESSION_OVER;
  if (input_closed(device.closed())) GAME.quit_requested = 1;
  read_input(device);
  // F is asked first so that its release is used up even when no Ctrl is held: F alone does
  // nothing, also later.
  if (input_key_released(KEY_F) && (input_key_down(KEY_LCONTROL) || input_key_down(KEY_RCONTROL))) {
    if (device.switch_display) {
      SESSION.failure = device.switch_display();
      if (SESSION.failure) return SESSION_FAILED;
      SESSION.switched = 1;
    }
  }
  if (input_key_released(KEY_TAB) && GAME.game_state == STATE_PLAYING) {
    GAME.plain_view = 1 - GAME.plain_view;
    sound_cues_play(SOUND_TAKE);
  }
  // M silences everything in any state and plays no cue; the music runs on unheard, so it comes
  // back in time. It changes no rule, so it is asked of the keyboard itself and never recorded.
  if (key_released(KEY_M)) sound_cues_toggle_mute();
  simulate_and_draw(device);
  device.present();
  handle_keys_after_flip();
  return GAME.quit_requested ? SESSION_OVER : SESSION_GOING;
}

const char* session_failure() { return SESSION.failure; }

int32_t session_switched_display() { return SESSION.switched; }

FrameDevice session_window_device() {
  return {window_start,
          window_closed,
          window_hold_pointer,
          nullptr,
          window_begin_pass,
          window_present,
          1};
}
