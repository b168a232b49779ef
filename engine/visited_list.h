#pragma once
// Every address a run has queued, letter case ignored. It grows to every address of the run, so
// membership is a hash lookup on the case-folded address rather than a search.
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_set>

namespace mirava::engine {

class VisitedList {
 public:
  // Adds `url` unless an address equal to it (case ignored) is already there; true when added.
  bool Add(std::string_view url);
  bool Contains(std::string_view url) const;
  std::size_t Count() const { return folded_.size(); }
  // Room for `count` addresses, for a list rebuilt at once.
  void Reserve(std::size_t count) { folded_.reserve(count); }

 private:
  // Keys are stored folded, so a lookup folds once and then hashes and compares plain bytes.
  std::unordered_set<std::string> folded_;
};

}  // namespace mirava::engine
