#include "storage/pack_file_mgr.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <vector>

#include "platform/ansi.h"
#include "platform/folders.h"

namespace {

const char kTrailer[] = "PACKED";
constexpr int kTrailerLength = 6;

struct State {
  std::mutex mutex;
  std::map<std::string, CPackFileMgr::Entry> directory;
  bool packed = false;
  std::string store_path;  // empty: the program file
};

State& state() {
  static State s;
  return s;
}

// Closes a FILE* when it goes out of scope.
struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

bool ReadU32(std::FILE* f, std::uint32_t* value) {
  unsigned char b[4];
  if (std::fread(b, 1, 4, f) != 4) return false;
  *value = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
  return true;
}

bool WriteU32(std::FILE* f, std::uint32_t value) {
  unsigned char b[4] = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
                        static_cast<unsigned char>(value >> 16),
                        static_cast<unsigned char>(value >> 24)};
  return std::fwrite(b, 1, 4, f) == 4;
}

long long FileLength(std::FILE* f) {
  if (fseeko(f, 0, SEEK_END) != 0) return -1;
  return ftello(f);
}

void WriteFiller(std::FILE* f, int count) {
  for (int i = 0; i < count; ++i) std::fputc(static_cast<unsigned char>(~(std::rand() % 100)), f);
}

}  // namespace

std::string CPackFileMgr::StorePath() {
  std::lock_guard<std::mutex> lock(state().mutex);
  return state().store_path.empty() ? platform::ProgramFile() : state().store_path;
}

void CPackFileMgr::UseStoreFile(const std::string& path) {
  std::lock_guard<std::mutex> lock(state().mutex);
  state().store_path = path;
}

bool CPackFileMgr::packed() {
  std::lock_guard<std::mutex> lock(state().mutex);
  return state().packed;
}

std::size_t CPackFileMgr::DirectorySize() {
  std::lock_guard<std::mutex> lock(state().mutex);
  return state().directory.size();
}

void CPackFileMgr::ComplementString(char* text) {
  for (; *text != '\0'; ++text) *text = static_cast<char>(255 - static_cast<unsigned char>(*text));
}

bool CPackFileMgr::IsPacked(std::FILE* file) {
  if (fseeko(file, -kTrailerLength, SEEK_END) != 0) return false;
  char buffer[10] = {};
  if (std::fread(buffer, 1, kTrailerLength, file) != kTrailerLength) return false;
  ComplementString(buffer);
  if (std::memcmp(buffer, kTrailer, kTrailerLength) != 0) return false;
  std::lock_guard<std::mutex> lock(state().mutex);
  state().packed = true;
  return true;
}

bool CPackFileMgr::ClearDirectory() {
  std::lock_guard<std::mutex> lock(state().mutex);
  state().directory.clear();
  return true;
}

bool CPackFileMgr::LoadDirectory() {
  ClearDirectory();
  File f(std::fopen(StorePath().c_str(), "rb"));
  if (!f || !IsPacked(f.get())) return false;
  const long long length = FileLength(f.get());
  std::uint32_t d, count;
  if (length < kTailLength + 4 || fseeko(f.get(), -(kTailLength + 4), SEEK_END) != 0 ||
      !ReadU32(f.get(), &d))
    return false;
  // The directory must lie wholly before the fixed tail.
  const long long directory_end = length - kTailLength - 8;
  if (static_cast<long long>(d) + 4 > directory_end || fseeko(f.get(), d, SEEK_SET) != 0 ||
      !ReadU32(f.get(), &count))
    return false;
  const auto n = static_cast<std::int32_t>(count);
  if (n < 0 || static_cast<long long>(n) * kEntrySize > directory_end - d - 4) return false;
  std::map<std::string, Entry> directory;
  for (std::int32_t i = 0; i < n; ++i) {
    unsigned char raw[kEntrySize];
    if (std::fread(raw, 1, kEntrySize, f.get()) != kEntrySize) return false;
    Entry entry;
    std::memcpy(entry.name, raw, kNameSize);
    entry.name[kNameSize - 1] = '\0';
    entry.offset = raw[64] | (raw[65] << 8) | (raw[66] << 16) |
                   (static_cast<std::uint32_t>(raw[67]) << 24);
    entry.size = static_cast<std::int32_t>(raw[68] | (raw[69] << 8) | (raw[70] << 16) |
                                           (static_cast<std::uint32_t>(raw[71]) << 24));
    directory.emplace(std::string(entry.name), entry);  // the first of a name stays
  }
  std::lock_guard<std::mutex> lock(state().mutex);
  state().directory = std::move(directory);
  return true;
}

bool CPackFileMgr::ExtractFile(const std::string& name, std::unique_ptr<char[]>* buffer,
                               std::int32_t* size) {
  Entry entry;
  {
    std::lock_guard<std::mutex> lock(state().mutex);
    if (!state().packed) return false;
    auto it = state().directory.find(name);
    if (it == state().directory.end()) return false;
    entry = it->second;
  }
  if (entry.size < 1) return false;
  File f(std::fopen(StorePath().c_str(), "rb"));
  if (!f) return false;
  // The contents must lie inside the file: no read past its end, no huge allocation.
  const long long length = FileLength(f.get());
  if (static_cast<long long>(entry.offset) + entry.size > length) return false;
  auto data = std::make_unique<char[]>(static_cast<std::size_t>(entry.size));
  if (fseeko(f.get(), entry.offset, SEEK_SET) != 0 ||
      std::fread(data.get(), 1, static_cast<std::size_t>(entry.size), f.get()) !=
          static_cast<std::size_t>(entry.size))
    return false;
  *buffer = std::move(data);
  *size = entry.size;
  return true;
}

void CPackFileMgr::WriteTrailer(std::FILE* file, int tail_length) {
  WriteFiller(file, tail_length - kTrailerLength);
  char trailer[sizeof kTrailer];
  std::memcpy(trailer, kTrailer, sizeof kTrailer);
  ComplementString(trailer);
  std::fwrite(trailer, 1, kTrailerLength, file);
}

bool CPackFileMgr::PackFiles(const std::string& paths) {
  std::string error;
  return PackFilesInto(platform::ProgramFile(), paths, &error);
}

bool CPackFileMgr::PackFilesInto(const std::string& executable, const std::string& paths,
                                 std::string* error) {
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  File exe(std::fopen(executable.c_str(), "r+b"));
  if (!exe) {
    *error = "cannot open " + executable + " for update";
    return false;
  }
  if (IsPacked(exe.get())) {
    *error = executable + " already carries a store";
    return false;
  }
  // Packing order: by full path; a path given twice is stored once.
  std::map<std::string, Entry> files;
  std::size_t start = 0;
  while (start <= paths.size()) {
    std::size_t comma = paths.find(',', start);
    if (comma == std::string::npos) comma = paths.size();
    std::string path = paths.substr(start, comma - start);
    start = comma + 1;
    if (path.empty()) continue;
    std::string name(ansi::AfterLastSeparator(path));
    if (name.size() > kNameSize - 1) {
      *error = "stored name \"" + name + "\" is longer than 63 bytes";
      return false;
    }
    Entry entry{};
    std::memcpy(entry.name, name.data(), name.size());
    files.emplace(path, entry);
  }
  const long long l = FileLength(exe.get());
  if (l < 0) {
    *error = "cannot seek in " + executable;
    return false;
  }
  WriteFiller(exe.get(), std::rand() % 200 + 100);
  const long long d = ftello(exe.get());
  long long offset = d + 4 + static_cast<long long>(kEntrySize) * files.size();
  for (auto& [path, entry] : files) {
    File in(std::fopen(path.c_str(), "rb"));
    long long size = in ? FileLength(in.get()) : -1;
    if (size < 0 || size > 0x7fffffff || offset + size > 0xffffffffLL) {
      *error = "cannot read " + path;
      return false;
    }
    std::vector<char> contents(static_cast<std::size_t>(size));
    std::rewind(in.get());
    if (std::fread(contents.data(), 1, contents.size(), in.get()) != contents.size()) {
      *error = "cannot read " + path;
      return false;
    }
    entry.offset = static_cast<std::uint32_t>(offset);
    entry.size = static_cast<std::int32_t>(size);
    fseeko(exe.get(), offset, SEEK_SET);
    std::fwrite(contents.data(), 1, contents.size(), exe.get());
    offset += size;
  }
  fseeko(exe.get(), d, SEEK_SET);
  WriteU32(exe.get(), static_cast<std::uint32_t>(files.size()));
  for (const auto& [path, entry] : files) {
    std::fwrite(entry.name, 1, kNameSize, exe.get());
    WriteU32(exe.get(), entry.offset);
    WriteU32(exe.get(), static_cast<std::uint32_t>(entry.size));
  }
  fseeko(exe.get(), offset, SEEK_SET);
  WriteFiller(exe.get(), std::rand() % 30 + 20);
  WriteU32(exe.get(), static_cast<std::uint32_t>(l));
  WriteU32(exe.get(), static_cast<std::uint32_t>(d));
  WriteTrailer(exe.get(), kTailLength);
  if (std::fflush(exe.get()) != 0 || std::ferror(exe.get())) {
    *error = "cannot write " + executable;
    return false;
  }
  return true;
}
