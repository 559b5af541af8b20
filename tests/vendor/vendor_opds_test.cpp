// The service's own OPDS catalogues over real HTTP: feeds read with libxml2 and followed
// page by page, book files as their feeds announce them, Basic and Digest logins by
// libcurl, and hostile feeds.
#include <curl/curl.h>
#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <fstream>
#include <memory>
#include <set>
#include <sstream>

#include "vendor_fixture.h"

namespace {

struct XmlDoc {
  explicit XmlDoc(const std::string& text)
      : doc(xmlReadMemory(text.data(), static_cast<int>(text.size()), "feed.xml", nullptr,
                          XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING)) {}
  ~XmlDoc() { xmlFreeDoc(doc); }
  XmlDoc(const XmlDoc&) = delete;
  XmlDoc& operator=(const XmlDoc&) = delete;
  // The string values of the nodes |path| selects (Atom's namespace as "a").
  std::vector<std::string> All(const std::string& path) const {
    std::vector<std::string> values;
    if (doc == nullptr) return values;
    std::unique_ptr<xmlXPathContext, decltype(&xmlXPathFreeContext)> context(
        xmlXPathNewContext(doc), xmlXPathFreeContext);
    xmlXPathRegisterNs(context.get(), BAD_CAST "a", BAD_CAST "http://www.w3.org/2005/Atom");
    std::unique_ptr<xmlXPathObject, decltype(&xmlXPathFreeObject)> found(
        xmlXPathEvalExpression(BAD_CAST path.c_str(), context.get()), xmlXPathFreeObject);
    for (int i = 0; found && found->nodesetval && i < found->nodesetval->nodeNr; ++i) {
      xmlChar* text = xmlNodeGetContent(found->nodesetval->nodeTab[i]);
      values.emplace_back(reinterpret_cast<const char*>(text));
      xmlFree(text);
    }
    return values;
  }
  xmlDocPtr doc;
};

size_t Append(char* data, size_t size, size_t count, void* body) {
  static_cast<std::string*>(body)->append(data, size * count);
  return size * count;
}

// GETs |url| with libcurl, logging in as |user_password| with |auth|; the status.
long CurlGet(const std::string& url, const std::string& user_password, unsigned long auth,
             std::string* body) {
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
  curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl.get(), CURLOPT_USERPWD, user_password.c_str());
  curl_easy_setopt(curl.get(), CURLOPT_HTTPAUTH, auth);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, Append);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, body);
  long status = 0;
  if (curl_easy_perform(curl.get()) != CURLE_OK) return -1;
  curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
  return status;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class OpdsTest : public VendorTest {
 protected:
  void SetUp() override { root_.Write("accounts.txt", "bob\tsecret\tU100\n"); }
  std::string Url(const std::string& path) {
    return "http://127.0.0.1:" + std::to_string(port()) + path;
  }
};

TEST_F(OpdsTest, RootSearchAndPagesParseAndPagingEnds) {
  Start({"--opds-entries", "120", "--opds-page-size", "50"});
  XmlDoc root(Get("/opds/").body);
  ASSERT_NE(root.doc, nullptr);
  EXPECT_EQ(root.All("/a:feed/a:link[@rel='search']/@href"),
            std::vector<std::string>{"/opds/search.xml"});
  EXPECT_EQ(root.All("//a:entry/a:link[@rel='subsection']/@href")[0], "/opds/books?page=1");
  const std::string host = "Host: 127.0.0.1:" + std::to_string(port()) + "\r\n\r\n";
  EXPECT_NE(Exchange(port(), "GET /opds/search.xml HTTP/1.0\r\n" + host)
                .body.find("template=\"" + Url("/opds/search?q={searchTerms}")),
            std::string::npos);
  std::string next = "/opds/books?page=1";
  std::vector<std::string> ids;
  int pages = 0;
  while (!next.empty() && pages < 10) {
    HttpReply reply = Get(next);
    EXPECT_EQ(reply.Header("content-type"),
              "application/atom+xml;profile=opds-catalog;kind=acquisition");
    XmlDoc page(reply.body);
    ASSERT_NE(page.doc, nullptr) << next;
    EXPECT_EQ(page.All("/a:feed/a:link[@rel='self']/@href"), std::vector<std::string>{next});
    for (const std::string& id : page.All("//a:entry/a:id")) ids.push_back(id);
    // Every entry can be acquired, each link with its length.
    EXPECT_EQ(page.All("//a:entry[not(a:link[@rel='http://opds-spec.org/acquisition'])]").size(),
              0u);
    EXPECT_EQ(page.All("//a:link[@rel='http://opds-spec.org/acquisition'][not(@length)]").size(),
              0u);
    const std::vector<std::string> links = page.All("/a:feed/a:link[@rel='next']/@href");
    next = links.empty() ? "" : links[0];
    ++pages;
  }
  EXPECT_EQ(pages, 3);
  EXPECT_EQ(ids.size(), 120u);
  EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()).size(), 120u);
  EXPECT_EQ(Get("/opds/books?page=4").status, 404);
  XmlDoc found(Get("/opds/search?q=%E7%BA%A2%E6%A5%BC").body);  // 红楼
  const std::vector<std::string> titles = found.All("//a:entry/a:title");
  ASSERT_FALSE(titles.empty());
  for (const std::string& title : titles) EXPECT_NE(title.find("红楼梦"), std::string::npos);
}

TEST_F(OpdsTest, BookBodiesAreAsAnnouncedUnlessResized) {
  Start({"--opds-entries", "20", "--opds-book-max", "100000"});
  XmlDoc page(Get("/opds/books?page=1").body);
  const std::string entry = "//a:entry[a:id='" + page.All("//a:entry/a:id")[0] + "']";
  const std::vector<std::string> hrefs =
      page.All(entry + "/a:link[@type='application/epub+zip']/@href");
  ASSERT_EQ(hrefs.size(), 1u);
  const std::string length = page.All(entry + "/a:link[@href='" + hrefs[0] + "']/@length")[0];
  HttpReply book = Get(hrefs[0]);
  EXPECT_EQ(book.status, 200);
  EXPECT_EQ(std::to_string(book.body.size()), length);
  EXPECT_EQ(book.body.substr(0, 4), std::string("PK\x03\x04", 4));
  EXPECT_EQ(Get(hrefs[0]).body, book.body);
  HttpReply part =
      Exchange(port(), "GET " + hrefs[0] + " HTTP/1.0\r\nRange: bytes=1000-1999\r\n\r\n");
  EXPECT_EQ(part.status, 206);
  EXPECT_EQ(part.body, book.body.substr(1000, 1000));
  // A server that rewrites its books: other lengths than the feed's.
  root_.Write("faults.txt", "/opds/files/=resized\n");
  HttpReply resized = Get(hrefs[0]);
  EXPECT_EQ(resized.status, 200);
  EXPECT_NE(std::to_string(resized.body.size()), length);
  EXPECT_EQ(resized.Header("content-length"), std::to_string(resized.body.size()));
  EXPECT_EQ(Get("/opds/files/20.epub").status, 404);
}

TEST_F(OpdsTest, BasicAndDigestLoginsByLibcurl) {
  Start({"--log", scratch_.path() + "/heads.log"});
  const struct {
    const char* base;
    unsigned long auth;
    const char* algorithm;
  } kCases[] = {{"/opds-basic", CURLAUTH_BASIC, "Basic realm="},
                {"/opds-digest", CURLAUTH_DIGEST, "algorithm=SHA-256"},
                {"/opds-digest-md5", CURLAUTH_DIGEST, "algorithm=MD5"}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.base);
    HttpReply refused = Get(std::string(c.base) + "/");
    EXPECT_EQ(refused.status, 401);
    EXPECT_NE(refused.Header("www-authenticate").find(c.algorithm), std::string::npos);
    std::string body;
    EXPECT_EQ(CurlGet(Url(std::string(c.base) + "/books?page=2"), "bob:secret", c.auth, &body),
              200);
    EXPECT_NE(body.find("<link rel=\"self\" href=\"" + std::string(c.base) + "/books?page=2\""),
              std::string::npos);
    body.clear();
    EXPECT_EQ(CurlGet(Url(std::string(c.base) + "/"), "bob:wrong", c.auth, &body), 401);
  }
  // libcurl answered the first challenge: SHA-256 where it was offered.
  const std::string heads = ReadAll(scratch_.path() + "/heads.log");
  EXPECT_NE(heads.find("algorithm=SHA-256"), std::string::npos);
  // A Digest answer used again (same nonce and count) is refused.
  const std::size_t at = heads.find("Authorization: Digest");
  ASSERT_NE(at, std::string::npos);
  const std::string authorization = heads.substr(at, heads.find("\r\n", at) - at);
  EXPECT_EQ(
      Exchange(port(), "GET /opds-digest/books?page=2 HTTP/1.0\r\n" + authorization + "\r\n\r\n")
          .status,
      401);
}

TEST_F(OpdsTest, HostileFeeds) {
  Start();
  EXPECT_GT(Get("/opds/hostile/huge").body.size(), 32u << 20);
  EXPECT_NE(Get("/opds/hostile/entities").body.find("<!ENTITY lol9 \"&lol8;"), std::string::npos);
  EXPECT_NE(Get("/opds/hostile/external").body.find("SYSTEM \"file:///etc/passwd\""),
            std::string::npos);
  EXPECT_EQ(XmlDoc(Get("/opds/hostile/bad-encoding").body).doc, nullptr);
  EXPECT_EQ(XmlDoc(Get("/opds/hostile/loop?page=3").body).All("/a:feed/a:link[@rel='next']/@href"),
            std::vector<std::string>{"/opds/hostile/loop?page=1"});
  EXPECT_EQ(XmlDoc(Get("/opds/hostile/stuck?page=2").body).All("/a:feed/a:link[@rel='next']/@href"),
            std::vector<std::string>{"/opds/hostile/stuck?page=2"});
}

}  // namespace
