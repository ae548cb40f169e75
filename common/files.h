// Whole files and file names: the one way the program, the tools and the
// tests read a file at once and put a folder and a name together.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ksvw {

// Reads the whole file. False (nothing kept, size 0) when it cannot be
// opened, sized, held in memory or read to its end. The buffer comes from
// nothrow new, so a file too large for memory is a plain failure.
bool ReadWholeFile(const char* path, std::unique_ptr<uint8_t[]>& image, size_t& size);
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes);

// `folder` and `name` joined with one backslash (none after a folder that
// ends in a separator, none for an empty folder). False, `out` untouched,
// when the result and its NUL do not fit `capacity` characters.
bool JoinPath(const char* folder, const char* name, char* out, size_t capacity);
std::string JoinPath(const std::string& folder, const std::string& name);

}  // namespace ksvw
