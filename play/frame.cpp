#include "play/frame.h"

#include "core/barriers.h"
#include "core/spread.h"
#include "core/story.h"
#include "media/draw.h"
#include "media/keyboard.h"
#include "media/screen.h"
#include "play/board_view.h"
#include "play/message_screen.h"

namespace {

// Input is taken only while the game is in front; otherwise no click can land on the board,
// though the chemical keeps spreading.
void read_input(Session& session) {
  Rules& rules = session.rules;
  if (input_is_active(session.input)) {
    if (rules.game_state != STATE_MESSAGE) {
      update_cursor(rules, input_mouse_x(session.input), input_mouse_y(session.input));
    }
  } else {
    rules.cursor_on_board = 0;
  }
}

// The drawing pass of the frame. A pass that cannot begin skips the simulation, the clicks and
// the message keys of this frame, but the keys after the flip still work.
void simulate_and_draw(Session& session, const FrameDevice& device) {
  Rules& rules = session.rules;
  if (!input_pass_began(session.input, device.begin_pass())) return;
  if (rules.game_state == STATE_PLAYING) {
    spread_step(rules);
    if (rules.cursor_on_board) {
      barriers_apply_buttons(rules, input_mouse_button(session.input, 1),
                             input_mouse_button(session.input, 2));
    }
  }
  // The board's picture feeds nothing back into the rules, so a run without a picture skips it.
  if (device.draws) draw_board_view(session);
  if (rules.game_state == STATE_MESSAGE) message_screen_frame(session);
  draw_end();
}

// Keys tested after the flip. Each release is asked every frame, before its state guard, so a
// release made on another screen is used up there and never acts later.
void handle_keys_after_flip(Session& session) {
  Rules& rules = session.rules;
  SessionInput& input = session.input;
  if (input_key_down(input, KEY_ESCAPE)) {
    rules.quit_requested = 1;
  } else if (input_key_released(input, KEY_R) && rules.game_state == STATE_PLAYING) {
    rules_cue(rules, SOUND_BUMP);
    load_level(rules, rules.level_number);
  }
  if (rules.game_state == STATE_TALLY) {
    tally_step(rules);
    if (rules.tally_frames == 0 && rules.barriers_left == 0) advance_level(rules);
  }
  if (input_key_released(input, KEY_RETURN) && rules.contained &&
      rules.game_state == STATE_PLAYING) {
    rules_cue(rules, SOUND_CLEAN);
    tally_start(rules);
  }
}

int32_t window_begin_pass() {
  screen_clear(0);
  return draw_begin(screen_output());
}

void window_present() { screen_present(); }

int32_t run_frame(Session& session, const FrameDevice& device, const PlayerInput* live,
                  const InputFrame* given) {
  Rules& rules = session.rules;
  SessionInput& input = session.input;
  session.failure = nullptr;
  session.switched = 0;
  input_frame_start(input, live, given);
  if (input_closed(input)) rules.quit_requested = 1;
  read_input(session);
  // F is asked first so that its release is used up even when no Ctrl is held: F alone does
  // nothing, also later.
  if (input_key_released(input, KEY_F) &&
      (input_key_down(input, KEY_LCONTROL) || input_key_down(input, KEY_RCONTROL))) {
    if (device.switch_display) {
      session.failure = device.switch_display();
      if (session.failure) return SESSION_FAILED;
      session.switched = 1;
      session.view.windowed = screen_windowed();
    }
  }
  if (input_key_released(input, KEY_TAB) && rules.game_state == STATE_PLAYING) {
    rules.plain_view = 1 - rules.plain_view;
    rules_cue(rules, SOUND_TAKE);
  }
  simulate_and_draw(session, device);
  device.present();
  handle_keys_after_flip(session);
  return rules.quit_requested ? SESSION_OVER : SESSION_GOING;
}

}  // namespace

int32_t session_frame(Session& session, const FrameDevice& device, const PlayerInput* live,
                      const InputFrame* given) {
  Session* before = session_deciding(&session);
  const int32_t status = run_frame(session, device, live, given);
  session_deciding(before);
  return status;
}

FrameDevice session_window_device() { return {nullptr, window_begin_pass, window_present, 1}; }
