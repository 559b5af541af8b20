// The matches of a catalogue scan, group by group (see the header).
#include "library/catalogue_scan_groups.h"

#include <cstring>

namespace library::scan {

namespace {

// A hash of a short id for the table of EndGroup: eight bytes at a time, mixed.
std::uint64_t HashId(std::string_view id) {
  std::uint64_t hash = id.size() * 0x9E3779B97F4A7C15u;
  std::size_t i = 0;
  for (; i + 8 <= id.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, id.data() + i, sizeof word);
    hash = (hash ^ word) * 0xFF51AFD7ED558CCDu;
    hash ^= hash >> 32;
  }
  std::uint64_t tail = 0;
  for (; i < id.size(); ++i) tail = tail << 8 | static_cast<unsigned char>(id[i]);
  hash = (hash ^ tail) * 0xC4CEB9FE1A85EC53u;
  return hash ^ hash >> 29;
}

}  // namespace

void GroupMatches::Begin(std::string id) {
  auto [entry, first] = groups_.try_emplace(std::move(id));
  group_ = first ? &entry->second : nullptr;
  ids_.clear();
  ids_rise_ = true;
  pending_.clear();
  decoded_ids_.clear();
}

std::string_view GroupMatches::KeepId(std::string id) {
  decoded_ids_.push_back(std::move(id));
  return decoded_ids_.back();
}

void GroupMatches::AddItem(std::string_view id) {
  if (ids_rise_ && !ids_.empty() && !(ids_.back() < id)) ids_rise_ = false;
  ids_.push_back(id);
}

void GroupMatches::AddMatch(Fields fields) {
  pending_.emplace_back(ids_.size() - 1, std::move(fields));
}

bool GroupMatches::End() {
  if (group_ == nullptr) return true;
  if (!ids_rise_ && !pending_.empty()) {
    KeepFirstOfEachId();
    if (gave_up_) return false;
  } else {
    for (auto& [position, fields] : pending_) group_->push_back(std::move(fields));
  }
  group_ = nullptr;
  return true;
}

// A group's matches are its items that match and came first with their id. When the
// ids did not rise, the matches' ids go into a small hash table (a match whose id is
// there already is hidden by that earlier one), and each id before the last match is
// looked up in it: an earlier item of the same id hides a match. Ids made to collide
// would make that slow: past a bound on the probes the scan gives the file up.
void GroupMatches::KeepFirstOfEachId() {
  std::size_t size = 8;
  while (size < pending_.size() * 2) size *= 2;
  const std::size_t mask = size - 1;
  slots_.assign(size, 0);  // 0 is free, else a position in pending_ plus one
  const std::size_t last = pending_.back().first;
  std::size_t probes_left = 16 * (last + pending_.size()) + 1024;
  std::vector<bool> hidden(pending_.size(), false);
  for (std::size_t k = 0; k < pending_.size(); ++k) {
    const std::string_view id = ids_[pending_[k].first];
    std::size_t slot = HashId(id) & mask;
    for (; slots_[slot] != 0 && !hidden[k]; slot = (slot + 1) & mask) {
      if (probes_left-- == 0) {
        gave_up_ = true;
        return;
      }
      hidden[k] = ids_[pending_[slots_[slot] - 1].first] == id;
    }
    if (!hidden[k]) slots_[slot] = static_cast<std::uint32_t>(k + 1);
  }
  for (std::size_t i = 0; i < last; ++i) {
    for (std::size_t slot = HashId(ids_[i]) & mask; slots_[slot] != 0; slot = (slot + 1) & mask) {
      if (probes_left-- == 0) {
        gave_up_ = true;
        return;
      }
      const std::size_t k = slots_[slot] - 1;
      if (pending_[k].first > i && ids_[pending_[k].first] == ids_[i]) hidden[k] = true;
    }
  }
  for (std::size_t k = 0; k < pending_.size(); ++k)
    if (!hidden[k]) group_->push_back(std::move(pending_[k].second));
}

void GroupMatches::TakeMatches(std::vector<Fields>* matches) {
  for (auto& [id, group] : groups_)
    for (Fields& fields : group) matches->push_back(std::move(fields));
}

}  // namespace library::scan
