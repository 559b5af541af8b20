// Search over the catalogues into the search results file.
#include "library/search.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "../support/rename_counter.h"
#include "catalogue_text.h"

namespace library {

namespace {

class SearchTest : public ::testing::Test {
 protected:
  SearchTest() : folders_(dir_ / "data/", dir_ / "prog/") {
    dir_.MakeDir("prog");
    dir_.Write("data/public/maga/maga1.xml",
               CatalogueXml(GroupXml(
                   "m1", ItemXml("same", "杂志 Alpha") + ItemXml("m-date", "无", "2009 Alpha"))));
    dir_.Write("data/public/book/book1.xml",
               CatalogueXml(GroupXml("b1", ItemXml("same", "图书 Alpha") +
                                               ItemXml("b-lower", "alpha 小写")) +
                            GroupXml("b0", ItemXml("b-only", "Alpha 图书"))));
    dir_.Write("data/public/mics/mics1.xml",
               CatalogueXml(GroupXml("x", ItemXml("prog", "Alpha 程序"))));
  }
  void Run(const std::string& list_utf8, const std::string& keyword) {
    EXPECT_TRUE(Search(folders_, Gb(list_utf8), Gb(keyword)));
  }
  std::vector<std::string> Hits() { return ListItems(dir_ / "prog/search.xml"); }

  TempDir dir_;
  CatalogueFolders folders_;
};

TEST_F(SearchTest, EmptyTokensAreSkippedAndTheFirstCatalogueWins) {
  Run("杂志&&图书&", "Alpha");
  // One group, hits in id order; "same" comes from the magazines, named first. The
  // date match counts; the lower-case name does not.
  EXPECT_EQ(Hits(), (std::vector<std::string>{"搜索结果/b-only=Alpha 图书", "搜索结果/m-date=无",
                                              "搜索结果/same=杂志 Alpha"}));
  Run("图书&杂志", "Alpha");
  EXPECT_EQ(Hits()[2], "搜索结果/same=图书 Alpha");
}

TEST_F(SearchTest, UnknownTokensSelectNothingAndEachSearchStartsAfresh) {
  Run("程序", "Alpha");
  EXPECT_EQ(Hits(), (std::vector<std::string>{"搜索结果/prog=Alpha 程序"}));
  // "杂项" names no catalogue: the results are emptied and stay empty.
  Run("杂项", "Alpha");
  EXPECT_TRUE(Hits().empty());
  // An empty keyword matches everything selected; the same token twice adds nothing.
  Run("程序&程序&视频", "");
  EXPECT_EQ(Hits(), (std::vector<std::string>{"搜索结果/prog=Alpha 程序"}));
}

TEST_F(SearchTest, CataloguesAreReadWithoutBeingRewritten) {
  const std::string before = dir_.Read("data/public/book/book1.xml");
  dir_.Write("prog/search.xml", CatalogueXml(GroupXml("搜索结果", ItemXml("stale", "old")) +
                                             GroupXml("other", ItemXml("kept", "kept"))));
  Run("图书", "小写");
  EXPECT_EQ(dir_.Read("data/public/book/book1.xml"), before);
  EXPECT_EQ(Hits(), (std::vector<std::string>{"other/kept=kept", "搜索结果/b-lower=alpha 小写"}));
  const std::string results = Utf8(dir_.Read("prog/search.xml"));
  EXPECT_NE(results.find("<分类 id=\"搜索结果\" 总数=\"1\" 最大值=\"1000\">"), std::string::npos);
}

TEST_F(SearchTest, ADamagedResultsFileIsReplacedByTheNewResultsInOneWrite) {
  // The results file is the program's own: one cut short (a full disk, a kill) is
  // replaced, whichever way the catalogues are read, at the one write of the search.
  const std::string whole = CatalogueXml(GroupXml("搜索结果", ItemXml("stale", "old")) +
                                         GroupXml("other", ItemXml("kept", "kept")));
  for (CatalogueReading reading : {CatalogueReading::kScan, CatalogueReading::kModel}) {
    dir_.Write("prog/search.xml", whole.substr(0, whole.size() / 2));
    RenameCounter renames(dir_ / "prog/search.xml");
    EXPECT_TRUE(Search(folders_, Gb("图书"), Gb("小写"), reading));
    EXPECT_EQ(renames.Count(), 1);
    EXPECT_EQ(Hits(), (std::vector<std::string>{"搜索结果/b-lower=alpha 小写"}));
    EXPECT_TRUE(SearchCatalogue(dir_ / "prog/search.xml", dir_ / "data/public/mics/mics1.xml",
                                Gb("程序"), reading));
    EXPECT_EQ(Hits(), (std::vector<std::string>{"搜索结果/b-lower=alpha 小写",
                                                "搜索结果/prog=Alpha 程序"}));
  }
  // What is not a plain file of its own is left as it is, and the search says it wrote
  // nothing: a link to a damaged file, a read-only damaged file.
  const std::string damaged = whole.substr(0, whole.size() / 2);
  dir_.Write("elsewhere.xml", damaged);
  std::filesystem::remove(dir_ / "prog/search.xml");
  std::filesystem::create_symlink(dir_ / "elsewhere.xml", dir_ / "prog/search.xml");
  EXPECT_FALSE(Search(folders_, Gb("图书"), Gb("小写")));
  EXPECT_EQ(dir_.Read("elsewhere.xml"), damaged);
  EXPECT_TRUE(std::filesystem::is_symlink(dir_ / "prog/search.xml"));
  std::filesystem::remove(dir_ / "prog/search.xml");
  dir_.Write("prog/search.xml", damaged);
  ASSERT_EQ(chmod((dir_ / "prog/search.xml").c_str(), 0444), 0);
  EXPECT_FALSE(Search(folders_, Gb("图书"), Gb("小写")));
  EXPECT_EQ(dir_.Read("prog/search.xml"), damaged);
}

TEST_F(SearchTest, KeywordsMatchBytesNotCharacters) {
  // "杂志" is D4D3 D6BE in the code page: the bytes D3 D6 lie across the boundary of
  // its two characters and still match.
  dir_.Write("data/public/video/video1.xml", CatalogueXml(GroupXml("v", ItemXml("v1", "杂志"))));
  EXPECT_TRUE(Search(folders_, Gb("视频"), "\xD3\xD6"));
  EXPECT_EQ(Hits().size(), 1u);
}

}  // namespace

}  // namespace library
