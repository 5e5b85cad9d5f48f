#include "game/game_loop.h"

#include "game/barriers.h"
#include "game/board_view.h"
#include "game/display.h"
#include "game/game_globals.h"
#include "game/level_stream.h"
#include "game/message_screen.h"
#include "game/sound_cues.h"
#include "game/spread.h"
#include "media/draw.h"
#include "media/keyboard.h"
#include "media/mouse.h"
#include "media/screen.h"
#include "media/timing.h"
#include "media/window.h"

namespace {

// Drains the window's events; the close box ends the run at the bottom of this frame.
void pump_window_events() {
  for (int32_t event = window_poll_event(); event != 0; event = window_poll_event()) {
    if (event == EVENT_CLOSE_WINDOW) quit_requested = 1;
  }
}

// Input is read only while the game is in front; otherwise the pointer goes back to the
// desktop and no click can land on the board, though the chemical keeps spreading.
void read_input() {
  if (screen_is_active()) {
    if (windowed) mouse_release(0);
    mouse_examine();
    keyboard_examine();
    if (game_state != STATE_MESSAGE) update_cursor();
  } else {
    if (windowed) mouse_release(1);
    cursor_on_board = 0;
  }
}

// The drawing pass of the frame. A pass that cannot begin skips the simulation, the clicks and
// the message keys of this frame, but the keys after the flip still work.
void simulate_and_draw() {
  screen_clear(0);
  if (!draw_begin(screen_output())) return;
  if (game_state == STATE_PLAYING) {
    spread_step();
    if (cursor_on_board) handle_buttons();
  }
  draw_board_view();
  if (game_state == STATE_MESSAGE) message_screen_frame();
  draw_end();
}

// Keys tested after the flip. Each key_released is asked every frame, before its state guard,
// so a release made on another screen is used up there and never acts later.
void handle_keys_after_flip() {
  if (key_down(KEY_ESCAPE)) {
    quit_requested = 1;
  } else if (key_released(KEY_R) && game_state == STATE_PLAYING) {
    sound_cues_play(SOUND_BUMP);
    load_level(level_number);
  }
  if (game_state == STATE_TALLY) {
    tally_step();
    if (tally_frames == 0 && barriers_left == 0) advance_level();
  }
  if (key_released(KEY_RETURN) && contained && game_state == STATE_PLAYING) {
    sound_cues_play(SOUND_CLEAN);
    tally_start();
  }
}

}  // namespace

void game_startup() {
  game_reset_globals();
  level_data_cursor = LEVEL_ENTRY_INTRO;
  window_system_init();
  drawing_system_init();
  windowed = 1;
  shake_frames = 0;
  plain_view = 0;
  display_load_font();
  build_chemical_palette();
  barriers_left = spread_rate = spread_threshold = 0;
  level_number = 1;
  board_size = barriers_at_start = 0;
  fill_generation = 1;
  contained = score = edge_reached = 0;
  game_state = STATE_MESSAGE;
  display_open();
  sound_ok = sound_cues_open_device();
  sound_cues_load();
  screen_set_frame_rate(GAME_FRAME_RATE);
  screen_clear(0);
  screen_flip();
  load_level(1);
  // Level 1 is loaded once already so that the board state is valid behind the intro; the
  // intro's end loads it again.
  message_screen_open(LEVEL_ENTRY_INTRO);
}

int32_t game_frame() {
  frame_tick = static_cast<int32_t>(tick_ms());
  if (windowed) pump_window_events();
  read_input();
  // F is asked first so that its release is used up even when no Ctrl is held: F alone does
  // nothing, also later.
  if (key_released(KEY_F) && (key_down(KEY_LCONTROL) || key_down(KEY_RCONTROL))) {
    toggle_display_mode();
    delay_ms(GAME_MODE_SWITCH_PAUSE_MS);
  }
  if (key_released(KEY_TAB) && game_state == STATE_PLAYING) {
    plain_view = 1 - plain_view;
    sound_cues_play(SOUND_TAKE);
  }
  // M silences everything in any state and plays no cue; the music runs on unheard, so it comes
  // back in time.
  if (key_released(KEY_M)) sound_cues_toggle_mute();
  simulate_and_draw();
  screen_flip();
  handle_keys_after_flip();
  delay_ms(GAME_FRAME_SLEEP_MS);
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
