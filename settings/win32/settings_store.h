// SETTING.ini through the Windows private-profile API, and the program's two
// connection records.
#pragma once

#include <windows.h>

#include <cstddef>

#include "settings/connection_settings.h"
#include "settings/settings_sections.h"

namespace ksvw {

// Full path of SETTING.ini; set once by LoadStartupSettings.
extern char SettingsFilePath[MAX_PATH];
// The record the remote link uses, and the one the connection dialog fills.
extern ConnectionSettings currentConnectionSettings;
extern ConnectionSettings workingConnectionSettings;

// Reads keys of one INI file with GetPrivateProfileStringA / IntA.
class PrivateProfileSource : public ProfileSource {
 public:
  explicit PrivateProfileSource(const char* path) : path_(path) {}
  size_t ReadText(const char* section, const char* key, const char* fallback, char* out,
                  size_t capacity) const override;
  int32_t ReadInt(const char* section, const char* key, int32_t fallback) const override;

 private:
  const char* path_;
};

// Replaces a whole section of `path` with `text`, a NUL-terminated list of
// entries separated by line feeds (as the section text builders make it).
// The entries are handed to the API in its own NUL-separated form, which
// writes the same lines on every implementation of it. False when the text
// is too long or the write failed.
bool WriteSettingsSection(const char* section, const char* text, const char* path);

// The folder of `module` (null: the executable), without a trailing
// separator. False when it does not fit `capacity`.
bool ModuleFolder(HMODULE module, char* folder, size_t capacity);

// The start-up load: SettingsFilePath := folder + "SETTING.ini"; an EMU/PATH
// that is missing or empty is written as the folder; the connection keys
// are read into the working record and copied into the current record.
void LoadStartupSettings(const char* folder);

}  // namespace ksvw
