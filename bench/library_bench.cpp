// The catalogue operations against plain TinyXML on the same files. Catalogues of 100,
// 1,000 and 10,000 items each (one group, so that enumeration by position is tested at
// full length), and of 100,000 for the search. Prints each operation's time as a ratio
// to parsing and printing the files it works on, and each operation's growth from 1,000
// to 10,000 items (10 is linear). Then the search, by scanning the catalogues and by
// reading them through the model, and the scan of one catalogue alone, as ratios to
// TinyXML parsing the same files, from 1,000 to 100,000 items. Last, the import of a
// purchased list of 100,000 entries as a ratio to parsing and printing the shelf it
// produces.
#include <benchmark/benchmark.h>
#include <tinyxml.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>

#include "account/purchased_list.h"
#include "app/local_file_info.h"
#include "base/ansi.h"
#include "base/files.h"
#include "base/folders.h"
#include "library/catalogue_scan.h"
#include "library/local_books.h"
#include "library/search.h"
#include "library/shelf_operations.h"
#include "platform/dialogs.h"
#include "ratio_reporter.h"

using account::ImportPurchasedList;
using library::AddLocalBook;
using library::Catalogue;
using library::CatalogueFolders;
using library::CatalogueReading;
using library::CatalogueScan;
using library::CopyItemToGroup;
using library::CreateUserShelf;
using library::Search;

namespace {

namespace fs = std::filesystem;

std::string Gb(const char* utf8) { return ansi::FromUtf8Lossy(utf8); }

// A dialog face that confirms every form as it stands: the scripted user of the book
// information dialog (a test double; no display is involved).
class ConfirmingDialogs : public platform::Dialogs {
 public:
  void Message(const std::string&, const std::string&) override {}
  bool Question(const std::string&, const std::string&) override { return true; }
  void About() override {}
  bool OpenFiles(const std::vector<platform::FileFilter>&, bool,
                 std::vector<std::string>*) override {
    return false;
  }
  bool Form(platform::FormSpec*) override { return true; }
};

// A catalogue of one group of |items| items, ids |tag| followed by a number ("local_"
// and a number for the local catalogue); one item in a hundred has "星" in its name.
std::string CatalogueText(const std::string& tag, int items) {
  std::string xml = Gb("<?xml version=\"1.0\" encoding=\"gb2312\" ?>\r\n<目录 分类=\"1\" "
                       "总数=\"0\" 最大值=\"1000\">\r\n"
                       "    <分类 id=\"") +
                    Gb(tag == "local" ? "pdf文件" : "精选") +
                    Gb("\" 总数=\"0\" 最大值=\"1000\">\r\n");
  for (int i = 0; i < items; ++i) {
    std::string id = tag == "local" ? "local_" + std::to_string(i) : tag + std::to_string(i);
    xml += "        <" + Gb("书") + " id=\"" + id + "\" name=\"" +
           Gb(i % 100 == 7 ? "星空之书 第" : "山海经注 第") + std::to_string(i) +
           "\" photo=\"/public/local/LocalDefaultPic.jpg\" date=\"2026-" +
           std::to_string(i % 12 + 1) + "\" pay=\"0\" price=\"12.50\" DLurl=\"http://shop/" + id +
           ".pdf\" RDurl=\"\" BYurl=\"http://shop/buy/" + id + "\" />\r\n";
  }
  return xml + Gb("    </分类>\r\n</目录>\r\n");
}

// A data folder and a program folder with six catalogues of |items| items each.
class Library {
 public:
  explicit Library(int items)
      : root_(MakeRoot(items)), folders_(root_ + "/data/", root_ + "/prog/") {
    fs::create_directories(root_ + "/prog/me");
    const char* tokens[] = {"maga", "book", "audio", "mics", "video", "local"};
    for (const char* t : tokens) {
      fs::create_directories(root_ + "/data/public/" + t);
      const std::string path = root_ + "/data/public/" + t + "/" + t + "1.xml";
      if (!base::ReplaceFileContents(path, CatalogueText(t, items))) std::abort();
      files_.push_back(path);
    }
    shelf_ = root_ + "/prog/me/me.xml";
  }
  ~Library() { fs::remove_all(root_); }

  const CatalogueFolders& folders() const { return folders_; }
  const std::vector<std::string>& files() const { return files_; }
  const std::string& shelf() const { return shelf_; }

 private:
  static std::string MakeRoot(int items) {
    std::string root =
        (fs::temp_directory_path() / ("lumora-library-bench-" + std::to_string(items))).string();
    fs::remove_all(root);
    return root;
  }
  std::string root_;
  CatalogueFolders folders_;
  std::vector<std::string> files_;
  std::string shelf_;
};

std::map<int, std::unique_ptr<Library>> libraries;
Library& LibraryOf(int items) {
  auto& library = libraries[items];
  if (!library) library = std::make_unique<Library>(items);
  return *library;
}

// Plain TinyXML: parse one catalogue file and print it back to a file.
void ParsePrint(const std::string& path, const std::string& out) {
  TiXmlDocument document;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  document.LoadFile(f, TIXML_DEFAULT_ENCODING);
  std::fclose(f);
  TiXmlPrinter printer;
  printer.SetLineBreak("\r\n");
  document.Accept(&printer);
  std::FILE* o = std::fopen(out.c_str(), "wb");
  std::fwrite(printer.CStr(), 1, printer.Size(), o);
  std::fclose(o);
}

// Plain TinyXML: parse one catalogue file (the tree is destroyed with the document).
void Parse(const std::string& path) {
  TiXmlDocument document;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  document.LoadFile(f, TIXML_DEFAULT_ENCODING);
  std::fclose(f);
  if (document.Error()) std::abort();
}

void BM_Parse(benchmark::State& state) {
  Library& library = LibraryOf(static_cast<int>(state.range(0)));
  for (auto _ : state) Parse(library.files()[1]);
}

void BM_ParsePrint(benchmark::State& state) {
  Library& library = LibraryOf(static_cast<int>(state.range(0)));
  const std::string out = library.files()[1] + ".printed";
  for (auto _ : state) ParsePrint(library.files()[1], out);
}

void BM_Search(benchmark::State& state) {
  Library& library = LibraryOf(static_cast<int>(state.range(0)));
  const std::string tokens = Gb("杂志&图书&音频&程序&视频&本地文件");
  const std::string keyword = Gb("星空");
  // The search is timed; its results were checked when the fixture was made.
  for (auto _ : state) (void)Search(library.folders(), tokens, keyword);
}

void BM_SearchThroughModel(benchmark::State& state) {
  Library& library = LibraryOf(static_cast<int>(state.range(0)));
  const std::string tokens = Gb("杂志&图书&音频&程序&视频&本地文件");
  const std::string keyword = Gb("星空");
  // As above, through the model.
  for (auto _ : state) (void)Search(library.folders(), tokens, keyword, CatalogueReading::kModel);
}

// What a search costs besides reading the catalogues: a category list that names none
// only resets the results file (read and written through the model, flushed to disk).
// A search of any number of catalogues does this once.
void BM_ResultsReset(benchmark::State& state) {
  Library& library = LibraryOf(static_cast<int>(state.range(0)));
  const std::string keyword = Gb("星空");
  // As above, one catalogue.
  for (auto _ : state) (void)Search(library.folders(), Gb("杂项"), keyword);
}

// The scan alone: reading one catalogue file and scanning it.
void BM_Scan(benchmark::State& state) {
  Library& library = LibraryOf(static_cast<int>(state.range(0)));
  const std::string keyword = Gb("星空");
  std::vector<library::CXmlElement::Fields> matches;
  for (auto _ : state) {
    std::string text;
    if (!base::ReadRegularFile(library.files()[1], 64 << 20, &text).ok()) std::abort();
    if (CatalogueScan::FindMatches(text, keyword, &matches) != CatalogueScan::Result::kRead)
      state.SkipWithError("the scan did not read the catalogue");
  }
}

void BM_CopyItemToGroup(benchmark::State& state) {
  Library& library = LibraryOf(static_cast<int>(state.range(0)));
  const std::string favourites = Gb("我的收藏");
  int next = 0;
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove(library.shelf());
    if (!CreateUserShelf(library.shelf())) state.SkipWithError("no shelf");
    const std::string id = "book" + std::to_string(next++ % state.range(0));
    state.ResumeTiming();
    CopyItemToGroup(library.files()[1], Gb("精选"), id, library.shelf(), favourites);
  }
}

void BM_AddLocalFile(benchmark::State& state) {
  Library& library = LibraryOf(static_cast<int>(state.range(0)));
  const std::string local = library.files()[5];
  std::string original;
  if (!base::ReadWholeFile(local, &original).ok()) std::abort();
  ConfirmingDialogs dialogs;
  std::time_t second = 1700000000;
  for (auto _ : state) {
    state.PauseTiming();
    if (!base::ReplaceFileContents(local, original)) state.SkipWithError("reset failed");
    state.ResumeTiming();
    app::CLocalFileInfo dialog("/home/reader/Report.PDF", dialogs);
    if (dialog.DoModal()) AddLocalBook(library.folders(), dialog.info(), ++second);
  }
}

// A purchased list of |entries| entries naming, in turn, every item of a books and of a
// video catalogue of |entries| / 2 items each, and an empty user shelf to import it into.
// The shelf the import produces is kept beside it for the anchor.
class Purchases {
 public:
  explicit Purchases(int entries)
      : root_((fs::temp_directory_path() / "lumora-library-bench-purchases").string()),
        folders_(root_ + "/data/", root_ + "/prog/"),
        shelf_(root_ + "/prog/me/me.xml"),
        produced_(root_ + "/produced.xml") {
    fs::remove_all(root_);
    fs::create_directories(root_ + "/prog/me");
    for (const char* t : {"book", "video"}) {
      fs::create_directories(root_ + "/data/public/" + t);
      if (!base::ReplaceFileContents(root_ + "/data/public/" + t + "/" + t + "1.xml",
                                     CatalogueText(t, entries / 2)))
        std::abort();
    }
    reply_ = "<r><Code>0</Code>";
    for (int i = 0; i < entries; ++i) {
      const bool book = i % 2 == 0;
      reply_ += "<i PID=\"" + std::string(book ? "book" : "video") + std::to_string(i / 2) +
                "\" BigClass=\"" + Gb(book ? "图书" : "视频") + "\" Class=\"" + Gb("精选") + "\"/>";
    }
    reply_ += "</r>";
    ResetShelf();
    ImportPurchasedList(folders_, shelf_, reply_);
    if (!base::CopyFileReplacing(shelf_, produced_).ok()) std::abort();
  }
  ~Purchases() { fs::remove_all(root_); }

  void ResetShelf() const {
    fs::remove(shelf_);
    if (!CreateUserShelf(shelf_)) std::abort();
  }
  const CatalogueFolders& folders() const { return folders_; }
  const std::string& shelf() const { return shelf_; }
  const std::string& produced() const { return produced_; }
  const std::string& reply() const { return reply_; }

 private:
  std::string root_;
  CatalogueFolders folders_;
  std::string shelf_;
  std::string produced_;
  std::string reply_;
};

std::unique_ptr<Purchases> purchases;
Purchases& PurchasesOf(int entries) {
  if (!purchases) purchases = std::make_unique<Purchases>(entries);
  return *purchases;
}

void BM_ImportPurchasedList(benchmark::State& state) {
  Purchases& p = PurchasesOf(static_cast<int>(state.range(0)));
  bool unsaved = false;
  for (auto _ : state) {
    state.PauseTiming();
    p.ResetShelf();
    state.ResumeTiming();
    ImportPurchasedList(p.folders(), p.shelf(), p.reply(), &unsaved);
  }
  if (unsaved) state.SkipWithError("the shelf was not written");
}

// The anchor: plain TinyXML parsing and printing the shelf that the import produces.
void BM_ParsePrintPurchasedShelf(benchmark::State& state) {
  Purchases& p = PurchasesOf(static_cast<int>(state.range(0)));
  const std::string out = p.produced() + ".printed";
  for (auto _ : state) ParsePrint(p.produced(), out);
}

BENCHMARK(BM_ParsePrint)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Parse)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Search)->Arg(100)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchThroughModel)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResultsReset)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Scan)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyItemToGroup)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddLocalFile)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImportPurchasedList)->Arg(100000)->MinTime(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParsePrintPurchasedShelf)->Arg(100000)->MinTime(2)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  libraries.clear();
  purchases.reset();

  auto time = [&](const std::string& name, int n) {
    auto it = reporter.times.find(name + "/" + std::to_string(n));
    return it == reporter.times.end() ? 0.0 : it->second;
  };
  // What each operation parses and prints: Search the six catalogues, the others one.
  const struct {
    const char* name;
    double files;
  } ops[] = {{"BM_Search", 6}, {"BM_CopyItemToGroup", 1}, {"BM_AddLocalFile", 1}};
  std::printf("\n%-20s %10s %10s %10s %14s\n", "ratio to parse+print", "100", "1000", "10000",
              "growth 1k->10k");
  for (const auto& op : ops) {
    std::printf("%-20s", op.name + 3);
    for (int n : {100, 1000, 10000}) {
      double base = time("BM_ParsePrint", n) * op.files;
      std::printf(" %10.2f", base > 0 ? time(op.name, n) / base : 0.0);
    }
    double small = time(op.name, 1000);
    std::printf(" %14.2f\n", small > 0 ? time(op.name, 10000) / small : 0.0);
  }
  double pp = time("BM_ParsePrint", 1000);
  std::printf("%-20s %10s %10s %10s %14.2f\n", "ParsePrint", "1.00", "1.00", "1.00",
              pp > 0 ? time("BM_ParsePrint", 10000) / pp : 0.0);

  // The search against parsing alone: six catalogues for a search, one for the scan.
  const struct {
    const char* name;
    double files;
  } reads[] = {{"BM_Search", 6}, {"BM_SearchThroughModel", 6}, {"BM_Scan", 1}, {"BM_Parse", 1}};
  std::printf("\n%-20s %10s %10s %10s %10s %10s\n", "ratio to parse", "1000", "10000", "100000",
              "1k->10k", "10k->100k");
  for (const auto& op : reads) {
    std::printf("%-20s", op.name + 3);
    for (int n : {1000, 10000, 100000}) {
      double base = time("BM_Parse", n) * op.files;
      std::printf(" %10.2f", base > 0 ? time(op.name, n) / base : 0.0);
    }
    for (int n : {1000, 10000}) {
      double small = time(op.name, n);
      std::printf(" %10.2f", small > 0 ? time(op.name, n * 10) / small : 0.0);
    }
    std::printf("\n");
  }

  // The purchased list against parsing and printing the shelf it produces (both run for
  // two seconds at least, which their names carry).
  auto timed_long = [&](const std::string& name) {
    auto it = reporter.times.find(name + "/100000/min_time:2.000");
    return it == reporter.times.end() ? 0.0 : it->second;
  };
  const double produced = timed_long("BM_ParsePrintPurchasedShelf");
  std::printf("\n%-44s %10.2f\n", "ratio ImportPurchasedList 100000 / parse+print",
              produced > 0 ? timed_long("BM_ImportPurchasedList") / produced : 0.0);
  return 0;
}
