#include "settings/win32/folder_picker.h"

#include <objbase.h>
#include <shlobj.h>

#include <cstring>

namespace ksvw {

namespace {

// Opens the picker on the starting folder once it exists.
int CALLBACK PickerCallback(HWND picker, UINT message, LPARAM, LPARAM start) {
  if (message == BFFM_INITIALIZED && start && *reinterpret_cast<const char*>(start))
    SendMessageA(picker, BFFM_SETSELECTIONA, TRUE, start);
  return 0;
}

// The picker proper, with COM already initialised on this thread.
int RunPicker(HWND owner, char* path) {
  IMalloc* allocator = nullptr;
  if (FAILED(SHGetMalloc(&allocator)) || !allocator) return 0;
  // The picker writes the chosen item's display name ("Desktop", a drive
  // label...) into this buffer; it must not be the caller's path.
  char displayName[MAX_PATH] = {};
  BROWSEINFOA info{};
  info.hwndOwner = owner;
  info.pszDisplayName = displayName;
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_EDITBOX | BIF_VALIDATE;
  info.lpfn = PickerCallback;
  info.lParam = reinterpret_cast<LPARAM>(path);
  LPITEMIDLIST item = SHBrowseForFolderA(&info);
  int chosen = 0;
  if (item) {
    // Only a folder with a non-empty file-system path counts as chosen:
    // virtual items (the desktop's namespace root, Control Panel) have none.
    char folder[MAX_PATH] = {};
    if (SHGetPathFromIDListA(item, folder) && folder[0]) {
      memcpy(path, folder, sizeof folder);
      chosen = 1;
    }
  }
  allocator->Free(item);
  allocator->Release();
  return chosen;
}

}  // namespace

int BrowseForFolder(HWND owner, char* path) {
  if (!path) return 0;
  // The picker is a COM client (its tree and edit box use shell objects);
  // an apartment already set up by the caller is kept as it is.
  HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  int chosen = RunPicker(owner, path);
  if (SUCCEEDED(com)) CoUninitialize();
  return chosen;
}

}  // namespace ksvw
