// The packed store: data files appended behind the program's executable image.
//
// Layout (32-bit little-endian integers, absolute offsets): L bytes of the executable;
// 100-299 filler bytes; at D the entry count N; N entries of 72 bytes (a zero-terminated
// name in 64 bytes, the content offset, the size); the contents one after another;
// 20-49 filler bytes; L; D; 94 filler bytes; the six bytes "PACKED" complemented. So D
// always stands 104 bytes before the end. Filler bytes are complements of random
// numbers below 100.
//
// All operations are static and share one process-wide directory and "packed" flag.
// Reading checks every offset and size against the file's length, so a damaged or
// hostile store is refused instead of read out of bounds. Appending a store is the
// work of store_packer.h.
#ifndef LUMORA_STORAGE_PACK_FILE_MGR_H_
#define LUMORA_STORAGE_PACK_FILE_MGR_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace storage {

class CPackFileMgr {
 public:
  static constexpr int kTailLength = 100;
  static constexpr int kEntrySize = 72;
  static constexpr int kNameSize = 64;
  // The last bytes of a packed file, each complemented.
  static constexpr char kTrailer[] = "PACKED";
  static constexpr int kTrailerLength = 6;

  // One directory entry.
  struct Entry {
    char name[kNameSize];  // zero-terminated
    std::uint32_t offset;
    std::int32_t size;

    // The entry in the kEntrySize bytes at |raw|; its name ends at the 64th byte at
    // the latest.
    [[nodiscard]] static Entry Decode(const char* raw);
    // Writes the entry's kEntrySize bytes at |out|.
    void EncodeTo(char* out) const;
  };

  virtual ~CPackFileMgr() = default;

  // Reads the directory of the store at the end of the program file. False when there
  // is no store or it is damaged (the directory is then empty).
  [[nodiscard]] static bool LoadDirectory();
  // Always true.
  static bool ClearDirectory();
  // A new buffer of exactly the entry's size with its contents, owned by the caller.
  [[nodiscard]] static bool ExtractFile(const std::string& name, std::unique_ptr<char[]>* buffer,
                                        std::int32_t* size);
  // True when the last six bytes of |file| are the complemented "PACKED".
  [[nodiscard]] static bool IsPacked(std::FILE* file);
  // Appends a store with the files of the comma-separated |paths| to the program file.
  [[nodiscard]] static bool PackFiles(const std::string& paths);
  // Appends |tail_length| - 6 filler bytes and the complemented "PACKED". A caller that
  // must know whether they reached the file looks at the stream's error flag.
  static void WriteTrailer(std::FILE* file, int tail_length);
  // Complements every byte of the zero-terminated |text| up to its terminator.
  static void ComplementString(char* text);

  // For tests: reads the store of |path| instead of the program file; empty goes back
  // to the program file.
  static void TEST_UseStoreFile(const std::string& path);
  // For tests: how many entries the directory holds.
  [[nodiscard]] static std::size_t TEST_DirectorySize();

 private:
  // The file whose store is read: the program file, unless a test chose another.
  static std::string StorePath();
};

}  // namespace storage

#endif  // LUMORA_STORAGE_PACK_FILE_MGR_H_
