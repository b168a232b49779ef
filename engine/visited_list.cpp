#include "engine/visited_list.h"

#include "analysis/text_encoding.h"

namespace mirava::engine {

bool VisitedList::Add(std::string_view url) {
  return folded_.insert(analysis::FoldCaseUtf8(url)).second;
}

bool VisitedList::Contains(std::string_view url) const {
  return folded_.contains(analysis::FoldCaseUtf8(url));
}

}  // namespace mirava::engine
