#include "play/message_screen.h"

#include "core/story.h"
#include "media/draw.h"
#include "media/keyboard.h"

void message_screen_frame(Session& session) {
  Rules& rules = session.rules;
  story_take_cues(rules);
  story_show_score(rules);
  const char* line = rules.message_line.c_str();
  draw_set_font(session.view.hud_font);
  draw_set_mode(DRAW_TRANSPARENT);
  draw_text((SCREEN_WIDTH - text_width(line)) / 2, MESSAGE_SCREEN_BOTTOM - text_height(line), line,
            rules.message_colour);
  // Space is asked first; Enter only when Space was not released, so an Enter released in the
  // same frame is left to the loop's own Enter test.
  if (input_key_released(session.input, KEY_SPACE) ||
      input_key_released(session.input, KEY_RETURN)) {
    story_next_line(rules);
  }
}
