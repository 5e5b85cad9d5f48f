#include "game/message_screen.h"

#include "game/game_globals.h"
#include "game/input.h"
#include "game/level_stream.h"
#include "game/sound_cues.h"
#include "media/draw.h"
#include "media/keyboard.h"
#include "media/mouse.h"
#include "media/str.h"

namespace {

// Removes the first character of message_line when it is cue; true if it was there.
bool take_cue(char cue) {
  if (message_line.empty() || message_line[0] != cue) return false;
  message_line.erase(0, 1);
  return true;
}

// The next line of the block, or the end of the block.
void next_line() {
  message_line = level_read_string();
  if (message_line == "*") {
    // Only the opening block ends on "*": the music starts here and runs for the whole game.
    sound_cues_start_music();
    message_line.clear();
  }
  if (!message_line.empty()) {
    message_colour = static_cast<uint32_t>(level_read_int());
    return;
  }
  input_mouse_locate(SCREEN_WIDTH / 2, SCREEN_HEIGHT / 2);
  // The input layer hid the pointer when it captured the mouse and only shows it again when
  // its own record changes; this raise keeps the system pointer visible over the window.
  if (windowed) mouse_show_pointer(1);
  load_level(level_number);
}

}  // namespace

void message_screen_open(size_t offset) {
  level_data_cursor = offset;
  message_line = level_read_string();
  message_colour = static_cast<uint32_t>(level_read_int());
  game_state = STATE_MESSAGE;
}

void message_screen_take_cues() {
  if (!message_line.empty() && message_line[0] == '&') {
    // The "&" entry itself is never shown: the music stops and the next entry takes its place
    // in the same frame.
    sound_cues_stop_music();
    message_line = level_read_string();
    message_colour = static_cast<uint32_t>(level_read_int());
  }
  if (!message_line.empty() && message_line[0] == '~') quit_requested = 1;
  // A consumed cue character is gone from the line, so each sound plays in the first frame only.
  if (take_cue('#')) sound_cues_play(SOUND_WARN);
  if (take_cue('$')) sound_cues_play(SOUND_CLICK);
  if (take_cue('%')) sound_cues_play(SOUND_CANT);
}

void message_screen_frame() {
  message_screen_take_cues();
  message_line = str_replace(message_line, "%S", str_from_int(score));
  draw_set_font(hud_font);
  draw_set_mode(DRAW_TRANSPARENT);
  draw_text((SCREEN_WIDTH - text_width(message_line.c_str())) / 2,
            MESSAGE_SCREEN_BOTTOM - text_height(message_line.c_str()), message_line.c_str(),
            message_colour);
  // Space is asked first; Enter only when Space was not released, so an Enter released in the
  // same frame is left to the loop's own Enter test.
  if (input_key_released(KEY_SPACE) || input_key_released(KEY_RETURN)) next_line();
}
