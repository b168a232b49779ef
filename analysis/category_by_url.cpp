#include "analysis/category_by_url.h"

namespace mirava::analysis {

void CategoryByUrl::Add(std::string_view url, std::string_view name) {
  Add(url, std::make_shared<const std::string>(name));
}

void CategoryByUrl::Add(std::string_view url, const std::shared_ptr<const std::string>& name) {
  ++count_;
  // A line is keyed by its text before the first "=", which may cut into an address holding "=".
  const std::size_t equals = url.find('=');
  std::string key(url.substr(0, equals));
  if (first_.contains(key)) {
    return;
  }
  if (equals == std::string_view::npos) {
    first_.emplace(std::move(key), name);
    return;
  }
  std::string value(url.substr(equals + 1));
  value.append("=").append(*name);
  first_.emplace(key, std::make_shared<const std::string>(std::move(value)));
}

std::string CategoryByUrl::Lookup(std::string_view url) const {
  const auto found = first_.find(std::string(url));
  return found == first_.end() ? std::string() : *found->second;
}

bool CategoryByUrl::Contains(std::string_view url) const {
  return first_.contains(std::string(url.substr(0, url.find('='))));
}

}  // namespace mirava::analysis
