#include "storage/pack_file_mgr.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "../support/temp_dir.h"
#include "base/status.h"
#include "storage/coding.h"
#include "storage/store_packer.h"

namespace {

using base::Status;
using storage::CPackFileMgr;
using storage::DecodeFixed32;
using storage::PackFilesInto;
using storage::PutFixed32;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::uint32_t U32(const std::string& bytes, std::size_t at) {
  return DecodeFixed32(bytes.data() + at);
}

// A store laid out by hand, for damaged and unusual directories.
struct RawEntry {
  std::string name;
  std::uint32_t offset;
  std::int32_t size;
};
std::string HandMadeStore(const std::string& image, std::uint32_t count_field,
                          const std::vector<RawEntry>& entries, const std::string& contents) {
  std::string file = image + std::string(100, '\xF0');
  const auto d = static_cast<std::uint32_t>(file.size());
  PutFixed32(&file, count_field);
  for (const RawEntry& e : entries) {
    std::string name = e.name;
    name.resize(64, '\0');
    file += name;
    PutFixed32(&file, e.offset);
    PutFixed32(&file, static_cast<std::uint32_t>(e.size));
  }
  file += contents + std::string(20, '\xF0');
  PutFixed32(&file, static_cast<std::uint32_t>(image.size()));
  PutFixed32(&file, d);
  file += std::string(94, '\xF0');
  std::string trailer = "PACKED";
  CPackFileMgr::ComplementString(trailer.data());
  return file + trailer;
}

class PackFileMgrTest : public ::testing::Test {
 protected:
  void TearDown() override {
    CPackFileMgr::TEST_UseStoreFile("");
    CPackFileMgr::ClearDirectory();
  }
  std::string Extract(const std::string& name) {
    std::unique_ptr<char[]> buffer;
    std::int32_t size = 0;
    if (!CPackFileMgr::ExtractFile(name, &buffer, &size)) return "<none>";
    return std::string(buffer.get(), static_cast<std::size_t>(size));
  }
  bool LoadFrom(const std::string& content) {
    dir_.Write("exe", content);
    CPackFileMgr::TEST_UseStoreFile(dir_ / "exe");
    return CPackFileMgr::LoadDirectory();
  }
  TempDir dir_;
};

TEST_F(PackFileMgrTest, TheBuiltProgramCarriesTheMovie) {
  const std::string exe = ReadAll(LUMORA_BINARY);
  ASSERT_GT(exe.size(), 200u);
  std::string trailer = exe.substr(exe.size() - 6);
  CPackFileMgr::ComplementString(trailer.data());
  EXPECT_EQ(trailer, "PACKED");
  const std::uint32_t d = U32(exe, exe.size() - 104);
  EXPECT_EQ(U32(exe, d), 1u);
  EXPECT_STREQ(exe.c_str() + d + 4, "main12.swf");
  const std::uint32_t offset = U32(exe, d + 4 + 64);
  const std::uint32_t size = U32(exe, d + 4 + 68);
  EXPECT_EQ(offset, d + 76);
  const std::string movie = ReadAll(std::string(LUMORA_MOVIE_FILE));
  EXPECT_EQ(exe.substr(offset, size), movie);
  // L is written before D; the leading filler is 100 to 299 bytes.
  const std::uint32_t l = U32(exe, exe.size() - 108);
  EXPECT_GE(d - l, 100u);
  EXPECT_LT(d - l, 300u);
  // Read back through the store.
  CPackFileMgr::TEST_UseStoreFile(LUMORA_BINARY);
  ASSERT_TRUE(CPackFileMgr::LoadDirectory());
  EXPECT_EQ(Extract("main12.swf"), movie);
  EXPECT_EQ(Extract("MAIN12.SWF"), "<none>");
}

TEST_F(PackFileMgrTest, PacksByFullPathAndRefusesASecondStore) {
  dir_.Write("exe", std::string(1000, 'E'));
  dir_.Write("b/one.txt", "first");
  dir_.Write("a/two.txt", "second");
  const Status packing = PackFilesInto(
      dir_ / "exe", dir_ / "b/one.txt" + "," + dir_ / "a/two.txt" + ",," + dir_ / "b/one.txt");
  ASSERT_TRUE(packing.ok()) << packing.ToString();
  const std::string packed = dir_.Read("exe");
  EXPECT_EQ(packed.substr(0, 1000), std::string(1000, 'E'));
  const std::uint32_t d = U32(packed, packed.size() - 104);
  ASSERT_EQ(U32(packed, d), 2u);
  // "…/a/two.txt" sorts before "…/b/one.txt": its contents come first.
  EXPECT_STREQ(packed.c_str() + d + 4, "two.txt");
  EXPECT_STREQ(packed.c_str() + d + 76, "one.txt");
  EXPECT_EQ(U32(packed, d + 4 + 64), d + 4 + 2 * 72);
  for (std::size_t i = 1000; i < d; ++i)
    ASSERT_GE(static_cast<unsigned char>(packed[i]), 0x9C) << "filler byte " << i;

  CPackFileMgr::TEST_UseStoreFile(dir_ / "exe");
  ASSERT_TRUE(CPackFileMgr::LoadDirectory());
  EXPECT_EQ(Extract("one.txt"), "first");
  EXPECT_EQ(Extract("two.txt"), "second");
  EXPECT_EQ(Extract("One.txt"), "<none>");

  const Status again = PackFilesInto(dir_ / "exe", dir_ / "a/two.txt");
  EXPECT_EQ(again.code(), Status::Code::kInvalid);
  EXPECT_NE(again.message().find("already"), std::string::npos);
  EXPECT_EQ(dir_.Read("exe"), packed);
}

TEST_F(PackFileMgrTest, LongNamesAndMissingFilesAreRefused) {
  dir_.Write("exe", "EXE");
  const std::string long_name(64, 'n');
  dir_.Write(long_name, "x");
  const Status too_long = PackFilesInto(dir_ / "exe", dir_ / long_name);
  EXPECT_EQ(too_long.code(), Status::Code::kInvalid);
  EXPECT_NE(too_long.message().find("longer than 63"), std::string::npos);
  EXPECT_EQ(dir_.Read("exe"), "EXE");  // refused before anything was written
  dir_.Write(std::string(63, 'n'), "y");
  EXPECT_TRUE(PackFilesInto(dir_ / "exe", dir_ / std::string(63, 'n')).ok());

  dir_.Write("exe2", "EXE");
  EXPECT_TRUE(PackFilesInto(dir_ / "exe2", dir_ / "missing").IsNotFound());
  CPackFileMgr::TEST_UseStoreFile(dir_ / "exe2");
  EXPECT_FALSE(CPackFileMgr::LoadDirectory());  // no trailer was written
}

TEST_F(PackFileMgrTest, FoldersAndFifosAreNotPacked) {
  // A FIFO would wait for a writer for ever; a folder reads as garbage or nothing.
  dir_.MakeDir("folder");
  ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  for (const std::string name : {"folder", "fifo"}) {
    dir_.Write("exe", "EXE");
    EXPECT_EQ(PackFilesInto(dir_ / "exe", dir_ / name).code(), Status::Code::kNotRegular) << name;
    CPackFileMgr::TEST_UseStoreFile(dir_ / "exe");
    EXPECT_FALSE(CPackFileMgr::LoadDirectory()) << name;
  }
}

TEST_F(PackFileMgrTest, AStoreBeyondFourGibibytesIsRefused) {
  // Its offsets would not fit in 32 bits. The file is sparse: it takes no space.
  dir_.Write("exe", "");
  ASSERT_EQ(truncate((dir_ / "exe").c_str(), 0x100000000LL), 0);
  dir_.Write("small.txt", "small");
  for (const std::string& list : {std::string(","), dir_ / "small.txt"}) {
    EXPECT_EQ(PackFilesInto(dir_ / "exe", list).code(), Status::Code::kTooLarge) << list;
    CPackFileMgr::TEST_UseStoreFile(dir_ / "exe");
    EXPECT_FALSE(CPackFileMgr::LoadDirectory()) << list;
  }
}

TEST_F(PackFileMgrTest, DuplicateNamesKeepTheFirstEntry) {
  std::string image = "IMAGE";
  std::string contents = "firstsecond";
  std::uint32_t base = static_cast<std::uint32_t>(image.size() + 100 + 4 + 2 * 72);
  ASSERT_TRUE(
      LoadFrom(HandMadeStore(image, 2, {{"same", base, 5}, {"same", base + 5, 6}}, contents)));
  EXPECT_EQ(CPackFileMgr::TEST_DirectorySize(), 1u);
  EXPECT_EQ(Extract("same"), "first");
}

TEST_F(PackFileMgrTest, EmptyNegativeAndOutOfRangeEntriesAreNotExtracted) {
  std::string image = "IMAGE";
  std::uint32_t base = static_cast<std::uint32_t>(image.size() + 100 + 4 + 5 * 72);
  ASSERT_TRUE(LoadFrom(HandMadeStore(image, 5,
                                     {{"zero", base, 0},
                                      {"negative", base, -5},
                                      {"past-end", base, 100000},
                                      {"wraps", 0xFFFFFFF0u, 0x7FFFFFFF},
                                      {"good", base, 4}},
                                     "data")));
  EXPECT_EQ(Extract("zero"), "<none>");
  EXPECT_EQ(Extract("negative"), "<none>");
  EXPECT_EQ(Extract("past-end"), "<none>");
  EXPECT_EQ(Extract("wraps"), "<none>");
  EXPECT_EQ(Extract("good"), "data");
}

TEST_F(PackFileMgrTest, DamagedStoresAreRefusedWhole) {
  // No trailer at all.
  EXPECT_FALSE(LoadFrom(std::string(500, 'x')));
  EXPECT_EQ(Extract("anything"), "<none>");
  // Shorter than the trailer.
  EXPECT_FALSE(LoadFrom("ab"));
  // An absurd count.
  EXPECT_FALSE(LoadFrom(HandMadeStore("IMG", 0x7FFFFFFF, {}, "")));
  EXPECT_FALSE(LoadFrom(HandMadeStore("IMG", 0xFFFFFFFF, {}, "")));
  // A count larger than the entries present.
  EXPECT_FALSE(LoadFrom(HandMadeStore("IMG", 3, {{"a", 0, 1}}, "")));
  // D pointing past the end.
  std::string store = HandMadeStore("IMG", 0, {}, "");
  std::uint32_t bad = 0xFFFFFF00u;
  storage::EncodeFixed32(store.data() + store.size() - 104, bad);
  EXPECT_FALSE(LoadFrom(store));
  // A truncated store: the trailer survives but the directory is gone.
  std::string whole = HandMadeStore(std::string(50, 'I'), 1, {{"a", 154, 1}}, "z");
  EXPECT_FALSE(LoadFrom(whole.substr(0, 30) + whole.substr(whole.size() - 108)));
  EXPECT_EQ(CPackFileMgr::TEST_DirectorySize(), 0u);
}

TEST_F(PackFileMgrTest, ComplementTwiceRestores) {
  char text[] = "PACKED";
  CPackFileMgr::ComplementString(text);
  EXPECT_EQ(static_cast<unsigned char>(text[0]), 255 - 'P');
  CPackFileMgr::ComplementString(text);
  EXPECT_STREQ(text, "PACKED");
}

}  // namespace
