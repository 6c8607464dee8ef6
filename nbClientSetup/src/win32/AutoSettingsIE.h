// Points Internet Explorer of the current user at the local proxy, for the
// local network and every dial-up connection of the all-users telephone book.
#pragma once

#include <string>
#include <vector>

// Saves every value it is about to replace under the installer's key (see
// ie_config.h; earlier saved values are kept), then writes the values. When
// the saving fails nothing is changed. Names of values that could not be
// saved or written are appended to *failed.
void AutoSettingsIE(std::vector<std::string>* failed);
