// The story screens between levels: one centred line at a time, cue characters at the start of
// a line (sounds, stopping the music, quitting), "%S" for the score, and the end of a block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Opens the message block at offset of the level stream: reads its first line and colour and
// enters STATE_MESSAGE.
void message_screen_open(size_t offset);
// One frame of a message screen inside the drawing pass: consume the line's cues, draw it,
// and on a release of Space (else Enter) move to the next line or end the block.
void message_screen_frame();
// Consumes the cue characters at the start of message_line, in their fixed order, playing
// their sounds; "&" skips to the next line and "~" asks the loop to end.
void message_screen_take_cues();
// The vertical middle of the screen, where the bottom edge of the line sits.
constexpr int32_t MESSAGE_SCREEN_BOTTOM = 240;
