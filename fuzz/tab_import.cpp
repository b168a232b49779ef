// The results-file reader the workbook export uses, against a plain reference of its rules, read
// in chunks of every size the input chooses; and the round trip of the row format: any twelve
// values formatted as a row read back as those values, with TAB, CR and LF as spaces.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/organization_row.h"
#include "fuzz/fuzz_check.h"
#include "output/tab_import.h"

namespace {

using mirava::output::TabRecord;

std::vector<TabRecord> RefRead(std::string_view bytes) {
  if (bytes.starts_with("\xEF\xBB\xBF")) {
    bytes.remove_prefix(3);
  }
  std::vector<TabRecord> records;
  TabRecord fields;
  std::string field;
  const auto end_field = [&] {
    if (field.size() >= 2 && field.front() == '"' && field.back() == '"') {
      field = field.substr(1, field.size() - 2);
    }
    fields.push_back(field);
    field.clear();
  };
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (c == '\t') {
      end_field();
    } else if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
        ++i;
      }
      end_field();
      records.push_back(fields);
      fields.clear();
    } else {
      field += c;
    }
  }
  if (!field.empty() || !fields.empty()) {
    end_field();
    records.push_back(fields);
  }
  return records;
}

std::vector<TabRecord> ReadInChunks(std::string_view bytes, std::size_t chunk_size) {
  std::size_t offset = 0;
  mirava::output::TTabRecordReader reader(
      [&](char* buffer, std::size_t size) {
        const std::size_t count = std::min(size, bytes.size() - offset);
        std::memcpy(buffer, bytes.data() + offset, count);
        offset += count;
        return count;
      },
      chunk_size);
  std::vector<TabRecord> records;
  TabRecord fields;
  while (reader.NextRecord(fields)) {
    records.push_back(fields);
  }
  return records;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const std::size_t chunk_size = 1 + data[0] % 17;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

  const std::vector<TabRecord> expected = RefRead(bytes);
  FUZZ_CHECK(mirava::output::ReadTabRecords(bytes) == expected);
  FUZZ_CHECK(ReadInChunks(bytes, chunk_size) == expected);

  // The input cut into twelve values at the byte 0x1F makes one row.
  mirava::analysis::OrganizationRow row;
  const std::vector<std::string_view> values = mirava::fuzz::SplitAt(bytes, "\x1F");
  for (std::size_t i = 0; i < row.size() && i < values.size(); ++i) {
    row[i] = std::string(values[i]);
  }
  const std::string line = mirava::analysis::FormatRow(row);
  mirava::fuzz::CheckRowShape(line);
  const std::vector<TabRecord> read = ReadInChunks("\xEF\xBB\xBF" + line + "\r\n", chunk_size);
  FUZZ_CHECK(read.size() == 1 && read[0].size() == row.size());
  for (std::size_t i = 0; i < row.size(); ++i) {
    std::string spaced = row[i];
    std::replace_if(
        spaced.begin(), spaced.end(), [](char c) { return c == '\t' || c == '\r' || c == '\n'; },
        ' ');
    FUZZ_CHECK(read[0][i] == spaced);
  }
  return 0;
}
