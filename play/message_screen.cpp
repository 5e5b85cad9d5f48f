#include "play/message_screen.h"

#include "core/story.h"
#include "media/draw.h"
#include "media/keyboard.h"
#include "play/input.h"
#include "play/session.h"

void message_screen_frame() {
  story_take_cues(GAME);
  story_show_score(GAME);
  const char* line = GAME.message_line.c_str();
  draw_set_font(VIEW.hud_font);
  draw_set_mode(DRAW_TRANSPARENT);
  draw_text((SCREEN_WIDTH - text_width(line)) / 2, MESSAGE_SCREEN_BOTTOM - text_height(line), line,
            GAME.message_colour);
  // Space is asked first; Enter only when Space was not released, so an Enter released in the
  // same frame is left to the loop's own Enter test.
  if (input_key_released(KEY_SPACE) || input_key_released(KEY_RETURN)) story_next_line(GAME);
}
