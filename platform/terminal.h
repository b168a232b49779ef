#pragma once
// Whether the program's standard streams are a terminal that a person reads.
namespace mirava::platform {

bool StandardOutputIsTerminal() noexcept;
bool StandardErrorIsTerminal() noexcept;

}  // namespace mirava::platform
