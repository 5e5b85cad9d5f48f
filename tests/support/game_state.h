// The tests' names for the game on screen: GAME and VIEW are the rules and the picture of the
// session the program's frame shows now (the player's game, a test-play, a replay watched), as
// the game's own code named them before sessions became values. Tests only.
#pragma once

#include "play/app.h"
#include "play/session.h"

#define GAME (app_session().rules)
#define VIEW (app_session().view)

// The session on screen zeroed, as a test's blank state.
inline void session_clear() { session_clear(app_session()); }
