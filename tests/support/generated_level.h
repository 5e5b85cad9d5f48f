// Levels of a fixed series for the checker's tests and the exact search's bench: sizes, numbers,
// walls, circles and leaks of every kind, from a generator whose sequence the standard fixes.
#pragma once

#include <cstdint>
#include <random>
#include <string>

#include "core/level_pack.h"

// The next level of rng's series: side x side, or of a random size from 5 to 40 when side is 0
// (the series the checker's recorded verdicts were made on).
inline PackLevel generated_level(std::mt19937& rng, int32_t side = 0) {
  PackLevel level;
  level.width = side > 0 ? side : 5 + static_cast<int32_t>(rng() % 36);
  level.height = side > 0 ? side : 5 + static_cast<int32_t>(rng() % 36);
  level.barriers = static_cast<int32_t>(rng() % 60);
  const int32_t rates[] = {16, 16, 32, 48, 200, 4000};
  const int32_t thresholds[] = {1024, 1024, 512, 0, 3000};
  level.rate = rates[rng() % 6];
  level.threshold = thresholds[rng() % 5];
  const uint32_t walls = rng() % 30, circles = rng() % 4;
  level.rows.assign(level.height, std::string(level.width, '.'));
  for (std::string& row : level.rows) {
    for (char& cell : row) {
      const uint32_t r = rng() % 100;
      if (r < walls) {
        cell = r % 7 == 0 ? 'D' : 'W';
      } else if (r < walls + circles) {
        cell = r % 2 ? 'N' : 'T';
      }
    }
  }
  for (uint32_t leaks = 1 + rng() % 3; leaks > 0; --leaks) {
    level.rows[1 + rng() % (level.height - 2)][1 + rng() % (level.width - 2)] = 'I';
  }
  return level;
}
