// The program's own messages: one line on standard error, "q47: " first, as GNU programs do.
#pragma once

#include <string>
#include <string_view>

constexpr const char* GAME_PROGRAM_NAME = "q47";

// "q47: message\n".
std::string report_line(std::string_view message);
// Writes report_line(message) to standard error.
void report(std::string_view message);
