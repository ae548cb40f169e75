// What OutputFile asks of the platform: what a name is, exclusive creation
// and renames. posix/output_file_system.cpp and win32/output_file_system.cpp
// implement it; errors are errno values on both.
#pragma once

#include <cstdio>
#include <string>

namespace ksvw::output_fs {

enum class Kind {
  Missing,    // nothing there yet (also the end of a dangling link)
  Regular,    // a file that a rename may replace
  Directory,  // never written
  Device,     // a device, FIFO or socket: written in place, never replaced
};

// What `path` names. `resolved` is the name the file is written under: the
// end of a chain of symbolic links at `path`, else `path` itself. False,
// with `error`, when that cannot be told (a loop of links, no permission).
bool Examine(const std::string& path, Kind& kind, std::string& resolved, int& error);

// Creates `path` for binary writing; fails (EEXIST) when anything is there.
// The new file takes the permissions of `like` when that names a file.
std::FILE* CreateNew(const std::string& path, const std::string& like, int& error);

// Renames `from` to `to` in the same folder; a file at `to` is replaced
// only when `replace` is set (else EEXIST, also against a late arrival).
bool Rename(const std::string& from, const std::string& to, bool replace, int& error);

// A number that differs between processes, for unique names.
unsigned long ProcessNumber();

// Puts `stream` in binary mode (no line-end translation); nothing to do on
// POSIX systems.
void BinaryMode(std::FILE* stream);

}  // namespace ksvw::output_fs
