#include "ie_config.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "modSintax.h"
#include "uninstall_script.h"

namespace {
std::string Hex(const std::string& bytes) {
  std::string out;
  char b[4];
  for (unsigned char c : bytes) {
    std::snprintf(b, sizeof b, "%02X", c);
    out += b;
  }
  return out;
}
}  // namespace

TEST(IeConfig, BlobIsByteForByte) {
  ConnectionBlob blob = MakeConnectionBlob();
  std::string expected =
      "3C000000"
      "0A000000"
      "03000000"
      "13000000" +
      Hex("http=localhost:4321") + "1D000000" + Hex("localhost;127;192.168;<local>") +
      std::string(64, '0');
  EXPECT_EQ(Hex(std::string(blob.begin(), blob.end())), expected);
}

TEST(IeConfig, PhoneBookSectionsExactlyAsWritten) {
  const std::string book =
      "[Home]\r\nPhone=1\r\n\r\n\r\n[Office]\r\nPhone=2\r\n[Spaced] \r\n [Lead]\r\n[]\r\n";
  EXPECT_EQ(PhoneBookConnections(book), (std::vector<std::string>{"Home", "Office", ""}));
  EXPECT_TRUE(PhoneBookConnections("").empty());

  std::vector<IeValue> v = IeValues({"Home"});
  ASSERT_EQ(v.size(), 8u);
  EXPECT_EQ(v[3].name, "Home");
  EXPECT_EQ(v[3].data.size(), kBlobSize);
}

TEST(UninstallScript, LinesCrLfAndCodePage) {
  const std::string text = BuildUninstallScript("C:\\Program Files\\Nimbrel Client\\");
  ASSERT_NE(text.back(), '\n');
  std::vector<std::string> lines;
  for (std::size_t from = 0;;) {
    std::size_t at = text.find("\r\n", from);
    lines.push_back(text.substr(from, at - from));
    if (at == std::string::npos) break;
    from = at + 2;
  }
  for (const std::string& line : lines) EXPECT_EQ(line.find('\n'), std::string::npos) << line;
  ASSERT_GE(lines.size(), 13u);
  EXPECT_EQ(lines[0], "On Error Resume Next");
  EXPECT_EQ(lines[5], "FSO.DeleteFolder \"C:\\Program Files\\Nimbrel Client\", True");
  EXPECT_EQ(lines[7],
            "FSO.DeleteFile WSHShell.RegRead (\"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion"
            "\\Explorer\\Shell Folders\\Common Desktop\") & \"\\NimbrelClient.lnk\", True");
  // Windows-1251 bytes of "Удаление завершено".
  EXPECT_EQ(Hex(lines.back().substr(8, 8)), "D3E4E0EBE5EDE8E5");
  // Internet Explorer values come back from the saved copies.
  EXPECT_NE(text.find("reg.exe copy \"\"HKCU\\Software\\Nimbrel\\Setup\\Saved \" & Part"),
            std::string::npos);
  EXPECT_EQ(text.find("RegDelete (\"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet "
                      "Settings\\Connections\\\")"),
            std::string::npos);
}
