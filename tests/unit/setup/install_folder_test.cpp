#include "install_folder.h"

#include <gtest/gtest.h>

#include "modSintax.h"
#include "payload.h"

using Pieces = std::vector<std::string>;

TEST(SplitText, CollapsesRunsAndImpliesFinalSeparator) {
  EXPECT_EQ(SplitText("C:\\Program Files\\Nimbrel Client\\", "\\"),
            (Pieces{"C:", "Program Files", "Nimbrel Client"}));
  EXPECT_EQ(SplitText("C:\\\\a\\\\\\b", "\\"), (Pieces{"C:", "a", "b"}));
  EXPECT_EQ(SplitText("\\a\\b", "\\"), (Pieces{"", "a", "b"}));
  EXPECT_EQ(SplitText("", "\\"), (Pieces{""}));
  EXPECT_EQ(SplitText("[Home]\r\n\r\n\r\nx=1\r\n\r\n[Office]", "\r\n"),
            (Pieces{"[Home]", "x=1", "[Office]"}));
}

TEST(InstallFolder, NormalisesAndBuildsTheChain) {
  EXPECT_EQ(DefaultFolder("C:"), "C:\\Program Files\\Nimbrel Client\\");
  const std::string folder = NormaliseFolder("D:/Apps/Nimbrel");
  EXPECT_EQ(folder, "D:\\Apps\\Nimbrel\\");
  EXPECT_EQ(FolderChain(folder), (Pieces{"D:\\Apps\\", "D:\\Apps\\Nimbrel\\"}));
  EXPECT_EQ(NormaliseFolder(""), "");
  EXPECT_TRUE(FolderChain("").empty());
  // A folder starting with "\" is a chain from the current drive's root.
  EXPECT_EQ(FolderChain("\\a\\b\\"), (Pieces{"\\a\\", "\\a\\b\\"}));
}

TEST(InstallFolder, PickOfDriveRootHasNoDoubledBackslash) {
  EXPECT_EQ(FolderAfterPick("C:\\x\\", "E:\\", true), "E:\\Nimbrel Client\\");
  EXPECT_EQ(FolderAfterPick("C:\\x\\", "D:\\Apps", true), "D:\\Apps\\Nimbrel Client\\");
  // Cancelled before any pick: the text box stays as it was.
  EXPECT_EQ(FolderAfterPick("C:\\x\\", "", false), "C:\\x\\");
}

TEST(Payload, TableOrderAndKeptOptionsFile) {
  EXPECT_STREQ(kPayload[0].resName, "nbclient");
  EXPECT_STREQ(kPayload[0].fileName, "NimbrelClient.exe");
  EXPECT_STREQ(kPayload[4].fileName, "share\\ClientHtmlGUI.htm");
  EXPECT_STREQ(kPayload[7].fileName, "change.log");
  int kept = 0;
  for (const PayloadItem& item : kPayload) kept += KeepsExistingFile(item.resName);
  EXPECT_EQ(kept, 1);
  EXPECT_TRUE(KeepsExistingFile("INI"));
}
