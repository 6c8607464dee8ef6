// Start failures: what the user is told and how the program ends.
#include "app/lifecycle.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"

TEST(StartFailure, TakenPortIsNamedAndOnlyASecondCopyEndsWithZero) {
  const std::string alreadyOn = "Nimbrel Client уже включен.";
  EXPECT_EQ(StartFailureText(kInitAnotherCopy, 4321), alreadyOn);
  EXPECT_EQ(StartExitStatus(kInitAnotherCopy), 0);
  EXPECT_EQ(StartFailureText(kInitBindFailed, 4321).find("Порт 4321 занят"), 0u);
  for (int result : {kInitBindFailed, kInitNoSocket, kInitListenFailed, kInitNoSockets}) {
    EXPECT_NE(StartExitStatus(result), 0) << result;
    EXPECT_EQ(StartFailureText(result, 4321).find(alreadyOn), std::string::npos) << result;
  }
  // One claim per port, held until the process ends.
  const std::string name = InstanceClaimName(40001) + ".test";
  EXPECT_TRUE(nbplat::ClaimInstance(name));
  EXPECT_FALSE(nbplat::ClaimInstance(name));
  EXPECT_TRUE(nbplat::ClaimInstance(InstanceClaimName(40002) + ".test"));
}
