#pragma once
// The bytes of the shared record kept in a named lock's file: a tag, then the tick and the
// writer, little-endian, so every copy of the program reads what another one wrote.
#include <array>
#include <cstddef>
#include <optional>

#include "platform/named_lock.h"

namespace mirava::platform {

inline constexpr std::size_t kSharedRecordSize = 16;
using SharedRecordBytes = std::array<unsigned char, kSharedRecordSize>;

SharedRecordBytes EncodeSharedRecord(const SharedRequestRecord& record);
// Nothing for bytes that are not a record (a new or foreign lock file).
std::optional<SharedRequestRecord> DecodeSharedRecord(const SharedRecordBytes& bytes);

}  // namespace mirava::platform
