#include "desktop/shell.h"

#include <atomic>

#include "core/report.h"
#include "desktop/data_path.h"
#include "desktop/display.h"
#include "desktop/options.h"
#include "desktop/settings_file.h"
#include "media/draw.h"
#include "media/screen.h"
#include "media/timing.h"
#include "media/window.h"
#include "play/board_view.h"
#include "play/sound_cues.h"

namespace {

std::atomic<uint64_t> FRAMES_RUN{0};  // game_frame's count, for game_frames_run

// The settings as this game last read or kept them: what a change is made from, so only what
// the player changed here is written over what other games and hands wrote meanwhile.
Settings known_settings;

// Keeps the settings the player changed; a place that cannot hold them is said, and the game
// goes on with them.
void save_settings(const std::string& text) {
  std::vector<std::string> problems;
  const Settings changed = settings_parse(text, SETTINGS_FILE_NAME, problems);
  std::string error;
  if (!settings_file_save(known_settings, changed, error)) {
    report("cannot keep the settings: " + error);
    return;
  }
  known_settings = changed;
}

}  // namespace

void shell_startup() {
  window_system_init();
  // The saved settings, with the command line winning for this run alone (it is never saved).
  const Settings settings = settings_file_load();
  known_settings = settings;
  View picture = board_view_picture(1);
  picture.marked_cells =
      game_options.palette_given ? game_options.palette_marked : settings.palette_marked;
  display_open();
  // Muted, no device is opened at all: the game behaves exactly as on a machine without sound.
  if (game_options.mute) sound_cues_set_no_device(1);
  const int32_t sound_ok = sound_cues_open_device();
  sound_cues_set_volumes(settings.effects_volume, settings.music_volume);
  sound_cues_load(data_path_dirs(), sound_ok);
  screen_set_frame_rate(GAME_FRAME_RATE);
  screen_clear(0);
  screen_flip();
  app_start(picture, sound_ok);
  app_use_settings(settings);
}

void game_startup() {
  shell_startup();
  app_play(0);
}

uint64_t game_frames_run() { return FRAMES_RUN.load(std::memory_order_relaxed); }

int32_t game_frame(std::vector<AppAsk>* asks) {
  FrameDevice device = session_window_device();
  device.switch_display = toggle_display_mode;
  AppFrame frame = app_frame(device);
  if (frame.status == APP_FAILED) fatal_error(frame.failure);
  for (const AppAsk& ask : frame.asks) {
    if (ask.kind == AppAsk::Kind::SAVE_SETTINGS) save_settings(ask.text);
  }
  if (asks) {
    for (AppAsk& ask : frame.asks) asks->push_back(std::move(ask));
  }
  // The frame was shown without waiting; the window's pace is kept here. A replay's fast
  // frames are not shown, and not paced.
  if (frame.shown) {
    screen_pace();
    if (frame.switched) delay_ms(GAME_MODE_SWITCH_PAUSE_MS);
    delay_ms(GAME_FRAME_SLEEP_MS);
  }
  FRAMES_RUN.fetch_add(1, std::memory_order_relaxed);
  return frame.status == APP_GOING ? 1 : 0;
}

void game_end() {
  // The hidden window's half second lets the last sound die away without a frozen picture.
  if (screen_windowed()) {
    window_hide(0, 1);
    delay_ms(GAME_END_PAUSE_MS);
  }
  display_shutdown();
}
