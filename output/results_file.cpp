#include "output/results_file.h"

#include <cstdint>
#include <string>

namespace mirava::output {

RunFileNames MakeRunFileNames(std::uint32_t n, std::uint32_t m) {
  // The tick count's 32 bits read as a signed number: past 2^31 the names carry a minus sign.
  const auto as_signed = [](std::uint32_t tick) {
    return std::to_string(static_cast<std::int32_t>(tick));
  };
  RunFileNames names;
  names.ResultsFileName = "data" + as_signed(n) + ".tab";
  names.WorkbookFileName = "data" + as_signed(n) + ".xlsx";
  names.LogFileName = "log" + as_signed(m) + ".txt";
  return names;
}

}  // namespace mirava::output
