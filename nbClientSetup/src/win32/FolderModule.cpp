#include "FolderModule.h"

#include <shlobj.h>

namespace {
std::string lastPicked;  // window thread only
}

std::string BrowseFolder(HWND owner, const std::string& title) {
  BROWSEINFOA bi = {};
  bi.hwndOwner = owner;
  bi.lpszTitle = title.c_str();
  bi.ulFlags = BIF_RETURNONLYFSDIRS;
  LPITEMIDLIST picked = SHBrowseForFolderA(&bi);
  if (picked) {
    char path[MAX_PATH + 1] = {};
    if (SHGetPathFromIDListA(picked, path)) lastPicked = path;
    CoTaskMemFree(picked);
  }
  return lastPicked;
}
