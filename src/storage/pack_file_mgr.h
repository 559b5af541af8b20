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
// hostile store is refused instead of read out of bounds.
#ifndef LUMORA_STORAGE_PACK_FILE_MGR_H_
#define LUMORA_STORAGE_PACK_FILE_MGR_H_

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

class CPackFileMgr {
 public:
  static constexpr int kTailLength = 100;
  static constexpr int kEntrySize = 72;
  static constexpr int kNameSize = 64;

  struct Entry {
    char name[kNameSize];
    std::uint32_t offset;
    std::int32_t size;
  };

  virtual ~CPackFileMgr() = default;

  // Reads the directory of the store at the end of the program file (or of the file
  // named by UseStoreFile). False when there is no store or it is damaged.
  static bool LoadDirectory();
  static bool ClearDirectory();
  // A new buffer of exactly the entry's size with its contents, owned by the caller.
  static bool ExtractFile(const std::string& name, std::unique_ptr<char[]>* buffer,
                          std::int32_t* size);
  // True when the last six bytes of |file| are the complemented "PACKED".
  static bool IsPacked(std::FILE* file);
  // Appends a store with the files of the comma-separated |paths| to the program file.
  static bool PackFiles(const std::string& paths);
  // The same, for the executable at |executable|. |error| says why it failed.
  static bool PackFilesInto(const std::string& executable, const std::string& paths,
                            std::string* error);
  static void WriteTrailer(std::FILE* file, int tail_length);
  // Complements every byte of the zero-terminated |text| up to its terminator.
  static void ComplementString(char* text);

  // Reads the store of |path| instead of the program file (the packing tool and
  // tests inspect other executables this way). Empty goes back to the program file.
  static void UseStoreFile(const std::string& path);
  static bool packed();
  static std::size_t DirectorySize();

 private:
  static std::string StorePath();
};

#endif  // LUMORA_STORAGE_PACK_FILE_MGR_H_
