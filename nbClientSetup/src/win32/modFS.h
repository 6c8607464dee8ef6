// Files, folders, registry values by path and shortcuts for the installer.
// Paths and texts are UTF-8 (see winstr.h); file contents are passed through
// byte for byte unless a routine says otherwise. No routine shows anything; writers return true on
// success so that the install sequence can name what failed.
#pragma once

#include <string>

// Whole content of a file; empty when it is missing or unreadable.
std::string ReadTextFile(const std::string& path);
// Replaces the file's content with text (no line break added).
bool WriteTextFile(const std::string& path, const std::string& text);
// Replaces the file's content with the UTF-8 text as UTF-16 (little endian)
// behind a byte-order mark, the form Windows reads as Unicode.
bool WriteUnicodeTextFile(const std::string& path, const std::string& text);
// Deletes a file; true when it is gone afterwards.
bool RemoveFile(const std::string& path);
bool IsFileExist(const std::string& path);
bool IsFolderExist(const std::string& path);
// Creates one folder (its parent must exist); true when it exists afterwards.
bool MakeFolder(const std::string& path);

// Registry value at "ROOT\Key\Name" (see reg_path.h) as text: strings as they
// are, a DWORD in decimal; empty when missing.
std::string RegReadValue(const std::string& path);
// Writes a REG_SZ value, creating missing keys on the way.
bool RegWriteValue(const std::string& path, const std::string& text);

// Saves the shortcut name (may hold an existing subfolder) in the all-users
// folder "Common " + specialFolder (e.g. "Programs", "Desktop"). Target,
// working folder and icon ("path, index"; empty: the target's own icon) get
// %variables% expanded; the window style is 4. Needs COM on the calling thread.
bool MakeShortcut(const std::string& name, const std::string& target, const std::string& workDir,
                  const std::string& specialFolder, const std::string& iconLocation);
