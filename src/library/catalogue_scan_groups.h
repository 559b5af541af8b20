// The matches of a catalogue scan, group by group, as the model hands them out: the
// groups in byte order of their ids (the first group of an id only), in each the
// matching items that came first with their id.
#ifndef LUMORA_LIBRARY_CATALOGUE_SCAN_GROUPS_H_
#define LUMORA_LIBRARY_CATALOGUE_SCAN_GROUPS_H_

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "library/xml_element.h"

namespace library::scan {

class GroupMatches {
 public:
  using Fields = CXmlElement::Fields;

  // A group of |id| starts; one whose id came before is dropped whole, as by the model.
  void Begin(std::string id);
  // Whether the group being read is kept (its items are worth reading).
  bool Open() const { return group_ != nullptr; }
  // Keeps an item id that differs from its bytes for as long as the group is read.
  std::string_view KeepId(std::string id);
  // The next item of the open group has |id| (which must stay valid until End).
  void AddItem(std::string_view id);
  // The item added last matches, with these fields.
  void AddMatch(Fields fields);
  // The group ends: its matches join the group's. False when the scan gives the file
  // up (ids made to collide).
  [[nodiscard]] bool End();
  // Appends every match read, in the model's order.
  void TakeMatches(std::vector<Fields>* matches);

 private:
  void KeepFirstOfEachId();

  // The groups read, each id's first only, with their matching items.
  std::map<std::string, std::vector<Fields>> groups_;
  // The group being read: null when its id came before (the model drops it whole).
  std::vector<Fields>* group_ = nullptr;
  // The ids of its items in document order, whether they rise strictly (then none
  // repeats), and its matching items with their positions.
  std::vector<std::string_view> ids_;
  bool ids_rise_ = true;
  std::vector<std::pair<std::size_t, Fields>> pending_;
  std::deque<std::string> decoded_ids_;  // ids that differ from their bytes
  std::vector<std::uint32_t> slots_;     // a hash table of the pending ids' positions
  bool gave_up_ = false;
};

}  // namespace library::scan

#endif  // LUMORA_LIBRARY_CATALOGUE_SCAN_GROUPS_H_
