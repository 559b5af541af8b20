// The resume of a download's partial file: opening it, deciding whether an answer
// continues its bytes, and starting it again from zero when one does not.
#include <charconv>
#include <string_view>
#include <utility>

#include "base/files.h"
#include "base/folders.h"
#include "net/partial_file.h"
#include "net/transfer_run.h"

namespace net {
namespace {

using base::Status;

// "bytes FIRST-LAST/SIZE" with FIRST <= LAST < SIZE.
bool ParseContentRange(std::string_view text, std::uint64_t* first, std::uint64_t* last,
                       std::uint64_t* size) {
  if (!text.starts_with("bytes ")) return false;
  text.remove_prefix(6);
  const auto number = [&text](std::uint64_t* value, char end) {
    const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
    if (error != std::errc() || stop == text.data()) return false;
    text.remove_prefix(static_cast<std::size_t>(stop - text.data()));
    if (end == '\0') return text.empty();
    if (text.empty() || text.front() != end) return false;
    text.remove_prefix(1);
    return true;
  };
  return number(first, '-') && number(last, '/') && number(size, '\0') && *first <= *last &&
         *last < *size;
}

}  // namespace

Status TransferRun::OpenPartialFile() {
  if (output_path.empty()) return Status::Invalid("no partial file for this target");
  if (make_folders) {
    if (Status made = base::MakeMissingFolders(base::FolderOf(output_path), 0777, &made_folders);
        !made.ok())
      return made;
  }
  base::UniqueFd fd;
  std::uint64_t size = 0;
  if (Status opened = net::OpenPartial(output_path, &fd, &size); !opened.ok()) return opened;
  file.Adopt(output_path, std::move(fd));
  validator = size > 0 ? ReadValidator(output_path) : std::string();
  have = validator.empty() ? 0 : size;
  return Status::Ok();
}

Status TransferRun::OpenPartial(long status) {
  if (status == 206) {
    std::uint64_t first = 0, last = 0, size = 0;
    // The rest of the very file asked for, to its end, or nothing.
    const bool continues =
        have > 0 && ParseContentRange(content_range, &first, &last, &size) && first == have &&
        last + 1 == size && (!has_length || announced == size - have) &&
        (etag.empty() || !validator.starts_with('"') || etag == validator) &&
        (last_modified.empty() || validator.starts_with('"') || last_modified == validator);
    if (!continues) {
      restart = true;
      return Status::Invalid(output_path + ": the answer does not continue the file");
    }
    expected_length->store(Clamp(size));
    if (body_limit != 0 && size > body_limit) {
      too_large = true;
      return Status::TooLarge(output_path);
    }
    if (Status at = file.SeekTo(have); !at.ok()) {
      create_failed = true;
      return at;
    }
    opened = true;
    bytes_received->store(Clamp(have));
    return Status::Ok();
  }
  // A new body: the old validator goes before the bytes it stood for, the new one
  // comes once they are gone. One that cannot be kept costs only the next resume.
  RemoveValidator(output_path);
  if (Status emptied = file.StartOver(); !emptied.ok()) {
    create_failed = true;
    return emptied;
  }
  const std::string& kept = UsableValidator(etag) ? etag : last_modified;
  // With the whole length, when announced, so that a later start can tell its share.
  if (UsableValidator(kept)) (void)WriteValidator(output_path, kept, has_length ? announced : 0);
  expected_length->store(content_length);
  if (body_limit != 0 && content_length > body_limit) {
    too_large = true;
    return Status::TooLarge(output_path);
  }
  opened = true;
  bytes_received->store(0);
  return Status::Ok();
}

Status TransferRun::StartAgainFromZero() {
  RemoveValidator(output_path);
  if (Status emptied = file.StartOver(); !emptied.ok()) return emptied;
  have = 0;
  validator.clear();
  restart = false;
  NewAnswer();
  last_received = -1;
  last_change = std::chrono::steady_clock::now();
  return Status::Ok();
}

}  // namespace net
