// Appending a packed store (see pack_file_mgr.h) to an executable: the packing tool's
// work, done at every build.
#ifndef LUMORA_STORAGE_STORE_PACKER_H_
#define LUMORA_STORAGE_STORE_PACKER_H_

#include <cstdio>
#include <string>

#include "base/status.h"

namespace storage {

// Appends a store holding the files of the comma-separated |paths| to |executable|,
// each under its bare name, in the order of their full paths (a path given twice is
// stored once). Invalid, with nothing written, when |executable| already carries a
// store or a bare name is longer than 63 bytes. A file that cannot be read (a folder,
// a FIFO, one larger than 2 GiB) ends packing after the leading filler, and perhaps
// some contents, were appended: the executable then carries no trailer and reads as
// not packed.
[[nodiscard]] base::Status PackFilesInto(const std::string& executable, const std::string& paths);

// Appends |tail_length| - 6 filler bytes and the complemented "PACKED" to |file|.
[[nodiscard]] base::Status AppendTrailer(std::FILE* file, int tail_length);

}  // namespace storage

#endif  // LUMORA_STORAGE_STORE_PACKER_H_
