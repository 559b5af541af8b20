#include "storage/store_packer.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string_view>

#include "base/ansi.h"
#include "base/files.h"
#include "base/unique_file.h"
#include "storage/coding.h"
#include "storage/pack_file_mgr.h"

namespace storage {
namespace {

using base::Status;
using Entry = CPackFileMgr::Entry;
// The files to pack by full path, which is the packing order.
using PackList = std::map<std::string, Entry>;

// Offsets are unsigned 32-bit, sizes signed 32-bit.
constexpr long long kOffsetLimit = 0xffffffffLL;
constexpr std::size_t kSizeLimit = 0x7fffffff;

// The executable being packed, with the path its errors name.
struct Target {
  std::FILE* file;
  const std::string& path;
};

Status SeekTo(const Target& exe, long long offset) {
  if (fseeko(exe.file, offset, SEEK_SET) != 0) return base::PosixError(exe.path, errno);
  return Status::Ok();
}

Status Append(const Target& exe, std::string_view bytes) {
  if (std::fwrite(bytes.data(), 1, bytes.size(), exe.file) != bytes.size())
    return base::PosixError(exe.path, errno);
  return Status::Ok();
}

// Appends |count| filler bytes: complements of random numbers below 100.
Status AppendFiller(const Target& exe, int count) {
  std::string filler(static_cast<std::size_t>(count), '\0');
  for (char& byte : filler) byte = static_cast<char>(~(std::rand() % 100));
  return Append(exe, filler);
}

Status AppendTrailerTo(const Target& exe, int tail_length) {
  if (Status s = AppendFiller(exe, tail_length - CPackFileMgr::kTrailerLength); !s.ok()) return s;
  char trailer[sizeof CPackFileMgr::kTrailer];
  std::memcpy(trailer, CPackFileMgr::kTrailer, sizeof trailer);
  CPackFileMgr::ComplementString(trailer);
  return Append(exe, std::string_view(trailer, CPackFileMgr::kTrailerLength));
}

// The files of the comma-separated |paths|, each with an entry holding its bare name.
Status ReadList(const std::string& paths, PackList* files) {
  std::size_t start = 0;
  while (start <= paths.size()) {
    std::size_t comma = paths.find(',', start);
    if (comma == std::string::npos) comma = paths.size();
    std::string path = paths.substr(start, comma - start);
    start = comma + 1;
    if (path.empty()) continue;
    const std::string_view name = ansi::AfterLastSeparator(path);
    if (name.size() > CPackFileMgr::kNameSize - 1)
      return Status::Invalid("stored name \"" + std::string(name) + "\" is longer than 63 bytes");
    Entry entry{};
    std::memcpy(entry.name, name.data(), name.size());
    files->emplace(std::move(path), entry);
  }
  return Status::Ok();
}

// Writes the files' contents one after another from |offset| on, recording in each
// entry where its contents went and how long they are; |*end| is behind the last.
Status WriteContents(const Target& exe, long long offset, PackList* files, long long* end) {
  if (offset > kOffsetLimit) return Status::TooLarge(exe.path + ": the store would lie past 4 GiB");
  for (auto& [path, entry] : *files) {
    std::string contents;
    if (Status s = base::ReadRegularFile(path, kSizeLimit, &contents); !s.ok()) return s;
    const auto size = static_cast<long long>(contents.size());
    if (offset + size > kOffsetLimit)
      return Status::TooLarge(path + ": would lie past 4 GiB in the store");
    entry.offset = static_cast<std::uint32_t>(offset);
    entry.size = static_cast<std::int32_t>(size);
    if (Status s = SeekTo(exe, offset); !s.ok()) return s;
    if (Status s = Append(exe, contents); !s.ok()) return s;
    offset += size;
  }
  *end = offset;
  return Status::Ok();
}

// Writes the entry count and the entries at |d|.
Status WriteDirectory(const Target& exe, long long d, const PackList& files) {
  std::string directory(4 + files.size() * CPackFileMgr::kEntrySize, '\0');
  EncodeFixed32(directory.data(), static_cast<std::uint32_t>(files.size()));
  char* out = directory.data() + 4;
  for (const auto& [path, entry] : files) {
    entry.EncodeTo(out);
    out += CPackFileMgr::kEntrySize;
  }
  if (Status s = SeekTo(exe, d); !s.ok()) return s;
  return Append(exe, directory);
}

// Writes, behind the contents ending at |end|, the trailing filler, L, D and the
// fixed tail.
Status WriteTail(const Target& exe, long long end, long long l, long long d) {
  if (Status s = SeekTo(exe, end); !s.ok()) return s;
  if (Status s = AppendFiller(exe, std::rand() % 30 + 20); !s.ok()) return s;
  std::string lengths;
  PutFixed32(&lengths, static_cast<std::uint32_t>(l));
  PutFixed32(&lengths, static_cast<std::uint32_t>(d));
  if (Status s = Append(exe, lengths); !s.ok()) return s;
  return AppendTrailerTo(exe, CPackFileMgr::kTailLength);
}

}  // namespace

Status PackFilesInto(const std::string& executable, const std::string& paths) {
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  base::UniqueFile file(std::fopen(executable.c_str(), "r+b"));
  if (!file) return base::PosixError(executable, errno);
  const Target exe{file.get(), executable};
  if (CPackFileMgr::IsPacked(exe.file))
    return Status::Invalid(executable + " already carries a store");
  PackList files;
  if (Status s = ReadList(paths, &files); !s.ok()) return s;
  if (fseeko(exe.file, 0, SEEK_END) != 0) return base::PosixError(executable, errno);
  const long long l = ftello(exe.file);
  if (l < 0) return base::PosixError(executable, errno);
  if (Status s = AppendFiller(exe, std::rand() % 200 + 100); !s.ok()) return s;
  const long long d = ftello(exe.file);
  if (d < 0) return base::PosixError(executable, errno);
  long long end = 0;
  const long long first = d + 4 + static_cast<long long>(CPackFileMgr::kEntrySize) * files.size();
  if (Status s = WriteContents(exe, first, &files, &end); !s.ok()) return s;
  if (Status s = WriteDirectory(exe, d, files); !s.ok()) return s;
  if (Status s = WriteTail(exe, end, l, d); !s.ok()) return s;
  // Closed here to learn whether the buffered rest reached the file.
  if (std::fclose(file.release()) != 0) return base::PosixError(executable, errno);
  return Status::Ok();
}

Status AppendTrailer(std::FILE* file, int tail_length) {
  const std::string path = "the store's trailer";
  return AppendTrailerTo(Target{file, path}, tail_length);
}

}  // namespace storage
