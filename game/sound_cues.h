// The game's sound slots: which file goes into which slot at start-up, at what volume, and the
// one guard every effect shares (no device, no effect).
#pragma once

#include <cstdint>

// Registers the Ogg decoder, then, only with a sound device, loads the nine effects and the
// music into their slots in a fixed order and sets the two quieter volumes.
void sound_cues_load();
// Plays effect slot once when sound_ok is set; does nothing without a device.
void sound_cues_play(int32_t slot);
// Starts the music looping. Made with or without a device: an empty slot plays nothing.
void sound_cues_start_music();
// Stops the music when sound_ok is set.
void sound_cues_stop_music();
