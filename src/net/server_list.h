// The update servers: the updater downloads a small text file, the server list, whose
// lines each name one server (a label shown to the user) and the address of that
// server's update manifest. `CServer` is one entry; `CServers` is the locked list that
// holds them and fills the update window's server choice.
//
// The file is text in the code page, one server per line: "LABEL|URL". The whole line
// is trimmed of white space, then split at its first "|" that is a character of its own
// (never the trail byte of a double-byte character); label and URL are trimmed again and
// must both be non-empty. Further "|" belong to the URL. Other lines are skipped without
// a message. The file is hostile input: see ReadFile for its limits.
#ifndef LUMORA_NET_SERVER_LIST_H_
#define LUMORA_NET_SERVER_LIST_H_

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"

namespace net {

// One update server: its label and the full address of its manifest (code page).
class CServer {
 public:
  CServer(std::string label, std::string url) : label_(std::move(label)), url_(std::move(url)) {}
  virtual ~CServer() = default;

  const std::string& label() const { return label_; }
  const std::string& url() const { return url_; }

 private:
  std::string label_;
  std::string url_;
};

// What FillComboBox needs of the server choice: a combo box that may sort its items, so
// the position of a new item is what AddString answers.
class ServerChoice {
 public:
  virtual ~ServerChoice() = default;
  // Adds an item showing |label| and returns its position.
  virtual int AddString(const std::string& label) = 0;
  // Attaches |server| (owned by the list, not the choice) to the item at |item|.
  virtual void SetItemData(int item, const CServer* server) = 0;
  virtual void SetCurSel(int item) = 0;
};

// Splits one line of the server list. OK, with the label and the URL, when the line is a
// server by the rules above; Invalid for a blank or malformed line, or a label or URL
// holding a control character; TooLarge for a line longer than kMaxLineBytes.
[[nodiscard]] base::Status ParseServerLine(std::string_view line, std::string* label,
                                           std::string* url);

// The servers in the order they were added. The list owns them; every operation takes
// the list's lock.
class CServers {
 public:
  // The longest line taken: lines were read through a 1024-byte buffer.
  static constexpr std::size_t kMaxLineBytes = 1023;
  // A larger file is not a server list: none of it is read.
  static constexpr std::size_t kMaxFileBytes = 1u << 20;
  // Lines after this many are not looked at.
  static constexpr std::size_t kMaxLines = 16384;

  CServers() = default;
  virtual ~CServers();
  CServers(const CServers&) = delete;
  CServers& operator=(const CServers&) = delete;

  // Makes a server from |label| and |url| and adds it. True when added.
  [[nodiscard]] bool AddServer(std::string_view label, std::string_view url);
  // Appends |server|; false, and nothing added, for a null pointer.
  [[nodiscard]] bool Add(std::unique_ptr<CServer> server);
  // For every server in list order: adds its label to |choice|, attaches the server to
  // the new item and selects it, so the last server ends up selected.
  void FillComboBox(ServerChoice* choice) const;
  // Deletes every server, first to last.
  void DeleteAll();

  std::size_t GetCount() const;
  // The server at |position| (owned by the list), or null past the end.
  [[nodiscard]] const CServer* GetAt(std::size_t position) const;

  // Reads the server-list file at |path| (code page, '/' separators) and adds every
  // accepted line in file order; returns the number of servers added. Only a regular
  // file of at most kMaxFileBytes is read, opened without blocking (a FIFO, a folder
  // or a device adds nothing); a missing file adds nothing. The file is left in place.
  [[nodiscard]] std::size_t ReadFile(const std::string& path);

 private:
  mutable std::mutex lock_;
  std::vector<std::unique_ptr<CServer>> servers_;
};

}  // namespace net

#endif  // LUMORA_NET_SERVER_LIST_H_
