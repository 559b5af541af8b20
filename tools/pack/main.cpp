// lumora-pack EXECUTABLE FILE[,FILE...]
//
// Appends a packed store holding the given files to EXECUTABLE. Each file is stored
// under its bare name; an executable that already carries a store is refused.
#include <cstdio>
#include <string>

#include "base/status.h"
#include "storage/store_packer.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: lumora-pack EXECUTABLE FILE[,FILE...] [FILE...]\n", stderr);
    return 2;
  }
  std::string list;
  for (int i = 2; i < argc; ++i) {
    if (!list.empty()) list += ',';
    list += argv[i];
  }
  const base::Status status = storage::PackFilesInto(argv[1], list);
  if (!status.ok()) {
    std::fprintf(stderr, "lumora-pack: %s\n", status.message().c_str());
    return 1;
  }
  return 0;
}
