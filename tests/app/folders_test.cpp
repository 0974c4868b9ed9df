// Folder expansion order and robustness.
#include "app/folders.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

namespace tessaly {
namespace {

namespace fs = std::filesystem;

class FoldersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("tessaly-folders-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "sub");
  }
  void TearDown() override { fs::remove_all(root_); }
  void Touch(const fs::path& p) { std::ofstream(root_ / p) << "x"; }
  fs::path root_;
};

TEST_F(FoldersTest, BmpGroupThenPngGroupEachSortedIgnoringCase) {
  for (const char* name : {"b.PNG", "a.png", "Z.bmp", "y.BMP", "c.txt", ".hidden.bmp", "sub/s.bmp"})
    Touch(name);
  const auto list = ListFolderPictures(root_);
  std::vector<std::string> names;
  for (const auto& p : list) {
    EXPECT_EQ(p.parent_path(), root_);
    names.push_back(p.filename().string());
  }
  EXPECT_EQ(names, (std::vector<std::string>{".hidden.bmp", "y.BMP", "Z.bmp", "a.png", "b.PNG"}));
}

TEST_F(FoldersTest, ExpandNamesKeepsOrderAndReportsUnreadableFolders) {
  Touch("one.bmp");
  const fs::path file = root_ / "single.png";
  Touch("single.png");
  const auto out = ExpandNames({root_, file, root_ / "missing-folder"});
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[0].path.filename(), "one.bmp");
  EXPECT_EQ(out[1].path.filename(), "single.png");
  EXPECT_EQ(out[2].path, file);
  EXPECT_EQ(out[3].path, root_ / "missing-folder");  // not a folder: a file name that will fail
  EXPECT_TRUE(IsFolder(root_));
  EXPECT_FALSE(IsFolder(file));
  EXPECT_FALSE(IsFolder(root_ / "nothing"));
}

}  // namespace
}  // namespace tessaly
