#include "tools/ksvw-remote/report.h"

#include <cmath>
#include <cstdio>

#include "common/result_codes.h"
#include "tools/ksvw-remote/script.h"

namespace ksvw::remote {

void JsonLine::Key(const char* key) {
  if (!members_.empty()) members_ += ',';
  members_ += '"';
  members_ += key;
  members_ += "\":";
}

// Control characters and bytes above 0x7F are escaped: file names come in
// the system's code page, and each such byte is written as the character
// of that number, which keeps the line valid JSON whatever the page.
JsonLine& JsonLine::Text(const char* key, std::string_view value) {
  Key(key);
  members_ += '"';
  for (char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      members_ += '\\';
      members_ += c;
    } else if (byte < 0x20 || byte > 0x7E) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      members_ += escaped;
    } else {
      members_ += c;
    }
  }
  members_ += '"';
  return *this;
}

JsonLine& JsonLine::Append(const JsonLine& other) {
  if (!members_.empty() && !other.members_.empty()) members_ += ',';
  members_ += other.members_;
  return *this;
}

JsonLine& JsonLine::Integer(const char* key, int64_t value) {
  Key(key);
  members_ += std::to_string(value);
  return *this;
}

JsonLine& JsonLine::Number(const char* key, double value) {
  Key(key);
  if (!std::isfinite(value)) value = 0;  // JSON has no infinity
  char text[48];
  std::snprintf(text, sizeof text, "%.3f", value);
  members_ += text;
  return *this;
}

JsonLine& JsonLine::Flag(const char* key, bool value) {
  Key(key);
  members_ += value ? "true" : "false";
  return *this;
}

std::string JsonLine::CodeText(int32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
  return text;
}

const char* ResultCodeMeaning(int32_t code) {
  switch (code) {
    case kErrHostNotFound: return "the LAN converter's host name could not be found";
    case kErrTimeout: return "the analyzer does not answer";
    case kErrAnalyzerBusy: return "the analyzer is under the remote control of another computer";
    case kErrVersionMismatch: return "the analyzer's remote-control version is not supported";
    case kErrNoOptionBoard: return "the analyzer has no CAN or CAN/LIN option board fitted";
    case kErrNotConnected: return "the link to the analyzer is not connected";
    case kErrCancelled: return "the transfer was cancelled";
    case kErrInsufficientBuffer: return "the analyzer sent more than the request allows";
    case kErrInvalidArg: return "the library refused an argument (check the link's settings)";
    case kErrOutOfMemory: return "out of memory";
    case kErrPointer: return "the library gave no object";
    default: return nullptr;
  }
}

int ExitForCode(int32_t code) {
  return code == kErrTimeout ? kExitTimeout : kExitLink;
}

std::string LinkText(const ConnectionSettings& s) {
  if (s.method == kMethodLan) {
    std::string text = std::string("LAN ") + s.host + ":" + s.port;
    if (s.ctport[0]) text += std::string(", control port ") + s.ctport;
    return text;
  }
  return std::string(s.com) + ", " + std::to_string(s.speed) + " bit/s";
}

std::string ProgressBarText(int64_t position, int64_t range, int part, const std::string& name) {
  int percent = range > 0 ? static_cast<int>(position * 100 / range) : 0;
  percent = percent < 0 ? 0 : percent > 100 ? 100 : percent;
  std::string bar(40, '.');
  bar.replace(0, static_cast<size_t>(percent * 40 / 100), static_cast<size_t>(percent * 40 / 100),
              '#');
  char text[96];
  std::snprintf(text, sizeof text, "[%s] %3d%% part %d of 4 ", bar.c_str(), percent, part);
  return text + name;
}

}  // namespace ksvw::remote
