#include "memory_reader.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "base/unique_file.h"

namespace reader {

std::string WithFopen(const std::string& path) {
  base::UniqueFile f(std::fopen(path.c_str(), "rb"));
  if (!f) return "<absent>";
  std::string out;
  char buf[7];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f.get())) > 0;) out.append(buf, n);
  return out;
}

std::string WithIfstream(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<absent>";
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string WithOpenReadSeek(const std::string& path) {
  base::UniqueFd fd(open(path.c_str(), O_RDONLY));
  if (!fd.valid()) return "<absent>";
  const off_t end = lseek(fd.get(), 0, SEEK_END);
  if (end < 0 || lseek(fd.get(), 0, SEEK_SET) != 0) return "<unseekable>";
  std::string out(static_cast<std::size_t>(end), '\0');
  const ssize_t n = read(fd.get(), out.data(), out.size());
  out.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
  return out;
}

std::string WithGio(const std::string& path) {
  GFile* file = g_file_new_for_path(path.c_str());
  char* contents = nullptr;
  gsize length = 0;
  std::string out = "<absent>";
  if (g_file_load_contents(file, nullptr, &contents, &length, nullptr, nullptr)) {
    out.assign(contents, length);
    g_free(contents);
  }
  g_object_unref(file);
  return out;
}

long SizeWithStat(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return -1;
  return static_cast<long>(st.st_size);
}

bool ExistsWithAccess(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

std::string WithIfstreamAt(const std::string& path, long offset, std::size_t count) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<absent>";
  in.seekg(offset);
  std::string out(count, '\0');
  in.read(out.data(), static_cast<std::streamsize>(count));
  out.resize(static_cast<std::size_t>(in.gcount()));
  return out;
}

std::FILE* OpenStream(const std::string& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

int DescriptorOf(std::FILE* stream) { return fileno(stream); }

}  // namespace reader
