#include "base/organization_identity.h"

#include "analysis/text_encoding.h"

namespace mirava::base {

std::string OrganizationIdentity(std::string_view url) {
  return analysis::FoldCaseUtf8(url);
}

}  // namespace mirava::base
