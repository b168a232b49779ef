#pragma once
// Reads tab-separated text the way a spreadsheet's UTF-8 text import does, one record at a time,
// so that a results file of any size is read with one record in memory.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace mirava::output {

using TabRecord = std::vector<std::string>;  // the fields of one record, UTF-8 bytes as read

// The rules:
// - a UTF-8 byte-order mark at the very start is dropped;
// - records end at CR LF, LF or CR outside quotes; a final line break adds no empty record, an
//   empty line in the middle is a record of one empty field;
// - fields are split at TAB;
// - a field that begins with a double quote runs to its closing quote; "" inside stands for one
//   quote; a TAB or a line break inside is kept (a line break as LF); text after the closing
//   quote up to the next TAB or line break is appended as it stands;
// - our writer does not escape quotes, so a value that ends with a quote arrives as `x""`
//   followed by TAB or a line break: that pair is read as the value's quote plus the closing
//   quote, which keeps such a field from swallowing the fields and rows that follow;
// - a quoted field still open at the end of the input keeps what was read.
class TTabRecordReader {
 public:
  // Fills up to `size` bytes at `buffer` and returns how many; 0 means the end of the input.
  // May throw to report a read error, which passes through NextRecord.
  using ChunkSource = std::function<std::size_t(char* buffer, std::size_t size)>;

  explicit TTabRecordReader(ChunkSource source, std::size_t chunk_size = 64 * 1024);

  // The next record's fields into `fields` (replacing its content); false at the end.
  bool NextRecord(TabRecord& fields);

 private:
  static constexpr int kEnd = -1;

  int Peek(std::size_t ahead);  // the byte `ahead` places on, or kEnd
  void Skip(std::size_t count);
  bool Fill(std::size_t needed);
  void ReadQuotedPart(std::string& field);

  ChunkSource source_;
  std::size_t chunk_size_;
  std::string buffer_;
  std::size_t position_ = 0;
  bool source_ended_ = false;
  bool started_ = false;
};

// Every record of `bytes`.
std::vector<TabRecord> ReadTabRecords(std::string_view bytes);

}  // namespace mirava::output
