#include "update/file_patch.h"

// The output buffer that stays in place (ZSTD_d_stableOutBuffer) is one of zstd's
// advanced parameters; only its name needs this, the functions are the stable ones.
#define ZSTD_STATIC_LINKING_ONLY
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <vector>

#include "base/files.h"
#include "base/unique_file.h"
#include "update/file_digest.h"

namespace update {
namespace {

using base::Status;

struct DCtxFree {
  void operator()(ZSTD_DCtx* ctx) const noexcept { ZSTD_freeDCtx(ctx); }
};
struct CCtxFree {
  void operator()(ZSTD_CCtx* ctx) const noexcept { ZSTD_freeCCtx(ctx); }
};

// A file mapped into memory, unmapped when it goes. An empty file maps to nothing.
class Mapping {
 public:
  Mapping() = default;
  ~Mapping() {
    if (data_ != nullptr) munmap(data_, size_);
  }
  Mapping(const Mapping&) = delete;
  Mapping& operator=(const Mapping&) = delete;

  Status Map(int fd, std::size_t size, bool writable, const std::string& path) {
    size_ = size;
    if (size == 0) return Status::Ok();
    void* data = mmap(nullptr, size, writable ? PROT_READ | PROT_WRITE : PROT_READ,
                      writable ? MAP_SHARED : MAP_PRIVATE, fd, 0);
    if (data == MAP_FAILED) return base::PosixError(path, errno);
    data_ = data;
    return Status::Ok();
  }
  Status Sync(const std::string& path) const {
    if (data_ != nullptr && msync(data_, size_, MS_SYNC) != 0) return base::PosixError(path, errno);
    return Status::Ok();
  }
  char* data() const { return static_cast<char*>(data_); }
  std::size_t size() const { return size_; }

 private:
  void* data_ = nullptr;
  std::size_t size_ = 0;
};

// Opens the regular file at |path| for reading, with its size at most
// kMaxPatchedFileBytes, and maps it.
Status MapInput(const std::string& path, base::UniqueFd* file, Mapping* mapping) {
  if (Status s = base::OpenRegularFile(path, file); !s.ok()) return s;
  struct stat st;
  if (fstat(file->get(), &st) != 0) return base::PosixError(path, errno);
  if (static_cast<std::uint64_t>(st.st_size) > kMaxPatchedFileBytes)
    return Status::TooLarge(path + ": larger than 1 GiB");
  return mapping->Map(file->get(), static_cast<std::size_t>(st.st_size), false, path);
}

std::string Sha256Of(const Mapping& mapping) {
  Sha256 checksum;
  checksum.Update(mapping.data(), mapping.size());
  return checksum.HexDigest();
}

Status ZstdFailure(const std::string& path, std::size_t code) {
  const std::string message = path + ": " + ZSTD_getErrorName(code);
  switch (ZSTD_getErrorCode(code)) {
    case ZSTD_error_frameParameter_windowTooLarge:
    case ZSTD_error_memory_allocation:
      return Status::TooLarge(message);
    default:
      return Status::Corrupt(message);
  }
}

// Reads up to |size| bytes, going on after a signal. The count, or -1 with errno.
ssize_t ReadSome(int fd, char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = read(fd, buffer, size);
    if (n >= 0 || errno != EINTR) return n;
  }
}

Status WriteAll(int fd, const char* data, std::size_t size, const std::string& path) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return base::PosixError(path, errno);
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return Status::Ok();
}

// Removes the file at its path when it goes, unless kept.
class RemoveUnlessKept {
 public:
  explicit RemoveUnlessKept(std::string path) : path_(std::move(path)) {}
  ~RemoveUnlessKept() {
    if (!path_.empty()) unlink(path_.c_str());
  }
  RemoveUnlessKept(const RemoveUnlessKept&) = delete;
  RemoveUnlessKept& operator=(const RemoveUnlessKept&) = delete;
  void Keep() { path_.clear(); }

 private:
  std::string path_;
};

// Decodes the single frame of |patch| with |base| as its prefix into |result|, whose
// size is the frame's stated content size.
Status Decode(int patch, const std::string& patch_path, const Mapping& base, const Mapping& result,
              std::vector<char>* buffer, ZSTD_inBuffer* in) {
  std::unique_ptr<ZSTD_DCtx, DCtxFree> dctx(ZSTD_createDCtx());
  if (dctx == nullptr) return Status::TooLarge("no memory for the decoder");
  // The result is decoded straight into its mapped file: the decoder keeps no window
  // of its own, whatever the frame's window size.
  for (const auto& [param, value] :
       {std::pair{ZSTD_d_windowLogMax, kMaxPatchWindowLog},
        std::pair{static_cast<ZSTD_dParameter>(ZSTD_d_stableOutBuffer), 1}}) {
    if (const std::size_t r = ZSTD_DCtx_setParameter(dctx.get(), param, value); ZSTD_isError(r))
      return ZstdFailure(patch_path, r);
  }
  if (const std::size_t r = ZSTD_DCtx_refPrefix(dctx.get(), base.data(), base.size());
      ZSTD_isError(r))
    return ZstdFailure(patch_path, r);
  // A result of no bytes still needs a place that stays the same from call to call.
  static char empty_output;
  ZSTD_outBuffer out{result.size() != 0 ? result.data() : &empty_output, result.size(), 0};
  for (;;) {
    if (in->pos == in->size) {
      const ssize_t n = ReadSome(patch, buffer->data(), buffer->size());
      if (n < 0) return base::PosixError(patch_path, errno);
      if (n == 0) return Status::Corrupt(patch_path + ": the patch stops short");
      *in = ZSTD_inBuffer{buffer->data(), static_cast<std::size_t>(n), 0};
    }
    const std::size_t r = ZSTD_decompressStream(dctx.get(), &out, in);
    if (ZSTD_isError(r)) return ZstdFailure(patch_path, r);
    if (r == 0) break;
  }
  if (out.pos != result.size())
    return Status::Corrupt(patch_path + ": the result is not of the stated size");
  // Nothing may follow the frame: a second frame would be decoded without the base.
  if (in->pos != in->size) return Status::Corrupt(patch_path + ": data after the patch");
  char probe;
  const ssize_t more = ReadSome(patch, &probe, 1);
  if (more < 0) return base::PosixError(patch_path, errno);
  if (more != 0) return Status::Corrupt(patch_path + ": data after the patch");
  return Status::Ok();
}

}  // namespace

namespace {

// Opens the result file: a new one at |result_path| (create), or the empty regular
// file that is there (not create).
Status OpenResult(const std::string& result_path, bool create, base::UniqueFd* out) {
  if (create) {
    out->Reset(open(result_path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (out->valid()) return Status::Ok();
    if (errno == EEXIST) return Status::Invalid(result_path + ": already exists");
    return base::PosixError(result_path, errno);
  }
  out->Reset(open(result_path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!out->valid()) return base::PosixError(result_path, errno);
  struct stat st;
  if (fstat(out->get(), &st) != 0) return base::PosixError(result_path, errno);
  if (!S_ISREG(st.st_mode)) return Status::NotRegular(result_path + ": not a regular file");
  if (st.st_size != 0) return Status::Invalid(result_path + ": not empty");
  return Status::Ok();
}

// Empties the result file when it goes, unless kept (a file the caller made stays).
class EmptyUnlessKept {
 public:
  explicit EmptyUnlessKept(int fd) : fd_(fd) {}
  ~EmptyUnlessKept() {
    // A half-written file that cannot be emptied fails its digest check later.
    if (fd_ >= 0) (void)ftruncate(fd_, 0);
  }
  EmptyUnlessKept(const EmptyUnlessKept&) = delete;
  EmptyUnlessKept& operator=(const EmptyUnlessKept&) = delete;
  void Keep() { fd_ = -1; }

 private:
  int fd_;
};

Status Apply(const std::string& base_path, const std::string& base_sha256,
             const std::string& patch_path, const std::string& result_path,
             const std::string& result_sha256, bool create) {
  std::string want_base, want_result;
  if ((create && !NormalizeSha256(base_sha256, &want_base)) ||
      !NormalizeSha256(result_sha256, &want_result))
    return Status::Invalid("a patch's digest is not a SHA-256 digest");

  // The installed file, checked by the very bytes the patch refers to.
  base::UniqueFd base_file;
  Mapping base;
  if (Status s = MapInput(base_path, &base_file, &base); !s.ok()) return s;
  if (create && Sha256Of(base) != want_base)
    return Status::Invalid(base_path + ": not the file the patch was made from");

  base::UniqueFd patch;
  if (Status s = base::OpenRegularFile(patch_path, &patch); !s.ok()) return s;
  struct stat st;
  if (fstat(patch.get(), &st) != 0) return base::PosixError(patch_path, errno);
  if (static_cast<std::uint64_t>(st.st_size) > kMaxPatchedFileBytes)
    return Status::TooLarge(patch_path + ": larger than 1 GiB");

  // The frame's header states the result's size; a frame that does not is refused.
  std::vector<char> buffer(ZSTD_DStreamInSize());
  std::size_t have = 0;
  while (have < ZSTD_FRAMEHEADERSIZE_MAX) {
    const ssize_t n = ReadSome(patch.get(), buffer.data() + have, buffer.size() - have);
    if (n < 0) return base::PosixError(patch_path, errno);
    if (n == 0) break;
    have += static_cast<std::size_t>(n);
  }
  const unsigned long long size = ZSTD_getFrameContentSize(buffer.data(), have);
  if (size == ZSTD_CONTENTSIZE_ERROR) return Status::Corrupt(patch_path + ": not a zstd frame");
  if (size == ZSTD_CONTENTSIZE_UNKNOWN)
    return Status::Corrupt(patch_path + ": the patch does not state the result's size");
  if (size > kMaxPatchedFileBytes)
    return Status::TooLarge(patch_path + ": the result would be larger than 1 GiB");

  base::UniqueFd out;
  if (Status s = OpenResult(result_path, create, &out); !s.ok()) return s;
  RemoveUnlessKept remove(create ? result_path : std::string());
  EmptyUnlessKept empty(out.get());
  // The blocks are reserved first: a full disk is a failure here, never a fault later
  // in a write through the mapping.
  if (size != 0) {
    if (const int e = posix_fallocate(out.get(), 0, static_cast<off_t>(size)); e != 0)
      return base::PosixError(result_path, e);
  }
  Mapping result;
  if (Status s = result.Map(out.get(), static_cast<std::size_t>(size), true, result_path); !s.ok())
    return s;
  ZSTD_inBuffer in{buffer.data(), have, 0};
  if (Status s = Decode(patch.get(), patch_path, base, result, &buffer, &in); !s.ok()) return s;
  if (Sha256Of(result) != want_result)
    return Status::Corrupt(patch_path + ": the result is not the file the patch names");
  if (Status s = result.Sync(result_path); !s.ok()) return s;
  if (fsync(out.get()) != 0) return base::PosixError(result_path, errno);
  remove.Keep();
  empty.Keep();
  return Status::Ok();
}

}  // namespace

Status ApplyFilePatch(const std::string& base_path, const std::string& base_sha256,
                      const std::string& patch_path, const std::string& result_path,
                      const std::string& result_sha256) {
  return Apply(base_path, base_sha256, patch_path, result_path, result_sha256, true);
}

Status ApplyFilePatchInto(const std::string& base_path, const std::string& patch_path,
                          const std::string& result_path, const std::string& result_sha256) {
  return Apply(base_path, std::string(), patch_path, result_path, result_sha256, false);
}

Status MakeFilePatch(const std::string& base_path, const std::string& new_path,
                     const std::string& patch_path, int level) {
  base::UniqueFd base_file, new_file;
  Mapping base, fresh;
  if (Status s = MapInput(base_path, &base_file, &base); !s.ok()) return s;
  if (Status s = MapInput(new_path, &new_file, &fresh); !s.ok()) return s;

  std::unique_ptr<ZSTD_CCtx, CCtxFree> cctx(ZSTD_createCCtx());
  if (cctx == nullptr) return Status::TooLarge("no memory for the encoder");
  // The window spans the old file and the new one, so that every part of the new file
  // can refer back to any part of the old; long-distance matching finds what moved.
  const std::size_t span = std::max(base.size(), fresh.size());
  int window_log = ZSTD_WINDOWLOG_MIN;
  while (window_log < kMaxPatchWindowLog && (std::size_t{1} << window_log) < span) ++window_log;
  if (window_log < kMaxPatchWindowLog) ++window_log;
  for (const auto& [param, value] :
       {std::pair{ZSTD_c_compressionLevel, level}, std::pair{ZSTD_c_windowLog, window_log},
        std::pair{ZSTD_c_enableLongDistanceMatching, 1}, std::pair{ZSTD_c_checksumFlag, 1}}) {
    if (const std::size_t r = ZSTD_CCtx_setParameter(cctx.get(), param, value); ZSTD_isError(r))
      return Status::Invalid(std::string("zstd: ") + ZSTD_getErrorName(r));
  }
  if (const std::size_t r = ZSTD_CCtx_setPledgedSrcSize(cctx.get(), fresh.size()); ZSTD_isError(r))
    return Status::Invalid(std::string("zstd: ") + ZSTD_getErrorName(r));
  if (const std::size_t r = ZSTD_CCtx_refPrefix(cctx.get(), base.data(), base.size());
      ZSTD_isError(r))
    return Status::Invalid(std::string("zstd: ") + ZSTD_getErrorName(r));

  base::UniqueFd out;
  std::string temporary;
  if (Status s = base::CreateTemporaryFile(patch_path, &out, &temporary); !s.ok()) return s;
  RemoveUnlessKept remove(temporary);
  std::vector<char> buffer(ZSTD_CStreamOutSize());
  ZSTD_inBuffer in{fresh.data(), fresh.size(), 0};
  for (;;) {
    ZSTD_outBuffer chunk{buffer.data(), buffer.size(), 0};
    const std::size_t left = ZSTD_compressStream2(cctx.get(), &chunk, &in, ZSTD_e_end);
    if (ZSTD_isError(left)) return Status::Invalid(std::string("zstd: ") + ZSTD_getErrorName(left));
    if (Status s = WriteAll(out.get(), buffer.data(), chunk.pos, temporary); !s.ok()) return s;
    if (left == 0) break;
  }
  if (fsync(out.get()) != 0) return base::PosixError(temporary, errno);
  if (rename(temporary.c_str(), patch_path.c_str()) != 0)
    return base::PosixError(patch_path, errno);
  remove.Keep();
  return Status::Ok();
}

}  // namespace update
