// Whole decimal numbers in text, as the command line and the level packs write them.
#pragma once

#include <cstdint>
#include <string_view>

enum class ParseInt {
  OK,            // value holds the number
  NOT_A_NUMBER,  // not an optional "-" and decimal digits only
  OUT_OF_RANGE,  // a number, but outside low..high
};

// Reads text as a whole decimal number within low..high (an optional leading "-", then digits,
// nothing else; any number of digits, however large, is told apart from a non-number).
ParseInt parse_int(std::string_view text, int64_t low, int64_t high, int64_t& value);
