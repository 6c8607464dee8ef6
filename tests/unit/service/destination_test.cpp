// Which destinations the service refuses to fetch from.
#include "destination.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "config.h"

namespace {

std::uint32_t Ip(const char* text) {
  std::uint32_t v = 0;
  EXPECT_TRUE(nbsvc::ParseIPv4(text, &v)) << text;
  return v;
}

TEST(Destination, InternalRangesAreRefused) {
  for (const char* a : {"127.0.0.1", "127.255.0.9", "10.1.2.3", "172.16.0.1", "172.31.255.255",
                        "192.168.1.1", "169.254.10.10", "224.0.0.1", "239.1.1.1", "255.255.255.255",
                        "0.0.0.0", "100.64.0.1", "100.127.1.1"}) {
    EXPECT_TRUE(nbsvc::IsRefusedDestination(Ip(a), 80, false)) << a;
  }
}

TEST(Destination, PublicAddressesAndNeighboursOfRangesPass) {
  for (const char* a :
       {"8.8.8.8", "93.184.216.34", "172.15.255.255", "172.32.0.1", "192.169.0.1", "169.253.1.1",
        "100.63.255.255", "100.128.0.1", "11.0.0.1", "223.255.255.254"}) {
    EXPECT_FALSE(nbsvc::IsRefusedDestination(Ip(a), 80, false)) << a;
  }
}

TEST(Destination, AllowPrivateLiftsTheAddressCheckButNotPortZero) {
  EXPECT_FALSE(nbsvc::IsRefusedDestination(Ip("127.0.0.2"), 80, true));
  EXPECT_FALSE(nbsvc::IsRefusedDestination(Ip("192.168.0.1"), 8080, true));
  EXPECT_TRUE(nbsvc::IsRefusedDestination(Ip("127.0.0.2"), 0, true));
  EXPECT_TRUE(nbsvc::IsRefusedDestination(Ip("8.8.8.8"), 0, false));
}

TEST(Destination, AddressTextRoundTrip) {
  EXPECT_EQ(nbsvc::FormatIPv4(Ip("10.0.0.1")), "10.0.0.1");
  EXPECT_EQ(nbsvc::FormatIPv4(Ip("255.1.22.0")), "255.1.22.0");
  std::uint32_t v;
  EXPECT_FALSE(nbsvc::ParseIPv4("256.0.0.1", &v));
  EXPECT_FALSE(nbsvc::ParseIPv4("1.2.3", &v));
  EXPECT_FALSE(nbsvc::ParseIPv4("1.2.3.4.5", &v));
  EXPECT_FALSE(nbsvc::ParseIPv4("1.2.3.x", &v));
}

}  // namespace

namespace {

TEST(DestinationPolicy, OwnAddressesAndOwnPortAreRefusedAndReadAgain) {
  std::vector<std::uint32_t> own = {Ip("203.0.113.7")};
  int reads = 0;
  nbsvc::DestinationPolicy policy(false, 443, [&] {
    ++reads;
    return own;
  });
  EXPECT_TRUE(policy.Refused(Ip("203.0.113.7"), 8080, 100));
  EXPECT_FALSE(policy.Refused(Ip("203.0.113.8"), 8080, 100));
  EXPECT_TRUE(policy.Refused(Ip("93.184.216.34"), 443, 100));  // our port, anywhere
  policy.SetOwnPort(8443);
  EXPECT_FALSE(policy.Refused(Ip("93.184.216.34"), 443, 100));
  EXPECT_TRUE(policy.Refused(Ip("93.184.216.34"), 8443, 100));
  // The host got a new address: known within the refresh time.
  own = {Ip("198.51.100.20")};
  EXPECT_FALSE(policy.Refused(Ip("198.51.100.20"), 80, 100 + nbsvc::kOwnAddressesRefreshSec - 1));
  EXPECT_TRUE(policy.Refused(Ip("198.51.100.20"), 80, 100 + nbsvc::kOwnAddressesRefreshSec));
  EXPECT_FALSE(policy.Refused(Ip("203.0.113.7"), 80, 100 + nbsvc::kOwnAddressesRefreshSec));
  EXPECT_EQ(reads, 2);

  // Private destinations allowed (tests, a service on loopback): never its
  // own port, even so.
  nbsvc::DestinationPolicy open(true, 4000, [&] { return own; });
  EXPECT_FALSE(open.Refused(Ip("198.51.100.20"), 80, 1));
  EXPECT_TRUE(open.Refused(Ip("127.0.0.1"), 4000, 1));
}

}  // namespace
