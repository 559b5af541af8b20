// The state of one run of a transfer: progress reports, and the output file of a 200.
#include "net/transfer_run.h"

#include "base/files.h"
#include "base/folders.h"

namespace net {

using base::Status;

void TransferRun::ReportProgress(bool now) {
  if (unreported == 0) return;
  const auto at = std::chrono::steady_clock::now();
  // A message's value has 32 bits: a sum that grows near them goes at once.
  if (!now && reported && at - last_report < CInetFile::kProgressInterval &&
      unreported < (std::uint64_t{1} << 31))
    return;
  if (notify != nullptr) {
    (*notify)(TransferMessage::kProgress, kind, static_cast<std::uint32_t>(unreported), id);
  }
  unreported = 0;
  reported = true;
  last_report = at;
}

void TransferRun::NewAnswer() {
  content_length = 0;
  has_length = false;
  announced = 0;
  etag.clear();
  last_modified.clear();
  content_range.clear();
}

Status TransferRun::Open(long status) {
  if (resume) return OpenPartial(status);
  expected_length->store(content_length);
  if (body_limit != 0 && content_length > body_limit) {
    too_large = true;
    return Status::TooLarge(output_path);
  }
  Status made = Status::Ok();
  // The missing folders above the body, each one made recorded for a body not kept.
  if (kind == CInetFile::kFile && make_folders)
    made = base::MakeMissingFolders(base::FolderOf(output_path), 0777, &made_folders);
  if (made.ok())
    made = kind == CInetFile::kFile ? file.CreateBeside(output_path) : file.Create(output_path);
  if (!made.ok()) {
    create_failed = true;
    return made;
  }
  opened = true;
  bytes_received->store(0);
  return Status::Ok();
}

}  // namespace net
