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
// The journal is text: the line kHeader, then one line per file: the version (may be
// empty), a tab, the body's native path, a tab, the target's native path, LF; then the
// line "end". It is read like any outside file (a regular file of at most
// kMaxFileBytes); a step whose body is not a body of its target's name in the target's
// folder is never made, so a journal cannot move any other file.
#ifndef LUMORA_UPDATE_RELEASE_JOURNAL_H_
#define LUMORA_UPDATE_RELEASE_JOURNAL_H_

#include <cstddef>
#include <string>
#include <vector>

#include "platform/status.h"

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
  // |version_index| (core path; empty: none).
  ReleaseJournal(std::string path, std::string version_index)
      : path_(std::move(path)), version_index_(std::move(version_index)) {}

  // True when a body |body| may be renamed over |target|: in the same folder, named
  // "." + the target's name + ".update." + six letters or digits.
  static bool IsBodyOf(const std::string& body, const std::string& target);

  // Writes the journal of |steps| and flushes it and its folder. Invalid for a step
  // that IsBodyOf refuses or whose texts hold a control character; nothing is written
  // then.
  [[nodiscard]] platform::Status Write(const std::vector<Step>& steps) const;

  // Makes the renames of the journal that are not made yet (a body that is gone has
  // been renamed), flushes their folders, records the versions and removes the
  // journal. NotFound when there is none. On a rename that fails the others are still
  // made and the journal stays, for the next start to try again.
  [[nodiscard]] platform::Status Complete() const;

  const std::string& path() const { return path_; }

 private:
  platform::Status Read(std::vector<Step>* steps) const;

  std::string path_;
  std::string version_index_;
};

}  // namespace update

#endif  // LUMORA_UPDATE_RELEASE_JOURNAL_H_
