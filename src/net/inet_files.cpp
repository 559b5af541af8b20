#include "net/inet_files.h"

#include <algorithm>
#include <utility>

#include "base/ansi.h"

namespace net {
namespace {

// Deletes |doomed| first to last, after asking all of them to stop, so that each waits
// only for the chunk it is on.
void CancelAndDelete(std::vector<std::unique_ptr<CInetFile>> doomed) {
  for (const auto& transfer : doomed) transfer->Cancel();
  for (auto& transfer : doomed) transfer.reset();
}

}  // namespace

// Transfers are deleted (and their threads joined) with the list's lock released: a
// worker never takes this lock (the notify function only hands a message on), so
// holding it would not deadlock, but it would keep the owner's other calls waiting for
// a chunk; taking the entries out first keeps both true whatever notify does.
CInetFiles::~CInetFiles() { DeleteAll(); }

void CInetFiles::Add(std::unique_ptr<CInetFile> transfer) {
  if (!transfer) return;
  std::lock_guard<std::mutex> lock(mutex_);
  transfers_.push_back(std::move(transfer));
}

std::size_t CInetFiles::GetCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return transfers_.size();
}

CInetFile* CInetFiles::GetFront() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return transfers_.empty() ? nullptr : transfers_.front().get();
}

void CInetFiles::Remove(const CInetFile* transfer) {
  std::vector<std::unique_ptr<CInetFile>> doomed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto kept = std::stable_partition(transfers_.begin(), transfers_.end(),
                                      [transfer](const auto& t) { return t.get() != transfer; });
    std::move(kept, transfers_.end(), std::back_inserter(doomed));
    transfers_.erase(kept, transfers_.end());
  }
  CancelAndDelete(std::move(doomed));
}

CInetFile* CInetFiles::FindByName(const std::string& name) const {
  const std::string wanted = ansi::Lower(name);
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& transfer : transfers_) {
    if (ansi::Lower(transfer->display_name) == wanted) return transfer.get();
  }
  return nullptr;
}

CInetFile* CInetFiles::FindById(std::uint64_t id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& transfer : transfers_) {
    if (transfer->id() == id) return transfer.get();
  }
  return nullptr;
}

CInetFile* CInetFiles::Find(const std::function<bool(const CInetFile&)>& test) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& transfer : transfers_) {
    if (test(*transfer)) return transfer.get();
  }
  return nullptr;
}

bool CInetFiles::Any(const std::function<bool(const CInetFile&)>& test) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::any_of(transfers_.begin(), transfers_.end(),
                     [&test](const auto& transfer) { return test(*transfer); });
}

void CInetFiles::DeleteAll() {
  std::vector<std::unique_ptr<CInetFile>> doomed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    doomed.swap(transfers_);
  }
  CancelAndDelete(std::move(doomed));
}

}  // namespace net
