#include "storage/pack_file_mgr.h"

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "base/folders.h"
#include "base/status.h"
#include "base/unique_file.h"
#include "storage/coding.h"
#include "storage/store_packer.h"

namespace storage {
namespace {

using base::Status;
using Entry = CPackFileMgr::Entry;
// By name, compared byte by byte; a name stands once.
using Directory = std::map<std::string, Entry>;

struct State {
  std::mutex mutex;
  Directory directory;
  bool packed = false;
  std::string store_path;  // empty: the program file
};

State& state() {
  static State s;
  return s;
}

// The length of |file|, which the reads below must stay within.
Status FileLength(std::FILE* file, const std::string& path, long long* length) {
  if (fseeko(file, 0, SEEK_END) != 0) return base::PosixError(path, errno);
  *length = ftello(file);
  if (*length < 0) return base::PosixError(path, errno);
  return Status::Ok();
}

// Reads |size| bytes at |offset| of |file| into |out|.
Status ReadAt(std::FILE* file, const std::string& path, long long offset, char* out,
              std::size_t size) {
  if (fseeko(file, offset, SEEK_SET) != 0) return base::PosixError(path, errno);
  if (std::fread(out, 1, size, file) == size) return Status::Ok();
  if (std::ferror(file)) return Status::IoError(path + ": cannot be read");
  return Status::Corrupt(path + ": the store ends early");
}

// The directory of the store in |file|, whose trailer was found. The directory must
// lie wholly between the end of the executable image and the fixed tail.
Status ReadDirectory(std::FILE* file, const std::string& path, Directory* directory) {
  long long length = 0;
  if (Status s = FileLength(file, path, &length); !s.ok()) return s;
  constexpr int kTail = CPackFileMgr::kTailLength;
  if (length < kTail + 4) return Status::Corrupt(path + ": shorter than a store's tail");
  char field[4];
  if (Status s = ReadAt(file, path, length - kTail - 4, field, sizeof field); !s.ok()) return s;
  const long long d = DecodeFixed32(field);
  // L and D stand between the directory and the tail.
  const long long directory_end = length - kTail - 8;
  if (d + 4 > directory_end) return Status::Corrupt(path + ": the directory lies past the end");
  if (Status s = ReadAt(file, path, d, field, sizeof field); !s.ok()) return s;
  const auto count = static_cast<std::int32_t>(DecodeFixed32(field));
  if (count < 0 || static_cast<long long>(count) * CPackFileMgr::kEntrySize > directory_end - d - 4)
    return Status::Corrupt(path + ": the directory counts more entries than it holds");
  // The whole directory at once, bounded by the file's length as checked above.
  std::vector<char> raw(static_cast<std::size_t>(count) * CPackFileMgr::kEntrySize);
  if (Status s = ReadAt(file, path, d + 4, raw.data(), raw.size()); !s.ok()) return s;
  for (std::size_t at = 0; at < raw.size(); at += CPackFileMgr::kEntrySize) {
    const Entry entry = Entry::Decode(raw.data() + at);
    directory->emplace(std::string(entry.name), entry);  // the first of a name stays
  }
  return Status::Ok();
}

Status LoadDirectoryFrom(const std::string& path) {
  CPackFileMgr::ClearDirectory();
  base::UniqueFile file(std::fopen(path.c_str(), "rb"));
  if (!file) return base::PosixError(path, errno);
  if (!CPackFileMgr::IsPacked(file.get())) return Status::NotFound(path + ": carries no store");
  Directory directory;
  if (Status s = ReadDirectory(file.get(), path, &directory); !s.ok()) return s;
  std::lock_guard<std::mutex> lock(state().mutex);
  state().directory = std::move(directory);
  return Status::Ok();
}

// The contents of |entry| of the store in |path|, in a new buffer of exactly its size.
// They must lie inside the file: no read past its end, no allocation beyond its size.
Status ReadContents(const std::string& path, const Entry& entry, std::unique_ptr<char[]>* buffer) {
  if (entry.size < 1) return Status::NotFound(std::string(entry.name) + ": an empty entry");
  base::UniqueFile file(std::fopen(path.c_str(), "rb"));
  if (!file) return base::PosixError(path, errno);
  long long length = 0;
  if (Status s = FileLength(file.get(), path, &length); !s.ok()) return s;
  if (static_cast<long long>(entry.offset) + entry.size > length)
    return Status::Corrupt(path + ": " + entry.name + " lies past the end");
  auto contents = std::make_unique<char[]>(static_cast<std::size_t>(entry.size));
  if (Status s = ReadAt(file.get(), path, entry.offset, contents.get(),
                        static_cast<std::size_t>(entry.size));
      !s.ok())
    return s;
  *buffer = std::move(contents);
  return Status::Ok();
}

Status ExtractFrom(const std::string& path, const std::string& name,
                   std::unique_ptr<char[]>* buffer, std::int32_t* size) {
  Entry entry;
  {
    std::lock_guard<std::mutex> lock(state().mutex);
    if (!state().packed) return Status::NotFound("no store has been found");
    auto it = state().directory.find(name);
    if (it == state().directory.end()) return Status::NotFound(name + ": not in the store");
    entry = it->second;
  }
  if (Status s = ReadContents(path, entry, buffer); !s.ok()) return s;
  *size = entry.size;
  return Status::Ok();
}

}  // namespace

CPackFileMgr::Entry CPackFileMgr::Entry::Decode(const char* raw) {
  Entry entry;
  std::memcpy(entry.name, raw, kNameSize);
  entry.name[kNameSize - 1] = '\0';
  entry.offset = DecodeFixed32(raw + kNameSize);
  entry.size = static_cast<std::int32_t>(DecodeFixed32(raw + kNameSize + 4));
  return entry;
}

void CPackFileMgr::Entry::EncodeTo(char* out) const {
  std::memcpy(out, name, kNameSize);
  EncodeFixed32(out + kNameSize, offset);
  EncodeFixed32(out + kNameSize + 4, static_cast<std::uint32_t>(size));
}

std::string CPackFileMgr::StorePath() {
  std::lock_guard<std::mutex> lock(state().mutex);
  return state().store_path.empty() ? base::ProgramFile() : state().store_path;
}

void CPackFileMgr::TEST_UseStoreFile(const std::string& path) {
  std::lock_guard<std::mutex> lock(state().mutex);
  state().store_path = path;
}

std::size_t CPackFileMgr::TEST_DirectorySize() {
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

bool CPackFileMgr::LoadDirectory() { return LoadDirectoryFrom(StorePath()).ok(); }

bool CPackFileMgr::ExtractFile(const std::string& name, std::unique_ptr<char[]>* buffer,
                               std::int32_t* size) {
  return ExtractFrom(StorePath(), name, buffer, size).ok();
}

void CPackFileMgr::WriteTrailer(std::FILE* file, int tail_length) {
  // No result by contract: a failed write stays in the stream's error flag, where
  // the caller looks.
  (void)AppendTrailer(file, tail_length);
}

bool CPackFileMgr::PackFiles(const std::string& paths) {
  return PackFilesInto(base::ProgramFile(), paths).ok();
}

}  // namespace storage
