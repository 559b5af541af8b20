// Patches instead of whole files: a new version of a file published as the difference
// from the version installed before, in zstd's "patch-from" form (a zstd frame
// compressed with the old file as its prefix, with long-distance matching, as
// `zstd --patch-from=OLD NEW -o PATCH` makes and `zstd -d --patch-from=OLD PATCH`
// reads).
//
// Applying one is safe against a hostile patch: the installed file must have the
// named SHA-256 digest before anything is read from the patch, the result is written to
// a new file and must have the named digest after, and memory stays bounded whatever the
// patch says. The old file and the result are mapped from their files (never copied
// onto the heap); the heap holds the decoder and one read buffer. A frame asking for a
// window beyond kMaxPatchWindowLog, a result larger than kMaxPatchedFileBytes or of no
// stated size, data after the frame, and a patch that stops short are all refused.
#ifndef LUMORA_UPDATE_FILE_PATCH_H_
#define LUMORA_UPDATE_FILE_PATCH_H_

#include <cstdint>
#include <string>

#include "base/status.h"

namespace update {

// What a published patch's name adds to the name of its file.
inline constexpr char kPatchSuffix[] = ".zst-patch";

// The largest old file, new file and patch that are read or made: 1 GiB.
inline constexpr std::uint64_t kMaxPatchedFileBytes = std::uint64_t{1} << 30;
// The largest window a patch may ask for: 2 GiB, what a patch from a file of 1 GiB needs
// (the window spans the old file and the new one).
inline constexpr int kMaxPatchWindowLog = 31;

// Applies the patch at |patch_path| to the file at |base_path|, whose SHA-256 digest
// must be |base_sha256| (64 hexadecimal digits), writing the result to |result_path|,
// which must not exist yet; the result's digest must be |result_sha256|. Paths are
// native (UTF-8). On success |result_path| holds the result (mode 0666 less the umask,
// flushed to the disk); on any failure nothing is left there.
//
// Failures: NotFound or NotRegular for a base or patch that is missing or not a regular
// file; TooLarge for a base, patch or result beyond kMaxPatchedFileBytes or a window
// beyond kMaxPatchWindowLog; Invalid for a digest that is not one, a base whose digest
// differs (the patch is then never read) or a result path that exists; Corrupt for a
// patch that does not decode, stops short, carries more than one frame or gives a
// result of another digest; IoError for a failed read or write.
[[nodiscard]] base::Status ApplyFilePatch(const std::string& base_path,
                                          const std::string& base_sha256,
                                          const std::string& patch_path,
                                          const std::string& result_path,
                                          const std::string& result_sha256);

// As ApplyFilePatch, into the empty regular file that is at |result_path| already (one
// made beside the target and held locked by the caller, base::CreateTemporaryFile),
// for a caller that has checked the base's digest itself when it chose the patch: it is
// not read twice. A base changed since gives a result of another digest, refused like
// any. On failure the file is left there, empty; removing it is the caller's.
// NotRegular or Invalid for a result path that is not an empty regular file (a link is
// not followed).
[[nodiscard]] base::Status ApplyFilePatchInto(const std::string& base_path,
                                              const std::string& patch_path,
                                              const std::string& result_path,
                                              const std::string& result_sha256);

// Makes the patch that turns the file at |base_path| into the file at |new_path| and
// writes it to |patch_path| (replacing what is there). |level| is zstd's compression
// level; the default, zstd's own, is also the one that makes the smaller patch of a
// large file in which little changed: at the high levels the optimal parser finds
// fewer of the long matches in the old file. TooLarge for files beyond
// kMaxPatchedFileBytes.
[[nodiscard]] base::Status MakeFilePatch(const std::string& base_path, const std::string& new_path,
                                         const std::string& patch_path, int level = 3);

}  // namespace update

#endif  // LUMORA_UPDATE_FILE_PATCH_H_
