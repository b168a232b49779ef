#include "output/tab_import.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "analysis/text_encoding.h"

namespace mirava::output {

namespace {

constexpr char kTab = '\t';
constexpr char kCr = '\r';
constexpr char kLf = '\n';
constexpr char kQuote = '"';

}  // namespace

TTabRecordReader::TTabRecordReader(ChunkSource source, std::size_t chunk_size)
    : source_(std::move(source)), chunk_size_(std::max<std::size_t>(chunk_size, 1)) {}

bool TTabRecordReader::Fill(std::size_t needed) {
  // Consumed bytes are dropped first, so the buffer never holds more than a chunk and the
  // few bytes of look-ahead.
  if (position_ > 0) {
    buffer_.erase(0, position_);
    position_ = 0;
  }
  while (buffer_.size() < needed && !source_ended_) {
    const std::size_t old_size = buffer_.size();
    buffer_.resize(old_size + chunk_size_);
    const std::size_t got = source_(buffer_.data() + old_size, chunk_size_);
    buffer_.resize(old_size + std::min(got, chunk_size_));
    if (got == 0) {
      source_ended_ = true;
    }
  }
  return buffer_.size() >= needed;
}

int TTabRecordReader::Peek(std::size_t ahead) {
  if (position_ + ahead >= buffer_.size() && !Fill(ahead + 1)) {
    return kEnd;
  }
  return static_cast<unsigned char>(buffer_[position_ + ahead]);
}

void TTabRecordReader::Skip(std::size_t count) {
  position_ += count;
}

bool TTabRecordReader::NextRecord(TabRecord& fields) {
  fields.clear();
  if (!started_) {
    started_ = true;
    const std::string_view mark = analysis::kUtf8ByteOrderMark;
    std::size_t matched = 0;
    while (matched < mark.size() && Peek(matched) == static_cast<unsigned char>(mark[matched])) {
      ++matched;
    }
    if (matched == mark.size()) {
      Skip(mark.size());
    }
  }
  if (Peek(0) == kEnd) {
    return false;
  }
  std::string field;
  for (;;) {
    int c;
    while ((c = Peek(0)) != kEnd && c != kTab && c != kCr && c != kLf) {
      // A run of ordinary bytes is copied at once.
      const char* begin = buffer_.data() + position_;
      const char* end = buffer_.data() + buffer_.size();
      const char* stop =
          std::find_if(begin, end, [](char b) { return b == kTab || b == kCr || b == kLf; });
      field.append(begin, stop);
      Skip(static_cast<std::size_t>(stop - begin));
    }
    // Values are written between quotes without escaping, so only the outer pair is dropped and
    // every quote inside stays as written.
    if (field.size() >= 2 && field.front() == kQuote && field.back() == kQuote) {
      field.pop_back();
      field.erase(0, 1);
    }
    fields.push_back(std::move(field));
    field.clear();
    if (c == kTab) {
      Skip(1);
      continue;
    }
    if (c == kCr) {
      Skip(1);
      if (Peek(0) == kLf) {
        Skip(1);
      }
    } else if (c == kLf) {
      Skip(1);
    }
    return true;
  }
}

std::vector<TabRecord> ReadTabRecords(std::string_view bytes) {
  std::size_t offset = 0;
  TTabRecordReader reader([&](char* buffer, std::size_t size) {
    const std::size_t count = std::min(size, bytes.size() - offset);
    std::memcpy(buffer, bytes.data() + offset, count);
    offset += count;
    return count;
  });
  std::vector<TabRecord> records;
  TabRecord fields;
  while (reader.NextRecord(fields)) {
    records.push_back(fields);
  }
  return records;
}

}  // namespace mirava::output
