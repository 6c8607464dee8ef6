#include "FolderModule.h"

#include <shlobj.h>

#include "winstr.h"

std::string BrowseFolder(HWND owner, const std::string& title) {
  const std::wstring wtitle = Wide(title);
  BROWSEINFOW bi = {};
  bi.hwndOwner = owner;
  bi.lpszTitle = wtitle.c_str();
  bi.ulFlags = BIF_RETURNONLYFSDIRS;
  LPITEMIDLIST picked = SHBrowseForFolderW(&bi);
  if (!picked) return {};
  wchar_t path[MAX_PATH + 1] = {};
  std::string folder;
  if (SHGetPathFromIDListW(picked, path)) folder = Narrow(path);
  CoTaskMemFree(picked);
  return folder;
}
