// The installer's payload: its own resources of type "CUSTOM".
#pragma once

#include <string>

// Bytes of the CUSTOM resource resName of the running program (names match
// without regard to case); false when there is none.
bool LoadCustomResource(const std::string& resName, std::string* bytes);

// Writes the resource's bytes as the whole content of fileName (an earlier,
// longer file leaves nothing behind). False when the resource is missing or
// the file cannot be written (e.g. a program that still runs from it).
bool SaveFile(const std::string& resName, const std::string& fileName);
