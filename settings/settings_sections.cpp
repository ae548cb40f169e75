#include "settings/settings_sections.h"

#include <climits>
#include <cstdio>
#include <cstring>

namespace ksvw {

namespace {

constexpr int32_t kHighestSerialPort = 256;
constexpr int32_t kHighestPort = 65535;

// Formats a section text; on overflow the buffer goes back to all zeros.
template <class... Args>
bool SectionText(char* out, size_t capacity, const char* format, Args... args) {
  if (!out || capacity < 2) return false;
  std::memset(out, 0, capacity);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
  int n = std::snprintf(out, capacity, format, args...);
#pragma GCC diagnostic pop
  // The text, its NUL and the second NUL that ends the section.
  if (n < 0 || static_cast<size_t>(n) + 2 > capacity) {
    std::memset(out, 0, capacity);
    return false;
  }
  return true;
}

const char* OrEmpty(const char* text) {
  return text ? text : "";
}

// A decimal number of digits only, without leading zeros, from 1 to `max`.
bool PlainNumber(const char* text, int32_t max, int32_t* value) {
  if (!text || *text < '1' || *text > '9') return false;
  long long n = 0;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
    n = n * 10 + (*p - '0');
    if (n > max) return false;
  }
  *value = static_cast<int32_t>(n);
  return true;
}

}  // namespace

bool RemoteSectionText(int32_t method, char* out, size_t capacity) {
  return SectionText(out, capacity, "METHOD=%d\n", static_cast<int>(method));
}

bool Rb40SectionText(const char* host, const char* port, const char* ctport, char* out,
                     size_t capacity) {
  return SectionText(out, capacity, "HOST=%s\nPORT=%s\nCTPORT=%s\n", OrEmpty(host), OrEmpty(port),
                     OrEmpty(ctport));
}

bool SerialSectionText(const char* com, const char* speed, int32_t parityIndex, int32_t flowIndex,
                       char* out, size_t capacity) {
  return SectionText(out, capacity, "COM=%s\nSPEED=%s\nPARITY=%d\nFLOW=%d\n", OrEmpty(com),
                     OrEmpty(speed), static_cast<int>(parityIndex), static_cast<int>(flowIndex));
}

bool PathSectionText(const char* folder, bool lineFeed, char* out, size_t capacity) {
  return SectionText(out, capacity, lineFeed ? "PATH=%s\n" : "PATH=%s", OrEmpty(folder));
}

bool DbcSectionText(const char* ch1, const char* ch2, char* out, size_t capacity) {
  return SectionText(out, capacity, "CH1=%s\nCH2=%s\n", OrEmpty(ch1), OrEmpty(ch2));
}

int32_t ParityCodeFromIndex(int32_t index) {
  switch (index) {
    case 1: return 2;
    case 2: return 1;
    default: return 0;
  }
}

int32_t ParityIndexFromCode(int32_t code) {
  switch (code) {
    case 2: return 1;
    case 1: return 2;
    default: return 0;
  }
}

int32_t FlowCodeFromIndex(int32_t index) {
  return index == 1 ? 1 : 0;
}

void CopyCut(char* field, size_t fieldSize, const char* text) {
  if (!field || fieldSize == 0) return;
  size_t n = text ? strnlen(text, fieldSize - 1) : 0;
  if (n) std::memcpy(field, text, n);
  field[n] = '\0';
}

int32_t ParseDecimal(const char* text) {
  if (!text) return 0;
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  long long value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > static_cast<long long>(INT32_MAX) + 1)
      value = static_cast<long long>(INT32_MAX) + 1;
  }
  if (negative) return static_cast<int32_t>(-value);
  return value > INT32_MAX ? INT32_MAX : static_cast<int32_t>(value);
}

ShownSerial ShowSerialSettings(const char* storedCom, const char* storedSpeed, int32_t speed) {
  ShownSerial shown;
  const char* com = OrEmpty(storedCom);
  shown.portUnderstood = (com[0] == 'C' || com[0] == 'c') && (com[1] == 'O' || com[1] == 'o') &&
                         (com[2] == 'M' || com[2] == 'm') &&
                         PlainNumber(com + 3, kHighestSerialPort, &shown.port);
  if (!shown.portUnderstood) shown.port = 1;  // the default "COM1"
  if (storedSpeed && storedSpeed[0]) {
    shown.speedUnderstood = PlainNumber(storedSpeed, INT32_MAX, &shown.speed);
    if (!shown.speedUnderstood) shown.speed = DefaultConnectionSettings().speed;
  } else {
    shown.speed = speed;
  }
  return shown;
}

LanFieldsCheck CheckLanFields(const char* host, const char* port, const char* ctport) {
  const char* h = OrEmpty(host);
  while (*h == ' ' || *h == '\t') ++h;
  if (!*h) return LanFieldsCheck::NoHost;
  int32_t value = 0;
  if (!PlainNumber(port, kHighestPort, &value)) return LanFieldsCheck::BadPort;
  if (ctport && ctport[0] && !PlainNumber(ctport, kHighestPort, &value))
    return LanFieldsCheck::BadControlPort;
  return LanFieldsCheck::Ok;
}

void LoadConnectionSettings(const ProfileSource& source, ConnectionSettings& record) {
  char text[kConnectionKeyCapacity];
  if (source.ReadText(kSectionRemote, "METHOD", "0", text, sizeof text) > 0)
    record.method = ParseDecimal(text);
  source.ReadText(kSectionRb40, "HOST", "", text, sizeof text);
  CopyCut(record.host, sizeof record.host, text);
  source.ReadText(kSectionRb40, "PORT", nullptr, text, sizeof text);
  CopyCut(record.port, sizeof record.port, text);
  source.ReadText(kSectionRb40, "CTPORT", nullptr, text, sizeof text);
  CopyCut(record.ctport, sizeof record.ctport, text);
  if (source.ReadText(kSectionSerial, "COM", "COM1", text, sizeof text) > 0)
    CopyCut(record.com, sizeof record.com, text);
  if (source.ReadText(kSectionSerial, "SPEED", "115200", text, sizeof text) > 0)
    record.speed = ParseDecimal(text);
  record.parity = ParityCodeFromIndex(source.ReadInt(kSectionSerial, "PARITY", 0));
  record.flow = FlowCodeFromIndex(source.ReadInt(kSectionSerial, "FLOW", 0));
}

void CopyConnectionFields(const ConnectionSettings& from, ConnectionSettings& to) {
  to.method = from.method;
  CopyCut(to.host, sizeof to.host, from.host);
  CopyCut(to.port, sizeof to.port, from.port);
  CopyCut(to.ctport, sizeof to.ctport, from.ctport);
  CopyCut(to.com, sizeof to.com, from.com);
  to.speed = from.speed;
  to.parity = from.parity;
  to.flow = from.flow;
}

}  // namespace ksvw
