#include "app/opds_shelf.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "app/lumora_dlg.h"
#include "app/opds_page_file.h"
#include "base/ansi.h"
#include "base/files.h"
#include "base/folders.h"
#include "fields/field_list.h"
#include "net/loop_notify.h"
#include "opds/feed.h"
#include "opds/open_search.h"
#include "opds/url.h"

namespace app {

namespace {

constexpr const char* kBadUrl = "目录地址无效：只能是 http 或 https 地址";
constexpr const char* kCredentialsInUrl = "目录地址不能含用户名或密码：请分别填写";
constexpr const char* kBadUser = "用户名无效";
constexpr const char* kCannotSaveList = "目录列表无法保存";
constexpr const char* kTooMany = "目录太多，不能再添加";
constexpr const char* kUnknown = "没有这个目录";
constexpr const char* kBadTicket = "请求无效";
constexpr const char* kNotOpds = "不是 OPDS 目录";
constexpr const char* kNoSearch = "此目录不支持搜索";
constexpr int kCannotSaveCode = 7;
constexpr int kNotOpdsCode = 9;

std::string Cp(const char* utf8) { return ansi::FromUtf8Lossy(utf8); }

// The movie's token: letters, digits and "-", 1 to 32 of them.
bool IsTicket(const std::string& ticket) {
  if (ticket.empty() || ticket.size() > 32) return false;
  for (char c : ticket)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-'))
      return false;
  return true;
}

// An absolute http or https URL the list and the variables can hold; empty otherwise.
std::string CheckedUrl(const std::string& url) {
  std::string resolved = opds::ResolveUrl(url, url);
  return IsListText(resolved, OpdsCatalogueList::kMaxUrl) ? resolved : std::string();
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return text;
}

}  // namespace

std::string COpdsShelf::OriginOf(const std::string& url) {
  const std::size_t colon = url.find("://");
  if (colon == std::string::npos) return {};
  const std::string scheme = Lower(url.substr(0, colon));
  if (scheme != "http" && scheme != "https") return {};
  std::string authority = url.substr(colon + 3, url.find_first_of("/?#", colon + 3) - colon - 3);
  if (std::size_t at = authority.rfind('@'); at != std::string::npos) authority.erase(0, at + 1);
  std::string host = authority, port;
  const std::size_t bracket = authority.rfind(']');
  const std::size_t port_colon = authority.rfind(':');
  if (port_colon != std::string::npos && (bracket == std::string::npos || port_colon > bracket)) {
    host = authority.substr(0, port_colon);
    port = authority.substr(port_colon + 1);
  }
  if (host.empty()) return {};
  if (port.empty()) port = scheme == "https" ? "443" : "80";
  return scheme + "://" + Lower(host) + ":" + port;
}

COpdsShelf::COpdsShelf(CLumoraDlg& window) : window_(window) {}

COpdsShelf::~COpdsShelf() {
  *alive_ = false;
  // Each transfer's destructor cancels it and waits for its thread.
  running_.clear();
  waiting_.clear();
}

std::string COpdsShelf::ListPath() const {
  return ansi::NativePath(window_.data_folder() + "public/opds/catalogues.txt");
}

std::string COpdsShelf::CatalogueFolder(const std::string& id) const {
  return window_.data_folder() + "public/opds/" + id + "/";
}

OpdsCatalogueList COpdsShelf::LoadList() {
  OpdsCatalogueList list;
  const CLumoraDlg::SharedFoldersLock locks =
      window_.LockSharedFolders(CLumoraDlg::kPublicFolder, base::FolderLock::Mode::kExisting);
  // A list that cannot be read counts as empty: nothing of it is offered.
  (void)OpdsCatalogueList::Load(ListPath(), &list);
  return list;
}

void COpdsShelf::TellList(const OpdsCatalogueList& list) {
  window_.flash().SetVariable("OpdsCatalogues", list.MovieText());
}

void COpdsShelf::TellResult(const std::string& op, int code, const std::string& text) {
  window_.flash().SetVariable("OpdsResult", op + "|" + std::to_string(code) + "|" + text);
}

void COpdsShelf::TellPage(const Request& request, int code, const std::string& message) {
  if (code == 0)
    window_.flash().SetVariable("OpdsPage", "ticket=" + request.ticket +
                                                "|code=0|path=public/opds/" + request.catalogue_id +
                                                "/" + request.ticket + ".xml");
  else
    window_.flash().SetVariable("OpdsPage", "ticket=" + request.ticket + "|code=" +
                                                std::to_string(code) + "|message=" + message);
}

void COpdsShelf::Start() { TellList(LoadList()); }

void COpdsShelf::OnOpds(const std::string& args) {
  std::string op;
  (void)fields::ReadFieldList(args, {{&op, 16}});
  if (op == "add")
    OnAdd(args);
  else if (op == "remove")
    OnRemove(args);
  else if (op == "open" || op == "search")
    OnOpen(args, op == "search");
  else if (op == "down")
    OnDown(args);
}

void COpdsShelf::OnAdd(const std::string& args) {
  std::string op, name, url, user, password;
  (void)fields::ReadFieldList(args, {{&op, 16},
                                     {&name, OpdsCatalogueList::kMaxName + 1},
                                     {&url, OpdsCatalogueList::kMaxUrl + 1},
                                     {&user, OpdsCatalogueList::kMaxUser + 1},
                                     {&password, 257}});
  const std::string checked = CheckedUrl(url);
  if (checked.empty()) return TellResult("add", 1, Cp(kBadUrl));
  if (!IsCatalogueUrl(checked)) return TellResult("add", 1, Cp(kCredentialsInUrl));
  if (!IsListText(user, OpdsCatalogueList::kMaxUser)) return TellResult("add", 1, Cp(kBadUser));
  // A name's control characters and separators become spaces; none at all is the host.
  for (char& c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == '|') c = ' ';
  if (name.find_first_not_of(' ') == std::string::npos) {
    const std::string origin = OriginOf(checked);
    name = origin.substr(origin.find("://") + 3);
    name.erase(name.rfind(':'));
  }
  OpdsCatalogueList list;
  std::string id;
  const char* failure = nullptr;
  {
    const CLumoraDlg::SharedFoldersLock locks =
        window_.LockSharedFolders(CLumoraDlg::kPublicFolder);
    if (!OpdsCatalogueList::Load(ListPath(), &list).ok()) {
      failure = kCannotSaveList;
    } else if (list.catalogues.size() >= OpdsCatalogueList::kMaxCatalogues ||
               (id = list.TakeId()).empty()) {
      failure = kTooMany;
    } else {
      list.catalogues.push_back({id, name, checked, user});
      if (!list.Save(ListPath()).ok()) failure = kCannotSaveList;
    }
  }
  if (failure) return TellResult("add", kCannotSaveCode, Cp(failure));
  known_.erase(id);
  // A password without a user name is never sent: it is neither kept nor stored (where
  // it would outlive the catalogue), and the server's 401 asks for both.
  if (!password.empty() && !user.empty()) {
    known_[id].password = password;
    known_[id].has_password = true;
    // Where no secret store runs the password lasts for this run only.
    secrets().Store(checked, ansi::ToUtf8Lossy(user), ansi::ToUtf8Lossy(password),
                    "Lumora OPDS " + ansi::ToUtf8Lossy(name), nullptr);
  }
  TellResult("add", 0, id);
  TellList(list);
}

void COpdsShelf::OnRemove(const std::string& args) {
  std::string op, id;
  (void)fields::ReadFieldList(args, {{&op, 16}, {&id, 16}});
  OpdsCatalogueList list;
  bool found = false, saved = false;
  OpdsCatalogue removed;
  {
    const CLumoraDlg::SharedFoldersLock locks =
        window_.LockSharedFolders(CLumoraDlg::kPublicFolder);
    if (IsCatalogueId(id) && OpdsCatalogueList::Load(ListPath(), &list).ok()) {
      const std::size_t before = list.catalogues.size();
      if (const OpdsCatalogue* c = list.Find(id)) removed = *c;
      std::erase_if(list.catalogues, [&id](const OpdsCatalogue& c) { return c.id == id; });
      found = list.catalogues.size() != before;
      saved = found && list.Save(ListPath()).ok();
    }
  }
  if (!found) return TellResult("remove", 1, Cp(kUnknown));
  if (!saved) return TellResult("remove", kCannotSaveCode, Cp(kCannotSaveList));
  known_.erase(id);
  if (!removed.user.empty()) secrets().Clear(removed.url, ansi::ToUtf8Lossy(removed.user), nullptr);
  // Its waiting requests go; running ones end without a page (the catalogue is gone).
  std::erase_if(waiting_, [&id](const auto& r) { return r->catalogue_id == id; });
  // Pages that stay behind are never read again: no catalogue has the id any more.
  std::error_code not_removed;
  std::filesystem::remove_all(ansi::NativePath(CatalogueFolder(id)), not_removed);
  TellResult("remove", 0, id);
  TellList(list);
}

void COpdsShelf::OnOpen(const std::string& args, bool search) {
  auto request = std::make_unique<Request>();
  std::string op, second;
  (void)fields::ReadFieldList(args, {{&op, 16},
                                     {&request->catalogue_id, 16},
                                     {&second, OpdsCatalogueList::kMaxUrl + 1},
                                     {&request->ticket, 64}});
  request->search = search;
  if (!IsTicket(request->ticket)) return;  // nothing to answer under
  const OpdsCatalogueList list = LoadList();
  const OpdsCatalogue* catalogue = list.Find(request->catalogue_id);
  if (!catalogue) return TellPage(*request, 1, Cp(kUnknown));
  if (search) {
    request->terms = second;
    const Known& known = known_[catalogue->id];
    if (!known.root_read) {
      request->stage = Request::Stage::kRoot;
      request->url = catalogue->url;
    } else if (known.search.empty()) {
      return TellPage(*request, 1, Cp(kNoSearch));
    } else if (!known.search_is_template) {
      request->stage = Request::Stage::kDescription;
      request->url = known.search;
    } else {
      request->url = opds::FillSearchTemplate(known.search, ansi::ToUtf8Lossy(second));
      if (request->url.empty()) return TellPage(*request, 1, Cp(kNoSearch));
    }
  } else {
    request->url = second.empty() ? catalogue->url : CheckedUrl(second);
    if (request->url.empty()) return TellPage(*request, 1, Cp(kBadUrl));
  }
  if (WaitsForStore(*catalogue, request->url, args)) return;
  Enqueue(std::move(request));
}

os::SecretStoreWorker& COpdsShelf::secrets() {
  if (!secrets_) secrets_ = std::make_unique<os::SecretStoreWorker>(window_.platform().loop());
  return *secrets_;
}

bool COpdsShelf::WaitsForStore(const OpdsCatalogue& catalogue, const std::string& url,
                               const std::string& args) {
  // Only a password that would be sent there is looked for.
  if (catalogue.user.empty() || OriginOf(url) != OriginOf(catalogue.url)) return false;
  Known& known = known_[catalogue.id];
  if (known.has_password || known.store_answered) return false;
  waiting_for_store_.emplace_back(catalogue.id, args);
  if (!known.asked_store) {
    known.asked_store = true;
    std::weak_ptr<bool> alive = alive_;
    secrets().LookUp(
        catalogue.url, ansi::ToUtf8Lossy(catalogue.user),
        [this, alive, id = catalogue.id](const base::Status& status, const std::string& password) {
          if (auto live = alive.lock(); live && *live) OnStoreAnswer(id, status, password);
        });
  }
  return true;
}

void COpdsShelf::OnStoreAnswer(const std::string& id, const base::Status& status,
                               const std::string& password) {
  Known& known = known_[id];
  known.store_answered = true;
  // Where none runs, or none is kept, the user is asked when the server refuses.
  if (status.ok() && !known.has_password) {
    known.password = ansi::FromUtf8Lossy(password);
    known.has_password = true;
  }
  std::vector<std::string> commands;
  std::erase_if(waiting_for_store_, [&](const auto& waiting) {
    if (waiting.first != id) return false;
    commands.push_back(waiting.second);
    return true;
  });
  for (const std::string& command : commands) OnOpds(command);
}

void COpdsShelf::CredentialsFor(const OpdsCatalogue& catalogue, const std::string& url,
                                std::string* user, std::string* password) {
  user->clear();
  password->clear();
  // Credentials go only where the catalogue itself lives.
  if (OriginOf(url) != OriginOf(catalogue.url)) return;
  const Known& known = known_[catalogue.id];
  *user = known.user.empty() ? catalogue.user : known.user;
  if (!user->empty()) *password = known.password;
}

void COpdsShelf::OnDown(const std::string& args) {
  std::string op, id, url, name, key;
  (void)fields::ReadFieldList(
      args,
      {{&op, 16}, {&id, 16}, {&url, OpdsCatalogueList::kMaxUrl + 1}, {&name, 64}, {&key, 64}});
  const OpdsCatalogueList list = LoadList();
  const OpdsCatalogue* catalogue = list.Find(id);
  const std::string checked = CheckedUrl(url);
  // An unknown catalogue, an address that is not http or https, or a key the shelf
  // cannot hold starts nothing.
  if (!catalogue || checked.empty() || key.empty() || !IsListText(key, 63)) return;
  // The name is the entry's title, which may hold a "/" ("1/2") that no file name can:
  // it becomes "_" in the item's name and its file, as a zero byte does. ("/" is never
  // the trail byte of a double-byte character.)
  std::replace(name.begin(), name.end(), '/', '_');
  std::replace(name.begin(), name.end(), '\0', '_');
  if (WaitsForStore(*catalogue, checked, args)) return;
  std::string user, password;
  CredentialsFor(*catalogue, checked, &user, &password);
  window_.StartOpdsDownload(key, name, checked, user, password);
}

void COpdsShelf::Enqueue(std::unique_ptr<Request> request) {
  waiting_.push_back(std::move(request));
  StartWaiting();
}

void COpdsShelf::StartWaiting() {
  while (running_.size() < static_cast<std::size_t>(kMaxRunning) && !waiting_.empty()) {
    std::unique_ptr<Request> request = std::move(waiting_.front());
    waiting_.pop_front();
    if (StartFetch(*request)) running_.emplace(request->transfer->id(), std::move(request));
  }
}

bool COpdsShelf::StartFetch(Request& request) {
  const OpdsCatalogueList list = LoadList();
  const OpdsCatalogue* catalogue = list.Find(request.catalogue_id);
  if (!catalogue) {
    TellPage(request, 1, Cp(kUnknown));
    return false;
  }
  const std::string folder = CatalogueFolder(catalogue->id);
  if (!base::MakeDirectories(ansi::NativePath(folder), 0755).ok()) {
    TellPage(request, kCannotSaveCode, net::CInetFile::MessageOf(kCannotSaveCode));
    return false;
  }
  auto transfer = std::make_unique<net::CInetFile>();
  transfer->kind = net::CInetFile::kManifest;
  transfer->url = request.url;
  const std::string body = folder + ".fetch-" + std::to_string(++fetch_counter_);
  transfer->local_path = body;
  request.body_path = ansi::NativePath(body);
  transfer->body_limit = kMaxFeedBytes;
  CredentialsFor(*catalogue, request.url, &transfer->user, &transfer->password);
  std::weak_ptr<bool> alive = alive_;
  transfer->notify = net::NotifyOnLoop(
      window_.platform().loop(),
      [this, alive](net::TransferMessage message, int, std::uint32_t value, std::uint64_t id) {
        if (auto live = alive.lock(); live && *live && message == net::TransferMessage::kEnd)
          OnFetchEnd(id, static_cast<int>(value));
      });
  request.transfer = std::move(transfer);
  if (!request.transfer->StartTransfer()) {
    TellPage(request, net::CInetFile::kInternetError,
             net::CInetFile::MessageOf(net::CInetFile::kInternetError));
    return false;
  }
  return true;
}

void COpdsShelf::OnFetchEnd(std::uint64_t transfer_id, int result) {
  auto found = running_.find(transfer_id);
  if (found == running_.end()) return;
  std::unique_ptr<Request> request = std::move(found->second);
  running_.erase(found);
  const std::string message = request->transfer->GetErrorMessage();
  std::string body;
  if (result == net::CInetFile::kSuccess &&
      !base::ReadRegularFile(request->body_path, kMaxFeedBytes, &body).ok())
    result = net::CInetFile::kNotFound;
  // A body left behind is a stray file in the catalogue's folder, gone with it.
  std::error_code not_removed;
  std::filesystem::remove(request->body_path, not_removed);

  const OpdsCatalogueList list = LoadList();
  const OpdsCatalogue* catalogue = list.Find(request->catalogue_id);
  bool goes_on = false;
  if (!catalogue) {
    TellPage(*request, 1, Cp(kUnknown));
  } else if (result == net::CInetFile::kNotFound && request->transfer->http_status() == 401 &&
             OriginOf(request->url) == OriginOf(catalogue->url) && !request->retried) {
    // Asked for credentials by the catalogue's own server, with no password known this
    // run or with one it refused (given wrong, or changed since it was kept): the user is
    // asked once.
    request->retried = true;
    if (AskPassword(*catalogue)) {
      goes_on = StartFetch(*request);
    } else {
      TellPage(*request, result, message);
    }
  } else if (result != net::CInetFile::kSuccess) {
    // A password asked that the server still refuses is asked again next time.
    if (request->retried && result == net::CInetFile::kNotFound) {
      known_[catalogue->id].user.clear();
      known_[catalogue->id].password.clear();
      known_[catalogue->id].has_password = false;
    }
    TellPage(*request, result, message);
  } else {
    // A password asked for that the server took is kept where a secret store runs, when
    // it goes with the list's user name (the one it is looked up under).
    if (request->retried && known_[catalogue->id].has_password && !catalogue->user.empty() &&
        (known_[catalogue->id].user.empty() || known_[catalogue->id].user == catalogue->user))
      secrets().Store(catalogue->url, ansi::ToUtf8Lossy(catalogue->user),
                      ansi::ToUtf8Lossy(known_[catalogue->id].password),
                      "Lumora OPDS " + ansi::ToUtf8Lossy(catalogue->name), nullptr);
    goes_on = TakeBody(*request, body);
  }
  if (goes_on) running_.emplace(request->transfer->id(), std::move(request));
  StartWaiting();
}

bool COpdsShelf::TakeBody(Request& request, const std::string& body) {
  Known& known = known_[request.catalogue_id];
  if (request.stage == Request::Stage::kDescription) {
    std::string search_template;
    // A description without a template leaves the catalogue without a search.
    if (!opds::ParseOpenSearch(body, request.url, &search_template).ok()) search_template.clear();
    known.search = search_template;
    known.search_is_template = true;
  } else {
    opds::Feed feed;
    if (base::Status parsed = opds::ParseFeed(body, request.url, &feed); !parsed) {
      TellPage(request, kNotOpdsCode, Cp(kNotOpds) + ": " + ansi::FromUtf8Lossy(parsed.message()));
      return false;
    }
    const OpdsCatalogueList list = LoadList();
    const OpdsCatalogue* catalogue = list.Find(request.catalogue_id);
    if (catalogue && request.url == catalogue->url) {
      known.root_read = true;
      known.search = feed.search;
      known.search_is_template = feed.search_is_template;
    }
    if (request.stage == Request::Stage::kPage) {
      const std::string path =
          ansi::NativePath(CatalogueFolder(request.catalogue_id) + request.ticket + ".xml");
      if (!base::ReplaceFileContents(path, FormatOpdsPage(feed)).ok())
        TellPage(request, kCannotSaveCode, net::CInetFile::MessageOf(kCannotSaveCode));
      else
        TellPage(request, 0, {});
      return false;
    }
  }
  // A search goes on from the root page or the description to the search itself.
  if (known.search.empty()) {
    TellPage(request, 1, Cp(kNoSearch));
    return false;
  }
  if (!known.search_is_template) {
    request.stage = Request::Stage::kDescription;
    request.url = known.search;
  } else {
    request.stage = Request::Stage::kPage;
    request.url = opds::FillSearchTemplate(known.search, ansi::ToUtf8Lossy(request.terms));
    if (request.url.empty()) {
      TellPage(request, 1, Cp(kNoSearch));
      return false;
    }
  }
  request.retried = false;
  return StartFetch(request);
}

bool COpdsShelf::AskPassword(const OpdsCatalogue& catalogue) {
  platform::FormSpec form;
  form.kind = "opdsLogin";
  form.title = ansi::ToUtf8Lossy(catalogue.name);
  form.ok_label = "确定";
  form.cancel_label = "取消";
  form.fields.push_back({"user", "用户名", ansi::ToUtf8Lossy(catalogue.user), false, {}, {}});
  form.fields.push_back({"password", "密码", "", false, {}, {}, true});
  if (!window_.platform().dialogs().Form(&form)) return false;
  Known& known = known_[catalogue.id];
  known.user = ansi::FromUtf8Lossy(form.fields[0].value);
  // A name that could not stand in the list is not sent either: the list's goes instead.
  if (!IsListText(known.user, OpdsCatalogueList::kMaxUser)) known.user.clear();
  known.password = ansi::FromUtf8Lossy(form.fields[1].value);
  known.has_password = true;
  return true;
}

}  // namespace app
