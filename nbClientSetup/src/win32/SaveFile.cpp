#include "SaveFile.h"

#include <windows.h>

#include "modFS.h"
#include "winstr.h"

bool LoadCustomResource(const std::string& resName, std::string* bytes) {
  HRSRC res = FindResourceW(nullptr, Wide(resName).c_str(), L"CUSTOM");
  if (!res) return false;
  HGLOBAL mem = LoadResource(nullptr, res);
  const void* data = mem ? LockResource(mem) : nullptr;
  if (!data) return false;
  bytes->assign(static_cast<const char*>(data), SizeofResource(nullptr, res));
  return true;
}

bool SaveFile(const std::string& resName, const std::string& fileName) {
  std::string bytes;
  return LoadCustomResource(resName, &bytes) && WriteTextFile(fileName, bytes);
}
