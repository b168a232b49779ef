#include "platform/system_code_page.h"

namespace mirava::platform {

std::optional<std::u16string> DecodeAnsiCodePage(std::string_view) {
  return std::nullopt;
}

std::optional<std::string> EncodeAnsiCodePage(std::u16string_view) {
  return std::nullopt;
}

}  // namespace mirava::platform
