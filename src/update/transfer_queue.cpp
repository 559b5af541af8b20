#include "update/transfer_queue.h"

#include <utility>

#include "net/loop_notify.h"

namespace update {

TransferQueue::TransferQueue(os::MainLoop& loop, Handler handler)
    : loop_(loop), handler_(std::move(handler)) {}

TransferQueue::~TransferQueue() {
  *alive_ = false;
  DeleteAll();
}

std::unique_ptr<net::CInetFile> TransferQueue::Make(int kind, const std::string& url,
                                                    const std::string& local_path) {
  auto transfer = std::make_unique<net::CInetFile>();
  transfer->kind = kind;
  transfer->url = url;
  transfer->local_path = local_path;
  transfer->status_callback = true;
  std::weak_ptr<bool> alive = alive_;
  transfer->notify = net::NotifyOnLoop(loop_, [this, alive](net::TransferMessage message, int,
                                                            std::uint32_t value, std::uint64_t id) {
    // On the main loop, and only while the queue is still there.
    if (auto live = alive.lock(); live && *live) OnMessage(message, value, id);
  });
  return transfer;
}

void TransferQueue::Add(std::unique_ptr<net::CInetFile> transfer) {
  transfers_.Add(std::move(transfer));
}

net::CInetFile* TransferQueue::StartNow(std::unique_ptr<net::CInetFile> transfer) {
  net::CInetFile* listed = transfer.get();
  transfers_.Add(std::move(transfer));
  Started(*listed);
  return listed;
}

net::CInetFile* TransferQueue::AddDownload(std::unique_ptr<net::CInetFile> transfer) {
  if (!transfer || transfer->display_name.empty()) return nullptr;
  net::CInetFile* listed = transfer.get();
  downloads_.insert(listed->id());
  transfers_.Add(std::move(transfer));
  Started(*listed);
  return listed;
}

void TransferQueue::Restart(net::CInetFile& transfer) {
  transfer.Cancel();
  Started(transfer);
}

void TransferQueue::Started(net::CInetFile& transfer) {
  // A download is never counted: it neither waits for the updater nor holds it back.
  if (transfer.StartTransfer() && !IsDownload(transfer)) running_.insert(transfer.id());
}

net::CInetFile* TransferQueue::Pump(const std::function<void(net::CInetFile&)>& before) {
  if (running_.size() >= kRunningLimit) return nullptr;
  net::CInetFile* next = transfers_.Find([this](const net::CInetFile& t) {
    return t.attempts() == 0 && downloads_.count(t.id()) == 0;
  });
  if (next == nullptr) return nullptr;
  if (before) before(*next);
  Started(*next);
  return next;
}

void TransferQueue::Stop(net::CInetFile& transfer) {
  transfer.Cancel();
  transfer.Wait();
  // A stopped transfer sends no end message.
  running_.erase(transfer.id());
}

void TransferQueue::Remove(net::CInetFile& transfer) {
  running_.erase(transfer.id());
  downloads_.erase(transfer.id());
  transfers_.Remove(&transfer);
}

void TransferQueue::DeleteAll() {
  // Each transfer is cancelled and its thread joined; a stalled one notices the cancel
  // within a second.
  transfers_.DeleteAll();
  running_.clear();
  downloads_.clear();
}

net::CInetFile* TransferQueue::FindDownload(const std::string& key) const {
  if (key.empty()) return nullptr;
  net::CInetFile* found = transfers_.FindByName(key);
  return found != nullptr && IsDownload(*found) ? found : nullptr;
}

bool TransferQueue::IsDownload(const net::CInetFile& transfer) const {
  return downloads_.count(transfer.id()) != 0;
}

std::size_t TransferQueue::UpdateFileCount() const {
  std::size_t count = 0;
  // Visits every transfer: the test counts and never stops the search.
  (void)transfers_.Any([this, &count](const net::CInetFile& t) {
    if (t.kind == net::CInetFile::kFile && !IsDownload(t)) ++count;
    return false;
  });
  return count;
}

bool TransferQueue::HasUpdaterTransfers() const {
  return transfers_.Any([this](const net::CInetFile& t) { return !IsDownload(t); });
}

void TransferQueue::OnMessage(net::TransferMessage message, std::uint32_t value, std::uint64_t id) {
  net::CInetFile* transfer = transfers_.FindById(id);
  if (transfer == nullptr) return;  // removed meanwhile
  handler_(message, *transfer, value);
}

}  // namespace update
