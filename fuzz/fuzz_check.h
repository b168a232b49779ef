#pragma once
// What the fuzz targets share: a check that stops the run with the broken property named, and
// the row properties every reader of pages must keep.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/text_encoding.h"

namespace mirava::fuzz {

[[noreturn]] inline void Fail(const char* property, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: property broken: %s\n", file, line, property);
  std::abort();
}

#define FUZZ_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : ::mirava::fuzz::Fail(#condition, __FILE__, __LINE__))

inline std::vector<std::string_view> SplitAt(std::string_view text, std::string_view separator) {
  std::vector<std::string_view> parts;
  for (;;) {
    const std::size_t at = text.find(separator);
    parts.push_back(text.substr(0, at));
    if (at == std::string_view::npos) {
      return parts;
    }
    text.remove_prefix(at + separator.size());
  }
}

// A results row: twelve double-quoted fields between TABs, no line break, valid UTF-8 as long as
// the page address and the category are.
inline void CheckRowShape(std::string_view row) {
  FUZZ_CHECK(row.find_first_of("\r\n") == std::string_view::npos);
  const std::vector<std::string_view> fields = SplitAt(row, "\t");
  FUZZ_CHECK(fields.size() == 12);
  for (const std::string_view field : fields) {
    FUZZ_CHECK(field.size() >= 2 && field.front() == '"' && field.back() == '"');
  }
}

}  // namespace mirava::fuzz
