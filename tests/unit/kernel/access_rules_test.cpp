// Which client addresses may use the proxy (AllowHosts).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "kernel/acceptor.h"
#include "kernel/options.h"
#include "test_support.h"

namespace {

// The address a.b.c.d as accept() reports it: network byte order in memory.
using nbtest::Ip;

void Allow(std::vector<std::string> hosts) {
  Program_Options po;
  po.vsAllowHosts = std::move(hosts);
  SetProgramOptions(po);
}

}  // namespace

TEST(AccessRules, LocalhostAlwaysAndNothingElseByDefault) {
  Allow({});
  EXPECT_TRUE(checkAccessRules(GetProgramOptions(), Ip(127, 0, 0, 1)));
  EXPECT_FALSE(checkAccessRules(GetProgramOptions(), Ip(127, 0, 0, 2)))
      << "only 127.0.0.1 is implicit";
  EXPECT_FALSE(checkAccessRules(GetProgramOptions(), Ip(1, 0, 0, 127)));
  EXPECT_FALSE(checkAccessRules(GetProgramOptions(), Ip(192, 168, 0, 5)));
}

TEST(AccessRules, ExactEntriesAndStarPrefixes) {
  Allow({"192.168.0.5"});
  EXPECT_TRUE(checkAccessRules(GetProgramOptions(), Ip(192, 168, 0, 5)));
  EXPECT_FALSE(checkAccessRules(GetProgramOptions(), Ip(192, 168, 0, 50)));
  Allow({"192.168.0.50"});
  EXPECT_FALSE(checkAccessRules(GetProgramOptions(), Ip(192, 168, 0, 5)))
      << "an exact entry is not a prefix";
  Allow({"192.168.*"});
  EXPECT_TRUE(checkAccessRules(GetProgramOptions(), Ip(192, 168, 0, 5)));
  EXPECT_TRUE(checkAccessRules(GetProgramOptions(), Ip(192, 168, 200, 1)));
  EXPECT_FALSE(checkAccessRules(GetProgramOptions(), Ip(192, 169, 0, 5)));
  EXPECT_FALSE(checkAccessRules(GetProgramOptions(), Ip(10, 192, 168, 1)));
}

TEST(AccessRules, StarCutsTheEntryAtAnyCharacter) {
  Allow({"10.0.0.1*"});
  EXPECT_TRUE(checkAccessRules(GetProgramOptions(), Ip(10, 0, 0, 1)));
  EXPECT_TRUE(checkAccessRules(GetProgramOptions(), Ip(10, 0, 0, 15)));
  EXPECT_TRUE(checkAccessRules(GetProgramOptions(), Ip(10, 0, 0, 199)));
  EXPECT_FALSE(checkAccessRules(GetProgramOptions(), Ip(10, 0, 0, 2)));
  EXPECT_FALSE(checkAccessRules(GetProgramOptions(), Ip(10, 0, 0, 21)));
  Allow({"192.168.0.100*"});
  EXPECT_FALSE(checkAccessRules(GetProgramOptions(), Ip(192, 168, 0, 1)))
      << "an address shorter than the prefix";
  Allow({"10.*.0.1"});
  EXPECT_TRUE(checkAccessRules(GetProgramOptions(), Ip(10, 99, 99, 99)))
      << "everything from the star on is ignored";
  Allow({"*"});
  EXPECT_TRUE(checkAccessRules(GetProgramOptions(), Ip(8, 8, 4, 4)));
  EXPECT_TRUE(checkAccessRules(GetProgramOptions(), Ip(255, 255, 255, 255)));
}

TEST(AccessRules, AnyMatchingEntryAdmitsAndChangesApplyToTheNextCheck) {
  Allow({"172.16.0.1", "10.1.*", "192.168.1.7"});
  EXPECT_TRUE(checkAccessRules(GetProgramOptions(), Ip(192, 168, 1, 7)));
  EXPECT_TRUE(checkAccessRules(GetProgramOptions(), Ip(10, 1, 2, 3)));
  EXPECT_FALSE(checkAccessRules(GetProgramOptions(), Ip(172, 16, 0, 2)));
  Allow({});
  EXPECT_FALSE(checkAccessRules(GetProgramOptions(), Ip(192, 168, 1, 7)));
}
