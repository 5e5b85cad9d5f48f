#include "play/frame.h"

#include "core/run.h"
#include "media/draw.h"
#include "media/keyboard.h"
#include "media/screen.h"
#include "play/board_view.h"
#include "play/message_screen.h"

namespace {

// The set-1 key the rules mean by an InputFrame bit (held or released).
int32_t key_of_held(uint8_t bit) {
  return bit == INPUT_HELD_ESCAPE     ? KEY_ESCAPE
         : bit == INPUT_HELD_LCONTROL ? KEY_LCONTROL
                                      : KEY_RCONTROL;
}
int32_t key_of_release(uint8_t bit) {
  switch (bit) {
    case INPUT_RELEASED_F:
      return KEY_F;
    case INPUT_RELEASED_TAB:
      return KEY_TAB;
    case INPUT_RELEASED_R:
      return KEY_R;
    case INPUT_RELEASED_RETURN:
      return KEY_RETURN;
    default:
      return KEY_SPACE;
  }
}

// A session's frame as the rules see it: its input answers through the session's SessionInput
// (live or given), and device draws and presents around the rules.
struct SessionFrame {
  Session& session;
  const FrameDevice& device;

  int32_t closed() { return input_closed(session.input); }
  int32_t active() { return input_is_active(session.input); }
  int32_t begin_pass() { return input_pass_began(session.input, device.begin_pass()); }
  int32_t mouse_x() { return input_mouse_x(session.input); }
  int32_t mouse_y() { return input_mouse_y(session.input); }
  int32_t button(int32_t n) { return input_mouse_button(session.input, n); }
  int32_t held(uint8_t bit) { return input_key_down(session.input, key_of_held(bit)) ? 1 : 0; }
  int32_t released(uint8_t bit) { return input_key_released(session.input, key_of_release(bit)); }
  int32_t switch_display() {
    if (!device.switch_display) return 1;
    session.failure = device.switch_display();
    if (session.failure) return 0;
    session.switched = 1;
    session.view.windowed = screen_windowed();
    return 1;
  }
  // The board's picture feeds nothing back into the rules, so a run without a picture skips it.
  void draw() {
    if (session.rules.game_state == STATE_MESSAGE) {
      message_screen_draw(session);
    } else if (device.draws) {
      draw_board_view(session);
    }
  }
  void end_pass() { draw_end(); }
  void present() { device.present(); }
};

int32_t window_begin_pass() {
  screen_clear(0);
  return draw_begin(screen_output());
}

void window_present() { screen_present(); }

}  // namespace

int32_t session_frame(Session& session, const FrameDevice& device, const PlayerInput* live,
                      const InputFrame* given) {
  Session* before = session_deciding(&session);
  session.failure = nullptr;
  session.switched = 0;
  input_frame_start(session.input, live, given);
  SessionFrame frame{session, device};
  const int32_t status = rules_frame(session.rules, frame);
  session_deciding(before);
  return status;
}

FrameDevice session_window_device() { return {nullptr, window_begin_pass, window_present, 1}; }
