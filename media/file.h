// Files, read and written safely: the one way the program reads a file it was given and the one
// way it writes one. Both report failures as "PATH: reason" with the system's real reason.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

// Reads the whole regular file at path into bytes, if it holds at most max_bytes. Never blocks
// (a FIFO or a device is refused before it is read) and refuses a file that grows or shrinks
// while it is read. False with "PATH: reason" in error; too_large is the reason given for a
// file over max_bytes.
bool file_read(const std::string& path, size_t max_bytes, const char* too_large, std::string& bytes,
               std::string& error);
// Writes bytes to path through a temporary file in the same folder: all of it written, synced,
// then renamed over path, so a failure at any step leaves the old file as it was. Only a regular
// file (or a symbolic link to one, which stays a link) is replaced, keeping its permission
// bits; anything else at path (a device, a FIFO, a folder) is refused. A new file gets the
// user's umask. False with "PATH: reason" in error.
bool file_write_atomic(const std::string& path, std::string_view bytes, std::string& error);
// Writes bytes as a new file in folder under the first of name(0), name(1), ... that no file
// holds yet: written and synced under a temporary name, then linked in only where nothing is,
// so writers at the same moment never take one name and no reader sees half a file. The name
// taken goes to taken (gives up after 1000 names). False with "PATH: reason" in error.
bool file_write_new(const std::string& folder, const std::function<std::string(int)>& name,
                    std::string_view bytes, std::string& taken, std::string& error);
// Whether path names a file the program can use: a regular file it may read. Opens nothing,
// so a FIFO cannot block here.
bool file_usable(const std::string& path);
// name in folder dir; a name in "." stays bare, as the program has always opened it.
std::string file_join(const std::string& dir, const std::string& name);
// Whether a and b name the same existing file (through links and other names alike).
bool file_same(const std::string& a, const std::string& b);
// Whether file_write_atomic could write path now: what is there may be replaced, and its folder
// takes a new file. False with "PATH: reason" in error. Leaves nothing behind.
bool file_can_write(const std::string& path, std::string& error);
