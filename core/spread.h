// The rule engine: how the chemical grows and spreads each frame, and whether it is walled in.
#pragma once

#include <cstdint>

#include "core/rules.h"

// One frame over the whole grid, in place (x outer, y inner): chemical cells grow by spread_rate
// up to 65535; an open cell next to a cell above spread_threshold turns chemical ("N" doubles the
// rate, "T" the threshold, an edge cell sets edge_reached); every highlight but the hovered one
// fades. Cues (nitro, tetra, lose) go to the rules' effects; with sound_ok the shake starts with
// the lose cue.
void spread_step(Rules& rules);
// Flood-fills from every chemical cell through cells without a wall, stamping fill_mark with
// fill_generation, which then grows by 1; contained = no stamped cell lies on the edge.
// Plays SOUND_WIN (with sound_ok) when contained turns from 0 to 1.
void check_containment(Rules& rules);
// 2 x value, held at the int32 limits instead of overflowing (the "N" and "T" doublings).
int32_t spread_doubled(int32_t value);
