// The game's sound slots: which file goes into which slot at start-up, at what volume, where the
// files are looked for, the one guard every effect shares (no device, no effect), and mute.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Non-zero before game_startup: the game runs as on a machine without a sound device (no device
// is opened at all and sound_ok stays 0).
void sound_cues_set_no_device(int32_t no_device);
// Opens the sound device unless sound_cues_set_no_device asked for none; 1 when one is ready.
int32_t sound_cues_open_device();
// Registers the Ogg decoder, then, only with a sound device, loads the nine effects and the
// music into their slots in a fixed order and sets the two quieter volumes. Each file is looked
// for in dirs, in order, and the first one that loads is taken; the files that none loaded
// for are named once on standard error, with where they were looked for. sound_ok: what
// sound_cues_open_device said.
void sound_cues_load(const std::vector<std::string>& dirs, int32_t sound_ok);
// The player's volumes in percent (0..100, default 100): every effect slot's own volume and the
// music's are scaled by them, now and at any later sound_cues_load. 100 and 100 give the volumes
// the game was made with; 0 silences that kind.
void sound_cues_set_volumes(int32_t effects_percent, int32_t music_percent);
// Plays effect slot once when sound_ok is set; does nothing without a device.
void sound_cues_play(int32_t sound_ok, int32_t slot);
// Starts the music looping. Made with or without a device: an empty slot plays nothing.
void sound_cues_start_music();
// Stops the music when sound_ok is set.
void sound_cues_stop_music(int32_t sound_ok);
// Mutes all sound if it is audible, else unmutes it; the music plays on silently meanwhile.
void sound_cues_toggle_mute();
