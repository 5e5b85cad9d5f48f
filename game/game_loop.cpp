#include "game/game_loop.h"

#include "game/barriers.h"
#include "game/board_view.h"
#include "game/display.h"
#include "game/game_globals.h"
#include "game/input.h"
#include "game/level_stream.h"
#include "game/message_screen.h"
#include "game/options.h"
#include "game/sound_cues.h"
#include "game/spread.h"
#include "media/draw.h"
#include "media/events.h"
#include "media/keyboard.h"
#include "media/mouse.h"
#include "media/screen.h"
#include "media/sound.h"
#include "media/timing.h"
#include "media/window.h"

namespace {

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
    if (game_state != STATE_MESSAGE) update_cursor();
  } else {
    cursor_on_board = 0;
  }
}

// The drawing pass of the frame. A pass that cannot begin skips the simulation, the clicks and
// the message keys of this frame, but the keys after the flip still work.
void simulate_and_draw(const FrameDevice& device) {
  if (!input_pass_began(device.begin_pass())) return;
  if (game_state == STATE_PLAYING) {
    spread_step();
    if (cursor_on_board) handle_buttons();
  }
  // The board's picture feeds nothing back into the rules, so a run without a picture skips it.
  if (device.draws) draw_board_view();
  if (game_state == STATE_MESSAGE) message_screen_frame();
  draw_end();
}

// Keys tested after the flip. Each key_released is asked every frame, before its state guard,
// so a release made on another screen is used up there and never acts later.
void handle_keys_after_flip() {
  if (input_key_down(KEY_ESCAPE)) {
    quit_requested = 1;
  } else if (input_key_released(KEY_R) && game_state == STATE_PLAYING) {
    sound_cues_play(SOUND_BUMP);
    load_level(level_number);
  }
  if (game_state == STATE_TALLY) {
    tally_step();
    if (tally_frames == 0 && barriers_left == 0) advance_level();
  }
  if (input_key_released(KEY_RETURN) && contained && game_state == STATE_PLAYING) {
    sound_cues_play(SOUND_CLEAN);
    tally_start();
  }
}

// The window's frame: the player's own devices, paced by the screen.
int32_t window_start() {
  events_pump();
  sound_service();
  frame_tick = static_cast<int32_t>(tick_ms());
  input_frame_start(nullptr);
  return 1;
}

int32_t window_closed() { return pump_window_events(); }

void window_hold_pointer(int32_t active) {
  if (windowed) mouse_release(active ? 0 : 1);
}

void window_switch_display() {
  toggle_display_mode();
  delay_ms(GAME_MODE_SWITCH_PAUSE_MS);
}

int32_t window_begin_pass() {
  screen_clear(0);
  return draw_begin(screen_output());
}

void window_present() { screen_flip(); }

void window_finish() { delay_ms(GAME_FRAME_SLEEP_MS); }

constexpr FrameDevice WINDOW_DEVICE = {
    window_start,      window_closed,  window_hold_pointer, window_switch_display,
    window_begin_pass, window_present, window_finish,       1};

// Everything game_startup sets before the display opens, in its order.
void reset_game_state() {
  game_reset_globals();
  level_data_cursor = LEVEL_ENTRY_INTRO;
  windowed = 1;
  shake_frames = 0;
  plain_view = 0;
}

// The rest of the start-up state once the palette is built.
void reset_level_state() {
  barriers_left = spread_rate = spread_threshold = 0;
  level_number = 1;
  board_size = barriers_at_start = 0;
  fill_generation = 1;
  contained = score = edge_reached = 0;
  game_state = STATE_MESSAGE;
}

// Level 1 is loaded once already so that the board state is valid behind the intro; the intro's
// end loads it again.
void open_intro() {
  load_level(1);
  message_screen_open(LEVEL_ENTRY_INTRO);
}

}  // namespace

void game_startup() {
  reset_game_state();
  window_system_init();
  drawing_system_init();
  display_load_font();
  build_chemical_palette();
  reset_level_state();
  display_open();
  // Muted, no device is opened at all: the game behaves exactly as on a machine without sound.
  if (game_options.mute) sound_cues_set_no_device(1);
  sound_ok = sound_cues_open_device();
  sound_cues_load();
  screen_set_frame_rate(GAME_FRAME_RATE);
  screen_clear(0);
  screen_flip();
  open_intro();
}

void game_startup_headless(int32_t with_font) {
  reset_game_state();
  windowed = 0;
  if (with_font) {
    drawing_system_init();
    display_load_font();
  }
  build_chemical_palette();
  reset_level_state();
  sound_ok = 0;
  open_intro();
}

void game_start_at_level(int32_t level) {
  if (level <= 0) return;
  // As at the intro's end: the music starts, the pointer waits in the middle of the screen.
  sound_cues_start_music();
  input_mouse_locate(SCREEN_WIDTH / 2, SCREEN_HEIGHT / 2);
  score = 0;
  load_level(level);
}

int32_t game_frame() { return game_frame_with(WINDOW_DEVICE); }

int32_t game_frame_with(const FrameDevice& device) {
  if (!device.start()) return 0;
  if (input_closed(device.closed())) quit_requested = 1;
  read_input(device);
  // F is asked first so that its release is used up even when no Ctrl is held: F alone does
  // nothing, also later.
  if (input_key_released(KEY_F) && (input_key_down(KEY_LCONTROL) || input_key_down(KEY_RCONTROL))) {
    device.switch_display();
  }
  if (input_key_released(KEY_TAB) && game_state == STATE_PLAYING) {
    plain_view = 1 - plain_view;
    sound_cues_play(SOUND_TAKE);
  }
  // M silences everything in any state and plays no cue; the music runs on unheard, so it comes
  // back in time. It changes no rule, so it is asked of the keyboard itself and never recorded.
  if (key_released(KEY_M)) sound_cues_toggle_mute();
  simulate_and_draw(device);
  device.present();
  handle_keys_after_flip();
  device.finish();
  return quit_requested ? 0 : 1;
}

void game_end() {
  // The hidden window's half second lets the last sound die away without a frozen picture.
  if (windowed) {
    window_hide(0, 1);
    delay_ms(GAME_END_PAUSE_MS);
  }
  display_shutdown();
}

void advance_level() {
  const long block = level_block_offset(level_number);
  if (block < 0) {
    // Levels without a story screen after them go straight on, pointer where it was.
    load_level(level_number + 1);
    return;
  }
  level_number += 1;
  message_screen_open(static_cast<size_t>(block));
}
