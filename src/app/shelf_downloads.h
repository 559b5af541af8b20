// The shelf's downloads: "down" starts one, "downloading" pauses or resumes one, "Del"
// of an item of "正在下载" discards one, and the end of a download moves the item into
// "已下载". The transfers themselves run in the update window's list; this object keeps
// the target of each one it listed (the download map). Each transfer keeps what arrived
// in a partial file beside its target, which a sign-in reports (DownloadPartial).
#ifndef LUMORA_APP_SHELF_DOWNLOADS_H_
#define LUMORA_APP_SHELF_DOWNLOADS_H_

#include <map>
#include <string>

#include "account/signed_in_user.h"
#include "library/xml_element.h"

namespace update {
class CAutoUpdateClientDlg;
}

namespace app {

class CLumoraDlg;

class CShelfDownloads {
 public:
  // |window| tells the user, locks the shared folders and sets the movie's variables;
  // |user| names the user shelf file the downloads belong to.
  CShelfDownloads(CLumoraDlg& window, const account::CSignedInUser& user)
      : window_(window), user_(user) {}
  CShelfDownloads(const CShelfDownloads&) = delete;
  CShelfDownloads& operator=(const CShelfDownloads&) = delete;

  // The update window whose list runs the transfers, once it is made.
  void SetUpdateClient(update::CAutoUpdateClientDlg* client) { update_client_ = client; }

  void OnDown(const std::string& args);
  // An OPDS item's download under |key| from |url| (credentials for the catalogue's own
  // server, else empty): signed in, an item of "正在下载" named |name| with DLurl |url|
  // in the user's shelf, downloaded into "downloaded" as the vendor's items; otherwise
  // into |downloads_folder| (code page, with "/"), with the same progress and results.
  void OnOpdsDown(const std::string& key, const std::string& name, const std::string& url,
                  const std::string& user, const std::string& password,
                  const std::string& downloads_folder);
  void OnDownloading(const std::string& args);
  // The end of a shelf download, from the update window: its result code and that
  // code's message (code page; empty on success).
  void OnDownloadEnd(const std::string& item_id, int result, const std::string& message);
  // Moves a finished download into "已下载" with its local path as RDurl; a move that
  // cannot be saved is told.
  [[nodiscard]] bool CompleteDownload(const std::string& item_id);
  // "Del" of an item of "正在下载": its transfer stopped and discarded, its partial
  // files (of the transfer and of its entry in "正在下载") removed.
  void DiscardShelfDownload(const std::string& item_id);
  // After a sign-in: the partial files of the user's downloads that "正在下载" no
  // longer lists are removed, and the movie hears how far each listed one got
  // (DownloadPartial "ID|NNN").
  void TakeStockOfPartialDownloads();

 private:
  // Tells the movie that the download |item_id| ended with |result| and |message|.
  void TellEnd(const std::string& item_id, int result, const std::string& message);
  // Whether |item_id| is in "正在下载" or "已下载" of the user's shelf (its name in |name|);
  // read under the caller's lock of the program folder.
  [[nodiscard]] bool Listed(const std::string& item_id, std::string* name) const;
  // Whether a download recorded (or refused) under the lock may start; otherwise the
  // user is told why not: already |listed|, or its entry |unsaved|.
  [[nodiscard]] bool MayStart(bool listed, bool unsaved);
  // Starts (or restarts) the shelf download of |item_id| into the user's folder.
  void StartShelfDownload(const std::string& item_id, const std::string& name,
                          const std::string& url, const std::string& target,
                          const std::string& user = {}, const std::string& password = {});
  void StartShelfDownload(const std::string& item_id, const std::string& name,
                          const std::string& url) {
    StartShelfDownload(item_id, name, url, ShelfDownloadTarget(name, url));
  }
  // The target of a shelf download: the user's "downloaded" folder + NAME + "-" + the
  // URL's last part; empty when that would leave the folder (or nobody signed in). The
  // same from an item of "正在下载", whose name and address the movie sends.
  std::string ShelfDownloadTarget(const std::string& name, const std::string& url) const;
  std::string ShelfDownloadTarget(const library::CXmlElement::Fields& item) const;
  // The user's folder of downloaded items (code page), beside the shelf file.
  std::string DownloadedFolder() const;

  CLumoraDlg& window_;
  const account::CSignedInUser& user_;
  update::CAutoUpdateClientDlg* update_client_ = nullptr;
  // Item id to the target of its listed transfer: recorded when a transfer is made,
  // dropped when it ends or is deleted (a restart keeps the transfer and its target).
  std::map<std::string, std::string> download_map_;
};

}  // namespace app

#endif  // LUMORA_APP_SHELF_DOWNLOADS_H_
