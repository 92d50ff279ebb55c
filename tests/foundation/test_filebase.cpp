#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "foundation/kovra_filebase.h"
#include "support/unprivileged.h"

using namespace kovra;
namespace fs = std::filesystem;

namespace {

std::string Cwd() { return fs::current_path().string() + "/"; }

class FileBaseTest : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("kovra_filebase_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, ec);
    fs::remove_all(dir_, ec);
  }
  fs::path dir_;
};

std::string CheckMessage(const TFileBase& f) {
  try {
    f.CheckDirectory();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "";
}

}  // namespace

TEST_F(FileBaseTest, DirectoryDelimiterOpenFlagAndEmptyName) {
  TFileBase f;
  EXPECT_EQ(f.Directory(), Cwd());
  EXPECT_EQ(f.EncryptionKey(), 0);
  EXPECT_FALSE(f.IsOpen());
  EXPECT_FALSE(f.Cancelled());

  struct Case {
    std::string set;
    std::string expected;
  };
  const Case cases[] = {
      {dir_.string(), dir_.string() + "/"},
      {dir_.string() + "/", dir_.string() + "/"},
      {"relative/sub", "relative/sub/"},
      {"", Cwd()},  // not "/": an empty name is the current directory
  };
  for (const Case& c : cases) {
    f.SetDirectory(c.set);
    EXPECT_EQ(f.Directory(), c.expected) << "'" << c.set << "'";
  }

  f.SetDirectory(dir_.string());
  f.SetIsOpen(true);
  f.SetDirectory("/somewhere/else");
  EXPECT_EQ(f.Directory(), dir_.string() + "/") << "no change while open";
  f.SetIsOpen(false);
  f.SetDirectory("/somewhere/else");
  EXPECT_EQ(f.Directory(), "/somewhere/else/");

  f.SetEncryptionKey(-(int64_t(1) << 40));
  EXPECT_EQ(f.EncryptionKey(), -(int64_t(1) << 40));
}

TEST_F(FileBaseTest, CheckDirectory) {
  TFileBase f;
  f.SetDirectory(dir_.string());
  EXPECT_EQ(CheckMessage(f), "");
  EXPECT_TRUE(fs::is_empty(dir_)) << "the probe leaves nothing behind";

  f.SetDirectory((dir_ / "missing").string());
  EXPECT_EQ(CheckMessage(f), "Output directory does not exist");

  std::FILE* file = std::fopen((dir_ / "plain.txt").c_str(), "w");
  ASSERT_NE(file, nullptr);
  std::fclose(file);
  f.SetDirectory((dir_ / "plain.txt").string());
  EXPECT_EQ(CheckMessage(f), "Output directory does not exist") << "a file is no directory";

  fs::create_directory(dir_ / "target");
  fs::create_directory_symlink(dir_ / "target", dir_ / "link");
  f.SetDirectory((dir_ / "link").string());
  EXPECT_EQ(CheckMessage(f), "") << "a link to a directory counts";
}

TEST_F(FileBaseTest, CheckDirectoryReadOnly) {
  if (const std::string why = testsupport::UnprivilegedSkipReason(); !why.empty()) GTEST_SKIP() << why;
  const fs::path ro = dir_ / "ro";
  fs::create_directory(ro);
  fs::permissions(ro, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                          fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  EXPECT_EQ(testsupport::AsUnprivileged(ro,
                                        [&] {
                                          TFileBase f;
                                          f.SetDirectory(ro.string());
                                          return CheckMessage(f);
                                        }),
            "Output directory is not writeable");
  EXPECT_TRUE(fs::is_empty(ro));
}
