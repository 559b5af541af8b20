// A release on its way in: the bodies of its files, each fetched and verified beside
// its target, held (with their locks) until every file of the release is there. Then
// Commit puts them all in place through the release journal (ReleaseJournal); a
// release that fails before that, or is dropped, removes its bodies and the folders
// made for them, and the installed release stays exactly as it was.
#ifndef LUMORA_UPDATE_STAGED_RELEASE_H_
#define LUMORA_UPDATE_STAGED_RELEASE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/status.h"
#include "net/inet_file.h"
#include "update/release_journal.h"

namespace update {

class StagedRelease {
 public:
  // One file of the release, staged.
  struct File {
    std::string name;         // for the log (UTF-8)
    std::string target;       // native path
    std::string version;      // the manifest's version (may be empty)
    bool executable = false;  // given the owner's execute permission
    net::CInetFile::KeptBody body;
  };

  // |restart_files|: native paths of the running program's own files; a release that
  // replaces one of them takes effect at the next start.
  explicit StagedRelease(std::vector<std::string> restart_files = {})
      : restart_files_(std::move(restart_files)) {}
  ~StagedRelease() { Discard(); }
  StagedRelease(const StagedRelease&) = delete;
  StagedRelease& operator=(const StagedRelease&) = delete;

  // Takes |file| in: its body is given the mode it will have and flushed to disk.
  // Fails (and the body goes) when the target is there but is no regular file, or the
  // body cannot be flushed.
  [[nodiscard]] base::Status Stage(File file);

  // Puts every staged file in place by the journal |journal|, recording |release| as
  // the installed release's number with them when it is one. *restart is set when
  // one of them is a file of the running program. On failure before the journal is
  // written nothing has changed and the bodies go; a failure after it leaves the
  // journal for the next start to complete.
  [[nodiscard]] base::Status Commit(const ReleaseJournal& journal,
                                    std::optional<std::uint64_t> release, bool* restart);

  // Removes the staged bodies and the folders made for them.
  void Discard();

  const std::vector<File>& files() const { return files_; }

 private:
  bool IsRestartFile(const std::string& target) const;

  std::vector<std::string> restart_files_;
  std::vector<File> files_;
};

}  // namespace update

#endif  // LUMORA_UPDATE_STAGED_RELEASE_H_
