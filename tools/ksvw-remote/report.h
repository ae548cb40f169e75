// What ksvw-remote says about a step: the JSON object of --json, the texts
// of the library's result codes and of the link, the progress bar of a
// download. Portable.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "settings/connection_settings.h"

namespace ksvw::remote {

// One JSON object on one line, its members in the order they are added.
class JsonLine {
 public:
  JsonLine& Text(const char* key, std::string_view value);
  JsonLine& Integer(const char* key, int64_t value);
  JsonLine& Number(const char* key, double value);  // three decimals at most
  JsonLine& Flag(const char* key, bool value);
  JsonLine& Code(const char* key, int32_t code) { return Text(key, CodeText(code)); }
  // The members of `other` after these.
  JsonLine& Append(const JsonLine& other);
  std::string Finish() const { return "{" + members_ + "}"; }

  // "0x800704C7".
  static std::string CodeText(int32_t code);

 private:
  void Key(const char* key);
  std::string members_;
};

// How a step ended: its exit status, the library's code, what went wrong
// (empty when nothing did) and its figures.
struct StepOutcome {
  int exit = 0;
  int32_t code = 0;
  std::string message;
  JsonLine json;
};

// What a result code of the library means ("the analyzer does not answer"),
// or null for a code without a text of its own.
const char* ResultCodeMeaning(int32_t code);
// The exit status of a step that the library ended with `code` (< 0): 5
// when the analyzer did not answer in time, else 4.
int ExitForCode(int32_t code);

// "LAN 127.0.0.1:5001", "LAN host:5001, control port 5002", "COM5, 115200 bit/s".
std::string LinkText(const ConnectionSettings& settings);

// "[##########..............................]  25% part 3 of 4 OUT.DT"
std::string ProgressBarText(int64_t position, int64_t range, int part, const std::string& name);

}  // namespace ksvw::remote
