// The story between levels, as the rules see it: which line is shown, the cue characters at the
// start of a line (sounds, stopping the music, quitting), "%S" for the score, the end of a block
// and what comes after a won level. Drawing the line is the player's side (play/message_screen).
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/rules.h"

// Opens the message block at offset of the level stream: reads its first line and colour and
// enters STATE_MESSAGE.
void story_open(Rules& rules, size_t offset);
// Consumes the cue characters at the start of message_line, in their fixed order, asking for
// their sounds; "&" stops the music and skips to the next line, "~" asks the loop to end.
void story_take_cues(Rules& rules);
// Puts the score in place of every "%S" of message_line.
void story_show_score(Rules& rules);
// The next line of the block; at the block's end the pointer is centred and the level loads.
// The intro's "*" starts the music.
void story_next_line(Rules& rules);
// After a won level's tally: opens the block that follows it, or loads the next level at once.
void advance_level(Rules& rules);
