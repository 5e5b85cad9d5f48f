// Placeholder until the mixer lands: there is no sound device, so the game runs silently.
#include "media/sound.h"

int32_t sound_init() { return 0; }
void sound_shutdown() {}
int32_t sound_load(int32_t, const char*, int32_t) { return 0; }
int32_t sound_load_memory(int32_t, const void*, int64_t, int32_t) { return 0; }
intptr_t sound_play(int32_t, int32_t, int32_t) { return 0; }
void sound_set_volume(int32_t, int32_t, intptr_t) {}
void sound_stop(int32_t, intptr_t) {}
