// Start failures: what the user is told and how the program ends.
#include "kernel/lifecycle.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"

TEST(StartFailure, TakenPortIsNamedAndOnlyASecondCopyEndsWithZero) {
  const std::string alreadyOn = "Nimbrel Client уже включен.";
  EXPECT_EQ(StartFailureText(kInitAnotherCopy, 4321), alreadyOn);
  EXPECT_EQ(StartExitStatus(kInitAnotherCopy), 0);
  const std::string taken = StartFailureText(kInitBindFailed, 4321);
  EXPECT_NE(taken.find("Порт 4321 занят"), std::string::npos) << taken;
  for (int result : {kInitBindFailed, kInitNoSocket, kInitListenFailed, kInitNoSockets}) {
    EXPECT_NE(StartExitStatus(result), 0) << result;
    const std::string text = StartFailureText(result, 4321);
    EXPECT_EQ(text.find(alreadyOn), std::string::npos) << text;
    EXPECT_NE(text.find("не запущен"), std::string::npos) << text;
  }
}

TEST(StartFailure, OneClaimPerPort) {
  const std::string name = InstanceClaimName(40001) + ".test";
  EXPECT_TRUE(nbplat::ClaimInstance(name));
  EXPECT_FALSE(nbplat::ClaimInstance(name)) << "held until the process ends";
  EXPECT_TRUE(nbplat::ClaimInstance(InstanceClaimName(40002) + ".test"));
  EXPECT_NE(InstanceClaimName(4321), InstanceClaimName(4322));
}
