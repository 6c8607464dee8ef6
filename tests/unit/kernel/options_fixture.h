// A fresh temporary working directory and a default options record for each
// test, since the options file is opened by its bare name.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "kernel/options.h"

class OptionsDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    oldDir_ = std::filesystem::current_path();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::temp_directory_path() /
           (std::string("nb-options-") + info->test_suite_name() + "-" + info->name() + "-" +
            std::to_string(std::random_device()()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    std::filesystem::current_path(dir_);
    SetProgramOptions(Program_Options());
  }
  void TearDown() override {
    std::filesystem::current_path(oldDir_);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    SetProgramOptions(Program_Options());
  }

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
  std::filesystem::path dir_;

 private:
  std::filesystem::path oldDir_;
};
