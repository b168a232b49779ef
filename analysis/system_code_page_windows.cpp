#include <windows.h>

#include "analysis/text_encoding.h"

namespace mirava::analysis {

// Files made by this system's own programs (Notepad, the spreadsheet's text export) come in the
// ANSI code page: Windows-1251 on a Russian system.
std::u16string DecodeSystemCodePage(std::string_view bytes) {
  if (bytes.empty() || IsWellFormedUtf8(bytes)) {
    return Utf8ToUtf16(bytes);
  }
  const int size =
      MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::u16string text(static_cast<std::size_t>(size), u'\0');
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()),
                      reinterpret_cast<wchar_t*>(text.data()), size);
  return text;
}

// A character the code page cannot hold becomes "?", as in the other builds' Windows-1251.
std::string EncodeSystemCodePage(std::u16string_view text) {
  if (text.empty()) {
    return {};
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

}  // namespace mirava::analysis
