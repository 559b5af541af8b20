// The partial file of a download that can be resumed: the body received so far, kept
// beside the download's target as "." + NAME + ".partial", and the validator the server
// gave for it (its ETag, else its Last-Modified) in "." + NAME + ".partial-validator".
// Neither name is one of the temporary files that a start of the program removes
// ("." + NAME + "." + six letters or digits). The partial file is locked (flock) while a
// transfer writes it, so that two transfers, of this process or another, never write
// the same one.
//
// The two survive a kill at any point without ever pairing bytes of one version of the
// file with the validator of another: a new body removes the validator before it empties
// the partial file and writes its own only then; appended bytes keep it. The validator
// file is written by one write of a few bytes and read only when it is whole: "V\n", or
// "V\nLENGTH\n" when the whole file's length is known (its share is then known after a
// restart); a file of the first form is read as one of unknown length.
#ifndef LUMORA_NET_PARTIAL_FILE_H_
#define LUMORA_NET_PARTIAL_FILE_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "base/status.h"
#include "base/unique_file.h"

namespace net {

inline constexpr const char* kPartialSuffix = ".partial";
inline constexpr const char* kValidatorSuffix = "-validator";
// The longest validator kept.
inline constexpr std::size_t kMaxValidator = 256;

// "FOLDER/." + NAME + ".partial" for the target "FOLDER/NAME" (any encoding: only ASCII
// is added); empty when NAME is empty, "." or "..".
std::string PartialPathFor(const std::string& target);
// The validator file of |partial|.
inline std::string ValidatorPathOf(const std::string& partial) {
  return partial + kValidatorSuffix;
}

// Whether |validator| can be sent back in If-Range: 1 to kMaxValidator printable ASCII
// bytes, not a weak entity tag.
bool UsableValidator(std::string_view validator);

// Opens (creating it when missing) the partial file |partial| (native) for writing and
// locks it; its size goes to |size|. Fails when it is not a regular file (a link is not
// followed), or another transfer holds its lock.
[[nodiscard]] base::Status OpenPartial(const std::string& partial, base::UniqueFd* file,
                                       std::uint64_t* size);
// The validator kept for |partial|; empty when there is none whole and usable. |whole|,
// when given, receives the whole file's length kept with it (0: unknown).
std::string ReadValidator(const std::string& partial, std::uint64_t* whole = nullptr);
// Keeps |validator| for |partial|, with the whole file's length |whole| when it is known
// (not 0); there must be none: RemoveValidator first.
[[nodiscard]] base::Status WriteValidator(const std::string& partial, std::string_view validator,
                                          std::uint64_t whole = 0);
void RemoveValidator(const std::string& partial);
// Removes |partial| and its validator, unless a transfer holds the partial file's lock
// (false then). True when neither is left.
bool RemovePartialFiles(const std::string& partial);

// How far the partial file |partial| got: the bytes it holds (|have|) of the whole file
// (|whole|). False unless it is a regular file that a later run can continue (a usable
// validator with the whole length kept) and holds some but not all of the file.
bool PartialShare(const std::string& partial, std::uint64_t* have, std::uint64_t* whole);

// Removes from |folder| (native) the partial files and validators, "." + NAME +
// ".partial" and that + "-validator", for which |keep| (given the partial file's name)
// is false: regular files only (never a link, a folder or anything else), and no partial
// file a transfer is writing. Returns how many files went.
int RemovePartialsBut(const std::string& folder,
                      const std::function<bool(const std::string& partial_name)>& keep);

}  // namespace net

#endif  // LUMORA_NET_PARTIAL_FILE_H_
