// The update window's choice of servers as the core sees it (a sorted combo box):
// labels in byte order, each with its server, and the one selected. The window is told
// the labels (UTF-8) and the selection after every fill.
#ifndef LUMORA_UPDATE_SERVER_CHOICE_MIRROR_H_
#define LUMORA_UPDATE_SERVER_CHOICE_MIRROR_H_

#include <string>
#include <vector>

#include "net/server_list.h"

namespace update {

class ServerChoiceMirror : public net::ServerChoice {
 public:
  int AddString(const std::string& label) override;
  void SetItemData(int item, const net::CServer* server) override;
  void SetCurSel(int item) override;
  void Clear();
  void Select(int item) { SetCurSel(item); }
  const net::CServer* selected() const { return selected_; }
  // The item of the selected server; -1 when none is selected.
  int SelectedItem() const;
  // The labels in UTF-8, in order.
  std::vector<std::string> Labels() const;

 private:
  struct Item {
    std::string label;
    const net::CServer* server;
  };
  std::vector<Item> items_;
  const net::CServer* selected_ = nullptr;
};

}  // namespace update

#endif  // LUMORA_UPDATE_SERVER_CHOICE_MIRROR_H_
