#pragma once
// The run's lines "organization address=category name": the first line for an address wins, and
// lookups ignore letter case. Lines are only ever added.
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "analysis/text_encoding.h"

namespace mirava::analysis {

class CategoryByUrl {
 public:
  // Adds the line url + "=" + name. A line is keyed by its text before the first "=".
  void Add(std::string_view url, std::string_view name);
  // The same with a name that many lines share: a listing's cards all keep one copy of it, so a
  // long name costs its length once per page, not once per card.
  void Add(std::string_view url, const std::shared_ptr<const std::string>& name);
  // The text after the first "=" of the first line whose key equals `url` (case ignored);
  // empty when no line matches.
  std::string Lookup(std::string_view url) const;
  // Whether a line was added for `url` (its text before the first "=", case ignored).
  bool Contains(std::string_view url) const;
  std::size_t Count() const { return count_; }
  // Room for `count` addresses, for lines added at once.
  void Reserve(std::size_t count) { first_.reserve(count); }

 private:
  std::unordered_map<std::string, std::shared_ptr<const std::string>, CaseInsensitiveHash,
                     CaseInsensitiveEqual>
      first_;
  std::size_t count_ = 0;
};

}  // namespace mirava::analysis
