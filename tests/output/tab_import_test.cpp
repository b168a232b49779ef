#include "output/tab_import.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace mirava::output {
namespace {

struct ImportCase {
  const char* name;
  std::string input;
  std::vector<TabRecord> expected;
};

const std::string kBom = "\xEF\xBB\xBF";

std::vector<ImportCase> ImportCases() {
  return {
      {"EmptyInput", "", {}},
      {"ByteOrderMarkOnly", kBom, {}},
      {"HeaderWithByteOrderMark",
       kBom + "\"Ссылка\"\t\"Имя рубрики\"\r\n",
       {{"Ссылка", "Имя рубрики"}}},
      {"ByteOrderMarkKeptAfterTheStart", "a" + kBom + "\r\n", {{"a" + kBom}}},
      {"LineBreakKinds", "a\r\nb\nc\rd", {{"a"}, {"b"}, {"c"}, {"d"}}},
      {"FinalLineBreakAddsNoRecord", "\"a\"\t\"b\"\r\n", {{"a", "b"}}},
      {"EmptyLineInTheMiddle", "a\r\n\r\nb\r\n", {{"a"}, {""}, {"b"}}},
      {"EmptyFields", "\"\"\t\"\"\t\t\"x\"\r\n", {{"", "", "", "x"}}},
      {"TrailingTabGivesEmptyLastField", "a\t\r\n", {{"a", ""}}},
      // The writer does not escape quotes: only the outer pair of a field is dropped.
      {"QuotesInsideStayAsWritten", "\"say \"\"hi\"\" now\"\tb\r\n", {{"say \"\"hi\"\" now", "b"}}},
      {"QuotesDoNotJoinTabsOrLines",
       "\"a\tb\"\t\"line1\r\nline2\"\r\n",
       {{"\"a", "b\"", "\"line1"}, {"line2\""}}},
      {"TextAfterAQuoteIsPartOfTheField", "\"ab\"cd\tx\r\n", {{"\"ab\"cd", "x"}}},
      {"UnquotedFieldKeepsItsQuotes", "ab\"c\"\tx\r\n", {{"ab\"c\"", "x"}}},
      {"CategoryWithQuotesInside",
       "\"u\"\t\"Кафе \"У дома\"\"\t\"n\"\r\n",
       {{"u", "Кафе \"У дома\"", "n"}}},
      {"QuoteInTheMiddleOfAValue",
       "\"u\"\t\"Кафе \"Ромашка\" у дома\"\t\"n\"\r\n",
       {{"u", "Кафе \"Ромашка\" у дома", "n"}}},
      // Values that end in a quote must not swallow what follows.
      {"ValueEndingInQuoteBeforeTab",
       "\"u\"\t\"дюйм 5\"\"\t\"name\"\r\n",
       {{"u", "дюйм 5\"", "name"}}},
      {"ValueEndingInQuoteBeforeEmptyFieldsAndLineBreak",
       "\"u1\"\t\"x\"\"\t\"\"\t\"\"\r\n\"u2\"\t\"y\"\t\"\"\t\"\"\r\n",
       {{"u1", "x\"", "", ""}, {"u2", "y", "", ""}}},
      {"ValueEndingInQuoteAtTheEnd", "\"x\"\"", {{"x\""}}},
      {"ValueBetweenQuotes", "\"\"a\"\"\tb\r\n", {{"\"a\"", "b"}}},
      {"UnterminatedQuoteIsKept", "a\t\"open\r\nthe end", {{"a", "\"open"}, {"the end"}}},
      {"LoneQuote", "\"", {{"\""}}},
      {"NoFinalLineBreak", "\"a\"\t\"b\"", {{"a", "b"}}},
      {"BytesKeptAsTheyAre", "\xFF\xFE\x01\tя\r\n", {{"\xFF\xFE\x01", "я"}}},
  };
}

std::vector<TabRecord> ReadInChunks(const std::string& input, std::size_t chunk_size) {
  std::size_t offset = 0;
  TTabRecordReader reader(
      [&](char* buffer, std::size_t size) {
        const std::size_t count = std::min(size, input.size() - offset);
        std::memcpy(buffer, input.data() + offset, count);
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

TEST(TabImport, ReadsRecordsAsTheTextImportDoes) {
  for (const ImportCase& c : ImportCases()) {
    EXPECT_EQ(ReadTabRecords(c.input), c.expected) << c.name;
  }
}

TEST(TabImport, ChunkBoundariesDoNotChangeTheResult) {
  // Look-ahead over "" pairs, CR LF and the byte-order mark must work across refills.
  for (const ImportCase& c : ImportCases()) {
    for (std::size_t chunk_size : {1, 2, 3, 5}) {
      EXPECT_EQ(ReadInChunks(c.input, chunk_size), c.expected)
          << c.name << ", chunk size " << chunk_size;
    }
  }
}

TEST(TabImport, ReadErrorPassesThrough) {
  int calls = 0;
  TTabRecordReader reader([&](char* buffer, std::size_t size) -> std::size_t {
    if (calls++ == 0) {
      const std::string_view first = "\"a\"\r\n\"b";
      const std::size_t count = std::min(size, first.size());
      std::memcpy(buffer, first.data(), count);
      return count;
    }
    throw std::runtime_error("disk gone");
  });
  TabRecord fields;
  ASSERT_TRUE(reader.NextRecord(fields));
  EXPECT_EQ(fields, TabRecord{"a"});
  EXPECT_THROW(reader.NextRecord(fields), std::runtime_error);
}

}  // namespace
}  // namespace mirava::output
