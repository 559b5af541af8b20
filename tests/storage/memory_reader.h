// A separate shared library that reads files the way other components of the process
// do: it knows nothing of memory files.
#ifndef LUMORA_TESTS_STORAGE_MEMORY_READER_H_
#define LUMORA_TESTS_STORAGE_MEMORY_READER_H_

#include <cstdio>
#include <string>

namespace reader {
std::string WithFopen(const std::string& path);         // fopen, fread
std::string WithIfstream(const std::string& path);      // std::ifstream
std::string WithOpenReadSeek(const std::string& path);  // open, lseek, read
std::string WithGio(const std::string& path);           // g_file_load_contents
long SizeWithStat(const std::string& path);             // stat; -1 when absent
bool ExistsWithAccess(const std::string& path);         // access(F_OK)
std::string WithIfstreamAt(const std::string& path, long offset,
                           std::size_t count);                     // seekg, read
std::FILE* OpenStream(const std::string& path, const char* mode);  // fopen
int DescriptorOf(std::FILE* stream);                               // fileno
}  // namespace reader

#endif  // LUMORA_TESTS_STORAGE_MEMORY_READER_H_
