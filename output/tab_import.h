#pragma once
// Reads the tab-separated results file back one record at a time, so that a results file of any
// size is read with one record in memory.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace mirava::output {

using TabRecord = std::vector<std::string>;  // the fields of one record, UTF-8 bytes as read

// The rules, which read back exactly what the results file's writer wrote:
// - a UTF-8 byte-order mark at the very start is dropped;
// - records end at CR LF, LF or CR; a final line break adds no empty record, an empty line in
//   the middle is a record of one empty field;
// - fields are split at TAB; a value never holds a TAB or a line break, so quotes do not join
//   fields or lines;
// - a field that begins and ends with a double quote loses that outer pair; every other quote
//   is part of the value (the writer does not escape quotes, so `"Кафе "У дома""` is the value
//   `Кафе "У дома"`);
// - every other byte is kept as it is.
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
