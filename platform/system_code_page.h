#pragma once
// The system's own code page for text files without a byte-order mark. Windows has one (the ANSI
// code page: Windows-1251 on a Russian system); elsewhere text files are UTF-8 and there is none.
#include <optional>
#include <string>
#include <string_view>

namespace mirava::platform {

// `bytes` read in the system's code page; nothing where the system has none.
std::optional<std::u16string> DecodeAnsiCodePage(std::string_view bytes);

// `text` written in the system's code page, a character it cannot hold as "?"; nothing where the
// system has none.
std::optional<std::string> EncodeAnsiCodePage(std::u16string_view text);

}  // namespace mirava::platform
