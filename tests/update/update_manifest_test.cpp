// Reading the update manifest, placing its files by their directory macros, deciding
// what needs updating and writing a manifest of local files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "manifest_fixture.h"
#include "update/file_digest.h"
#include "update/update_files.h"

namespace update_test {
namespace {

using update::CUpdateFile;
using update::CUpdateFiles;

TEST_F(ManifestTest, ReadsEveryFieldTheWayTheReaderTakesIt) {
  CUpdateFiles files(folders_);
  ASSERT_TRUE(LoadText(
      &files,
      Manifest(File(Child("FileName", Gb("书架.exe")) + Child("FileVersion", "1.0.0.2") +
                    Child("ProductVersion", "9.9.9.9") + Child("Length", "1500") +
                    Child("FileDateLow", "4294967295") + Child("FileDateHigh", "30") +
                    Child("InstallDir", "CURRENTDIR") + Child("register", "yes") +
                    Child("ZipFile", "ZIPFILE") + Child("ForceOverwrite", "1") +
                    Child("EXECUTE", "Yes") + Child("ExecutePar", "/quiet &amp; more") +
                    Child("LocalPath", "") + Child("URL", "http://u/old") +
                    Child("URL", "http://u/a.exe") + Child("UserName", "who") +
                    Child("Password", "pw") + Child("Unknown", "ignored")) +
               File(Child("FileName", "b.dat") + Child("Length", "12abc") +
                    Child("FileDateLow", "not a number") + Child("FileDateHigh", "99999999999") +
                    Child("Register", "REGISTER")))));
  ASSERT_EQ(files.GetCount(), 2u);
  std::unique_ptr<CUpdateFile> a = files.PopFront();
  EXPECT_EQ(a->file_name(), Gb("书架.exe"));
  EXPECT_EQ(a->file_version(), "1.0.0.2");
  EXPECT_EQ(a->product_version(), "");  // not read
  EXPECT_EQ(a->length(), 1500u);
  EXPECT_EQ(a->file_time().low, 4294967295u);
  EXPECT_EQ(a->file_time().high, 30u);
  EXPECT_TRUE(a->register_flag());  // "yes" in lower case, name in lower case
  EXPECT_FALSE(a->zip_file());      // the writer's word is not "YES"
  EXPECT_FALSE(a->force_overwrite());
  EXPECT_TRUE(a->execute());
  EXPECT_EQ(a->execute_par(), "/quiet & more");
  EXPECT_EQ(a->url(), "http://u/a.exe");  // a name given twice keeps the later value
  EXPECT_EQ(a->user_name(), "who");
  EXPECT_EQ(a->password(), "pw");
  EXPECT_EQ(a->sha256(), "");
  EXPECT_EQ(a->target_path(), dir_ / "prog/" + Gb("书架.exe"));
  std::unique_ptr<CUpdateFile> b = files.PopFront();
  EXPECT_EQ(b->length(), 12u);
  EXPECT_EQ(b->file_time().low, 0u);
  EXPECT_EQ(b->file_time().high, 4294967295u);
  EXPECT_FALSE(b->register_flag());
  EXPECT_EQ(b->install_dir(), "CURRENTDIR");
  EXPECT_EQ(files.PopFront(), nullptr);
  EXPECT_TRUE(files.GetRefused().empty());
}

TEST_F(ManifestTest, DirectoryMacrosPlaceTheFiles) {
  CUpdateFiles files(folders_);
  ASSERT_TRUE(LoadText(
      &files, Manifest(File(Child("FileName", "1.txt") + Child("InstallDir", "appdatadir")) +
                       File(Child("FileName", "2.txt") + Child("InstallDir", "WindowsDir")) +
                       File(Child("FileName", "3.txt") + Child("InstallDir", "SYSTEMDIR")) +
                       File(Child("FileName", "4.txt") + Child("InstallDir", "")) +
                       File(Child("FileName", "5.txt") + Child("InstallDir", "Elsewhere")) +
                       File(Child("FileName", "6.txt") + Child("InstallDir", "CURRENTDIR") +
                            Child("LocalPath", "a\\b")) +
                       File(Child("FileName", "7.txt") + Child("InstallDir", "APPDATADIR") +
                            Child("LocalPath", "vellari\\public")) +
                       File(Child("FileName", "8.txt") + Child("LocalPath", "c/.\\d\\")))));
  ASSERT_EQ(files.GetCount(), 8u);
  const char* expected[] = {"data/1.txt",
                            "data/vellari/windows/2.txt",
                            "data/vellari/system/3.txt",
                            "prog/4.txt",
                            "prog/5.txt",
                            "prog/a/b/6.txt",
                            "data/vellari/public/7.txt",
                            "prog/c/d/8.txt"};
  for (const char* path : expected) EXPECT_EQ(files.PopFront()->target_path(), dir_ / path);
  // Loading makes no folder: neither a base folder nor one of LocalPath.
  for (const char* folder : {"prog/a", "data/vellari", "prog/c"})
    EXPECT_FALSE(files.IsPathExist(dir_ / folder)) << folder;
  EXPECT_EQ(files.GetLoadError(), update::LoadError::kNone);
  EXPECT_EQ(files.GetLeftToPackages(), 0u);

  // A program folder of the system's packages: what would go into it is theirs, and
  // only the data folder's files are taken (the same manifest, loaded again).
  folders_.program_folder_is_system = true;
  CUpdateFiles packaged(folders_);
  ASSERT_TRUE(packaged.Load(dir_ / "manifest.xml"));
  EXPECT_EQ(packaged.GetLeftToPackages(), 4u);
  ASSERT_EQ(packaged.GetCount(), 4u);
  for (const char* path : {"data/1.txt", "data/vellari/windows/2.txt", "data/vellari/system/3.txt",
                           "data/vellari/public/7.txt"})
    EXPECT_EQ(packaged.PopFront()->target_path(), dir_ / path);
  EXPECT_TRUE(packaged.GetRefused().empty());
}

TEST_F(ManifestTest, FileElementsAreReadAtAnyDepthAndOutsideProduct) {
  CUpdateFiles files(folders_);
  const std::string deep = "<a><b><c><d>" + File(Child("FileName", "deep")) + "</d></c></b></a>";
  ASSERT_TRUE(
      LoadText(&files, "<?xml version=\"1.0\"?><anything>" + File(Child("FileName", "outside")) +
                           "<Product>" + deep +
                           File(Child("FileName", "outer") + File(Child("FileName", "inner"))) +
                           "</Product><file><FileName>lower</FileName></file>"
                           "</anything>"));
  ASSERT_EQ(files.GetCount(), 4u);  // the element name itself is matched with its case
  EXPECT_EQ(files.PopFront()->file_name(), "outside");
  EXPECT_EQ(files.PopFront()->file_name(), "deep");
  EXPECT_EQ(files.PopFront()->file_name(), "outer");
  EXPECT_EQ(files.PopFront()->file_name(), "inner");
  // A manifest without File elements loads and holds nothing.
  EXPECT_TRUE(LoadText(&files, Manifest("")));
  EXPECT_EQ(files.GetCount(), 0u);
}

TEST_F(ManifestTest, Gb2312DeclarationIsHonouredAndGbkOnlyCharactersSurvive) {
  CUpdateFiles files(folders_);
  // 丂 exists in GBK only; 乗 ends in the byte of "\", which must not split its name.
  const std::string name = Gb("丂乗.txt");
  ASSERT_EQ(name.substr(0, 4), "\x81\x40\x81\x5C");
  ASSERT_TRUE(
      LoadText(&files, Manifest(File(Child("FileName", name) + Child("LocalPath", Gb("乗\\子"))))));
  ASSERT_EQ(files.GetCount(), 1u);
  std::unique_ptr<CUpdateFile> entry = files.PopFront();
  EXPECT_EQ(entry->file_name(), name);
  EXPECT_EQ(entry->target_path(), dir_ / "prog/" + Gb("乗/子/丂乗.txt"));
  // The same name in a UTF-8 manifest comes out in the code page too.
  ASSERT_TRUE(LoadText(&files, "<?xml version=\"1.0\" encoding=\"UTF-8\"?><r>" +
                                   File(Child("FileName", "丂乗.txt")) + "</r>"));
  EXPECT_EQ(files.PopFront()->file_name(), name);
}

TEST_F(ManifestTest, VersionTextDecidesWhenTheManifestGivesOne) {
  dir_.Write("prog/a.dll", "a");
  dir_.Write("prog/b.dll", "b");
  dir_.Write("prog/c.dll", "c");
  dir_.Write("prog/d.dll", "d");
  CUpdateFiles files(folders_);
  ASSERT_TRUE(files.RecordInstalledVersion(dir_ / "prog/a.dll", "1.0.0.1"));
  ASSERT_TRUE(files.RecordInstalledVersion(dir_ / "prog/b.dll", "1.0.0.9"));
  ASSERT_TRUE(files.RecordInstalledVersion(dir_ / "prog/c.dll", "1.0.0.b"));
  // d.dll was not installed by the updater: it has no version.
  ASSERT_TRUE(LoadText(
      &files, Manifest(File(Child("FileName", "a.dll") + Child("FileVersion", "1.0.0.2") +
                            Child("Length", "1500")) +
                       File(Child("FileName", "b.dll") + Child("FileVersion", "1.0.0.10")) +
                       File(Child("FileName", "c.dll") + Child("FileVersion", "1.0.0.B")) +
                       File(Child("FileName", "d.dll") + Child("FileVersion", "0.0.0.1") +
                            Child("Length", "2600")) +
                       File(Child("FileName", "missing.dll") + Child("FileVersion", "0")))));
  // 1.0.0.2 > 1.0.0.1: update; "1.0.0.10" sorts before "1.0.0.9": no update; letter
  // case does not count; no local version: update; no local file: update.
  EXPECT_EQ(files.CheckUpdates(), 3u);
  ASSERT_EQ(files.GetCount(), 3u);
  EXPECT_EQ(files.GetTotalLength(), 4100u);
  EXPECT_EQ(files.PopFront()->file_name(), "a.dll");
  EXPECT_EQ(files.PopFront()->file_name(), "d.dll");
  EXPECT_EQ(files.PopFront()->file_name(), "missing.dll");
  EXPECT_EQ(files.PopFront(), nullptr);
  EXPECT_EQ(files.GetTotalLength(), 0u);
}

TEST_F(ManifestTest, DatesDecideWhenTheManifestGivesNoVersion) {
  const time_t local_time = 1700000000;
  for (const char* name : {"older.bin", "same.bin", "newer.bin"}) {
    dir_.Write(std::string("prog/") + name, "x");
    SetTime(dir_ / std::string("prog/") + name, local_time, 500);
  }
  // A version recorded locally plays no part when the manifest gives none.
  CUpdateFiles files(folders_);
  ASSERT_TRUE(files.RecordInstalledVersion(dir_ / "prog/older.bin", "9.9.9.9"));
  const std::uint64_t local =
      (static_cast<std::uint64_t>(local_time) * 10000000) + update::kUnixEpochTicks + 5;
  const auto file_with = [](const char* name, std::uint64_t ticks) {
    return File(Child("FileName", name) +
                Child("FileDateLow", std::to_string(static_cast<std::uint32_t>(ticks))) +
                Child("FileDateHigh", std::to_string(ticks >> 32)) + Child("Length", "7"));
  };
  ASSERT_TRUE(LoadText(
      &files, Manifest(file_with("older.bin", local + 10000000) + file_with("same.bin", local) +
                       file_with("newer.bin", local - 10000000) + file_with("gone.bin", 0))));
  EXPECT_EQ(files.CheckUpdates(), 2u);
  EXPECT_EQ(files.GetTotalLength(), 14u);
  EXPECT_EQ(files.PopFront()->file_name(), "older.bin");
  EXPECT_EQ(files.PopFront()->file_name(), "gone.bin");
}

TEST_F(ManifestTest, AFolderOrFifoAtTheTargetCountsAsNoFile) {
  dir_.MakeDir("prog/folder.bin");
  ASSERT_EQ(mkfifo((dir_ / "prog/fifo.bin").c_str(), 0600), 0);
  CUpdateFiles files(folders_);
  ASSERT_TRUE(LoadText(&files, Manifest(File(Child("FileName", "folder.bin")) +
                                        File(Child("FileName", "fifo.bin")))));
  EXPECT_EQ(files.CheckUpdates(), 2u);
  CUpdateFile fifo(dir_ / "prog/fifo.bin");
  EXPECT_FALSE(fifo.Scan());
  CUpdateFile none;
  EXPECT_FALSE(none.Scan());
}

TEST_F(ManifestTest, CreateDirectoriesMakesEveryMissingFolder) {
  CUpdateFiles files(folders_);
  EXPECT_TRUE(files.CreateDirectories(dir_ / "x/y/z/"));
  EXPECT_TRUE(files.IsPathExist(dir_ / "x/y/z"));
  EXPECT_TRUE(files.CreateDirectories(dir_ / "x/y/z"));  // already there
  dir_.Write("file", "f");
  EXPECT_FALSE(files.CreateDirectories(dir_ / "file/sub"));
  EXPECT_FALSE(files.IsPathExist(dir_ / "file"));
  EXPECT_FALSE(files.IsPathExist(dir_ / "nothing"));
}

// The writer's bytes, dated at a known instant in UTC.
TEST_F(ManifestTest, WriterPrintsTheManifestByteForByte) {
  setenv("TZ", "UTC", 1);
  tzset();
  dir_.Write("prog/app.bin", "hello");
  SetTime(dir_ / "prog/app.bin", 1700000000, 123456789);
  CUpdateFiles files(folders_);
  ASSERT_TRUE(files.RecordInstalledVersion(dir_ / "prog/app.bin", "1.2.3.4"));
  EXPECT_FALSE(files.AddScannedFile(dir_ / "prog/missing.bin"));
  ASSERT_TRUE(files.AddScannedFile(dir_ / "prog/app.bin"));
  ASSERT_TRUE(files.AddScannedFile(dir_ / "prog/app.bin"));  // replaces the first scan
  ASSERT_EQ(files.GetCount(), 1u);
  // 1700000000 s after 1970 plus 1234567 ticks: 133444736001234567.
  const std::string expected =
      "<?xml version=\"1.0\" encoding=\"GB2312\" ?> \r\n"
      "<xmlRoot keyname=\"KeyValue\">\r\n"
      "\t<Product productname=\"Product-Name\" createdate=\"2009-02-13 23:31:30\" "
      "filenum=\"1\">\r\n"
      "\t\t<File>\r\n"
      "\t\t\t<FileName>app.bin</FileName>\r\n"
      "\t\t\t<FileVersion>1.2.3.4</FileVersion>\r\n"
      "\t\t\t<ProductVersion>1.2.3.4</ProductVersion>\r\n"
      "\t\t\t<Length>5</Length>\r\n"
      "\t\t\t<FileDateLow>3330266759</FileDateLow>\r\n"
      "\t\t\t<FileDateHigh>31070023</FileDateHigh>\r\n"
      "\t\t\t<InstallDir>CURRENTDIR</InstallDir>\r\n"
      "\t\t\t<Register>NO</Register>\r\n"
      "\t\t\t<ZipFile>NO</ZipFile>\r\n"
      "\t\t\t<ForceOverwrite>NO</ForceOverwrite>\r\n"
      "\t\t\t<Execute>NO</Execute>\r\n"
      "\t\t\t<ExecutePar></ExecutePar>\r\n"
      "\t\t\t<LocalPath></LocalPath>\r\n"
      "\t\t\t<URL>//app.bin</URL>\r\n"
      "\t\t\t<UserName></UserName>\r\n"
      "\t\t\t<Password></Password>\r\n"
      "\t\t\t<SHA256>2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824"
      "</SHA256>\r\n"
      "\t\t</File>\r\n"
      "\t</Product>\r\n"
      "</xmlRoot>\r\n";
  EXPECT_EQ(files.Print(1234567890), expected);
  files.SetBaseUrl("http://srv/up");
  EXPECT_NE(files.Print(1234567890)
                .find("<URL>http:/"
                      "/srv/up//app.bin</URL>"),
            std::string::npos);
  // A release file's LocalPath is written with backslashes, its URL with slashes, and
  // a trail byte that looks like a backslash (乗) stays what it is.
  CUpdateFiles release(folders_);
  release.SetBaseUrl("http://srv/up");
  dir_.Write("prog/b.bin", "b");
  ASSERT_TRUE(release.AddScannedFile(dir_ / "prog/app.bin", "APPDATADIR", "vellari/public\\maga"));
  ASSERT_TRUE(release.AddScannedFile(dir_ / "prog/b.bin", "APPDATADIR", Gb("乗/子")));
  const std::string printed = release.Print(1234567890);
  EXPECT_NE(printed.find("<LocalPath>vellari\\public\\maga</LocalPath>"), std::string::npos);
  EXPECT_NE(printed.find("<URL>http://srv/up/vellari/public/maga/app.bin</URL>"),
            std::string::npos);
  EXPECT_NE(printed.find("<LocalPath>" + Gb("乗\\子") + "</LocalPath>"), std::string::npos);
  EXPECT_NE(printed.find("<URL>http://srv/up/" + Gb("乗/子") + "/b.bin</URL>"), std::string::npos);

  // What Save writes reads back: the writer's flags are not "YES", the digest is kept.
  ASSERT_TRUE(files.Save(dir_ / "out.xml"));
  CUpdateFiles again(folders_);
  ASSERT_TRUE(again.Load(dir_ / "out.xml"));
  std::unique_ptr<CUpdateFile> entry = again.PopFront();
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->file_time().Ticks(), 133444736001234567ull);
  EXPECT_EQ(entry->sha256(), "2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824");
  EXPECT_EQ(entry->target_path(), dir_ / "prog/app.bin");
  EXPECT_FALSE(entry->register_flag());
  EXPECT_FALSE(entry->NeedsUpdate());  // same version as installed
}

TEST_F(ManifestTest, WriterEscapesNamesThatWouldBreakTheDocument) {
  dir_.Write("prog/a&b<c>.bin", "x");
  CUpdateFiles files(folders_);
  ASSERT_TRUE(files.AddScannedFile(dir_ / "prog/a&b<c>.bin"));
  const std::string printed = files.Print(0);
  EXPECT_NE(printed.find("<FileName>a&amp;b&lt;c&gt;.bin</FileName>"), std::string::npos);
  ASSERT_TRUE(files.Save(dir_ / "out.xml"));
  CUpdateFiles again(folders_);
  ASSERT_TRUE(again.Load(dir_ / "out.xml"));
  ASSERT_EQ(again.GetCount(), 1u);
  EXPECT_EQ(again.PopFront()->file_name(), "a&b<c>.bin");
}

// A patch is named by elements that readers without patches ignore; the writer's
// elements read back, and a patch whose elements do not hold together is dropped
// while its entry stays.
TEST_F(ManifestTest, APatchIsOfferedByElementsOfItsOwn) {
  const std::string from(64, 'a'), own(64, 'B');
  dir_.Write("prog/app.bin", "hello");
  CUpdateFiles files(folders_);
  files.SetBaseUrl("http://srv/up");
  ASSERT_TRUE(files.AddScannedFile(dir_ / "prog/app.bin", "CURRENTDIR", "sub"));
  EXPECT_FALSE(files.SetPatch(dir_ / "prog/other.bin", "other.bin.zst-patch", from, 9, own));
  EXPECT_FALSE(files.SetPatch(dir_ / "prog/app.bin", "app.bin.zst-patch", "nothex", 9, own));
  ASSERT_TRUE(files.SetPatch(dir_ / "prog/app.bin", "app.bin.zst-patch", from, 9, own));
  const std::string printed = files.Print(0);
  EXPECT_NE(printed.find("\t\t\t<PatchURL>http://srv/up/sub/app.bin.zst-patch</PatchURL>\r\n"
                         "\t\t\t<PatchFrom>" +
                         from +
                         "</PatchFrom>\r\n"
                         "\t\t\t<PatchLength>9</PatchLength>\r\n"
                         "\t\t\t<PatchSHA256>" +
                         std::string(64, 'b') +
                         "</PatchSHA256>\r\n"
                         "\t\t</File>"),
            std::string::npos)
      << printed;
  ASSERT_TRUE(files.Save(dir_ / "out.xml"));
  CUpdateFiles again(folders_);
  ASSERT_TRUE(again.Load(dir_ / "out.xml"));
  std::unique_ptr<CUpdateFile> entry = again.PopFront();
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->patch_url(), "http://srv/up/sub/app.bin.zst-patch");
  EXPECT_EQ(entry->patch_from(), from);
  EXPECT_EQ(entry->patch_length(), 9u);
  EXPECT_EQ(entry->patch_sha256(), std::string(64, 'b'));
  EXPECT_EQ(entry->url(), "http://srv/up/sub/app.bin");

  // Each broken in turn: the entry is taken, without its patch.
  const auto patch = [&](const std::string& url, const std::string& from_digest,
                         const std::string& length, const std::string& digest) {
    return Child("PatchURL", url) + Child("PatchFrom", from_digest) + Child("PatchLength", length) +
           Child("PatchSHA256", digest);
  };
  const std::vector<std::string> broken = {
      patch("http://u/a.zst-patch", "nothex", "9", own),
      patch("http://u/a.zst-patch", from, "9", own + "0"),
      patch("http://u/a.zst-patch", from, "-9", own),
      patch("http://u/a.zst-patch", from, "0", own),
      patch("http://u/a.zst-patch", from, "", own),
      patch("http://u/" + std::string(300, 'x'), from, "9", own),
      patch("http://u/a&#10;b", from, "9", own),
      Child("PatchURL", "http://u/a.zst-patch")};
  for (const std::string& elements : broken) {
    CUpdateFiles loaded(folders_);
    ASSERT_TRUE(LoadText(&loaded, Manifest(File(Child("FileName", "a") + Child("Length", "5") +
                                                elements + Child("Newer", "ignored")))));
    EXPECT_TRUE(loaded.GetRefused().empty()) << elements;
    std::unique_ptr<CUpdateFile> taken = loaded.PopFront();
    ASSERT_NE(taken, nullptr) << elements;
    EXPECT_EQ(taken->length(), 5u);
    EXPECT_EQ(taken->patch_url(), "") << elements;
    EXPECT_EQ(taken->patch_from(), "") << elements;
    EXPECT_EQ(taken->patch_length(), 0u) << elements;
  }
}

TEST_F(ManifestTest, DownloadedFilesAreCheckedAgainstTheDigest) {
  dir_.Write("good.update", "hello");
  dir_.Write("bad.update", "hellO");
  ASSERT_EQ(mkfifo((dir_ / "fifo.update").c_str(), 0600), 0);
  CUpdateFiles files(folders_);
  ASSERT_TRUE(LoadText(
      &files,
      Manifest(File(Child("FileName", "a") +
                    Child("SHA256",
                          " 2CF24DBA5FB0A30E26E83B2AC5B9E29E1B161E5C1FA7425E73043362938B9824\n")) +
               File(Child("FileName", "b")) +
               File(Child("FileName", "c") + Child("SHA256", "2cf24dba")) +
               File(Child("FileName", "d") + Child("SHA256", std::string(64, 'g'))))));
  ASSERT_EQ(files.GetCount(), 2u);
  const auto refused = files.GetRefused();
  ASSERT_EQ(refused.size(), 2u);
  EXPECT_EQ(refused[0].file_name, "c");
  EXPECT_EQ(refused[0].reason, update::Refusal::kBadDigest);
  EXPECT_EQ(refused[1].file_name, "d");
  std::unique_ptr<CUpdateFile> with = files.PopFront();
  EXPECT_EQ(with->sha256(), "2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824");
  EXPECT_TRUE(with->VerifyDownloaded(dir_ / "good.update"));
  EXPECT_FALSE(with->VerifyDownloaded(dir_ / "bad.update"));
  EXPECT_FALSE(with->VerifyDownloaded(dir_ / "missing.update"));
  EXPECT_FALSE(with->VerifyDownloaded(dir_ / "fifo.update"));
  EXPECT_FALSE(with->VerifyDownloaded(dir_.path()));
  std::unique_ptr<CUpdateFile> without = files.PopFront();
  EXPECT_TRUE(without->VerifyDownloaded(dir_ / "bad.update"));
}

TEST_F(ManifestTest, LoadStartsFromAnEmptyList) {
  CUpdateFiles files(folders_);
  ASSERT_TRUE(
      LoadText(&files, Manifest(File(Child("FileName", "a")) + File(Child("FileName", "b")))));
  EXPECT_EQ(files.GetCount(), 2u);
  EXPECT_FALSE(files.Load(dir_ / "missing.xml"));
  EXPECT_EQ(files.GetCount(), 0u);
  ASSERT_TRUE(LoadText(&files, Manifest(File(Child("FileName", "c")))));
  EXPECT_EQ(files.GetCount(), 1u);
  files.Clear();
  EXPECT_EQ(files.GetCount(), 0u);
}

}  // namespace
}  // namespace update_test
