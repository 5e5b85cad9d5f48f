// The story screens between levels as the player sees them: one centred line at a time, moved
// on with Space or Enter. What a line means (its cues, the score in it, the block's end) is the
// rules' own (core/story.h).
#pragma once

#include <cstdint>

#include "play/session.h"

// Draws the story line being shown, centred, inside the drawing pass (the rules took its cues
// and put the score in it).
void message_screen_draw(Session& session);
// The vertical middle of the screen, where the bottom edge of the line sits.
constexpr int32_t MESSAGE_SCREEN_BOTTOM = 240;
