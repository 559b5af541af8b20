// An ordered map that owns its values: keys are byte strings compared byte by byte
// (a prefix sorts first), values are held by unique_ptr and destroyed with the map or
// when removed. Besides lookups by key it gives access by position in key order.
//
// Access by position remembers where the last access ended, so walking the map from
// the first position to the last costs linear time in all, not quadratic.
#ifndef LUMORA_LIBRARY_OWNED_MAP_H_
#define LUMORA_LIBRARY_OWNED_MAP_H_

#include <cstddef>
#include <iterator>
#include <map>
#include <memory>
#include <string>

namespace library {

template <typename T>
class OwnedMap {
 public:
  // The value under |key|, or null.
  T* Find(const std::string& key) const {
    auto it = entries_.find(key);
    return it == entries_.end() ? nullptr : it->second.get();
  }

  // Takes |value| under |key|. When the key is already present the existing value
  // stays and |value| is destroyed; the result says whether it was inserted.
  bool Insert(const std::string& key, std::unique_ptr<T> value) {
    auto [it, inserted] = entries_.try_emplace(key, std::move(value));
    if (inserted) cursor_valid_ = false;
    return inserted;
  }

  // Removes and destroys the value under |key|; false when there is none.
  bool Remove(const std::string& key) {
    auto it = entries_.find(key);
    if (it == entries_.end()) return false;
    cursor_valid_ = false;
    entries_.erase(it);
    return true;
  }

  // Removes the value under |key| and hands it over; null when there is none.
  std::unique_ptr<T> Take(const std::string& key) {
    auto it = entries_.find(key);
    if (it == entries_.end()) return nullptr;
    cursor_valid_ = false;
    std::unique_ptr<T> value = std::move(it->second);
    entries_.erase(it);
    return value;
  }

  std::size_t size() const { return entries_.size(); }

  // The value at |position| in key order, or null when the position is not below
  // size().
  T* At(std::size_t position) const {
    if (position >= entries_.size()) return nullptr;
    // Start from whichever known place is nearest: the first entry, the last one
    // reached, or the end.
    std::size_t from_begin = position;
    std::size_t from_end = entries_.size() - position;
    auto it = entries_.begin();
    std::ptrdiff_t steps = static_cast<std::ptrdiff_t>(position);
    std::size_t best = from_begin;
    if (from_end < best) {
      it = entries_.end();
      steps = -static_cast<std::ptrdiff_t>(from_end);
      best = from_end;
    }
    if (cursor_valid_) {
      std::size_t from_cursor =
          position >= cursor_pos_ ? position - cursor_pos_ : cursor_pos_ - position;
      if (from_cursor < best) {
        it = cursor_;
        steps = static_cast<std::ptrdiff_t>(position) - static_cast<std::ptrdiff_t>(cursor_pos_);
      }
    }
    std::advance(it, steps);
    cursor_ = it;
    cursor_pos_ = position;
    cursor_valid_ = true;
    return it->second.get();
  }

  // Calls |visit| with each value in key order.
  template <typename F>
  void ForEach(F&& visit) const {
    for (const auto& [key, value] : entries_) visit(*value);
  }

 private:
  using Entries = std::map<std::string, std::unique_ptr<T>>;
  Entries entries_;
  mutable typename Entries::const_iterator cursor_;
  mutable std::size_t cursor_pos_ = 0;
  mutable bool cursor_valid_ = false;
};

}  // namespace library

#endif  // LUMORA_LIBRARY_OWNED_MAP_H_
