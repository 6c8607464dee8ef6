// The installation folder as the window's text box holds it: its default,
// what a folder pick makes of it, its normal form and the folder chain that
// the install sequence creates.
#pragma once

#include <string>
#include <vector>

// Default folder for the given %homedrive% value, e.g. "C:" gives
// "C:\Program Files\Nimbrel Client\".
std::string DefaultFolder(const std::string& homeDrive);

// Text box after a folder pick. picked is what the picker returned (empty
// when it was cancelled: the text box stays as it is); pickedExists says
// whether it names an existing folder. A drive root "E:\" gives "E:\Nimbrel Client\".
std::string FolderAfterPick(const std::string& current, const std::string& picked,
                            bool pickedExists);

// Every "/" turned into "\" and a final "\" added (an empty text stays empty).
std::string NormaliseFolder(const std::string& text);

// Folders to create, parent first, for a normalised folder:
// "C:\Program Files\Nimbrel Client\" gives "C:\Program Files\" and
// "C:\Program Files\Nimbrel Client\". The first piece (the drive) is never
// created itself.
std::vector<std::string> FolderChain(const std::string& folder);

// Replaces every occurrence of from by to, in one pass left to right.
std::string ReplaceAll(const std::string& text, const std::string& from, const std::string& to);
