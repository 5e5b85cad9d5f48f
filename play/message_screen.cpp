#include "play/message_screen.h"

#include "media/draw.h"

void message_screen_draw(Session& session) {
  const Rules& rules = session.rules;
  const char* line = rules.message_line.c_str();
  draw_set_font(session.view.hud_font);
  draw_set_mode(DRAW_TRANSPARENT);
  draw_text((SCREEN_WIDTH - text_width(line)) / 2, MESSAGE_SCREEN_BOTTOM - text_height(line), line,
            rules.message_colour);
}
