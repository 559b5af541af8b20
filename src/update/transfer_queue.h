// The update window's list of transfers and its pump. It owns every transfer the window
// runs, for its two clients: the updater's own (the server list, a manifest and its
// signature, the files of a release) and the movie's shelf downloads. The window drives
// it: its pump timer calls Pump, and it hears of each transfer's progress and end,
// on the main loop, through the handler given at construction.
//
// The list never stalls: the pump starts the first transfer not started yet wherever
// it stands, so a download at the head holds back no manifest, and a file of a release
// no download. At most five of the updater's transfers run at once; the movie's
// downloads start at once when added, and only they count against the ten that may be
// listed. An empty key names no download, so the movie can never reach the updater's
// transfers, which have no key.
//
// Everything here runs on the main loop's thread.
#ifndef LUMORA_UPDATE_TRANSFER_QUEUE_H_
#define LUMORA_UPDATE_TRANSFER_QUEUE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "net/inet_files.h"
#include "os/main_loop.h"

namespace update {

class TransferQueue {
 public:
  static constexpr std::size_t kRunningLimit = 5;
  static constexpr std::size_t kMaxDownloads = 10;
  // A message of a listed transfer: progress (bytes) or end (the result code).
  using Handler =
      std::function<void(net::TransferMessage message, net::CInetFile& transfer, std::uint32_t)>;

  TransferQueue(os::MainLoop& loop, Handler handler);
  ~TransferQueue();  // cancels every transfer and waits for it
  TransferQueue(const TransferQueue&) = delete;
  TransferQueue& operator=(const TransferQueue&) = delete;

  // A new transfer whose messages reach the handler while it is listed.
  [[nodiscard]] std::unique_ptr<net::CInetFile> Make(int kind, const std::string& url,
                                                     const std::string& local_path);
  // Lists a transfer of the updater for the pump to start.
  void Add(std::unique_ptr<net::CInetFile> transfer);
  // Lists a transfer of the updater and starts it at once.
  net::CInetFile* StartNow(std::unique_ptr<net::CInetFile> transfer);
  // Lists one of the movie's downloads, under its key (display_name, not empty), and
  // starts it at once. Null, with nothing listed, for an empty key.
  net::CInetFile* AddDownload(std::unique_ptr<net::CInetFile> transfer);
  // Starts a listed transfer again from the beginning; a run still going is cancelled
  // first (it reports no end).
  void Restart(net::CInetFile& transfer);
  // Starts the first transfer not started yet, when fewer than five of the updater's
  // run; |before| sees it first. The transfer started, or null.
  net::CInetFile* Pump(const std::function<void(net::CInetFile&)>& before);
  // Cancels a transfer and waits for its thread; it stays listed, no longer running.
  void Stop(net::CInetFile& transfer);
  // Removes a transfer from the list and deletes it.
  void Remove(net::CInetFile& transfer);
  void DeleteAll();

  // The movie's download under |key| (letter case aside); null for an empty key.
  [[nodiscard]] net::CInetFile* FindDownload(const std::string& key) const;
  [[nodiscard]] bool IsDownload(const net::CInetFile& transfer) const;
  std::size_t download_count() const { return downloads_.size(); }
  // Listed files of releases (kind 2 of the updater).
  std::size_t UpdateFileCount() const;
  // Whether any transfer of the updater is listed.
  bool HasUpdaterTransfers() const;
  std::size_t GetCount() const { return transfers_.GetCount(); }

 private:
  void OnMessage(net::TransferMessage message, std::uint32_t value, std::uint64_t id);
  void Started(net::CInetFile& transfer);

  os::MainLoop& loop_;
  Handler handler_;
  net::CInetFiles transfers_;
  std::set<std::uint64_t> downloads_;  // ids of the movie's downloads
  std::set<std::uint64_t> running_;    // the updater's transfers running, against the limit
  // Messages handed to the loop check this before they touch the queue.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace update

#endif  // LUMORA_UPDATE_TRANSFER_QUEUE_H_
