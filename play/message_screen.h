// The story screens between levels as the player sees them: one centred line at a time, moved
// on with Space or Enter. What a line means (its cues, the score in it, the block's end) is the
// rules' own (core/story.h).
#pragma once

#include <cstdint>

#include "play/session.h"

// One frame of a message screen inside the drawing pass: take the line's cues, draw it, and on a
// release of Space (else Enter) move to the next line or end the block.
void message_screen_frame(Session& session);
// The vertical middle of the screen, where the bottom edge of the line sits.
constexpr int32_t MESSAGE_SCREEN_BOTTOM = 240;
