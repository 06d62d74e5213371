#include "cas/store.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <optional>

#include <gtest/gtest.h>

#include "crypto/sha256.h"
#include "support/run.h"

namespace tovrel::cas {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

const std::string kDigest = "abcdef0123456789abcdef0123456789abcdef0123456789abcdef0123456789";

std::vector<std::string> files_under(const std::string& root) {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_directory()) out.push_back(e.path().lexically_relative(root).string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

// The content address of the store.
TEST(Store, DigestsOfKnownBytes) {
  EXPECT_EQ(crypto::sha256_hex(""),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(crypto::sha256_hex("abc"),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
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
  for (const char* d :
       {"new", "new/root", "new/root/objects", "new/root/objects/ab", "new/root/objects/ab/cd"}) {
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

// Both forms of the temporary file: unnamed where the file system allows it, and the named
// form that serves where it does not.
struct Form {
  const char* name;
  base::Status (*write)(const std::string& path, std::string_view bytes);
};
const Form kForms[] = {
    {"unnamed",
     [](const std::string& path, std::string_view bytes) { return atomic_write(path, bytes); }},
    {"named",
     [](const std::string& path, std::string_view bytes) -> base::Status {
       auto file = TemporaryFile::create_named(temporary_path(path, ::getpid()));
       if (!file) return std::move(file).take_error();
       if (auto written = file->write(bytes); !written) return written;
       return file->publish(path, Publish::kReplacing);
     }},
};

// What stands at the temporary name is never followed nor replaced: a symbolic link planted by
// anyone who can write the folder, or the file of another writer with the same process id (in
// another PID namespace).
TEST(Store, PlantedEntryAtTemporaryNameIsLeftAlone) {
  for (const Form& form : kForms) {
    for (const bool link : {true, false}) {
      SCOPED_TRACE(std::string(form.name) + (link ? ", planted link" : ", planted file"));
      TempDir dir;
      const std::string path = object_path(dir / "store", kBlobsDir, kDigest, "");
      const std::string tmp = temporary_path(path, ::getpid());
      fs::create_directories(fs::path(path).parent_path());
      test::write_file(dir / "victim", "mine");
      if (link) {
        fs::create_symlink(dir / "victim", tmp);
      } else {
        test::write_file(tmp, "theirs");
      }
      ASSERT_TRUE(form.write(path, "item").ok());
      EXPECT_EQ(test::read_file(dir / "victim"), "mine");
      EXPECT_EQ(test::read_file(tmp), link ? "mine" : "theirs");
      EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(path)));
      EXPECT_EQ(test::read_file(path), "item");
      EXPECT_EQ(
          files_under(dir / "store"),
          (std::vector<std::string>{"blobs/ab/cd/" + kDigest, "blobs/ab/cd/" + kDigest + ".tmp." +
                                                                  std::to_string(::getpid())}));
    }
  }
}

TEST(Store, WriteFailureRemovesTemporary) {
  for (const Form& form : kForms) {
    SCOPED_TRACE(form.name);
    TempDir dir;
    const std::string path = object_path(dir.path(), kBlobsDir, kDigest, "");
    fs::create_directories(fs::path(path).parent_path());
    // Files may not grow beyond one byte: the write fails part-way.
    const auto old_handler = ::signal(SIGXFSZ, SIG_IGN);
    rlimit old;
    ::getrlimit(RLIMIT_FSIZE, &old);
    const rlimit one_byte{1, old.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &one_byte);
    const auto r = form.write(path, "xy");
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, old_handler);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error(), "write: File too large (os error 27)");
    EXPECT_EQ(files_under(dir.path()), std::vector<std::string>{});
  }
}

// Only a regular file standing at the path itself is torn when its size is not the content's:
// a link is left alone whatever it leads to, and a dangling one is no item at all.
TEST(Store, PresenceOfWhatStandsAtThePath) {
  TempDir dir;
  test::write_file(dir / "file", "abc");
  fs::create_directory(dir / "dir");
  fs::create_symlink(dir / "file", dir / "link");
  fs::create_symlink(dir / "dir", dir / "link to dir");
  fs::create_symlink(dir / "none", dir / "dangling");
  const struct {
    const char* name;
    std::uint64_t size;
    Presence presence;
  } cases[] = {
      {"none", 3, Presence::kAbsent},         {"dangling", 3, Presence::kAbsent},
      {"file", 3, Presence::kPresent},        {"file", 4, Presence::kTorn},
      {"file", 0, Presence::kTorn},           {"link", 3, Presence::kPresent},
      {"link", 2, Presence::kPresent},        {"dir", 3, Presence::kPresent},
      {"link to dir", 3, Presence::kPresent},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(presence(dir / c.name, c.size), c.presence) << c.name << " " << c.size;
  }
}

// Linking an unnamed file never replaces: what appeared at the name while the file was written
// stays if it counts as present, and is replaced otherwise.
TEST(Store, PublishingIfAbsentKeepsWhatIsPresent) {
  const struct {
    const char* appeared;
    std::function<void(const std::string&)> plant;
    std::string final_content;
  } cases[] = {
      {"same-size file", [](const std::string& p) { test::write_file(p, "othr"); }, "othr"},
      {"torn file", [](const std::string& p) { test::write_file(p, "it"); }, "item"},
      {"dangling link", [](const std::string& p) { fs::create_symlink(p + ".none", p); }, "item"},
      {"nothing", [](const std::string&) {}, "item"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.appeared);
    TempDir dir;
    const std::string path = dir / "item";
    auto file = TemporaryFile::create(dir.path(), dir / "item.tmp");
    ASSERT_TRUE(file.ok());
    ASSERT_TRUE(file->write("item").ok());
    c.plant(path);
    ASSERT_TRUE(file->publish(path, Publish::kIfAbsent).ok());
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(path)));
    EXPECT_EQ(test::read_file(path), c.final_content);
    EXPECT_EQ(files_under(dir.path()), std::vector<std::string>{"item"});
  }
  TempDir dir;
  auto file = TemporaryFile::create(dir.path(), dir / "item.tmp");
  ASSERT_TRUE(file.ok() && file->write("item").ok());
  fs::create_directory(dir / "item");
  EXPECT_TRUE(file->publish(dir / "item", Publish::kIfAbsent).ok());
  EXPECT_TRUE(fs::is_directory(dir / "item"));
}

// Only a regular file is an item that can be read; opening anything else never blocks (a FIFO
// without a writer would block a plain open forever).
TEST(Store, OpenItemReadsOnlyRegularFiles) {
  TempDir dir;
  test::write_file(dir / "file", "abc");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  fs::create_directory(dir / "dir");
  fs::create_symlink(dir / "file", dir / "link");
  fs::create_symlink("/dev/null", dir / "device");
  const struct {
    const char* name;
    bool readable;
  } cases[] = {{"file", true}, {"link", true},    {"fifo", false},
               {"dir", false}, {"device", false}, {"none", false}};
  for (const auto& c : cases) EXPECT_EQ(open_item(dir / c.name).valid(), c.readable) << c.name;
}

// Permissions do not bind root, so where the tests run as root the write runs in a child as
// another user.
TEST(Store, ReadOnlyDirectoryFailsAtTmpfile) {
  TempDir dir;
  ::chmod(dir.path().c_str(), 0755);
  const std::string path = object_path(dir.path(), kBlobsDir, kDigest, "");
  fs::create_directories(fs::path(path).parent_path());
  ::chmod(fs::path(path).parent_path().c_str(), 0555);
  const std::optional<unsigned> user = test::other_user();
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::close(fds[0]);
    if (user && (::setgid(*user) != 0 || ::setuid(*user) != 0)) ::_exit(2);
    const auto r = atomic_write(path, "x");
    const std::string text = r.ok() ? "ok" : r.error();
    const bool sent =
        ::write(fds[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::_exit(sent ? 0 : 3);
  }
  ::close(fds[1]);
  std::string text;
  char buf[256];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;)
    text.append(buf, static_cast<size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ::chmod(fs::path(path).parent_path().c_str(), 0755);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(text, "tmpfile: Permission denied (os error 13)");
  EXPECT_EQ(files_under(dir.path()), std::vector<std::string>{});
}

}  // namespace
}  // namespace tovrel::cas
