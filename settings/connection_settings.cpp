#include "settings/connection_settings.h"

#include <cstring>

namespace ksvw {

ConnectionSettings DefaultConnectionSettings() {
  ConnectionSettings s;
  std::memset(&s, 0, sizeof s);
  s.size = kConnectionSettingsSize;
  s.method = kMethodSerial;
  std::strcpy(s.com, "COM1");
  s.speed = 115200;
  return s;
}

}  // namespace ksvw
