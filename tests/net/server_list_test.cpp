// The server list: the line rules, the list and its server choice, and reading the file
// that a server publishes.
#include "net/server_list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "../support/temp_dir.h"
#include "base/ansi.h"

namespace {

std::string Gb(const char* utf8) { return ansi::FromUtf8Lossy(utf8); }

// A sorted combo box, as the update window's server choice is.
class SortedChoice : public net::ServerChoice {
 public:
  struct Item {
    std::string label;
    const net::CServer* server = nullptr;
  };
  int AddString(const std::string& label) override {
    std::size_t at = 0;
    while (at < items.size() && items[at].label <= label) ++at;
    items.insert(items.begin() + static_cast<std::ptrdiff_t>(at), Item{label, nullptr});
    if (selected >= static_cast<int>(at)) ++selected;
    return static_cast<int>(at);
  }
  void SetItemData(int item, const net::CServer* server) override {
    items[static_cast<std::size_t>(item)].server = server;
  }
  void SetCurSel(int item) override { selected = item; }

  std::vector<Item> items;
  int selected = -1;
};

TEST(ServerLineTest, LabelAndUrlAreTrimmedAndSplitAtTheFirstBar) {
  std::string label, url;
  ASSERT_TRUE(net::ParseServerLine(" Server A | http://a.example/m.xml \r\n", &label, &url));
  EXPECT_EQ(label, "Server A");
  EXPECT_EQ(url, "http://a.example/m.xml");
  // A second bar belongs to the URL.
  ASSERT_TRUE(net::ParseServerLine("B|http://b/x?a=1|2", &label, &url));
  EXPECT_EQ(label, "B");
  EXPECT_EQ(url, "http://b/x?a=1|2");
  // A Chinese label in the code page keeps its bytes.
  ASSERT_TRUE(net::ParseServerLine(Gb("电信服务器|http://c/"), &label, &url));
  EXPECT_EQ(label, Gb("电信服务器"));
}

TEST(ServerLineTest, BlankAndMalformedLinesAreSkipped) {
  std::string label = "kept", url = "kept";
  for (const char* line :
       {"", "   ", "|http://x/", "label|", "label |  ", "no bar at all", "  |http://x/", " | "}) {
    EXPECT_FALSE(net::ParseServerLine(line, &label, &url)) << line;
  }
  EXPECT_EQ(label, "kept");
  EXPECT_EQ(url, "kept");
}

TEST(ServerLineTest, ABarThatIsATrailByteDoesNotSplit) {
  // 東 is 0x96 0x7C in the code page: its second byte is the bar.
  const std::string east = Gb("東");
  ASSERT_EQ(east, "\x96\x7C");
  std::string label, url;
  ASSERT_TRUE(net::ParseServerLine(east + "|http://e/", &label, &url));
  EXPECT_EQ(label, east);
  EXPECT_EQ(url, "http://e/");
  EXPECT_FALSE(net::ParseServerLine(east + "http://e/", &label, &url));
}

TEST(ServerLineTest, LongLinesControlCharactersAndZeroBytesAreRefused) {
  std::string label, url;
  const std::string head = "L|http://h/";
  EXPECT_TRUE(net::ParseServerLine(head + std::string(1023 - head.size(), 'p'), &label, &url));
  EXPECT_EQ(url.size(), 1023u - 2);
  EXPECT_FALSE(net::ParseServerLine(head + std::string(1024 - head.size(), 'p'), &label, &url));
  EXPECT_FALSE(net::ParseServerLine("L\x1B[2J|http://x/", &label, &url));
  EXPECT_FALSE(net::ParseServerLine("L|http://x/\rHost: evil", &label, &url));
  // The text ends at a zero byte, as a C string did.
  EXPECT_FALSE(net::ParseServerLine(std::string("L\0|http://x/", 12), &label, &url));
  ASSERT_TRUE(net::ParseServerLine(std::string("L|http://x/\0junk", 16), &label, &url));
  EXPECT_EQ(url, "http://x/");
}

TEST(ServersTest, AddRefusesNullAndTheLastServerIsSelected) {
  net::CServers servers;
  EXPECT_FALSE(servers.Add(nullptr));
  EXPECT_TRUE(servers.AddServer("one", "http://1/"));
  EXPECT_TRUE(servers.AddServer("two", "http://2/"));
  EXPECT_TRUE(servers.AddServer("three", "http://3/"));
  EXPECT_TRUE(servers.AddServer("one", "http://1/"));  // duplicates are kept
  ASSERT_EQ(servers.GetCount(), 4u);
  servers.DeleteAll();
  EXPECT_EQ(servers.GetCount(), 0u);
  EXPECT_EQ(servers.GetAt(0), nullptr);

  ASSERT_TRUE(servers.AddServer("b-server", "http://b/"));
  ASSERT_TRUE(servers.AddServer("c-server", "http://c/"));
  ASSERT_TRUE(servers.AddServer("a-server", "http://a/"));
  SortedChoice choice;
  servers.FillComboBox(&choice);
  ASSERT_EQ(choice.items.size(), 3u);
  // The third server added is selected, though sorting put it first.
  ASSERT_EQ(choice.selected, 0);
  EXPECT_EQ(choice.items[0].server, servers.GetAt(2));
  EXPECT_EQ(choice.items[0].server->url(), "http://a/");
  EXPECT_EQ(choice.items[2].server->label(), "c-server");
}

TEST(ServersTest, ReadFileAddsAcceptedLinesInFileOrder) {
  TempDir dir;
  dir.Write("list.txt", Gb("主服务器 | http://m/update.xml \r\n") + "\r\n|nolabel\r\n" +
                            "second|http://s/u.xml|x\n" + "nourl|\n" + "last|http://l/u.xml");
  net::CServers servers;
  EXPECT_EQ(servers.ReadFile(dir / "list.txt"), 3u);
  ASSERT_EQ(servers.GetCount(), 3u);
  EXPECT_EQ(servers.GetAt(0)->label(), Gb("主服务器"));
  EXPECT_EQ(servers.GetAt(1)->url(), "http://s/u.xml|x");
  EXPECT_EQ(servers.GetAt(2)->label(), "last");
  // A second read appends; the file is left in place.
  EXPECT_EQ(servers.ReadFile(dir / "list.txt"), 3u);
  EXPECT_EQ(servers.GetCount(), 6u);
  EXPECT_EQ(dir.Read("list.txt").size() > 0, true);

  dir.Write("empty.txt", "");
  EXPECT_EQ(servers.ReadFile(dir / "empty.txt"), 0u);
  EXPECT_EQ(servers.ReadFile(dir / "missing.txt"), 0u);
  EXPECT_EQ(servers.GetCount(), 6u);
}

TEST(ServersTest, HostileFilesAddNothingAndNeverBlock) {
  TempDir dir;
  net::CServers servers;
  dir.MakeDir("folder.txt");
  EXPECT_EQ(servers.ReadFile(dir / "folder.txt"), 0u);
  // A FIFO with no writer: reading must not wait for one.
  ASSERT_EQ(mkfifo((dir / "fifo.txt").c_str(), 0600), 0);
  EXPECT_EQ(servers.ReadFile(dir / "fifo.txt"), 0u);
  // A file over the limit is not read at all, even though its first line is good.
  dir.Write("huge.txt", "big|http://b/\n" + std::string(net::CServers::kMaxFileBytes, 'x'));
  EXPECT_EQ(servers.ReadFile(dir / "huge.txt"), 0u);
  // A long line is skipped whole: its tail never becomes a server of its own.
  dir.Write("long.txt", "x|" + std::string(2000, 'y') + "|tail|http://evil/\nok|http://ok/\n");
  EXPECT_EQ(servers.ReadFile(dir / "long.txt"), 1u);
  ASSERT_EQ(servers.GetCount(), 1u);
  EXPECT_EQ(servers.GetAt(0)->label(), "ok");
  // Only the first kMaxLines lines are looked at.
  std::string many;
  for (std::size_t i = 0; i < net::CServers::kMaxLines + 5; ++i) many += "s|http://s/\n";
  dir.Write("many.txt", many);
  EXPECT_EQ(servers.ReadFile(dir / "many.txt"), net::CServers::kMaxLines);
}

}  // namespace
