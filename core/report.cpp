#include "core/report.h"

#include <cstdio>

std::string report_line(std::string_view message) {
  return std::string(GAME_PROGRAM_NAME) + ": " + std::string(message) + "\n";
}

void report(std::string_view message) { std::fputs(report_line(message).c_str(), stderr); }
