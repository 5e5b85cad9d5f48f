#include "core/rules.h"

#include "core/level_stream.h"

const LevelStream& rules_stream(const Rules& rules) {
  return rules.stream ? *rules.stream : level_stream_builtin();
}

void rules_cue(const Rules& rules, int32_t slot) {
  if (rules.effects && rules.effects->play) rules.effects->play(rules, slot);
}

void rules_start_music(const Rules& rules) {
  if (rules.effects && rules.effects->start_music) rules.effects->start_music(rules);
}

void rules_stop_music(const Rules& rules) {
  if (rules.effects && rules.effects->stop_music) rules.effects->stop_music(rules);
}

void rules_centre_pointer(const Rules& rules) {
  if (rules.effects && rules.effects->centre_pointer) rules.effects->centre_pointer(rules);
}

void rules_start(Rules& rules, const LevelStream* stream, const RulesEffects* effects) {
  rules = Rules{};
  rules.stream = stream;
  rules.effects = effects;
  rules.level_data_cursor = LEVEL_ENTRY_INTRO;
  rules.level_number = 1;
  rules.fill_generation = 1;
  rules.game_state = STATE_MESSAGE;
}
