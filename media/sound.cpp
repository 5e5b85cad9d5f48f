// Placeholder until the mixer lands: there is no sound device, so the game runs silently.
#include "media/sound.h"

int32_t sound_init() { return 0; }
void sound_shutdown() {}
int32_t sound_load(int32_t, const char*, int32_t) { return 0; }
int32_t sound_load_memory(int32_t, const void*, int64_t, int32_t) { return 0; }
static void (*play_observer)(int32_t, int32_t);  // who hears every sound_play call

void sound_set_play_observer(void (*observer)(int32_t, int32_t)) { play_observer = observer; }

intptr_t sound_play(int32_t id, int32_t flags, int32_t) {
  if (play_observer) play_observer(id, flags);
  return 0;
}
void sound_set_volume(int32_t, int32_t, intptr_t) {}
void sound_stop(int32_t, intptr_t) {}
