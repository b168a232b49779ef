#include "analysis/category_by_url.h"

namespace mirava::analysis {

void CategoryByUrl::Add(std::string_view url, std::string_view name) {
  // A line is keyed by its text before the first "=", which may cut into an address holding "=".
  std::string line;
  line.reserve(url.size() + 1 + name.size());
  line.append(url).append("=").append(name);
  const std::size_t equals = line.find('=');
  first_.try_emplace(line.substr(0, equals), line.substr(equals + 1));
  ++count_;
}

std::string CategoryByUrl::Lookup(std::string_view url) const {
  const auto found = first_.find(std::string(url));
  return found == first_.end() ? std::string() : found->second;
}

}  // namespace mirava::analysis
