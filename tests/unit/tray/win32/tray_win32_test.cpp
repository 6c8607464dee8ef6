// The Win32 tray under Wine with a display: the hidden window, the icon, the
// menu resource's captions, menu commands and their check marks, and the exit
// command's process status.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "app/tray_events.h"
#include "kernel/context.h"
#include "kernel/events.h"
#include "kernel/options.h"
#include "resources/resource.h"
#include "tray/tray.h"
#include "tray/tray_logic.h"

namespace {

class Win32TrayTest : public ::testing::Test {
 protected:
  // One tray thread for the whole suite, as in the program; a death test's
  // child process runs this too and so has a tray of its own.
  static void SetUpTestSuite() {
    dir_ = std::filesystem::temp_directory_path() /
           ("nb-tray-" + std::to_string(std::random_device()()));
    std::filesystem::create_directories(dir_);
    std::filesystem::current_path(dir_);
    Program_Options po;
    po.iPort = 4321;
    po.iSettingsPort = 3344;
    po.bBlockBanners = true;
    po.iJpegLvl = 1;
    SetProgramOptions(po);
    // Wired as the program wires it, so the exit command reaches the stop.
    static nbapp::TrayEvents events;
    nbkernel::SetEvents(&events);
    WinSysTray::InitWinSysTray(gClient.options);
    std::thread(WinSysTray::ThreadWinSysTray, nullptr).detach();
    for (int i = 0; i < 100 && WinSysTray::Window() == nullptr; ++i) Sleep(100);
  }
  static void TearDownTestSuite() {
    std::error_code ec;
    std::filesystem::current_path(std::filesystem::temp_directory_path(), ec);
    std::filesystem::remove_all(dir_, ec);
  }
  static HWND Hwnd() { return static_cast<HWND>(WinSysTray::Window()); }
  static void Command(int id) { SendMessageA(Hwnd(), WM_COMMAND, id, 0); }
  static std::filesystem::path dir_;
};
std::filesystem::path Win32TrayTest::dir_;

TEST_F(Win32TrayTest, HiddenWindowHoldsTheIcon) {
  ASSERT_NE(Hwnd(), nullptr);
  char name[64] = {0};
  GetClassNameA(Hwnd(), name, sizeof name);
  EXPECT_STREQ(name, "NimbrelClientWindow");
  EXPECT_FALSE(IsWindowVisible(Hwnd()));
  EXPECT_TRUE(WinSysTray::IconAdded());
}

TEST_F(Win32TrayTest, ServiceOutSwapsTheIconUntilItAnswers) {
  auto waitIcon = [](int id) {
    // The bound only keeps a broken loop from hanging.
    for (int i = 0; i < 300 && WinSysTray::IconId() != id; ++i) Sleep(20);
    return WinSysTray::IconId();
  };
  WinSysTray::SetStateIsOffLine();
  EXPECT_EQ(waitIcon(IDI_OFFLINE), IDI_OFFLINE);
  EXPECT_TRUE(WinSysTray::IconAdded());
  WinSysTray::SetStateIsOnLine();
  EXPECT_EQ(waitIcon(IDI_NORMAL), IDI_NORMAL);
}

TEST_F(Win32TrayTest, ManifestAsksForThemedControlsSharpTextAndNoElevation) {
  HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  ASSERT_NE(found, nullptr);
  const char* data = static_cast<const char*>(LockResource(LoadResource(nullptr, found)));
  ASSERT_NE(data, nullptr);
  const std::string manifest(data, SizeofResource(nullptr, found));
  for (const char* part : {"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
                           "level=\"asInvoker\"", "<dpiAware", "true"}) {
    EXPECT_NE(manifest.find(part), std::string::npos) << part;
  }
}

TEST_F(Win32TrayTest, MenuResourceCarriesTheRussianCaptions) {
  HMENU menu = LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_TRAYMENU));
  ASSERT_NE(menu, nullptr);
  wchar_t text[64] = {0};
  GetMenuStringW(menu, IDM_GRAPHHIGH, text, 64, MF_BYCOMMAND);
  EXPECT_STREQ(text, L"Не сжимать графику");
  GetMenuStringW(menu, IDM_EXITPROGRAM, text, 64, MF_BYCOMMAND);
  EXPECT_STREQ(text, L"Выход");
  DestroyMenu(menu);
}

TEST_F(Win32TrayTest, CommandsChangeOptionsAndMarks) {
  ASSERT_NE(Hwnd(), nullptr);
  // Marked from the options as soon as the menu is loaded.
  EXPECT_TRUE(WinSysTray::MenuItemChecked(IDM_BLOCKBANNERS));
  EXPECT_TRUE(WinSysTray::MenuItemChecked(IDM_GRAPHMEDIUM));
  EXPECT_FALSE(WinSysTray::MenuItemChecked(IDM_BLOCKFLASH));

  Command(IDM_BLOCKFLASH);
  EXPECT_TRUE(GetProgramOptions().bBlockFlash);
  EXPECT_TRUE(WinSysTray::MenuItemChecked(IDM_BLOCKFLASH));
  Command(IDM_GRAPHHIGH);
  EXPECT_EQ(GetProgramOptions().iJpegLvl, 2);
  EXPECT_TRUE(WinSysTray::MenuItemChecked(IDM_GRAPHHIGH));
  EXPECT_FALSE(WinSysTray::MenuItemChecked(IDM_GRAPHMEDIUM));
  EXPECT_TRUE(std::filesystem::exists(kOptionsFileName));
}

TEST_F(Win32TrayTest, ExitCommandEndsTheProcessWithStatusZero) {
  ASSERT_NE(Hwnd(), nullptr);
  EXPECT_EXIT(Command(IDM_EXITPROGRAM), ::testing::ExitedWithCode(0), "");
}

}  // namespace
