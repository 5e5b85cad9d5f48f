#include "core/rules.h"

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
