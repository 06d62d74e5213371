#include "cas/store.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "support/run.h"

namespace tovrel::cas {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

const std::string kDigest = "abcdef0123456789abcdef0123456789abcdef0123456789abcdef0123456789";

std::vector<std::string> files_under(const std::string& root) {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_directory()) out.push_back(fs::relative(e.path(), root).string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

TEST(Store, DigestsOfKnownBytes) {
  EXPECT_EQ(sha256_hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(sha256_hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Store, ObjectPathJoining) {
  const std::string tail = "ab/cd/" + kDigest;
  const struct {
    std::string root, dir, ext, path;
  } cases[] = {
      {"store", "objects", ".json", "store/objects/" + tail + ".json"},
      {"store/", "objects", ".json", "store/objects/" + tail + ".json"},
      {"/", "blobs", "", "/blobs/" + tail},
      {"", "objects", ".json", "objects/" + tail + ".json"},
      {"a//b//", "blobs", "", "a//b//blobs/" + tail},
      {"./x/../y", "blobs", "", "./x/../y/blobs/" + tail},
  };
  for (const auto& c : cases) EXPECT_EQ(object_path(c.root, c.dir, kDigest, c.ext), c.path);
}

TEST(Store, TemporaryName) {
  EXPECT_EQ(temporary_path("r/objects/ab/cd/" + kDigest + ".json", 42),
            "r/objects/ab/cd/" + kDigest + ".tmp.42");
  EXPECT_EQ(temporary_path("r/blobs/ab/cd/" + kDigest, 7), "r/blobs/ab/cd/" + kDigest + ".tmp.7");
  EXPECT_EQ(temporary_path("x.y/name", 1), "x.y/name.tmp.1");
}

TEST(Store, WritesWithModesAndLeavesNoTemporary) {
  TempDir dir;
  const mode_t old = ::umask(022);
  const std::string path = object_path(dir / "new/root", kObjectsDir, kDigest, kObjectExtension);
  ASSERT_TRUE(atomic_write(path, "{}").ok());
  ::umask(old);
  EXPECT_EQ(test::read_file(path), "{}");
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  for (const char* d : {"new", "new/root", "new/root/objects", "new/root/objects/ab",
                        "new/root/objects/ab/cd"}) {
    ASSERT_EQ(::stat((dir / d).c_str(), &st), 0) << d;
    EXPECT_EQ(st.st_mode & 0777, 0755u) << d;
  }
  EXPECT_EQ(files_under(dir.path()),
            std::vector<std::string>{"new/root/objects/ab/cd/" + kDigest + ".json"});
  // Rewriting replaces in one step; an empty item is a file of no bytes.
  ASSERT_TRUE(atomic_write(path, "").ok());
  EXPECT_EQ(test::read_file(path), "");
}

TEST(Store, DirectoriesThroughSymlinksAreAccepted) {
  TempDir dir;
  fs::create_directory(dir / "real");
  fs::create_directory_symlink(dir / "real", dir / "link");
  ASSERT_TRUE(atomic_write(object_path(dir / "link", kBlobsDir, kDigest, ""), "x").ok());
  EXPECT_EQ(test::read_file(dir / ("real/blobs/ab/cd/" + kDigest)), "x");
}

TEST(Store, FileInPlaceOfDirectory) {
  TempDir dir;
  test::write_file(dir / "objects", "");
  const auto above = atomic_write(object_path(dir.path(), kObjectsDir, kDigest, ".json"), "{}");
  ASSERT_FALSE(above.ok());
  EXPECT_EQ(above.error(), "mkdir: Not a directory (os error 20)");
  fs::create_directories(dir / "blobs/ab");
  test::write_file(dir / "blobs/ab/cd", "");
  const auto at = atomic_write(object_path(dir.path(), kBlobsDir, kDigest, ""), "x");
  ASSERT_FALSE(at.ok());
  EXPECT_EQ(at.error(), "mkdir: File exists (os error 17)");
  EXPECT_EQ(files_under(dir.path()), (std::vector<std::string>{"blobs/ab/cd", "objects"}));
}

TEST(Store, RenameOntoDirectoryFailsAndRemovesTemporary) {
  TempDir dir;
  const std::string path = object_path(dir.path(), kBlobsDir, kDigest, "");
  fs::create_directories(path + "/inside");
  const auto r = atomic_write(path, "x");
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error(), "rename: Is a directory (os error 21)");
  EXPECT_EQ(files_under(dir.path()), std::vector<std::string>{});
}

TEST(Store, WriteFailureRemovesTemporary) {
  if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  TempDir dir;
  // The temporary name of this path is a symbolic link to a device that is always full.
  const std::string path = object_path(dir.path(), kBlobsDir, kDigest, "");
  fs::create_directories(fs::path(path).parent_path());
  fs::create_symlink("/dev/full", temporary_path(path, ::getpid()));
  const auto r = atomic_write(path, "x");
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error(), "write: No space left on device (os error 28)");
  EXPECT_EQ(files_under(dir.path()), std::vector<std::string>{});
}

TEST(Store, ReadOnlyDirectoryFailsAtTmpfile) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  TempDir dir;
  const std::string path = object_path(dir.path(), kBlobsDir, kDigest, "");
  fs::create_directories(fs::path(path).parent_path());
  ::chmod(fs::path(path).parent_path().c_str(), 0555);
  const auto r = atomic_write(path, "x");
  ::chmod(fs::path(path).parent_path().c_str(), 0755);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error(), "tmpfile: Permission denied (os error 13)");
  EXPECT_EQ(files_under(dir.path()), std::vector<std::string>{});
}

}  // namespace
}  // namespace tovrel::cas
