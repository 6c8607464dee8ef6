// The client's capability bits and what it remembers of its services.
#include "kernel/capabilities.h"

#include <gtest/gtest.h>

#include "protocol/capabilities.h"

namespace {

TEST(ClientCapabilities, ServicesAreRememberedByNameAndBoundedInNumber) {
  EXPECT_EQ(ServiceCapabilities("never.example:443"), 0);
  NoteServiceCapabilities("a.example:443", NB_CAP_WEBP);
  NoteServiceCapabilities("b.example:443", 0);
  EXPECT_EQ(ServiceCapabilities("a.example:443"), NB_CAP_WEBP);
  // The last answer counts: a service replaced by an older one sets none.
  NoteServiceCapabilities("a.example:443", 0);
  EXPECT_EQ(ServiceCapabilities("a.example:443"), 0);
  NoteServiceCapabilities("a.example:443", NB_CAP_WEBP);
  for (std::size_t i = 0; i < nb::kMaxRememberedServices; ++i) {
    NoteServiceCapabilities("other" + std::to_string(i), NB_CAP_WEBP);
  }
  EXPECT_EQ(ServiceCapabilities("a.example:443"), 0);  // the oldest was forgotten
  EXPECT_EQ(ServiceCapabilities("other0"), NB_CAP_WEBP);
}

TEST(ClientCapabilities, PngAndGifAreRecodedOnlyByAWebpService) {
  for (const char* ext : {"jpg", "jpeg"}) {
    EXPECT_TRUE(IsRecodedImage(ext, 0));
    EXPECT_TRUE(IsRecodedImage(ext, NB_CAP_WEBP));
  }
  EXPECT_FALSE(IsRecodedImage("mpeg", NB_CAP_WEBP));
  for (const char* ext : {"png", "gif"}) {
    EXPECT_FALSE(IsRecodedImage(ext, 0));
    EXPECT_FALSE(IsRecodedImage(ext, NB_CAP_TEXT2));
    EXPECT_TRUE(IsRecodedImage(ext, NB_CAP_WEBP));
    EXPECT_TRUE(IsRecodedImage(ext, NB_CAP_AVIF));
  }
  EXPECT_NE(ClientCapabilities() & NB_CAP_WEBP, 0);
  EXPECT_NE(ClientCapabilities() & NB_CAP_AVIF, 0);
}

}  // namespace
