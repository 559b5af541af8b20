// OPDS catalogue feeds and OpenSearch descriptions of our own making, well-formed and
// hostile, read by the catalogue parser.
#include "opds/feed.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"

namespace {

constexpr char kUrl[] = "https://books.example/opds/root.xml";

opds::Feed Parse(const std::string& xml, const opds::Limits& limits = {}) {
  opds::Feed feed;
  const base::Status status = opds::ParseFeed(xml, kUrl, &feed, limits);
  EXPECT_TRUE(status.ok()) << status.ToString();
  return feed;
}

base::Status Refusal(const std::string& xml, const opds::Limits& limits = {}) {
  opds::Feed feed;
  return opds::ParseFeed(xml, kUrl, &feed, limits);
}

std::string Entries(int count) {
  std::string xml = "<feed xmlns='http://www.w3.org/2005/Atom'>";
  for (int i = 0; i < count; ++i) xml += "<entry><title>" + std::to_string(i) + "</title></entry>";
  return xml + "</feed>";
}

TEST(OpdsFeedTest, NavigationFeedLeadsToItsSubsectionsAndDescription) {
  const opds::Feed feed = Parse(R"xml(<?xml version="1.0" encoding="UTF-8"?>
<feed xmlns="http://www.w3.org/2005/Atom" xml:base="/opds/">
  <id>urn:root</id><title> Root
   catalogue </title>
  <link rel="search" type="application/opensearchdescription+xml" href="search.xml"/>
  <link rel="next" href="root.xml"/>
  <entry><title>New</title><id>n</id>
    <link rel="subsection" type="application/atom+xml;profile=opds-catalog;kind=acquisition"
          href="new?page=1"/></entry>
  <entry><title>Authors</title><id>a</id>
    <link type="application/atom+xml;profile=opds-catalog;kind=navigation" href="../authors/"/>
  </entry>
  <entry><title>Elsewhere</title>
    <link rel="subsection" type="application/atom+xml" href="javascript:alert(1)"/></entry>
</feed>)xml");
  EXPECT_EQ(feed.id, "urn:root");
  EXPECT_EQ(feed.title, "Root catalogue");
  EXPECT_EQ(feed.search, "https://books.example/opds/search.xml");
  EXPECT_FALSE(feed.search_is_template);
  EXPECT_EQ(feed.next, "") << "a next page that is the feed itself ends the paging";
  ASSERT_EQ(feed.entries.size(), 3u);
  EXPECT_EQ(feed.entries[0].navigation, "https://books.example/opds/new?page=1");
  EXPECT_EQ(feed.entries[1].navigation, "https://books.example/authors/");
  EXPECT_EQ(feed.entries[2].navigation, "");
}

TEST(OpdsFeedTest, AcquisitionFeedGivesFormatsCoversAuthorsAndPlainSummaries) {
  const opds::Feed feed = Parse(R"xml(<atom:feed xmlns:atom="http://www.w3.org/2005/Atom"
    xmlns:dc="http://purl.org/dc/terms/" xmlns:opds="http://opds-spec.org/2010/catalog">
  <atom:link rel="search" type="application/opensearchdescription+xml" href="/os.xml"/>
  <atom:link rel="search" type="application/atom+xml" href="/s?q={searchTerms}&amp;p={startPage?}"/>
  <atom:link rel="next" href="//mirror.example/opds/root.xml?page=2"/>
  <atom:entry>
    <atom:id>urn:book:1</atom:id><atom:title>Moby Dick</atom:title>
    <atom:updated>2020-01-02T03:04:05Z</atom:updated>
    <atom:author><atom:name>Herman Melville</atom:name></atom:author>
    <atom:author><atom:name>A. Editor</atom:name></atom:author>
    <dc:language>en</dc:language><opds:price currencycode="USD">0</opds:price>
    <atom:content type="html">&lt;p&gt;Call me &lt;b&gt;Ishmael&lt;/b&gt;.&lt;/p&gt;&lt;script&gt;x()&lt;/script&gt;&lt;p&gt;Some years ago &amp;amp; more&lt;/p&gt;</atom:content>
    <atom:link rel="http://opds-spec.org/image" href="covers/1.jpg"/>
    <atom:link rel="http://opds-spec.org/image/thumbnail" href="thumbs/1.jpg"/>
    <atom:link rel="http://opds-spec.org/acquisition" type="application/x-mobipocket-ebook" href="1.mobi"/>
    <atom:link rel="http://opds-spec.org/acquisition/open-access" type="application/pdf" href="1.pdf"/>
    <atom:link rel="http://opds-spec.org/acquisition" type="application/epub+zip" href="1.epub" length="123456"/>
    <atom:link rel="related" type="application/atom+xml;profile=opds-catalog" href="/more"/>
  </atom:entry>
  <atom:entry>
    <atom:title>No cover</atom:title><dc:creator>Anon</dc:creator><dc:issued>1851</dc:issued>
    <atom:summary type="xhtml"><div xmlns="http://www.w3.org/1999/xhtml"><p>One</p><p>Two</p></div></atom:summary>
    <atom:content type="text">ignored</atom:content>
    <atom:link rel="http://opds-spec.org/image" href="javascript:alert(1)"/>
    <atom:link rel="http://opds-spec.org/acquisition/buy" type="text/html" href="file:///etc/passwd"/>
    <atom:link rel="http://opds-spec.org/acquisition/borrow" type="application/pdf" href="b.pdf"/>
  </atom:entry>
  <entry xmlns="http://example.com/not-atom"><title>Foreign</title></entry>
</atom:feed>)xml");
  EXPECT_TRUE(feed.search_is_template);
  EXPECT_EQ(feed.search, "https://books.example/s?q={searchTerms}&p={startPage?}");
  EXPECT_EQ(feed.next, "https://mirror.example/opds/root.xml?page=2");
  ASSERT_EQ(feed.entries.size(), 2u) << "an entry outside the Atom namespace is no entry";
  const opds::Entry& book = feed.entries[0];
  EXPECT_EQ(book.id, "urn:book:1");
  EXPECT_EQ(book.updated, "2020-01-02T03:04:05Z");
  EXPECT_EQ(book.authors, (std::vector<std::string>{"Herman Melville", "A. Editor"}));
  EXPECT_EQ(book.summary, "Call me Ishmael. Some years ago & more");
  EXPECT_EQ(book.cover, "https://books.example/opds/thumbs/1.jpg");
  EXPECT_EQ(book.navigation, "");
  ASSERT_EQ(book.acquisitions.size(), 3u);
  const opds::Link* best = opds::BestAcquisition(book);
  ASSERT_NE(best, nullptr);
  EXPECT_EQ(best->href, "https://books.example/opds/1.epub");
  EXPECT_EQ(best->length, 123456);
  EXPECT_EQ(book.acquisitions[0].length, -1);

  const opds::Entry& other = feed.entries[1];
  EXPECT_EQ(other.summary, "One Two");
  EXPECT_EQ(other.authors, (std::vector<std::string>{"Anon"}));
  EXPECT_EQ(other.updated, "1851");
  EXPECT_EQ(other.cover, "") << "a javascript: cover is dropped";
  ASSERT_EQ(other.acquisitions.size(), 1u) << "a file: acquisition is dropped";
  EXPECT_EQ(opds::BestAcquisition(other)->href, "https://books.example/opds/b.pdf");
  EXPECT_EQ(opds::BestAcquisition(opds::Entry()), nullptr);
}

TEST(OpdsFeedTest, ReferencesResolveToHttpAndHttpsOnly) {
  const std::string base = "http://a.example/b/c/d;p?q";
  EXPECT_EQ(opds::ResolveUrl(base, "g"), "http://a.example/b/c/g");
  EXPECT_EQ(opds::ResolveUrl(base, "./g/"), "http://a.example/b/c/g/");
  EXPECT_EQ(opds::ResolveUrl(base, "/g"), "http://a.example/g");
  EXPECT_EQ(opds::ResolveUrl(base, "//g.example/x"), "http://g.example/x");
  EXPECT_EQ(opds::ResolveUrl(base, "?y"), "http://a.example/b/c/d;p?y");
  EXPECT_EQ(opds::ResolveUrl(base, "#s"), "http://a.example/b/c/d;p?q#s");
  EXPECT_EQ(opds::ResolveUrl(base, "../../../g"), "http://a.example/g");
  EXPECT_EQ(opds::ResolveUrl(base, "g/./h/../i"), "http://a.example/b/c/g/i");
  EXPECT_EQ(opds::ResolveUrl(base, " HTTPS://x.example/a b\xC3\xA9 "),
            "https://x.example/a%20b%C3%A9");
  for (const char* refused : {"javascript:alert(1)", "file:///etc/passwd", "data:text/html,x",
                              "ftp://x.example/", "http://", "http://x.example\n/", "http:g"})
    EXPECT_EQ(opds::ResolveUrl(base, refused), "") << refused;
  EXPECT_EQ(opds::ResolveUrl("file:///tmp/feed.xml", "a.epub"), "");
}

TEST(OpdsFeedTest, OpenSearchDescriptionGivesTheAtomTemplateThatIsFilled) {
  std::string search_template;
  ASSERT_TRUE(opds::ParseOpenSearch(
                  R"xml(<OpenSearchDescription xmlns="http://a9.com/-/spec/opensearch/1.1/">
  <Url type="text/html" template="/html?q={searchTerms}"/>
  <Url type="application/atom+xml;profile=opds-catalog" template="find?q={searchTerms}&amp;n={count?}&amp;l={language}"/>
</OpenSearchDescription>)xml",
                  "http://books.example/opds/os.xml", &search_template)
                  .ok());
  EXPECT_EQ(search_template,
            "http://books.example/opds/find?q={searchTerms}&n={count?}&l={language}");
  EXPECT_EQ(opds::FillSearchTemplate(search_template, "moby dick & 白鲸"),
            "http://books.example/opds/find?q=moby%20dick%20%26%20%E7%99%BD%E9%B2%B8&n=&l=*");
  EXPECT_EQ(opds::FillSearchTemplate("http://x.example/?q={searchTerms}&c={count}", "a"), "");
  EXPECT_EQ(opds::FillSearchTemplate("http://x.example/?q={searchTerms", "a"), "");
  EXPECT_EQ(opds::FillSearchTemplate("javascript:{searchTerms}", "a"), "");
  EXPECT_TRUE(
      opds::ParseOpenSearch("<OpenSearchDescription xmlns='http://a9.com/-/spec/opensearch/1.1/'>"
                            "<Url type='application/atom+xml' template='javascript:{searchTerms}'/>"
                            "</OpenSearchDescription>",
                            "http://x.example/", &search_template)
          .IsNotFound());
}

TEST(OpdsFeedTest, HostileFeedsAreRefusedOrBounded) {
  opds::Limits limits;
  limits.max_bytes = 4096;
  EXPECT_EQ(Refusal(Entries(200), limits).code(), base::Status::Code::kTooLarge);
  std::string deep = "<feed xmlns='http://www.w3.org/2005/Atom'>";
  for (int i = 0; i < 40; ++i) deep += "<entry>";
  EXPECT_EQ(Refusal(deep).code(), base::Status::Code::kTooLarge);
  EXPECT_FALSE(Refusal("<feed xmlns='http://example.com/'/>").ok()) << "not the Atom namespace";
  // Bytes that are not text in the declared encoding.
  EXPECT_FALSE(Refusal("<?xml version='1.0' encoding='UTF-8'?>"
                       "<feed xmlns='http://www.w3.org/2005/Atom'><title>\xFF\xFE</title></feed>")
                   .ok());
  EXPECT_FALSE(Refusal("<?xml version='1.0' encoding='Shift_JIS'?>"
                       "<feed xmlns='http://www.w3.org/2005/Atom'><title>\x81\x20</title></feed>")
                   .ok());
  EXPECT_FALSE(Refusal("<?xml version='1.0' encoding='Shift_JIS'?>"
                       "<feed xmlns='http://www.w3.org/2005/Atom'/>\x81")
                   .ok())
      << "a character cut at the end";
  EXPECT_EQ(Parse("<?xml version='1.0' encoding='ISO-8859-1'?>"
                  "<feed xmlns='http://www.w3.org/2005/Atom'><title>caf\xE9</title></feed>")
                .title,
            "caf\xC3\xA9");
  // Billion laughs, and an external entity naming a local file: refused at the DOCTYPE.
  std::string laughs = "<?xml version='1.0'?><!DOCTYPE feed [<!ENTITY l0 'ha'>";
  for (int i = 1; i < 10; ++i) {
    laughs += "<!ENTITY l" + std::to_string(i) + " '";
    for (int j = 0; j < 10; ++j) laughs += "&l" + std::to_string(i - 1) + ";";
    laughs += "'>";
  }
  EXPECT_FALSE(
      Refusal(laughs + "]><feed xmlns='http://www.w3.org/2005/Atom'><title>&l9;</title></feed>")
          .ok());
  TempDir dir;
  dir.Write("secret.txt", "SECRET-CONTENT");
  const std::string external =
      "<?xml version='1.0'?><!DOCTYPE feed [<!ENTITY e SYSTEM 'file://" + dir / "secret.txt" +
      "'>]><feed xmlns='http://www.w3.org/2005/Atom'><title>&e;</title></feed>";
  opds::Feed feed;
  EXPECT_FALSE(opds::ParseFeed(external, kUrl, &feed).ok());
  EXPECT_EQ(feed.title, "");
  EXPECT_FALSE(Refusal("<feed xmlns='http://www.w3.org/2005/Atom'><title>&e;</title></feed>").ok());

  // Too many entries: the first ones are kept.
  feed = Parse(Entries(10001));
  EXPECT_EQ(feed.entries.size(), 10000u);
  EXPECT_TRUE(feed.truncated);
  EXPECT_EQ(feed.entries.back().title, "9999");
  // A long title is cut at a character boundary; a long summary at 4 KiB.
  limits = opds::Limits();
  limits.max_text = 1001;
  std::string long_text;
  for (int i = 0; i < 3000; ++i) long_text += "\xC3\xA9";
  feed = Parse("<feed xmlns='http://www.w3.org/2005/Atom'><title>" + long_text +
                   "</title><entry><summary>" + long_text + long_text + "</summary></entry></feed>",
               limits);
  EXPECT_EQ(feed.title, long_text.substr(0, 1000));
  ASSERT_EQ(feed.entries.size(), 1u);
  EXPECT_EQ(feed.entries[0].summary.size(), 1000u);
  feed = Parse("<feed xmlns='http://www.w3.org/2005/Atom'><entry><summary>" + long_text +
               "</summary></entry></feed>");
  EXPECT_EQ(feed.entries[0].summary, long_text.substr(0, opds::kMaxSummary));
  // Links longer than an address a command takes are dropped, also those a long xml:base
  // makes of short references.
  const std::string long_base = "https://books.example/" + std::string(3000, 'b') + "/";
  feed = Parse("<feed xmlns='http://www.w3.org/2005/Atom' xml:base='" + long_base +
               "'><entry><link rel='http://opds-spec.org/image/thumbnail' href='c.png'/>"
               "<link type='application/atom+xml' href='n'/></entry>"
               "<entry><link type='application/atom+xml' href='/short'/></entry></feed>");
  ASSERT_EQ(feed.entries.size(), 2u);
  EXPECT_EQ(feed.entries[0].cover, "");
  EXPECT_EQ(feed.entries[0].navigation, "");
  EXPECT_EQ(feed.entries[1].navigation, "https://books.example/short");
}

}  // namespace
