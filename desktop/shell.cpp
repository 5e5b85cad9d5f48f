#include "desktop/shell.h"

#include "desktop/data_path.h"
#include "desktop/display.h"
#include "desktop/options.h"
#include "media/draw.h"
#include "media/screen.h"
#include "media/timing.h"
#include "media/window.h"
#include "play/board_view.h"
#include "play/session.h"
#include "play/sound_cues.h"

void game_startup() {
  session_reset();
  window_system_init();
  drawing_system_init();
  board_view_load_font();
  build_chemical_palette();
  display_open();
  // Muted, no device is opened at all: the game behaves exactly as on a machine without sound.
  if (game_options.mute) sound_cues_set_no_device(1);
  GAME.sound_ok = sound_cues_open_device();
  sound_cues_load(data_path_dirs());
  screen_set_frame_rate(GAME_FRAME_RATE);
  screen_clear(0);
  screen_flip();
  session_open_intro();
}

int32_t game_frame() {
  FrameDevice device = session_window_device();
  device.switch_display = toggle_display_mode;
  const int32_t status = session_frame(device);
  if (status == SESSION_FAILED) fatal_error(session_failure());
  // The frame was shown without waiting; the window's pace is kept here.
  screen_pace();
  if (session_switched_display()) delay_ms(GAME_MODE_SWITCH_PAUSE_MS);
  delay_ms(GAME_FRAME_SLEEP_MS);
  return status == SESSION_GOING ? 1 : 0;
}

void game_end() {
  // The hidden window's half second lets the last sound die away without a frozen picture.
  if (VIEW.windowed) {
    window_hide(0, 1);
    delay_ms(GAME_END_PAUSE_MS);
  }
  display_shutdown();
}
