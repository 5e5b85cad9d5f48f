// The window module's own parts, for window.cpp alone.
#pragma once

#include <string>

// The X11 session's clipboard text into text, read in parts when its owner hands it over so;
// "" when there is none or the owner does not answer in time. False when X11 cannot be asked at
// all (no libX11, no display), for the caller to ask SDL instead.
bool window_x11_clipboard_text(std::string& text);
