#include "play/sound_cues.h"

#include <algorithm>
#include <string>
#include <vector>

#include "core/report.h"
#include "core/rules.h"
#include "core/settings.h"
#include "media/file.h"
#include "media/music.h"
#include "media/sound.h"

namespace {

// One entry of the start-up load list.
struct SoundCueFile {
  int32_t slot;      // slot the file goes into
  const char* file;  // name looked for along the data path
  int32_t flags;     // sound_load flags (the music is streamed)
  int32_t volume;    // percent set right after loading; -1 leaves it at full volume
};

// The effects in slot order (slot 8 belongs to the music), then the streamed music last.
constexpr SoundCueFile SOUND_CUES_FILES[] = {
    {SOUND_WARN, "warn.wav", 0, 75},   {SOUND_CLEAN, "clean.wav", 0, -1},
    {SOUND_CLICK, "click.wav", 0, -1}, {SOUND_WIN, "win.wav", 0, -1},
    {SOUND_LOSE, "lose.wav", 0, -1},   {SOUND_BUMP, "bump.wav", 0, -1},
    {SOUND_TAKE, "take.wav", 0, 75},   {SOUND_NITR, "nitr.wav", 0, -1},
    {SOUND_CANT, "cant.wav", 0, -1},   {MUSIC_SLOT, "q47.ogg", SOUND_LOAD_STREAM, -1},
};

struct SoundCuesState {
  int32_t no_device = 0;          // run as without a sound device (asked for before start-up)
  int32_t effects_percent = 100;  // the player's effects volume
  int32_t music_percent = 100;    // the player's music volume
};

SoundCuesState CUES;

// Says on standard error why a file that was found could not be used, when the reason is worth
// a player's attention (a file that is simply not a sound is named in the summary line).
void report_failure(const std::string& path) {
  const SoundLoadFailure failure = sound_load_failure();
  if (failure.reason == SOUND_LOAD_TOO_LARGE) {
    report(path + ": sound data too large (" + std::to_string(failure.bytes) + " bytes, limit " +
           std::to_string(SOUND_DATA_LIMIT) + ")");
  } else if (failure.reason == SOUND_LOAD_NO_MEMORY) {
    report(path + ": not enough memory for the sound");
  }
}

// Loads cue from the first folder along dirs whose file loads; false when none does.
bool load_cue(const SoundCueFile& cue, const std::vector<std::string>& dirs) {
  for (const std::string& dir : dirs) {
    const std::string path = file_join(dir, cue.file);
    if (!file_usable(path)) continue;
    if (sound_load(cue.slot, path.c_str(), cue.flags)) return true;
    report_failure(path);
  }
  return false;
}

// Each slot at its own volume scaled by the player's setting for its kind; at 100 each is exactly
// the volume the game was made with. Every buffer of a slot follows, playing or not.
void apply_volumes() {
  for (const SoundCueFile& cue : SOUND_CUES_FILES) {
    const int32_t own = cue.volume >= 0 ? cue.volume : 100;
    const int32_t setting = cue.slot == MUSIC_SLOT ? CUES.music_percent : CUES.effects_percent;
    sound_set_volume(cue.slot, settings_scaled_volume(own, setting), -1);
  }
}

// "a, b, c"
std::string joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}

}  // namespace

void sound_cues_set_no_device(int32_t no_device) { CUES.no_device = no_device != 0 ? 1 : 0; }

int32_t sound_cues_open_device() {
  if (CUES.no_device) return 0;
  return sound_init() ? 1 : 0;
}

void sound_cues_load(const std::vector<std::string>& dirs, int32_t sound_ok) {
  ogg_decoder_enable();
  if (!sound_ok) return;
  // A file that cannot be used leaves its slot silent; the game plays on without it.
  std::vector<std::string> unusable;
  for (const SoundCueFile& cue : SOUND_CUES_FILES) {
    if (!load_cue(cue, dirs)) unusable.push_back(cue.file);
  }
  apply_volumes();
  if (!unusable.empty()) {
    report("no usable sound file for " + joined(unusable) + " (looked in: " + joined(dirs) + ")");
  }
}

void sound_cues_play(int32_t sound_ok, int32_t slot) {
  if (sound_ok) sound_play(slot);
}

void sound_cues_start_music() { sound_play(MUSIC_SLOT, SOUND_PLAY_LOOP); }

void sound_cues_stop_music(int32_t sound_ok) {
  if (sound_ok) sound_stop(MUSIC_SLOT);
}

void sound_cues_toggle_mute() { sound_set_muted(sound_muted() ? 0 : 1); }

void sound_cues_set_volumes(int32_t effects_percent, int32_t music_percent) {
  CUES.effects_percent = std::clamp(effects_percent, 0, 100);
  CUES.music_percent = std::clamp(music_percent, 0, 100);
  apply_volumes();
}
