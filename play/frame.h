// One frame of the main loop as a function on a session. The frame neither sleeps nor waits nor
// ends the program: pacing, pauses and the exit belong to the shell that owns main (the desktop
// loop, a browser's animation frame, a test).
#pragma once

#include <cstdint>

#include "core/run.h"
#include "play/input.h"
#include "play/session.h"

// What one frame needs from the screen, called in this order around the rules. The window's
// frame and the headless runs each bring their own; the rules' order is written once. None of
// them may sleep: a wait belongs to whoever calls session_frame.
struct FrameDevice {
  const char* (*switch_display)();  // a Ctrl+F: window to full screen and back; null, or the
                                    // message of a display that could not be opened
  int32_t (*begin_pass)();          // begins the drawing pass; 0 = none could begin
  void (*present)();                // after the pass: shows the frame (without pacing)
  int32_t draws;                    // 0 = nothing looks at the picture: skip the board
};

// What session_frame found.
constexpr int32_t SESSION_OVER = RULES_FRAME_OVER;      // the loop should end (quit requested)
constexpr int32_t SESSION_GOING = RULES_FRAME_GOING;    // go on with the next frame
constexpr int32_t SESSION_FAILED = RULES_FRAME_FAILED;  // a display switch failed: session.failure
                                                        // says why

// Runs one frame of the main loop on session (the rules' part is core/run.h's rules_frame), told by
// live (the player's devices this frame) or by given (a replay's or script's frame): exactly one of
// them is set.
int32_t session_frame(Session& session, const FrameDevice& device, const PlayerInput* live,
                      const InputFrame* given);

// The window's own screen as a frame's device, with no display switch (the shell that can
// switch fills it in).
FrameDevice session_window_device();
