// Text splitting used by the install sequence (folder pieces) and the browser
// configuration (telephone-book lines).
#pragma once

#include <string>
#include <vector>

// Splits text at sep. Runs of sep collapse to one first and a final sep is
// implied, so the only empty piece possible is a leading one (text begins
// with sep) or the single piece of an empty text. Never returns an empty
// vector. An empty sep gives the whole text as one piece.
std::vector<std::string> SplitText(const std::string& text, const std::string& sep);
