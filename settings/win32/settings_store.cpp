#include "settings/win32/settings_store.h"

#include <cstring>

#include "common/files.h"

namespace ksvw {

char SettingsFilePath[MAX_PATH] = {};
ConnectionSettings currentConnectionSettings = DefaultConnectionSettings();
ConnectionSettings workingConnectionSettings = DefaultConnectionSettings();

size_t PrivateProfileSource::ReadText(const char* section, const char* key, const char* fallback,
                                      char* out, size_t capacity) const {
  if (!out || capacity == 0) return 0;
  out[0] = '\0';
  DWORD n = GetPrivateProfileStringA(section, key, fallback ? fallback : "", out,
                                     static_cast<DWORD>(capacity), path_);
  if (n >= capacity) n = static_cast<DWORD>(capacity - 1);
  out[n] = '\0';
  return n;
}

int32_t PrivateProfileSource::ReadInt(const char* section, const char* key,
                                      int32_t fallback) const {
  return static_cast<int32_t>(GetPrivateProfileIntA(section, key, fallback, path_));
}

bool WriteSettingsSection(const char* section, const char* text, const char* path) {
  char list[kSectionTextCapacity + 1];
  size_t n = strnlen(text, kSectionTextCapacity);
  if (n >= kSectionTextCapacity) return false;
  // "A=1\nB=2\n" becomes "A=1\0B=2\0\0".
  size_t out = 0;
  for (size_t i = 0; i < n; ++i) {
    if (text[i] == '\n') {
      if (out > 0 && list[out - 1] != '\0') list[out++] = '\0';
    } else {
      list[out++] = text[i];
    }
  }
  if (out > 0 && list[out - 1] != '\0') list[out++] = '\0';
  list[out++] = '\0';
  if (out == 1) list[out++] = '\0';
  return WritePrivateProfileSectionA(section, list, path) != 0;
}

bool ModuleFolder(HMODULE module, char* folder, size_t capacity) {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(module, path, sizeof path);
  if (n == 0 || n >= sizeof path) return false;
  char* cut = std::strrchr(path, '\\');
  char* slash = std::strrchr(path, '/');
  if (slash > cut) cut = slash;
  if (!cut) return false;
  *cut = '\0';
  size_t length = static_cast<size_t>(cut - path);
  if (length + 1 > capacity) return false;
  std::memcpy(folder, path, length + 1);
  return true;
}

void LoadStartupSettings(const char* folder) {
  if (!JoinPath(folder, kSettingsFileName, SettingsFilePath, sizeof SettingsFilePath)) {
    // Never fall back to a bare name: the API would look in the Windows
    // folder. The built-in values stay.
    SettingsFilePath[0] = '\0';
    return;
  }
  PrivateProfileSource profile(SettingsFilePath);
  char emuPath[kStartupPathCapacity];
  if (profile.ReadText(kSectionEmu, "PATH", "", emuPath, sizeof emuPath) == 0) {
    char text[kSectionTextCapacity];
    if (PathSectionText(folder, true, text, sizeof text))
      WriteSettingsSection(kSectionEmu, text, SettingsFilePath);
  }
  LoadConnectionSettings(profile, workingConnectionSettings);
  CopyConnectionFields(workingConnectionSettings, currentConnectionSettings);
}

}  // namespace ksvw
