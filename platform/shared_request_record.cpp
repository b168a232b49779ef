#include "platform/shared_request_record.h"

#include <cstdint>
#include <cstring>

namespace mirava::platform {

namespace {

constexpr unsigned char kRecordTag[4] = {'M', 'R', 'Q', '1'};

void PutLittleEndian(unsigned char* at, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) {
    at[i] = static_cast<unsigned char>(value >> (8 * i));
  }
}

std::uint64_t GetLittleEndian(const unsigned char* at, int bytes) {
  std::uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) {
    value |= static_cast<std::uint64_t>(at[i]) << (8 * i);
  }
  return value;
}

}  // namespace

SharedRecordBytes EncodeSharedRecord(const SharedRequestRecord& record) {
  SharedRecordBytes bytes{};
  std::memcpy(bytes.data(), kRecordTag, sizeof kRecordTag);
  PutLittleEndian(bytes.data() + 4, record.LastRequestTick, 4);
  PutLittleEndian(bytes.data() + 8, record.Writer, 8);
  return bytes;
}

std::optional<SharedRequestRecord> DecodeSharedRecord(const SharedRecordBytes& bytes) {
  if (std::memcmp(bytes.data(), kRecordTag, sizeof kRecordTag) != 0) {
    return std::nullopt;
  }
  SharedRequestRecord record;
  record.LastRequestTick = static_cast<std::uint32_t>(GetLittleEndian(bytes.data() + 4, 4));
  record.Writer = GetLittleEndian(bytes.data() + 8, 8);
  return record;
}

}  // namespace mirava::platform
