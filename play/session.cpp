#include "play/session.h"

#include <utility>

#include "core/run.h"
#include "media/mouse.h"
#include "media/sound.h"
#include "play/sound_cues.h"

namespace {

// The levels the program plays.
struct SessionLevels {
  std::shared_ptr<const LevelStream> pack;  // a pack's levels, or null for the built-in ones
};

SessionLevels LEVELS;

// The session whose rules are deciding right now (inside session_start_at_level, or a frame run
// by play/frame): the pointer effect needs its view and whether it is the player's.
Session* DECIDING = nullptr;

void effect_play(const Rules& rules, int32_t slot) { sound_cues_play(rules.sound_ok, slot); }

void effect_start_music(const Rules&) { sound_cues_start_music(); }

void effect_stop_music(const Rules& rules) { sound_cues_stop_music(rules.sound_ok); }

// The end of a story block: the pointer waits in the middle of the screen. Only the player's
// own session moves it: a replay leaves the viewer's pointer alone.
void effect_centre_pointer(const Rules&) {
  if (!DECIDING || !DECIDING->live) return;
  mouse_locate(SCREEN_WIDTH / 2, SCREEN_HEIGHT / 2);
  // The input layer hid the pointer when it captured the mouse and only shows it again when
  // its own record changes; this raise keeps the system pointer visible over the window.
  if (DECIDING->view.windowed) mouse_show_pointer(1);
}

constexpr RulesEffects SESSION_EFFECTS = {effect_play, effect_start_music, effect_stop_music,
                                          effect_centre_pointer};

}  // namespace

void session_use_stream(LevelStream stream) {
  LEVELS.pack = std::make_shared<const LevelStream>(std::move(stream));
}

void session_use_builtin_levels() { LEVELS.pack = nullptr; }

const LevelStream& session_stream() { return LEVELS.pack ? *LEVELS.pack : level_stream_builtin(); }

std::shared_ptr<const LevelStream> session_levels() { return LEVELS.pack; }

Session session_make(std::shared_ptr<const LevelStream> levels, const View& picture,
                     int32_t sound_ok, int32_t live) {
  Session session;
  session.levels = std::move(levels);
  run_begin(session.rules, session.levels.get(), &SESSION_EFFECTS);
  session.rules.sound_ok = sound_ok;
  session.view.windowed = picture.windowed;
  session.view.hud_font = picture.hud_font;
  session.view.marked_cells = picture.marked_cells;
  std::copy(std::begin(picture.chemical_palette), std::end(picture.chemical_palette),
            session.view.chemical_palette);
  session.live = live;
  return session;
}

void session_clear(Session& session) {
  session.levels = LEVELS.pack;
  session.rules = Rules{};
  session.rules.stream = session.levels.get();
  session.rules.effects = &SESSION_EFFECTS;
  session.view = View{};
  session.input = SessionInput{};
}

void session_start_at_level(Session& session, int32_t level) {
  if (level <= 0) return;
  // As at the intro's end, the pointer waits in the middle of the screen.
  if (session.live) mouse_locate(SCREEN_WIDTH / 2, SCREEN_HEIGHT / 2);
  run_start_at_level(session.rules, level);
}

Session* session_deciding(Session* session) {
  Session* before = DECIDING;
  DECIDING = session;
  return before;
}
