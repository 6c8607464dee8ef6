// Which references of a page are pushed: same host only, relative paths
// resolved as a browser does.
#include "push_scan.h"

#include <gtest/gtest.h>

namespace {

TEST(PushScan, ResolvesRelativePathsAsTheBrowserDoes) {
  const std::string page =
      "<link rel=stylesheet href='../_static/a.css'><script src=\"./b.js?v=1\"></script>"
      "<img src=../../../up.png><img src='x/%2e%2e/../c.png'><img src=//other/d.png>"
      "<script src=\"/e/../f.js\"></script>";
  EXPECT_EQ(nbsvc::FindPushUrls(page, "http://site/doc/lib/p.html", 8),
            (std::vector<std::string>{"http://site/doc/_static/a.css",
                                      "http://site/doc/lib/b.js?v=1", "http://site/f.js"}));
}

}  // namespace
