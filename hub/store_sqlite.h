// What only the SQLite store does: a consistent copy of a live database.
#pragma once

#include <string>

// Copies the SQLite database at path into out while hubs may be writing it: one snapshot,
// written to a temporary name beside out, synced and renamed into place. "" when done, else why
// not.
std::string sqlite_backup(const std::string& path, const std::string& out);
