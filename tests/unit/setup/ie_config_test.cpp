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

TEST(UninstallScript, LinesCrLfAndEverythingOfOurs) {
  const std::string text = BuildUninstallScript("C:\\Program Files\\Сжатие \"Nimbrel\"\\");
  ASSERT_NE(text.back(), '\n');
  std::vector<std::string> lines;
  for (std::size_t from = 0;;) {
    std::size_t at = text.find("\r\n", from);
    lines.push_back(text.substr(from, at - from));
    if (at == std::string::npos) break;
    from = at + 2;
  }
  for (const std::string& line : lines) EXPECT_EQ(line.find('\n'), std::string::npos) << line;
  EXPECT_EQ(lines[0], "On Error Resume Next");
  auto has = [&](const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  };
  // Plain ASCII whatever the code page: the folder as a VBScript expression,
  // quotes doubled, letters beyond ASCII as UTF-16 units, no final backslash.
  for (char c : text) EXPECT_TRUE(c > 0 && c < 0x7F) << text;
  EXPECT_TRUE(
      has("Folder = \"C:\\Program Files\\\" & ChrW(1057) & ChrW(1078) & ChrW(1072) & "
          "ChrW(1090) & ChrW(1080) & ChrW(1077) & \" \"\"Nimbrel\"\"\""));
  // The running client is stopped and waited for before anything is deleted.
  auto at = [&](const std::string& part) {
    return static_cast<std::size_t>(
        std::find_if(lines.begin(), lines.end(),
                     [&](const std::string& l) { return l.find(part) != std::string::npos; }) -
        lines.begin());
  };
  EXPECT_LT(at("taskkill.exe /F /IM NimbrelClient.exe\", 0, True"), at("FSO.DeleteFolder Folder"));
  // Autostart, compatibility value, the installer's key and the script itself.
  EXPECT_LT(at("CurrentVersion\\Run\"\" /v \"\"Nimbrel Client\"\" /f"), lines.size());
  EXPECT_LT(at("AppCompatFlags\\Layers\"\" /v \"\"C:\\Program Files\\\" & ChrW(1057)"),
            lines.size());
  EXPECT_TRUE(has("WSHShell.RegDelete \"HKCU\\Software\\Nimbrel\\\""));
  EXPECT_LT(at("Software\\Nimbrel\\Setup\"\" /f"),
            at("WSHShell.RegDelete \"HKCU\\Software\\Nimbrel\\\""));
  EXPECT_LT(at("Setup\\Created \" & Part)"), lines.size());
  EXPECT_LT(at("FSO.DeleteFile WScript.ScriptFullName"), at("MsgBox Text"));
  // "Удаление завершено" only when nothing stayed; otherwise what stayed.
  EXPECT_TRUE(
      has("Done = ChrW(1059) & ChrW(1076) & ChrW(1072) & ChrW(1083) & ChrW(1077) & "
          "ChrW(1085) & ChrW(1080) & ChrW(1077) & \" \" & ChrW(1079) & ChrW(1072) & "
          "ChrW(1074) & ChrW(1077) & ChrW(1088) & ChrW(1096) & ChrW(1077) & ChrW(1085) & "
          "ChrW(1086)"));
  EXPECT_LT(at("Text = Done"), at("Text = Failed & Stayed"));
  // A host that cannot build them gets the texts and the folder in Unicode.
  EXPECT_TRUE(has("Folder = Stored (\"Folder\", Folder)"));
  const std::vector<UninstallText> texts = UninstallTexts("C:\\Сжатие\\");
  ASSERT_EQ(texts.size(), 6u);
  EXPECT_EQ(texts[0].name + "=" + texts[0].text, "Folder=C:\\Сжатие");
  EXPECT_TRUE(has("If Stayed <> \"\" Then WScript.Quit 1"));
  // Internet Explorer values come back from the saved copies.
  EXPECT_NE(text.find("reg.exe copy \"\"HKCU\\Software\\Nimbrel\\Setup\\Saved \" & Part"),
            std::string::npos);
  EXPECT_EQ(text.find("RegDelete (\"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet "
                      "Settings\\Connections\\\")"),
            std::string::npos);
}
