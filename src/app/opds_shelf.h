// The OPDS catalogues the user added, as the movie sees them ("opds"): the list kept in
// the data folder (OpdsCatalogues), adding and removing catalogues, and feed pages
// fetched on workers, parsed and written as page files the movie reads (OpdsPage).
// Passwords are kept in the desktop's secret store where one runs (os/secret_store.h),
// else in memory for the run only; they are sent only to the catalogue's own scheme, host
// and port, and a catalogue with no password known asks for a user name and one the
// first time its server answers 401.
#ifndef LUMORA_APP_OPDS_SHELF_H_
#define LUMORA_APP_OPDS_SHELF_H_

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/opds_catalogue_list.h"
#include "net/inet_file.h"
#include "os/secret_store.h"

namespace app {

class CLumoraDlg;

class COpdsShelf {
 public:
  static constexpr int kMaxRunning = 4;
  static constexpr std::uint64_t kMaxFeedBytes = 16u << 20;

  explicit COpdsShelf(CLumoraDlg& window);
  ~COpdsShelf();  // stops every fetch and waits for its thread
  COpdsShelf(const COpdsShelf&) = delete;
  COpdsShelf& operator=(const COpdsShelf&) = delete;

  // Tells the movie the list (OpdsCatalogues); at start-up, once the movie is loaded.
  void Start();
  // "opds": the operation is the first field (add, remove, open, search, down).
  void OnOpds(const std::string& args);

  // The scheme, host and port of an http or https URL ("https://host:443"), lower case;
  // empty for anything else.
  static std::string OriginOf(const std::string& url);

 private:
  // One request of the movie: a feed page to fetch (open, search) and, for a search, the
  // pages that lead to it (the catalogue's root page, its OpenSearch description).
  struct Request {
    enum class Stage { kPage, kRoot, kDescription };
    std::string catalogue_id, ticket, url, terms;
    Stage stage = Stage::kPage;
    bool search = false;
    bool retried = false;  // asked for the password and tried again once
    std::unique_ptr<net::CInetFile> transfer;
    std::string body_path;  // native
  };
  // What the run knows of a catalogue besides its line: the password (asked or given)
  // and its search (a template, or the description's address until read).
  struct Known {
    std::string user;  // the name given with an asked password; else the list's
    std::string password;
    bool has_password = false;
    bool asked_store = false;     // the secret store was asked for the password
    bool store_answered = false;  // and has answered
    bool root_read = false;
    std::string search;  // the template when search_is_template, else the description
    bool search_is_template = false;
  };

  void OnAdd(const std::string& args);
  void OnRemove(const std::string& args);
  void OnOpen(const std::string& args, bool search);
  void OnDown(const std::string& args);
  // True when the command |args| (an open, a search or a download of |url|) waits for
  // the secret store's answer about |catalogue|'s password: the store is asked once a
  // run, on its own thread, and the command runs again once it has answered.
  bool WaitsForStore(const OpdsCatalogue& catalogue, const std::string& url,
                     const std::string& args);
  // The store's answer for catalogue |id|, on the main loop: the commands that waited
  // for it run.
  void OnStoreAnswer(const std::string& id, const base::Status& status,
                     const std::string& password);
  os::SecretStoreWorker& secrets();
  // The user and password to send to |url| for |catalogue|: only to the catalogue's own
  // scheme, host and port, the password given, asked or found in the store.
  void CredentialsFor(const OpdsCatalogue& catalogue, const std::string& url, std::string* user,
                      std::string* password);

  // Reads the list under the public folder's lock.
  OpdsCatalogueList LoadList();
  std::string ListPath() const;                              // native
  std::string CatalogueFolder(const std::string& id) const;  // native, with "/"
  void TellList(const OpdsCatalogueList& list);
  void TellResult(const std::string& op, int code, const std::string& text);
  // OpdsPage for |request|: code 0 with the page file's path, or the failure.
  void TellPage(const Request& request, int code, const std::string& message);

  // Queues a request; starts it when fewer than kMaxRunning run.
  void Enqueue(std::unique_ptr<Request> request);
  // Starts the fetch of the request's current stage; false (the movie told) when it
  // cannot start.
  bool StartFetch(Request& request);
  void StartWaiting();
  // The end of a fetch, on the main loop.
  void OnFetchEnd(std::uint64_t transfer_id, int result);
  // Handles a body that arrived for |request|; true when the request goes on with
  // another fetch.
  bool TakeBody(Request& request, const std::string& body);
  // The user name and password for a 401 of |catalogue| asked with a form; false when
  // cancelled.
  bool AskPassword(const OpdsCatalogue& catalogue);

  CLumoraDlg& window_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  std::map<std::string, Known> known_;                         // by catalogue id
  std::map<std::uint64_t, std::unique_ptr<Request>> running_;  // by transfer id
  std::deque<std::unique_ptr<Request>> waiting_;
  unsigned fetch_counter_ = 0;
  // The commands waiting for the store's answer: catalogue id and the command's fields.
  std::vector<std::pair<std::string, std::string>> waiting_for_store_;
  std::unique_ptr<os::SecretStoreWorker> secrets_;  // made at its first use
};

}  // namespace app

#endif  // LUMORA_APP_OPDS_SHELF_H_
