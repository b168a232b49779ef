#include "analysis/page_analysis.h"

namespace mirava::analysis {

void AnalyzePage(std::string_view, const std::string&, CategoryByUrl&, IPageSink&) {}

}  // namespace mirava::analysis
