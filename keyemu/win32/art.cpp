// The panel art: bitmap 111 (the front panel) and bitmap 112 (the key
// sheet). Each bitmap is deleted exactly once: by Unload, which clears its
// handle, so the destructor's Unload finds nothing left.
#include <cstdlib>

#include "common/resource_ids.h"
#include "keyemu/win32/objects.h"
#include "remote/ksvwrmt.h"

namespace ksvw::keyemu {

bool KeyEmuArt::LoadOne(HINSTANCE instance, int which, int id, bool* reloaded) {
  if (bitmaps_[which] && ids_[which] == id) return true;
  if (bitmaps_[which]) {
    DeleteObject(bitmaps_[which]);
    bitmaps_[which] = nullptr;
    ids_[which] = -1;
  }
  bitmaps_[which] = LoadBitmapA(instance, MAKEINTRESOURCEA(id));
  if (!bitmaps_[which]) return false;
  ids_[which] = id;
  *reloaded = true;
  return true;
}

bool KeyEmuArt::Load(HINSTANCE instance, bool* reloaded) {
  *reloaded = false;
  if (!LoadOne(instance, 0, IDB_FRONT_PANEL, reloaded) ||
      !LoadOne(instance, 1, IDB_KEY_PICTURES, reloaded)) {
    Unload();
    return false;
  }
  if (!*reloaded) return true;
  HDC screen = GetDC(nullptr);
  for (int which = 0; which < 2; ++which) {
    info_[which] = {};
    info_[which].header.bV4Size = sizeof(BITMAPV4HEADER);
    GetDIBits(screen, bitmaps_[which], 0, 0, nullptr, reinterpret_cast<BITMAPINFO*>(&info_[which]),
              DIB_RGB_COLORS);
  }
  ReleaseDC(nullptr, screen);
  return true;
}

void KeyEmuArt::Unload() {
  for (int which = 0; which < 2; ++which) {
    if (bitmaps_[which]) DeleteObject(bitmaps_[which]);
    bitmaps_[which] = nullptr;
    ids_[which] = -1;
  }
}

SIZE KeyEmuArt::Size(int which) const {
  if (!bitmaps_[which]) return {0, 0};
  return {info_[which].header.bV4Width, std::abs(info_[which].header.bV4Height)};
}

}  // namespace ksvw::keyemu
