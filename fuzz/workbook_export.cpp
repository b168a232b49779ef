// The workbook export of a results file made by the row writer: the input is cut into values at
// the byte 0x1F and into rows at 0x1E. The workbook is then opened (its zip read with zlib, the
// sheet's XML read by hand) and must hold every non-empty value in its row and column, as the
// results file holds it: malformed UTF-8, NUL and the two non-characters as U+FFFD, values
// longer than a cell cut to a prefix.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <zlib.h>

#include "analysis/organization_row.h"
#include "analysis/text_encoding.h"
#include "fuzz/fuzz_check.h"
#include "output/workbook_export.h"

namespace {

using namespace mirava;

std::uint32_t Le(std::string_view bytes, std::size_t at, int width) {
  FUZZ_CHECK(at + width <= bytes.size());
  std::uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i) {
    value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  }
  return value;
}

// One member of a zip archive, found through the central directory.
std::string ZipMember(std::string_view zip, std::string_view name) {
  const std::size_t directory_end = zip.rfind("PK\x05\x06");
  FUZZ_CHECK(directory_end != std::string_view::npos);
  const std::size_t entries = Le(zip, directory_end + 10, 2);
  std::size_t at = Le(zip, directory_end + 16, 4);
  for (std::size_t e = 0; e < entries; ++e) {
    FUZZ_CHECK(zip.substr(at, 4) == "PK\x01\x02");
    const std::uint32_t method = Le(zip, at + 10, 2);
    const std::uint32_t packed = Le(zip, at + 20, 4);
    const std::uint32_t unpacked = Le(zip, at + 24, 4);
    const std::uint32_t name_length = Le(zip, at + 28, 2);
    const std::uint32_t extra_length = Le(zip, at + 30, 2);
    const std::uint32_t comment_length = Le(zip, at + 32, 2);
    const std::uint32_t local = Le(zip, at + 42, 4);
    if (zip.substr(at + 46, name_length) == name) {
      const std::size_t data = local + 30 + Le(zip, local + 26, 2) + Le(zip, local + 28, 2);
      FUZZ_CHECK(data + packed <= zip.size());
      if (method == 0) {
        return std::string(zip.substr(data, packed));
      }
      FUZZ_CHECK(method == 8);
      std::string out(unpacked, '\0');
      z_stream stream{};
      FUZZ_CHECK(inflateInit2(&stream, -MAX_WBITS) == Z_OK);
      stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zip.data() + data));
      stream.avail_in = packed;
      stream.next_out = reinterpret_cast<Bytef*>(out.data());
      stream.avail_out = unpacked;
      const int status = inflate(&stream, Z_FINISH);
      inflateEnd(&stream);
      FUZZ_CHECK(status == Z_STREAM_END && stream.total_out == unpacked);
      return out;
    }
    at += 46 + name_length + extra_length + comment_length;
  }
  FUZZ_CHECK(!"member missing");
  return std::string();
}

int HexValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

// A cell's text as a spreadsheet shows it: XML references, then the file format's "_xHHHH_".
std::string CellText(std::string_view xml) {
  std::u16string text;
  const std::u16string units = analysis::Utf8ToUtf16(xml);
  for (std::size_t i = 0; i < units.size(); ++i) {
    if (units[i] == u'&') {
      const std::size_t semicolon = units.find(u';', i);
      FUZZ_CHECK(semicolon != std::u16string::npos);
      const std::u16string name = units.substr(i + 1, semicolon - i - 1);
      if (name == u"amp")
        text += u'&';
      else if (name == u"lt")
        text += u'<';
      else if (name == u"gt")
        text += u'>';
      else if (name == u"quot")
        text += u'"';
      else if (name == u"apos")
        text += u'\'';
      else
        FUZZ_CHECK(!"unknown XML reference");
      i = semicolon;
    } else {
      text += units[i];
    }
  }
  std::u16string shown;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i + 6 < text.size() && text[i] == u'_' && text[i + 1] == u'x' && text[i + 6] == u'_') {
      int value = 0;
      bool hex = true;
      for (std::size_t k = i + 2; k < i + 6; ++k) {
        const int digit = text[k] < 0x80 ? HexValue(static_cast<char>(text[k])) : -1;
        hex = hex && digit >= 0;
        value = value * 16 + digit;
      }
      if (hex) {
        shown += static_cast<char16_t>(value);
        i += 6;
        continue;
      }
    }
    shown += text[i];
  }
  return analysis::Utf16ToUtf8(shown);
}

std::size_t ColumnOf(std::string_view reference) {
  std::size_t column = 0;
  for (const char c : reference) {
    if (c < 'A' || c > 'Z')
      break;
    column = column * 26 + (c - 'A' + 1);
  }
  return column - 1;
}

// Every cell of the sheet: (row, column) -> text, rows and columns from 0.
std::map<std::pair<std::size_t, std::size_t>, std::string> SheetCells(std::string_view sheet) {
  std::map<std::pair<std::size_t, std::size_t>, std::string> cells;
  std::size_t at = 0;
  while ((at = sheet.find("<c r=\"", at)) != std::string_view::npos) {
    at += 6;
    const std::size_t quote = sheet.find('"', at);
    const std::string_view reference = sheet.substr(at, quote - at);
    std::size_t digits = 0;
    while (digits < reference.size() && !(reference[digits] >= '0' && reference[digits] <= '9')) {
      ++digits;
    }
    const std::size_t row = std::stoul(std::string(reference.substr(digits))) - 1;
    const std::size_t cell_end = sheet.find("</c>", at);
    const std::size_t self_closed = sheet.find("/>", at);
    if (cell_end == std::string_view::npos ||
        (self_closed != std::string_view::npos && self_closed < sheet.find('>', at) + 1 &&
         self_closed < cell_end)) {
      continue;  // a cell with a format only
    }
    const std::size_t open = sheet.find("<t", at);
    FUZZ_CHECK(open != std::string_view::npos && open < cell_end);
    const std::size_t text_start = sheet.find('>', open) + 1;
    const std::size_t text_end = sheet.find("</t>", text_start);
    FUZZ_CHECK(text_end != std::string_view::npos && text_end < cell_end);
    cells[{row, ColumnOf(reference)}] = CellText(sheet.substr(text_start, text_end - text_start));
    at = cell_end;
  }
  return cells;
}

// The value as the sheet can hold it.
std::u16string Storable(const std::string& value) {
  std::u16string text = analysis::Utf8ToUtf16(value);
  for (char16_t& unit : text) {
    if (unit == 0 || unit == 0xFFFE || unit == 0xFFFF) {
      unit = 0xFFFD;
    }
  }
  return text;
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

const std::string& Folder() {
  static const std::string folder = [] {
    char pattern[] = "/tmp/mirava-fuzz-workbook-XXXXXX";
    FUZZ_CHECK(mkdtemp(pattern) != nullptr);
    return std::string(pattern);
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 200000) {
    return 0;
  }
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<analysis::OrganizationRow> rows;
  for (const std::string_view line : fuzz::SplitAt(input, "\x1E")) {
    analysis::OrganizationRow row;
    const std::vector<std::string_view> values = fuzz::SplitAt(line, "\x1F");
    for (std::size_t i = 0; i < row.size() && i < values.size(); ++i) {
      row[i] = std::string(values[i]);
    }
    rows.push_back(std::move(row));
  }

  const std::string results = Folder() + "/data1.tab";
  const std::string workbook = Folder() + "/data1.xlsx";
  {
    std::ofstream file(results, std::ios::binary | std::ios::trunc);
    file << "\xEF\xBB\xBF" << analysis::HeaderLine() << "\r\n";
    for (const analysis::OrganizationRow& row : rows) {
      file << analysis::FormatRow(row) << "\r\n";
    }
  }
  const output::WorkbookSummary summary = output::ExportResultsWorkbook(results, workbook);

  const auto cells = SheetCells(ZipMember(ReadFile(workbook), "xl/worksheets/sheet1.xml"));
  std::size_t used_rows = 1;
  std::size_t expected_cells = 12;
  long long truncated = 0;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    for (std::size_t c = 0; c < rows[r].size(); ++c) {
      std::string value = rows[r][c];
      for (char& ch : value) {
        if (ch == '\t' || ch == '\r' || ch == '\n')
          ch = ' ';
      }
      if (value.empty()) {
        continue;
      }
      used_rows = r + 2;
      ++expected_cells;
      const auto found = cells.find({r + 1, c});
      FUZZ_CHECK(found != cells.end());
      const std::u16string expected = Storable(value);
      const std::u16string shown = analysis::Utf8ToUtf16(found->second);
      // A literal "_xHHHH_" (or "_xHHHH" before a control character, which is stored as an
      // escape) gets a six-unit escape in front, which counts towards the cell's limit.
      std::size_t escapes = 0;
      for (std::size_t at = 0; at + 7 <= expected.size(); ++at) {
        const bool closes =
            expected[at + 6] == u'_' || (expected[at + 6] >= 1 && expected[at + 6] < 0x20);
        escapes += expected[at] == u'_' && expected[at + 1] == u'x' && closes &&
                   std::all_of(expected.begin() + at + 2, expected.begin() + at + 6,
                               [](char16_t u) { return u < 0x80 && HexValue(char(u)) >= 0; });
      }
      if (expected.size() + 6 * escapes <= 32767) {
        if (shown != expected) {
          std::fprintf(stderr, "row %zu column %zu: value \"%s\", cell \"%s\"\n", r + 1, c,
                       value.c_str(), found->second.c_str());
        }
        FUZZ_CHECK(shown == expected);
      } else {
        ++truncated;
        FUZZ_CHECK(shown.size() <= 32767 && expected.starts_with(shown));
      }
    }
  }
  FUZZ_CHECK(cells.size() == expected_cells);
  FUZZ_CHECK(summary.UsedRows == static_cast<long long>(used_rows));
  FUZZ_CHECK(summary.TruncatedCells == truncated);
  for (std::size_t c = 0; c < 12; ++c) {
    FUZZ_CHECK(cells.at({0, c}) == analysis::kColumnTitles[c]);
  }
  return 0;
}
