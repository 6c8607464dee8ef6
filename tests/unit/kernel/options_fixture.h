// A fresh temporary working directory and a default options record for each
// test, since the options file is opened by its bare name.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "kernel/options.h"
#include "test_support.h"

class OptionsDirTest : public ::testing::Test {
 protected:
  void SetUp() override { SetProgramOptions(Program_Options()); }
  void TearDown() override { SetProgramOptions(Program_Options()); }

 public:
  static void WriteIni(const std::string& bytes) {
    std::ofstream f(kOptionsFileName, std::ios::binary | std::ios::trunc);
    f << bytes;
  }
  static std::string ReadIni() {
    std::ifstream f(kOptionsFileName, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }
  static bool IniExists() { return std::filesystem::exists(kOptionsFileName); }

 protected:
  nbtest::WorkDir work_;
  const std::filesystem::path dir_ = work_.path();
};
