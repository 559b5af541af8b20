// Manifests written by a hostile publisher: entities, deep nesting, huge files, things
// that are not files, names that would leave their folder and bytes that are not text.
#include <gtest/gtest.h>

#include <filesystem>

#include "manifest_fixture.h"
#include "update/update_files.h"

namespace update_test {
namespace {

using update::CUpdateFiles;
using update::LoadError;
using update::Refusal;

TEST_F(ManifestTest, DocumentsWithADoctypeAreRefused) {
  CUpdateFiles files(folders_);
  // An entity that would smuggle a path into the file name.
  EXPECT_FALSE(LoadText(&files,
                        "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY n \"../x\">]>"
                        "<r><File><FileName>&n;</FileName></File></r>"));
  EXPECT_EQ(files.GetCount(), 0u);
  // An external entity naming a local file, and one naming the network.
  EXPECT_FALSE(LoadText(&files,
                        "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY e SYSTEM "
                        "\"file:///etc/passwd\">]><r><File><FileName>&e;</FileName>"
                        "</File></r>"));
  EXPECT_FALSE(LoadText(&files,
                        "<?xml version=\"1.0\"?><!DOCTYPE r SYSTEM "
                        "\"http://127.0.0.1:9/x.dtd\"><r><File><FileName>a"
                        "</FileName></File></r>"));
  // A plain DOCTYPE without declarations is refused as well.
  EXPECT_FALSE(LoadText(&files, "<!DOCTYPE r><r><File><FileName>a</FileName></File></r>"));
  EXPECT_EQ(files.GetCount(), 0u);
  EXPECT_EQ(files.GetLoadError(), LoadError::kDoctype);
}

TEST_F(ManifestTest, BillionLaughsIsRefusedWithoutExpanding) {
  std::string doc = "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY l0 \"ha\">";
  for (int i = 1; i <= 10; ++i) {
    doc += "<!ENTITY l" + std::to_string(i) + " \"";
    for (int j = 0; j < 10; ++j) doc += "&l" + std::to_string(i - 1) + ";";
    doc += "\">";
  }
  doc += "]><r><File><FileName>&l10;</FileName></File></r>";
  CUpdateFiles files(folders_);
  EXPECT_FALSE(LoadText(&files, doc));
  EXPECT_EQ(files.GetCount(), 0u);
}

TEST_F(ManifestTest, DeepNestingAndHugeFilesAreRefused) {
  CUpdateFiles files(folders_);
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<d>";
  EXPECT_FALSE(LoadText(&files, "<r>" + deep + File(Child("FileName", "a")) + "</r>"));
  EXPECT_EQ(files.GetLoadError(), LoadError::kMalformed);  // the parser's own limit
  // Nesting within the limit is read.
  std::string open, close;
  for (int i = 0; i < 200; ++i) {
    open += "<d>";
    close += "</d>";
  }
  ASSERT_TRUE(LoadText(&files, "<r>" + open + File(Child("FileName", "a")) + close + "</r>"));
  EXPECT_EQ(files.GetCount(), 1u);
  // A manifest over the size limit is not read, however good its start.
  EXPECT_FALSE(LoadText(&files, Manifest(File(Child("FileName", "a")) + "<!--" +
                                         std::string(CUpdateFiles::kMaxFileBytes, '-') + "-->")));
  EXPECT_EQ(files.GetCount(), 0u);
  EXPECT_EQ(files.GetLoadError(), LoadError::kTooLarge);
  // So is one with more File elements than a release holds, each of which could make
  // folders in the user's folders; none is made.
  std::string many;
  for (std::size_t i = 0; i <= CUpdateFiles::kMaxEntries; ++i)
    many += File(Child("FileName", "f") + Child("LocalPath", "many\\" + std::to_string(i)));
  EXPECT_FALSE(LoadText(&files, Manifest(many)));
  EXPECT_EQ(files.GetLoadError(), LoadError::kTooManyEntries);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "prog/many"));
}

TEST_F(ManifestTest, OnlyRegularFilesAreReadAndNothingBlocks) {
  CUpdateFiles files(folders_);
  dir_.MakeDir("folder.xml");
  EXPECT_FALSE(files.Load(dir_ / "folder.xml"));
  ASSERT_EQ(mkfifo((dir_ / "fifo.xml").c_str(), 0600), 0);
  EXPECT_FALSE(files.Load(dir_ / "fifo.xml"));
  EXPECT_FALSE(files.Load("/dev/zero"));
  EXPECT_FALSE(files.Load(dir_ / "missing.xml"));
  EXPECT_EQ(files.GetLoadError(), LoadError::kUnreadable);
  EXPECT_FALSE(LoadText(&files, ""));
  EXPECT_FALSE(LoadText(&files, Manifest(File(Child("FileName", "a"))).substr(0, 150)));
  EXPECT_EQ(files.GetLoadError(), LoadError::kMalformed);
}

TEST_F(ManifestTest, FileNamesThatLeaveTheirFolderAreRefused) {
  CUpdateFiles files(folders_);
  ASSERT_TRUE(LoadText(
      &files,
      Manifest(File(Child("FileName", "../escape.txt")) + File(Child("FileName", "..")) +
               File(Child("FileName", ".")) + File(Child("FileName", "")) +
               File(Child("InstallDir", "APPDATADIR")) + File(Child("FileName", "/etc/passwd")) +
               File(Child("FileName", "sub\\name.txt")) +
               File(Child("FileName", "line&#10;break")) + File(Child("FileName", "tab&#9;name")) +
               File(Child("FileName", "fine..name.txt")))));
  ASSERT_EQ(files.GetCount(), 1u);
  EXPECT_EQ(files.PopFront()->target_path(), dir_ / "prog/fine..name.txt");
  const auto refused = files.GetRefused();
  ASSERT_EQ(refused.size(), 9u);
  EXPECT_EQ(refused[0].file_name, "../escape.txt");
  EXPECT_EQ(refused[5].file_name, "/etc/passwd");
  for (const auto& entry : refused) EXPECT_EQ(entry.reason, Refusal::kUnsafeFileName);
  EXPECT_STRNE(update::RefusalText(Refusal::kUnsafeFileName), "");
}

TEST_F(ManifestTest, LocalPathsThatLeaveTheirBaseFolderAreRefused) {
  CUpdateFiles files(folders_);
  ASSERT_TRUE(LoadText(
      &files, Manifest(File(Child("FileName", "a") + Child("LocalPath", "..\\..\\outside")) +
                       File(Child("FileName", "b") + Child("LocalPath", "ok\\..\\..\\outside")) +
                       File(Child("FileName", "c") + Child("LocalPath", "/tmp/outside")) +
                       File(Child("FileName", "d") + Child("LocalPath", "\\outside")) +
                       File(Child("FileName", "e") + Child("LocalPath", "C:\\Windows")) +
                       File(Child("FileName", "f") + Child("LocalPath", "..")) +
                       File(Child("FileName", "g") + Child("LocalPath", "a&#13;b")) +
                       File(Child("FileName", "h") + Child("LocalPath", "..foo\\bar..")))));
  ASSERT_EQ(files.GetCount(), 1u);
  EXPECT_EQ(files.PopFront()->target_path(), dir_ / "prog/..foo/bar../h");
  const auto refused = files.GetRefused();
  ASSERT_EQ(refused.size(), 7u);
  EXPECT_EQ(refused[0].local_path, "..\\..\\outside");
  for (const auto& entry : refused) EXPECT_EQ(entry.reason, Refusal::kUnsafeLocalPath);
  // No folder was made outside the base folders while loading.
  EXPECT_FALSE(std::filesystem::exists(dir_ / "outside"));
  EXPECT_FALSE(std::filesystem::exists("/tmp/outside"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "prog/ok"));
}

TEST_F(ManifestTest, OverlongValuesAreRefused) {
  CUpdateFiles files(folders_);
  ASSERT_TRUE(
      LoadText(&files, Manifest(File(Child("FileName", std::string(260, 'n'))) +
                                File(Child("FileName", "u") + Child("URL", std::string(300, 'u'))) +
                                File(Child("FileName", std::string(259, 'n'))))));
  ASSERT_EQ(files.GetCount(), 1u);
  const auto refused = files.GetRefused();
  ASSERT_EQ(refused.size(), 2u);
  EXPECT_EQ(refused[0].reason, Refusal::kValueTooLong);
  EXPECT_EQ(refused[1].file_name, "u");
}

TEST_F(ManifestTest, BytesThatAreNotTextInTheDeclaredEncodingAreRefused) {
  CUpdateFiles files(folders_);
  // A lead byte with no valid trail, and bytes that start no character at all.
  EXPECT_FALSE(LoadText(&files, Manifest(File(Child("FileName", "a\x81\x20.txt")))));
  EXPECT_FALSE(LoadText(&files, Manifest(File(Child("FileName", "a\xFF.txt")))));
  EXPECT_FALSE(LoadText(&files, Manifest(File(Child("FileName", "a\x80.txt")))));
  EXPECT_EQ(files.GetCount(), 0u);
  // Invalid UTF-8 in a document that declares UTF-8.
  EXPECT_FALSE(LoadText(&files, "<?xml version=\"1.0\" encoding=\"UTF-8\"?><r>" +
                                    File(Child("FileName", "a\xC3\x28")) + "</r>"));
  // An encoding that does not exist.
  EXPECT_FALSE(LoadText(&files, "<?xml version=\"1.0\" encoding=\"NO-SUCH-CODE\"?><r>" +
                                    File(Child("FileName", "a")) + "</r>"));
  EXPECT_EQ(files.GetCount(), 0u);
}

}  // namespace
}  // namespace update_test
