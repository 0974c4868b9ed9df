// What the end-to-end tests of tessaly-cli share: a scratch folder of their own, frames saved
// into it, and the tool run as a child process from inside it.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/files.h"
#include "framegen/framegen.h"
#include "picture_files/png_io.h"
#include "support/bmp_writer.h"
#include "support/child_process.h"

namespace tessaly::test {

class CliFolderTest : public ::testing::Test {
 protected:
  explicit CliFolderTest(std::string prefix) : prefix_(std::move(prefix)) {}

  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           (prefix_ + std::to_string(::getpid()) + "-" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // The frame under `name` (relative to the folder, which is made), as PNG or BMP by extension.
  void SaveFrame(const std::filesystem::path& name, const framegen::Frame& frame) {
    const Bitmap bitmap = framegen::ToBitmap(frame);
    std::filesystem::create_directories((dir_ / name).parent_path());
    if (name.extension() == ".png") {
      SaveBitmapAsPNG(bitmap, dir_ / name, "", "", "", "");
    } else {
      WriteFileReplacing(dir_ / name, EncodeBmp(bitmap));
    }
  }

  ChildResult Cli(const std::vector<std::string>& args, const std::string& input = {}) {
    ChildOptions options;
    options.input = input;
    options.working_dir = dir_.string();
    return RunChild(TESSALY_CLI_PATH, args, options);
  }

  std::filesystem::path dir_;

 private:
  std::string prefix_;
};

}  // namespace tessaly::test
