#include "game/sound_cues.h"

#include "game/game_globals.h"
#include "media/music.h"
#include "media/sound.h"

namespace {

// One entry of the start-up load list.
struct SoundCueFile {
  int32_t slot;        // slot the file goes into
  const char* file;    // name in the working directory
  int32_t flags;       // sound_load flags (the music is streamed)
  int32_t volume;      // percent set right after loading; -1 leaves it at full volume
};

// The effects in slot order (slot 8 belongs to the music), then the streamed music last.
constexpr SoundCueFile SOUND_CUES_FILES[] = {
    {SOUND_WARN, "warn.wav", 0, 75},   {SOUND_CLEAN, "clean.wav", 0, -1},
    {SOUND_CLICK, "click.wav", 0, -1}, {SOUND_WIN, "win.wav", 0, -1},
    {SOUND_LOSE, "lose.wav", 0, -1},   {SOUND_BUMP, "bump.wav", 0, -1},
    {SOUND_TAKE, "take.wav", 0, 75},   {SOUND_NITR, "nitr.wav", 0, -1},
    {SOUND_CANT, "cant.wav", 0, -1},   {MUSIC_SLOT, "q47.ogg", SOUND_LOAD_STREAM, -1},
};

}  // namespace

void sound_cues_load() {
  ogg_decoder_enable();
  if (!sound_ok) return;
  // A missing or unreadable file just leaves its slot silent; the game never checks.
  for (const SoundCueFile& cue : SOUND_CUES_FILES) {
    sound_load(cue.slot, cue.file, cue.flags);
    if (cue.volume >= 0) sound_set_volume(cue.slot, cue.volume);
  }
}

void sound_cues_play(int32_t slot) {
  if (sound_ok) sound_play(slot);
}

void sound_cues_start_music() { sound_play(MUSIC_SLOT, SOUND_PLAY_LOOP); }

void sound_cues_stop_music() {
  if (sound_ok) sound_stop(MUSIC_SLOT);
}
