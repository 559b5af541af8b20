// The update window's choice of servers as the core sees it.
#include "update/server_choice_mirror.h"

#include <algorithm>

#include "update/log_text.h"

namespace update {

int ServerChoiceMirror::AddString(const std::string& label) {
  auto at = std::upper_bound(items_.begin(), items_.end(), label,
                             [](const std::string& l, const Item& i) { return l < i.label; });
  // Inserting may move the items: the position is taken from the new iterator.
  const auto inserted = items_.insert(at, Item{label, nullptr});
  return static_cast<int>(inserted - items_.begin());
}

void ServerChoiceMirror::SetItemData(int item, const net::CServer* server) {
  if (item >= 0 && item < static_cast<int>(items_.size())) items_[item].server = server;
}

void ServerChoiceMirror::SetCurSel(int item) {
  selected_ = item >= 0 && item < static_cast<int>(items_.size()) ? items_[item].server : nullptr;
}

void ServerChoiceMirror::Clear() {
  items_.clear();
  selected_ = nullptr;
}

int ServerChoiceMirror::SelectedItem() const {
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (items_[i].server == selected_ && selected_ != nullptr) return static_cast<int>(i);
  return -1;
}

std::vector<std::string> ServerChoiceMirror::Labels() const {
  std::vector<std::string> labels;
  for (const Item& i : items_) labels.push_back(log_text::Utf8(i.label));
  return labels;
}

}  // namespace update
