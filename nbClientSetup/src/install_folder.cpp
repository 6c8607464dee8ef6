#include "install_folder.h"

#include "modSintax.h"

std::string ReplaceAll(const std::string& text, const std::string& from, const std::string& to) {
  if (from.empty()) return text;
  std::string out;
  std::size_t pos = 0;
  for (std::size_t at; (at = text.find(from, pos)) != std::string::npos; pos = at + from.size())
    out.append(text, pos, at - pos).append(to);
  return out.append(text, pos, std::string::npos);
}

std::string DefaultFolder(const std::string& homeDrive) {
  return homeDrive + "\\Program Files\\Nimbrel Client\\";
}

std::string FolderAfterPick(const std::string& current, const std::string& picked,
                            bool pickedExists) {
  std::string text = pickedExists ? picked + "\\Nimbrel Client\\" : current;
  return ReplaceAll(text, "\\\\", "\\");
}

std::string NormaliseFolder(const std::string& text) {
  std::string folder = ReplaceAll(text, "/", "\\");
  if (!folder.empty() && folder.back() != '\\') folder += '\\';
  return folder;
}

std::vector<std::string> FolderChain(const std::string& folder) {
  std::vector<std::string> pieces = SplitText(folder, "\\");
  std::vector<std::string> chain;
  std::string path = pieces[0] + "\\";
  for (std::size_t i = 1; i < pieces.size(); ++i) {
    path += pieces[i] + "\\";
    chain.push_back(path);
  }
  return chain;
}
