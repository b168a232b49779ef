#include <windows.h>

#include "platform/system_code_page.h"

namespace mirava::platform {

// Files made by this system's own programs (Notepad, the spreadsheet's text export) come in the
// ANSI code page.
std::optional<std::u16string> DecodeAnsiCodePage(std::string_view bytes) {
  if (bytes.empty()) {
    return std::u16string();
  }
  const int size =
      MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::u16string text(static_cast<std::size_t>(size), u'\0');
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()),
                      reinterpret_cast<wchar_t*>(text.data()), size);
  return text;
}

std::optional<std::string> EncodeAnsiCodePage(std::u16string_view text) {
  if (text.empty()) {
    return std::string();
  }
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int length = static_cast<int>(text.size());
  const UINT code_page = GetACP();
  // The default character is not allowed with the UTF code pages.
  const bool utf = code_page == CP_UTF8 || code_page == CP_UTF7;
  const char* const question = "?";
  const int size = WideCharToMultiByte(code_page, 0, wide, length, nullptr, 0,
                                       utf ? nullptr : question, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(code_page, 0, wide, length, bytes.data(), size, utf ? nullptr : question,
                      nullptr);
  return bytes;
}

}  // namespace mirava::platform
