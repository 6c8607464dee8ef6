#include "ie_config.h"

#include <gtest/gtest.h>

#include <algorithm>
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
  ASSERT_EQ(v.size(), 9u);
  EXPECT_EQ(v[4].name, "Home");
  EXPECT_EQ(v[4].data.size(), kBlobSize);
  // WinINet takes the proxy only with ProxyEnable set.
  EXPECT_EQ(v[3].name, "ProxyEnable");
  EXPECT_FALSE(v[3].connections);
  EXPECT_EQ(v[3].type, RegType::Dword);
  EXPECT_EQ(Hex(v[3].data), "01000000");
}

TEST(UninstallScript, AsciiLinesAndStopBeforeDeleting) {
  const std::string text =
      BuildUninstallScript("C:\\Program Files\\Сжатие \"Nimbrel\" \xF0\x9F\x98\x80\\");
  ASSERT_NE(text.back(), '\n');
  std::vector<std::string> lines;
  for (std::size_t from = 0;;) {
    std::size_t at = text.find("\r\n", from);
    lines.push_back(text.substr(from, at - from));
    if (at == std::string::npos) break;
    from = at + 2;
  }
  auto at = [&](const std::string& part) {
    return std::find_if(lines.begin(), lines.end(),
                        [&](const std::string& l) { return l.find(part) != std::string::npos; }) -
           lines.begin();
  };
  // Plain ASCII whatever the code page: the folder as a VBScript expression,
  // quotes doubled, other letters as UTF-16 units, no final backslash.
  for (const std::string& l : lines)
    for (char c : l) ASSERT_TRUE(c >= 0x20 && c < 0x7F) << l;
  EXPECT_EQ(lines[at("Folder = ")],
            "Folder = \"C:\\Program Files\\\" & ChrW(1057) & ChrW(1078) & ChrW(1072) & ChrW(1090) "
            "& ChrW(1080) & ChrW(1077) & \" \"\"Nimbrel\"\" \" & ChrW(55357) & ChrW(56832)");
  // The running client is stopped and waited for before anything is deleted.
  EXPECT_LT(at("taskkill.exe /F /IM NimbrelClient.exe\", 0, True"), at("FSO.DeleteFolder Folder"));
  EXPECT_LT(at("FSO.DeleteFile WScript.ScriptFullName"), at("MsgBox Text"));
}
