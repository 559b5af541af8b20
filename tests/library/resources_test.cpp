// The files shipped for provisioning a data folder: a default cover picture for every
// file type the program names, and sample catalogues already in the stored format.
#include <gtest/gtest.h>

#include <filesystem>

#include "catalogue_text.h"
#include "library/local_books.h"

namespace library {

namespace {

const std::string kRes = std::string(LUMORA_SOURCE_DIR) + "/res";

TEST(ResourcesTest, EveryDefaultCoverPictureIsAJpegOfItsName) {
  for (const char* path : {"a.slr", "a.sla", "a.wma", "a.wmv", "a.exe", "a.doc", "a.ppt", "a.xls",
                           "a.pdf", "a.epub", "a.other"}) {
    const std::string picture = DefaultCoverPicture(path);
    const std::string file = kRes + "/local/" + std::string(ansi::AfterLastSeparator(picture));
    std::string bytes;
    ASSERT_TRUE(base::ReadWholeFile(file, &bytes)) << file;
    ASSERT_GT(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xD8") << file;
  }
}

TEST(ResourcesTest, SampleCataloguesAreStoredExactlyAsTheProgramWritesThem) {
  TempDir dir;
  int checked = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(kRes + "/sample")) {
    if (!entry.is_regular_file()) continue;
    std::string original;
    ASSERT_TRUE(base::ReadWholeFile(entry.path(), &original));
    dir.Write("copy.xml", original);
    std::unique_ptr<CXmlFileObject> file;
    ASSERT_TRUE(CXmlFileObject::Open(&file, (dir / "copy.xml").c_str())) << entry.path();
    EXPECT_TRUE(CXmlFileObject::Release(std::move(file), true));
    EXPECT_EQ(dir.Read("copy.xml"), original) << entry.path();
    ++checked;
  }
  EXPECT_EQ(checked, 6);
}

}  // namespace

}  // namespace library
