#include "engine/proxy_list.h"

#include <climits>
#include <cstdint>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "analysis/text_encoding.h"
#include "analysis/text_toolkit.h"
#include "platform/failure_texts.h"
#include "platform/file_access.h"

namespace mirava::engine {

namespace {

using analysis::kUtf8ByteOrderMark;

bool IsBlank(char c) {
  const auto code = static_cast<unsigned char>(c);
  return code >= 1 && code <= 32;
}

// Missing files and folders named like the file both count as "no file".
bool ReadWholeFile(const std::string& path, std::string& contents) {
  std::optional<std::string> bytes = platform::ReadFileIfPresent(path);
  if (!bytes) {
    return false;
  }
  contents.append(*bytes);
  return true;
}

// "a decimal integer, 0 when empty or not a number": digits only, and within int.
int ReadPort(std::string_view text) {
  if (text.empty()) {
    return 0;
  }
  long long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') {
      return 0;
    }
    value = value * 10 + (c - '0');
    if (value > INT_MAX) {
      return 0;
    }
  }
  return static_cast<int>(value);
}

void SetHostPortAndCredentials(ProxySettings& settings, std::string_view host,
                               std::string_view port_text, std::string_view user_name,
                               std::string_view password) {
  settings.Host = std::string(host);
  settings.Port = ReadPort(port_text);
  // An empty user name keeps the credentials of the previous attempt.
  if (!user_name.empty()) {
    settings.UserName = std::string(user_name);
    settings.Password = std::string(password);
  }
}

// Fields separated by ";" or blanks (codes 1 to 32); a field in double quotes may hold both,
// with "" standing for one quote.
std::vector<std::string> SplitProxyFields(std::string_view text) {
  std::vector<std::string> fields;
  std::size_t pos = 0;
  const std::size_t size = text.size();
  auto skip_blanks = [&] {
    while (pos < size && IsBlank(text[pos])) {
      ++pos;
    }
  };
  skip_blanks();
  while (pos < size) {
    std::string field;
    if (text[pos] == '"') {
      ++pos;
      while (pos < size) {
        if (text[pos] == '"') {
          if (pos + 1 < size && text[pos + 1] == '"') {
            field += '"';
            pos += 2;
            continue;
          }
          ++pos;
          break;
        }
        field += text[pos++];
      }
    } else {
      const std::size_t start = pos;
      while (pos < size && text[pos] != ';' && !IsBlank(text[pos])) {
        ++pos;
      }
      field.assign(text.substr(start, pos - start));
    }
    fields.push_back(std::move(field));
    skip_blanks();
    if (pos < size && text[pos] == ';') {
      if (pos + 1 == size) {
        fields.emplace_back();
      }
      ++pos;
      skip_blanks();
    }
  }
  return fields;
}

// The text after the first "//", or all of it.
std::string_view WithoutSchemePrefix(std::string_view text) {
  const std::size_t slashes = text.find("//");
  return slashes == std::string_view::npos ? text : text.substr(slashes + 2);
}

// The credentials before the address without a leading "scheme://" (or "scheme//"); a "//"
// further on belongs to them.
std::string_view WithoutUrlScheme(std::string_view credentials) {
  const std::size_t slashes = credentials.find("//");
  if (slashes == std::string_view::npos) {
    return credentials;
  }
  std::string_view scheme = credentials.substr(0, slashes);
  if (scheme.ends_with(':')) {
    scheme.remove_suffix(1);
  }
  for (const char c : scheme) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    const bool digit = c >= '0' && c <= '9';
    if (!letter && !digit && c != '+' && c != '-' && c != '.') {
      return credentials;
    }
  }
  return credentials.substr(slashes + 2);
}

// True when the first of `fields` is a proxy's "host:port" and credentials follow it: the field
// form, whatever the credentials hold ("@" included; a host never holds one).
bool StartsWithAddressField(const std::vector<std::string>& fields) {
  if (fields.size() < 3) {
    return false;
  }
  const std::string_view address = WithoutSchemePrefix(fields[0]);
  const std::size_t colon = address.find(':');
  if (colon == 0 || colon == std::string_view::npos ||
      address.find('@') != std::string_view::npos) {
    return false;
  }
  const int port = ReadPort(address.substr(colon + 1));
  return port >= 1 && port <= 65535;
}

}  // namespace

ProxyList LoadProxyList(const std::string& path) {
  std::string contents;
  if (!ReadWholeFile(path, contents)) {
    return {};
  }
  // Editors on Windows often save a byte-order mark; it is no part of the first entry.
  std::string_view text = contents;
  if (text.starts_with(kUtf8ByteOrderMark)) {
    text.remove_prefix(kUtf8ByteOrderMark.size());
  }
  return analysis::SplitLines(text);
}

std::optional<std::string> NextProxy(const ProxyList& list, ProxyRotation& rotation) {
  if (list.empty()) {
    return std::nullopt;
  }
  const long long count = static_cast<long long>(list.size());
  int current = rotation.ProxyIndex.load();
  int next = 0;
  // One atomic step, so two callers at the same moment never receive the same entry.
  do {
    const long long candidate = static_cast<long long>(current) + 1;
    next = (candidate < 0 || candidate >= count || candidate > INT_MAX)
               ? 0
               : static_cast<int>(candidate);
  } while (!rotation.ProxyIndex.compare_exchange_weak(current, next));
  return list[static_cast<std::size_t>(next)];
}

std::optional<ProxyTurn> NextUsableProxy(const ProxyList& list, ProxyRotation& rotation,
                                         std::uint32_t now) {
  for (std::size_t tried = 0; tried < list.size(); ++tried) {
    std::optional<std::string> entry = NextProxy(list, rotation);
    if (!entry) {
      return std::nullopt;
    }
    if (rotation.Health.WaitFor(*entry, now) == 0) {
      return ProxyTurn{std::move(*entry), 0};
    }
  }
  if (list.empty()) {
    return std::nullopt;
  }
  // Every entry is set aside: the rotation goes on from the one that comes back first.
  const std::size_t soonest = rotation.Health.SoonestBack(list, now);
  rotation.ProxyIndex.store(static_cast<int>(soonest));
  return ProxyTurn{list[soonest], rotation.Health.WaitFor(list[soonest], now)};
}

void ApplyProxy(ProxySettings& settings, const std::string& entry) {
  if (entry.empty()) {
    settings = ProxySettings{};
    return;
  }
  // The field form reads the entry as written, not the trimmed text.
  const std::vector<std::string> fields = SplitProxyFields(entry);
  const std::string_view trimmed = analysis::Trim(entry);

  // A password may hold "@" (and ":", ";" or blanks), a host none: the address follows the last
  // "@".
  const std::size_t at = trimmed.rfind('@');
  if (at != std::string_view::npos && !StartsWithAddressField(fields)) {
    const std::string_view credentials = WithoutUrlScheme(trimmed.substr(0, at));
    const std::string_view host_part = trimmed.substr(at + 1);
    const std::size_t host_colon = host_part.find(':');
    const std::size_t user_colon = credentials.find(':');
    const std::string_view host = host_part.substr(0, host_colon);
    const std::string_view port_text = host_colon == std::string_view::npos
                                           ? std::string_view()
                                           : host_part.substr(host_colon + 1);
    const std::string_view user_name = credentials.substr(0, user_colon);
    const std::string_view password = user_colon == std::string_view::npos
                                          ? std::string_view()
                                          : credentials.substr(user_colon + 1);
    SetHostPortAndCredentials(settings, host, port_text, user_name, password);
    return;
  }

  if (fields.size() == 1 && WithoutSchemePrefix(fields[0]).find(':') != std::string_view::npos) {
    // A bare "host:port", the commonest line of a bought list: that proxy, without credentials,
    // so none of another entry's credentials are ever sent to it.
    const std::string_view address = WithoutSchemePrefix(fields[0]);
    settings = ProxySettings{};
    SetHostPortAndCredentials(settings, analysis::ExtractBetween(address, "", "", ":"),
                              analysis::ExtractBetween(address, ":", "", ""), "", "");
    return;
  }
  if (fields.size() < 3) {
    return;
  }
  // A scheme prefix would otherwise become the host ("http") and spoil the port.
  const std::string_view address = WithoutSchemePrefix(fields[0]);
  SetHostPortAndCredentials(settings, analysis::ExtractBetween(address, "", "", ":"),
                            analysis::ExtractBetween(address, ":", "", ""), fields[1], fields[2]);
}

}  // namespace mirava::engine

namespace mirava::engine {

namespace {}  // namespace

bool IsUsableProxyEntry(const std::string& entry) {
  ProxySettings settings;
  ApplyProxy(settings, entry);
  return !settings.Host.empty() && settings.Port >= 1 && settings.Port <= 65535;
}

UsableProxies SelectUsableProxies(const ProxyList& lines) {
  UsableProxies usable;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (IsUsableProxyEntry(lines[i])) {
      usable.Entries.push_back(lines[i]);
    } else {
      usable.SkippedLines.push_back(i + 1);
    }
  }
  return usable;
}

std::string SkippedProxyLinesText(const std::vector<std::size_t>& skipped_lines) {
  if (skipped_lines.empty()) {
    return {};
  }
  std::string numbers;
  for (const std::size_t line : skipped_lines) {
    numbers += (numbers.empty() ? "" : ", ") + std::to_string(line);
  }
  return "В файле proxy.txt пропущены строки без адреса или порта прокси: " +
         std::to_string(skipped_lines.size()) + " (номера строк: " + numbers + ")";
}

std::optional<std::string> ProxyFileProblem(const std::string& path) {
  ProxyList lines;
  try {
    if (!platform::ReadFileIfPresent(path)) {
      return "файла proxy.txt нет в папке программы";
    }
    lines = LoadProxyList(path);
  } catch (const std::exception& error) {
    return std::string("файл proxy.txt не удалось прочитать (") + error.what() + ")";
  }
  bool blank = true;
  for (const std::string& line : lines) {
    blank = blank && analysis::Trim(std::string_view(line)).empty();
  }
  if (blank) {
    return "файл proxy.txt пуст";
  }
  if (SelectUsableProxies(lines).Entries.empty()) {
    return "в файле proxy.txt нет ни одной годной строки: в каждой нужны адрес и порт прокси";
  }
  return std::nullopt;
}

std::optional<std::string> ProxyModeStartProblem(const std::string& path) {
  const std::optional<std::string> why = ProxyFileProblem(path);
  if (!why) {
    return std::nullopt;
  }
  return "Галочка «Использовать прокси из файла proxy.txt» стоит, но " + *why +
         ". Впишите в proxy.txt прокси, по одному в строке " + kProxyFormats +
         ", или снимите галочку «Использовать прокси из файла proxy.txt», чтобы работать "
         "напрямую: тогда запросы идут по одному с заданным интервалом.";
}

}  // namespace mirava::engine
