// The renames that put a release in place, recorded before the first of them is made.
// Every file of a release is fetched and verified into a body of its own beside its
// target (".NAME.update.XXXXXX", net::CInetFile), so each rename stays on one file
// system. Once all bodies are there and flushed, the journal listing every rename is
// written and flushed (with its folder); then the renames are made, their folders
// flushed, the versions of the release recorded in the version index at once, and the
// journal removed. A kill or a power loss anywhere in between leaves the journal: the
// next start completes it (Complete) before anything reads those files, so the
// release is in place whole. Without a journal a release was never begun, and its
// bodies are left for the start-up's removal of stale bodies.
//
// The number of the signed release, when there is one, is part of the commit: recorded
// as installed (never lowering the recorded number) after the versions and before the
// journal goes, so that a kill after the renames cannot leave the release in place and
// an older one still accepted.
//
// The journal is text: the line kHeader, then the line "release " and the decimal
// number when the release has one, then one line per file: the version (may be
// empty), a tab, the body's native path, a tab, the target's native path, LF; then the
// line "end". It is read like any outside file (a regular file of at most
// kMaxFileBytes); a step whose body is not a body of its target's name in the target's
// folder is never made, so a journal cannot move any other file.
#ifndef LUMORA_UPDATE_RELEASE_JOURNAL_H_
#define LUMORA_UPDATE_RELEASE_JOURNAL_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/status.h"

namespace update {

class ReleaseJournal {
 public:
  static constexpr const char* kFileName = "release-journal.txt";
  static constexpr const char* kHeader = "lumora release journal 1";
  static constexpr std::size_t kMaxFileBytes = 4u << 20;

  // One rename of the release (native paths) and the version the target then has.
  struct Step {
    std::string version;
    std::string body;
    std::string target;
  };

  // The journal at |path| (native); the versions go to the version index at
  // |version_index| and the release's number to |installed_release| (core paths;
  // empty: none).
  ReleaseJournal(std::string path, std::string version_index, std::string installed_release = {})
      : path_(std::move(path)),
        version_index_(std::move(version_index)),
        installed_release_(std::move(installed_release)) {}

  // True when a body |body| may be renamed over |target|: in the same folder, named
  // "." + the target's name + ".update." + six letters or digits.
  static bool IsBodyOf(const std::string& body, const std::string& target);

  // Writes the journal of |steps| (of the release numbered |release|, if it has a
  // number) and flushes it and its folder. Invalid for a step that IsBodyOf refuses or
  // whose texts hold a control character; nothing is written then.
  [[nodiscard]] base::Status Write(const std::vector<Step>& steps,
                                   std::optional<std::uint64_t> release = {}) const;

  // Makes the renames of the journal that are not made yet (a body that is gone has
  // been renamed), flushes their folders, records the versions and the release's
  // number and removes the journal. NotFound when there is none. On a rename that
  // fails the others are still made and the journal stays, for the next start to try
  // again; so it does when the release's number cannot be recorded.
  [[nodiscard]] base::Status Complete() const;

  const std::string& path() const { return path_; }

 private:
  base::Status Read(std::vector<Step>* steps, std::optional<std::uint64_t>* release) const;
  base::Status RecordRelease(std::uint64_t release) const;

  std::string path_;
  std::string version_index_;
  std::string installed_release_;
};

}  // namespace update

#endif  // LUMORA_UPDATE_RELEASE_JOURNAL_H_
