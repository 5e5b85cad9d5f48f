// Where the game finds its data files: the working directory first (a player's own files there
// win), then the installed data folder next to the executable, then the XDG data folders.
#pragma once

#include <string>
#include <vector>

// The folders searched, in order: ".", the executable's folder joined with the installed data
// folder's relative path (Q47_RELATIVE_DATA_DIR, "../share/q47" by default), then each absolute
// entry of $XDG_DATA_DIRS (default /usr/local/share/:/usr/share/) joined with "q47".
std::vector<std::string> data_path_dirs();
// The same list for a given executable folder and $XDG_DATA_DIRS value (null = unset); an empty
// executable folder leaves the installed folder out.
std::vector<std::string> data_path_dirs_for(const std::string& executable_dir,
                                            const char* xdg_data_dirs);
// The first usable file called name along data_path_dirs; empty when there is none.
std::string data_path_find(const std::string& name);
// The folder the game keeps its state in: $XDG_STATE_HOME/q47 when that is an absolute path,
// else $HOME/.local/state/q47; the folders are made as needed (private to the user). Empty,
// with the reason in error, when there is no such place.
std::string data_path_state_dir(std::string& error);
// The folder the game keeps its settings in: $XDG_CONFIG_HOME/q47 when that is an absolute path,
// else $HOME/.config/q47, made as needed like data_path_state_dir's when make is true (a reader
// passes false: only saving the settings should leave a folder behind).
std::string data_path_config_dir(std::string& error, bool make);
