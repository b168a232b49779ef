#pragma once
// The Russian texts of the failures an operator meets most: network failures of a request and
// refusals of the file system. One table, so every place that reports a failure says it alike.
#include <optional>
#include <string>
#include <string_view>

namespace mirava::platform {

enum class Failure {
  HostNotFound,
  ConnectFailed,
  TimedOut,
  TlsFailed,
  ProxyFailed,
  ProxyCredentials,
  BadAddress,
  DiskFull,
  ReadOnlyFolder,
  NoPermission,
};

// The text the operator reads for `failure`.
std::string_view FailureText(Failure failure);

// The failure an errno value stands for, if the table has it.
std::optional<Failure> FailureOfErrno(int error);

// For an errno value: the table's text, else the system's own message.
std::string SystemErrorText(int error);

}  // namespace mirava::platform
