// Numbers typed into the settings form that an int cannot hold.
#include <gtest/gtest.h>

#include <limits>

#include "settings/settingsman.h"

TEST(SettingsFormNumbers, HugeValuesHeldAtTheEndsOfTheRange) {
  Program_Options po;
  ApplySettingsForm("idJpgLvl=444444444444444444444444444444&idPort=-4e29", po);
  EXPECT_EQ(po.iJpegLvl, std::numeric_limits<int>::max());
  EXPECT_EQ(po.iPort, std::numeric_limits<int>::min());
  ApplySettingsForm("idJpgLvl=nan&idPort=2.9", po);
  EXPECT_EQ(po.iJpegLvl, 0);
  EXPECT_EQ(po.iPort, 2);
}
