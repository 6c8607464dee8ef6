#include "settings_link.h"

#include <gtest/gtest.h>

TEST(SettingsLink, PortAsTheClientReadsIt) {
  EXPECT_EQ(SettingsPortFromOptions(""), 3344);
  EXPECT_EQ(SettingsPortFromOptions("Port:4321\r\nSettingsPort:3355\r\nJpgLvl:1\r\n"), 3355);
  EXPECT_EQ(SettingsPortFromOptions("SettingsPort:8080"), 8080);  // no line end
  EXPECT_EQ(SettingsPortFromOptions("Port:3355\nSettingsPort:0\n"), 3344);
  EXPECT_EQ(SettingsPortFromOptions("SettingsPort:65536\r\n"), 3344);
  EXPECT_EQ(SettingsPortFromOptions("SettingsPort:99999999999999999999\r\n"), 3344);
  EXPECT_EQ(SettingsPortFromOptions("SettingsPort:\r\nXSettingsPort:5\r\n"), 3344);
}
