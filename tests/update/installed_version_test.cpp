// File times converted to and from FILETIME, the index of installed versions that
// stands in for the version resources of program files, and the record of the folders
// that downloads write their bodies in.
#include <gtest/gtest.h>
#include <sys/file.h>

#include <filesystem>

#include "base/unique_file.h"
#include "manifest_fixture.h"
#include "update/download_folders.h"
#include "update/file_time.h"
#include "update/release_journal.h"
#include "update/update_file.h"
#include "update/version_index.h"

namespace update_test {
namespace {

TEST(FileTimeTest, KnownInstantsConvertExactlyBothWays) {
  struct Known {
    time_t seconds;
    long nanoseconds;
    std::uint64_t ticks;
  };
  const Known known[] = {
      {0, 0, 116444736000000000ull},                   // 1970-01-01 00:00:00 UTC
      {946684800, 0, 125911584000000000ull},           // 2000-01-01 00:00:00 UTC
      {1700000000, 123456700, 133444736001234567ull},  // 2023-11-14 22:13:20.1234567
      {-11644473600, 0, 0},                            // 1601-01-01 00:00:00 UTC
      {-1, 999999900, 116444735999999999ull},          // a tick before 1970
  };
  for (const Known& k : known) {
    const update::FileTime time = update::ToFileTime({k.seconds, k.nanoseconds});
    EXPECT_EQ(time.Ticks(), k.ticks) << k.seconds;
    EXPECT_EQ(time.low, static_cast<std::uint32_t>(k.ticks));
    EXPECT_EQ(time.high, static_cast<std::uint32_t>(k.ticks >> 32));
    const struct timespec back = update::FromFileTime(time);
    EXPECT_EQ(back.tv_sec, k.seconds);
    EXPECT_EQ(back.tv_nsec, k.nanoseconds);
  }
  // Nanoseconds below a tick are dropped; times before 1601 give 0.
  EXPECT_EQ(update::ToFileTime({0, 199}).Ticks(), 116444736000000001ull);
  EXPECT_EQ(update::ToFileTime({-11644473601, 0}).Ticks(), 0u);
  // The largest FILETIME lies in the year 60056.
  const struct timespec last = update::FromFileTime(update::FileTime{0xFFFFFFFFu, 0xFFFFFFFFu});
  EXPECT_EQ(update::ToFileTime(last).Ticks(), UINT64_MAX);
}

TEST_F(ManifestTest, ScanReadsTheFileTimeAndTheRecordedVersion) {
  dir_.Write("prog/tool.exe", "0123456789");
  SetTime(dir_ / "prog/tool.exe", 946684800, 300);
  update::CUpdateFile unversioned(dir_ / "prog/tool.exe", folders_.version_index);
  ASSERT_TRUE(unversioned.Scan());
  EXPECT_EQ(unversioned.length(), 10u);
  EXPECT_EQ(unversioned.file_name(), "tool.exe");
  EXPECT_EQ(unversioned.file_time().Ticks(), 125911584000000003ull);
  EXPECT_EQ(unversioned.file_version(), "");
  EXPECT_EQ(unversioned.fixed_file_info().signature, 0u);

  update::CUpdateFiles files(folders_);
  ASSERT_TRUE(files.RecordInstalledVersion(dir_ / "prog/tool.exe", "2.1.65535.7"));
  update::CUpdateFile versioned(dir_ / "prog/tool.exe", folders_.version_index);
  ASSERT_TRUE(versioned.Scan());
  EXPECT_EQ(versioned.file_version(), "2.1.65535.7");
  EXPECT_EQ(versioned.product_version(), "2.1.65535.7");
  const update::FixedFileInfo& info = versioned.fixed_file_info();
  EXPECT_EQ(info.signature, 0xFEEF04BDu);
  EXPECT_EQ(info.file_version_ms, 0x00020001u);
  EXPECT_EQ(info.file_version_ls, 0xFFFF0007u);
  EXPECT_EQ(info.product_version_ls, 0xFFFF0007u);
  // A version that is not four numbers is still the version text.
  ASSERT_TRUE(files.RecordInstalledVersion(dir_ / "prog/tool.exe", "1.0 beta"));
  update::CUpdateFile beta(dir_ / "prog/tool.exe", folders_.version_index);
  ASSERT_TRUE(beta.Scan());
  EXPECT_EQ(beta.file_version(), "1.0 beta");
  EXPECT_EQ(beta.fixed_file_info().signature, 0u);
}

TEST_F(ManifestTest, VersionIndexRecordsReplacesAndRemoves) {
  const update::VersionIndex index(folders_.version_index);
  std::string version;
  EXPECT_FALSE(index.Lookup("/a", &version));
  ASSERT_TRUE(index.Record("/a", "1.0.0.1"));
  ASSERT_TRUE(index.Record(Gb("/程序/b"), "2"));
  ASSERT_TRUE(index.Record("/a", "1.0.0.2"));
  ASSERT_TRUE(index.Lookup("/a", &version));
  EXPECT_EQ(version, "1.0.0.2");
  ASSERT_TRUE(index.Lookup(Gb("/程序/b"), &version));
  EXPECT_EQ(version, "2");
  EXPECT_FALSE(index.Lookup("/A", &version));  // paths are compared as they stand
  ASSERT_TRUE(index.Record("/a", ""));
  EXPECT_FALSE(index.Lookup("/a", &version));
  EXPECT_EQ(dir_.Read("data/vellari/installed-versions.txt"), "2\t" + Gb("/程序/b") + "\n");
  // Texts that would break the index's lines are refused and change nothing.
  EXPECT_FALSE(index.Record("/c\n1\t/d", "1"));
  EXPECT_FALSE(index.Record("/c", "1\t/d"));
  EXPECT_FALSE(index.Record("", "1"));
  EXPECT_EQ(dir_.Read("data/vellari/installed-versions.txt"), "2\t" + Gb("/程序/b") + "\n");
}

// A release whose renames a kill interrupted: the journal lists three, the first made
// already (its body is gone, the new file in place), two not yet. Completing it makes
// the other two, records the three versions and the release's number at once and
// removes the journal.
TEST_F(ManifestTest, AnInterruptedReleaseIsCompletedFromItsJournal) {
  dir_.Write("prog/a", "old a");
  dir_.Write("prog/b", "old b");
  dir_.Write("prog/.a.update.Aa1234", "new a");
  dir_.Write("prog/.b.update.Bb1234", "new b");
  dir_.Write("prog/.c.update.Cc1234", "new c");
  const std::string prog = dir_ / "prog";
  const std::string installed = dir_ / "data/vellari/installed-release.txt";
  const update::ReleaseJournal journal(dir_ / "data/vellari/release-journal.txt",
                                       folders_.version_index, installed);
  dir_.MakeDir("data/vellari");
  dir_.Write("data/vellari/installed-release.txt", "6\n");
  ASSERT_TRUE(journal.Write({{"2", prog + "/.a.update.Aa1234", prog + "/a"},
                             {"2", prog + "/.b.update.Bb1234", prog + "/b"},
                             {"", prog + "/.c.update.Cc1234", prog + "/c"}},
                            7));
  ASSERT_EQ(std::rename((prog + "/.a.update.Aa1234").c_str(), (prog + "/a").c_str()), 0);
  ASSERT_TRUE(journal.Complete());
  EXPECT_EQ(dir_.Read("prog/a"), "new a");
  EXPECT_EQ(dir_.Read("prog/b"), "new b");
  EXPECT_EQ(dir_.Read("prog/c"), "new c");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "data/vellari/release-journal.txt"));
  std::string version;
  ASSERT_TRUE(update::VersionIndex(folders_.version_index).Lookup(prog + "/b", &version));
  EXPECT_EQ(version, "2");
  EXPECT_FALSE(update::VersionIndex(folders_.version_index).Lookup(prog + "/c", &version));
  EXPECT_EQ(dir_.Read("data/vellari/installed-release.txt"), "7\n");
  // Nothing left to do: no journal.
  EXPECT_TRUE(journal.Complete().IsNotFound());

  // A number recorded meanwhile is never lowered; one that cannot be recorded keeps
  // the journal for the next start.
  dir_.Write("prog/.d.update.Dd5678", "next d");
  ASSERT_TRUE(journal.Write({{"3", prog + "/.d.update.Dd5678", prog + "/d"}}, 5));
  EXPECT_TRUE(journal.Complete());
  EXPECT_EQ(dir_.Read("data/vellari/installed-release.txt"), "7\n");
  dir_.Write("prog/.d.update.Dd9012", "last d");
  ASSERT_TRUE(journal.Write({{"4", prog + "/.d.update.Dd9012", prog + "/d"}}, 8));
  std::filesystem::remove(installed);
  std::filesystem::create_directory(installed);
  EXPECT_FALSE(journal.Complete());
  EXPECT_EQ(dir_.Read("prog/d"), "last d");
  std::filesystem::remove(installed);
  EXPECT_TRUE(journal.Complete());
  EXPECT_EQ(dir_.Read("data/vellari/installed-release.txt"), "8\n");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "data/vellari/release-journal.txt"));

  // A journal cut short, or one whose steps would move other files than a body over
  // its own target, moves nothing and goes.
  dir_.Write("prog/.a.update.Zz9999", "newer a");
  dir_.Write("data/vellari/release-journal.txt", std::string(update::ReleaseJournal::kHeader) +
                                                     "\n1\t" + prog + "/.a.update.Zz9999\t" + prog +
                                                     "/a\n");
  EXPECT_FALSE(journal.Complete());
  dir_.Write("data/vellari/release-journal.txt", std::string(update::ReleaseJournal::kHeader) +
                                                     "\n1\t" + prog + "/.a.update.Zz9999\t" + prog +
                                                     "/b\nend\n");
  EXPECT_FALSE(journal.Complete());
  EXPECT_EQ(dir_.Read("prog/a"), "new a");
  EXPECT_EQ(dir_.Read("prog/b"), "new b");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "data/vellari/release-journal.txt"));
  EXPECT_FALSE(journal.Write({{"1", prog + "/../x/.a.update.Zz9999", prog + "/a"}}));
}

TEST_F(ManifestTest, HostileVersionIndexIsReadSafely) {
  const update::VersionIndex index(folders_.version_index);
  std::string version;
  // Malformed lines are passed over, and dropped at the next write.
  dir_.Write("data/vellari/installed-versions.txt",
             "no tab here\n\t/empty-version\n1\t\n3\t/ok\n4\t/x\x01y\n5\t/cut-off");
  ASSERT_TRUE(index.Lookup("/ok", &version));
  EXPECT_EQ(version, "3");
  EXPECT_FALSE(index.Lookup("/cut-off", &version));
  EXPECT_FALSE(index.Lookup("", &version));
  ASSERT_TRUE(index.Record("/new", "6"));
  EXPECT_EQ(dir_.Read("data/vellari/installed-versions.txt"), "6\t/new\n3\t/ok\n");

  // An index that is a folder, a FIFO or too large is neither read nor replaced.
  TempDir other;
  other.MakeDir("folder");
  const update::VersionIndex folder(other / "folder");
  EXPECT_FALSE(folder.Lookup("/ok", &version));
  EXPECT_FALSE(folder.Record("/ok", "1"));
  ASSERT_EQ(mkfifo((other / "fifo").c_str(), 0600), 0);
  const update::VersionIndex fifo(other / "fifo");
  EXPECT_FALSE(fifo.Lookup("/ok", &version));
  EXPECT_FALSE(fifo.Record("/ok", "1"));
  other.Write("huge", "1\t/ok\n" + std::string(update::VersionIndex::kMaxFileBytes, 'x'));
  const update::VersionIndex huge(other / "huge");
  EXPECT_FALSE(huge.Lookup("/ok", &version));
  EXPECT_FALSE(huge.Record("/ok", "1"));
  EXPECT_EQ(other.Read("huge").size(), update::VersionIndex::kMaxFileBytes + 6);
}

TEST_F(ManifestTest, BodiesThatAKillLeftGoFromTheFoldersRecordedForDownloads) {
  const std::string path = dir_ / "data/vellari/download-folders.txt";
  const update::DownloadFolders record(path);
  EXPECT_EQ(record.RemoveStaleBodies(), 0);  // nothing recorded yet
  EXPECT_FALSE(std::filesystem::exists(path));
  dir_.MakeDir("a");
  dir_.MakeDir("b");
  for (const char* folder : {"a", "b", "a", "gone"})
    EXPECT_TRUE(record.Remember(dir_ / folder).ok()) << folder;
  EXPECT_FALSE(record.Remember("relative/folder").ok());
  EXPECT_FALSE(record.Remember(dir_ / "line\nbreak").ok());
  EXPECT_EQ(dir_.Read("data/vellari/download-folders.txt"),
            dir_ / "a\n" + dir_ / "b\n" + dir_ / "gone\n");

  // Bodies left by a process that has ended go; a body that its writer still holds
  // locked, one written since this process started and files that are no bodies stay.
  const long kPast = 1000000000;
  for (const char* stale : {"a/.f.bin.update.AbC123", "b/.k.update.Qwe456"}) {
    dir_.Write(stale, "stale");
    SetTime(dir_ / stale, kPast);
  }
  const char* kept[] = {"a/.g.bin.update.XyZ789", "a/.h.bin.update.Fresh1", "a/.f.bin.AbC123",
                        "a/f.bin.update"};
  for (const char* name : kept) dir_.Write(name, "kept");
  for (const char* name : {kept[0], kept[2], kept[3]}) SetTime(dir_ / name, kPast);
  base::UniqueFd writer(open((dir_ / kept[0]).c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_EQ(flock(writer.get(), LOCK_EX), 0);
  EXPECT_EQ(record.RemoveStaleBodies(), 2);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "a/.f.bin.update.AbC123"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "b/.k.update.Qwe456"));
  for (const char* name : kept) EXPECT_TRUE(std::filesystem::exists(dir_ / name)) << name;
  // A folder that is gone is forgotten; the others stay recorded.
  EXPECT_EQ(dir_.Read("data/vellari/download-folders.txt"), dir_ / "a\n" + dir_ / "b\n");

  // A line that a kill left unfinished is ended before the next one is added.
  {
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "/cut", 4), 4);
    close(fd);
  }
  ASSERT_TRUE(record.Remember(dir_ / "c").ok());
  EXPECT_EQ(dir_.Read("data/vellari/download-folders.txt"),
            dir_ / "a\n" + dir_ / "b\n/cut\n" + dir_ / "c\n");
  // A record that is no regular file is neither read nor written.
  TempDir other;
  ASSERT_EQ(mkfifo((other / "fifo").c_str(), 0600), 0);
  EXPECT_FALSE(update::DownloadFolders(other / "fifo").Remember(dir_ / "a").ok());
  EXPECT_EQ(update::DownloadFolders(other / "fifo").RemoveStaleBodies(), 0);
}

}  // namespace
}  // namespace update_test
