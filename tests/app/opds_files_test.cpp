// The OPDS catalogue list and page files as written and read, for what the program run
// cannot show: hostile lines of the list, its limits and ids, and escaping in pages.
#include <gtest/gtest.h>

#include "app/opds_catalogue_list.h"
#include "app/opds_page_file.h"

namespace {

using app::OpdsCatalogueList;

TEST(OpdsCatalogueListTest, BadLinesAreSkippedAndIdsNeverComeBack) {
  const OpdsCatalogueList list = OpdsCatalogueList::Parse(
      "o1\tA\thttp://a/\t\n"
      "o1\tDup\thttp://a/\t\n"        // an id twice
      "o2\tB\tftp://b/\t\n"           // not http
      "../x\tC\thttp://c/\t\n"        // not an id
      "o3\tD|E\thttp://d/\t\n"        // a separator of the movie's fields
      "o4\tE\thttp://e/\tu\textra\n"  // five fields
      "o7\tF\thttps://f/\tuser\r\n"   // CR LF
      "o8\tG\thttp://u:pw@g/\tu\n"    // a password in the URL
      "#next=5\n");
  ASSERT_EQ(list.catalogues.size(), 2u);
  EXPECT_EQ(list.catalogues[1].id, "o7");
  EXPECT_EQ(list.catalogues[1].user, "user");
  EXPECT_EQ(list.next_number, 8u);  // past the largest id, whatever the file says
  // The largest removed: its number is still not given again.
  OpdsCatalogueList shorter = list;
  shorter.catalogues.pop_back();
  EXPECT_EQ(OpdsCatalogueList::Parse(shorter.Format()).next_number, 8u);
  EXPECT_EQ(list.MovieText(),
            "id=o1|name=A|url=http://a/|user=\nid=o7|name=F|url=https://f/|user=user");

  // Ids are taken up to the last one an id can hold, and every one taken reads back.
  OpdsCatalogueList last = OpdsCatalogueList::Parse("#next=999999999\n");
  const std::string id = last.TakeId();
  EXPECT_EQ(id, "o999999999");
  last.catalogues.push_back({id, "L", "http://l/", ""});
  OpdsCatalogueList read = OpdsCatalogueList::Parse(last.Format());
  ASSERT_EQ(read.catalogues.size(), 1u);
  EXPECT_EQ(read.TakeId(), "");
  EXPECT_EQ(OpdsCatalogueList::Parse("#next=4294967295\n").TakeId(), "");

  std::string many;
  for (int i = 1; i <= 150; ++i) many += "o" + std::to_string(i) + "\tN\thttp://n/\t\n";
  EXPECT_EQ(OpdsCatalogueList::Parse(many).catalogues.size(), OpdsCatalogueList::kMaxCatalogues);
}

TEST(OpdsPageFileTest, AttributesAreEscapedAndFormatsNamed) {
  opds::Feed feed;
  feed.title = "a \"b\" <c> & d";
  opds::Entry entry;
  entry.title = "line\none\x01";
  entry.acquisitions = {
      {"http://x/1.cbz", "http://opds-spec.org/acquisition", "application/x-cbz", "", -1},
      {"http://x/1.f", "http://opds-spec.org/acquisition", "application/x-fb2; charset=x", "", -1},
      {"http://x/2.cbz", "http://opds-spec.org/acquisition", "application/x-cbz", "", -1}};
  feed.entries.push_back(entry);
  const std::string page = app::FormatOpdsPage(feed);
  EXPECT_NE(page.find("<opds title=\"a &quot;b&quot; &lt;c&gt; &amp; d\" next=\"\" search=\"0\">"),
            std::string::npos)
      << page;
  EXPECT_NE(page.find("title=\"line&#10;one\""), std::string::npos) << page;
  EXPECT_NE(page.find("acq=\"http://x/1.cbz\" type=\"application/x-cbz\" formats=\"CBZ X-FB2\""),
            std::string::npos)
      << page;
}

}  // namespace
