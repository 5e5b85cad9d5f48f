// The media layer's one event pump, for the frame's owner. Whoever runs the frames (the game's
// loop, the replay viewer, a test's frame) calls events_pump once at the top of every frame and
// nowhere else. The pump takes what SDL has pending and writes it into the frame's record
// (media/events_internal.h); window, screen, mouse, keyboard and pad each read that record when
// the frame first uses them. So a frame sees each event once, and every module sees the same
// events in the same frame, wherever they were in SDL's queue.
//
// Who calls whom inside the media layer. The frame's owner calls events_pump first, then any
// of the modules; below it every arrow points down, nothing calls back up, and the events
// module calls nobody:
//
//     window -----> screen -----> mouse        keyboard   pad
//       |             |             |              |       |
//       v             v             v              v       v
//     +------------------------------------------------+
//     | events: the pump, the frame's record, and what |
//     | the screen and the windows published           |
//     +------------------------------------------------+
//
// window closes the screen shown in it; the screen hands the mouse a focus loss at once and
// lets the pointer go before its window goes. All five read the record and what the screen
// published (its window, its size and place in the window, whether it is active).
#pragma once

// Takes every pending SDL event (up to a bound, so a flood cannot hang a frame) into the
// frame's record, replacing the last frame's. A hangup signal is taken too, as the quit request
// it is. Once per frame, at its top, by the frame's owner only; harmless before SDL is up.
void events_pump();
