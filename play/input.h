// The game's one door to the player's devices. The frame's owner reads the devices once, at the
// top of the frame, into a PlayerInput; everything in the frame then reads that record and
// nothing else, so what a frame sees does not depend on who asks first. The rules are told
// their part of it through a session's SessionInput, which a replay answers instead, frame by
// frame, without the rules knowing which.
#pragma once

#include <cstdint>

#include "core/input_frame.h"
#include "core/settings.h"
#include "media/pad.h"

// Set-1 scan codes beyond the game's own (media/keyboard.h) that the frame's readers use.
constexpr int32_t INPUT_KEY_CODES = 256;  // every set-1 code, extended keys plus 0x80
constexpr int32_t KEY_KEYPAD_ENTER = 0x9C;

// What the player's devices said in one frame, read once at its top.
struct PlayerInput {
  int32_t active = 0;     // the game's screen is in front: the input below is the player's
  int32_t closed = 0;     // the close box, a signal or the session's end asked to quit
  int32_t keys_read = 0;  // the keyboard has a snapshot: keys and their releases can be asked
  int32_t pointer_x = 0;  // the virtual pointer in game pixels
  int32_t pointer_y = 0;
  uint8_t buttons = 0;                     // bit 0 left, bit 1 right, bit 2 middle: held
  uint8_t keys[INPUT_KEY_CODES] = {};      // 1 while held, by set-1 code (keypad Enter as Enter)
  uint8_t pressed[INPUT_KEY_CODES] = {};   // 1 for a key that went down since the last frame
  uint8_t released[INPUT_KEY_CODES] = {};  // 1 for a key that went up since the last frame
  PadRecord pad;                           // the game pad (nothing connected while behind)
};

// Reads the devices for a frame: the frame's events (once), the focus, then, while in front,
// the mouse and keyboard. take_pointer: the game holds the system pointer while in front (a
// window's game and editor do, a replay's viewer does not).
PlayerInput input_read_devices(int32_t take_pointer);

// The player's keys for the game's actions made the keys the game reads: each action's own key
// (its default) then says what the key chosen for it says, and says nothing of itself unless
// chosen for an action too, so the rules, the cursors and a recording see the keys they always
// did. Backspace stays with pick-up beside Delete only while pick-up is on Delete and Backspace
// is no other action's key.
void input_apply_bindings(PlayerInput& input, const Settings& settings);

// A session's side of the rules' input: the frame being answered and the release latches.
struct SessionInput {
  int32_t given = 0;     // this frame answers from a given InputFrame, not from live
  int32_t has_live = 0;  // live holds this frame's devices (live frames only)
  PlayerInput live;      // the frame's device record, kept with the session: the picture drawn
                         // after the frame still asks it
  InputFrame frame;      // given: what is left to answer; live: the answers noted so far
  InputFrame noted;      // given: the frame as given (frame loses its releases as they go)
  uint8_t armed[INPUT_KEY_CODES] = {};  // a release test saw the key held (live)
};

// Opens a frame of input: from live (the devices' record), or from given. Exactly one is set.
void input_frame_start(SessionInput& input, const PlayerInput* live, const InputFrame* given);
// The frame's answers so far (live: what the rules were told; given: the frame as given).
const InputFrame& input_frame_noted(const SessionInput& input);

// Whether the window asked to quit this frame.
int32_t input_closed(SessionInput& input);
// Whether the game is in front and takes input.
int32_t input_is_active(SessionInput& input);
// Whether the drawing pass began; began_now is what draw_begin said (a given frame says).
int32_t input_pass_began(SessionInput& input, int32_t began_now);
// The pointer in game pixels, as mouse_x and mouse_y.
int32_t input_mouse_x(SessionInput& input);
int32_t input_mouse_y(SessionInput& input);
// 1 while button 1 (left) or 2 (right) is down; other buttons are never down.
int32_t input_mouse_button(SessionInput& input, int32_t button);
// As key_down and key_released: a release is reported once, to the first test that finds the
// key up after a test saw it held. Keys outside the InputFrame's table answer 0.
int32_t input_key_down(SessionInput& input, int32_t code);
int32_t input_key_released(SessionInput& input, int32_t code);
