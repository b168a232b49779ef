#include "engine/run_journal.h"

#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <unordered_map>
#include <utility>

namespace mirava::engine {

namespace {

constexpr std::string_view kMagic = "mirava-run-journal";
constexpr std::string_view kVersion = "1";

constexpr char kHeader = 'H';
constexpr char kCity = 'C';
constexpr char kCategory = 'G';
constexpr char kSettings = 'S';
constexpr char kQueued = 'Q';
constexpr char kDone = 'D';
constexpr char kFailed = 'F';
constexpr char kComplete = 'E';
constexpr char kSetAside = 'A';
// The most fields a record has: the settings'.
constexpr std::size_t kMaxFields = 5;

std::uint32_t Checksum(std::string_view bytes) {
  return static_cast<std::uint32_t>(
      crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

// A field never holds a TAB or a line break of its own.
void AppendEscaped(std::string& out, std::string_view text) {
  for (const char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
}

std::optional<std::string> Unescaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i == text.size()) {
      return std::nullopt;
    }
    switch (text[i]) {
      case '\\':
        out += '\\';
        break;
      case 't':
        out += '\t';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      default:
        return std::nullopt;
    }
  }
  return out;
}

std::optional<std::uint32_t> ParseHex8(std::string_view text) {
  if (text.size() != 8) {
    return std::nullopt;
  }
  std::uint32_t value = 0;
  for (const char c : text) {
    value <<= 4;
    if (c >= '0' && c <= '9') {
      value |= static_cast<std::uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      value |= static_cast<std::uint32_t>(c - 'a' + 10);
    } else {
      return std::nullopt;
    }
  }
  return value;
}

// A non-negative whole number as the settings record writes it.
std::optional<int> ParseCount(std::string_view text) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || text[0] == '-' || error != std::errc() || stop != end) {
    return std::nullopt;
  }
  return value;
}

// Finds the pages a finished record speaks of. Pages finish about in queue order, a few threads
// ahead of the oldest open page, so a finished page is first looked for among the pages after
// it; only when that fails is an index of every address built, and used from then on.
// An address is normally queued once; the job list may hold one twice, so the index keeps every
// address's instances in queue order.
class PageIndex {
 public:
  explicit PageIndex(std::deque<QueuedPage>& pages) : pages_(pages) {}

  void Add(std::size_t index) {
    if (built_) {
      Insert(index);
    }
  }

  // False when no page of that address was queued.
  bool Finish(std::string_view address, PageState state) {
    std::size_t chosen = built_ ? kNone : NearOldestOpen(address);
    if (chosen == kNone) {
      if (!built_) {
        Build();
      }
      const auto found = first_.find(address);
      if (found == first_.end()) {
        return false;
      }
      // The first instance not yet done; a failed one counts as open, since a continued run
      // tries it once more.
      for (std::size_t i = found->second; i != kNone; i = next_[i]) {
        if (pages_[i].State == PageState::Pending) {
          chosen = i;
          break;
        }
        if (pages_[i].State == PageState::Failed && chosen == kNone) {
          chosen = i;
        }
      }
      if (chosen == kNone) {
        return true;  // done already: a repeated record changes nothing
      }
    }
    pages_[chosen].State = state;
    while (oldest_open_ < pages_.size() && pages_[oldest_open_].State != PageState::Pending) {
      ++oldest_open_;
    }
    return true;
  }

 private:
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  static constexpr std::size_t kNearPages = 256;

  // The first pending page of that address among the next few pages from the oldest open one,
  // or kNone.
  std::size_t NearOldestOpen(std::string_view address) const {
    const std::size_t end = std::min(pages_.size(), oldest_open_ + kNearPages);
    for (std::size_t i = oldest_open_; i < end; ++i) {
      if (pages_[i].State == PageState::Pending && pages_[i].Address == address) {
        return i;
      }
    }
    return kNone;
  }

  void Build() {
    built_ = true;
    first_.reserve(pages_.size());
    next_.reserve(pages_.size());
    for (std::size_t i = 0; i < pages_.size(); ++i) {
      Insert(i);
    }
  }

  void Insert(std::size_t index) {
    if (next_.size() <= index) {
      next_.resize(index + 1, kNone);
    }
    const auto [found, added] = first_.try_emplace(pages_[index].Address, index);
    if (!added) {
      std::size_t last = found->second;
      while (next_[last] != kNone) {
        last = next_[last];
      }
      next_[last] = index;
    }
  }

  std::deque<QueuedPage>& pages_;
  bool built_ = false;
  std::size_t oldest_open_ = 0;
  std::unordered_map<std::string_view, std::size_t> first_;
  std::vector<std::size_t> next_;
};

}  // namespace

JournalWriter::JournalWriter(std::unique_ptr<platform::IByteSink> sink) : sink_(std::move(sink)) {}

void JournalWriter::Record(char kind, std::initializer_list<std::string_view> fields) {
  const std::size_t start = pending_.size();
  pending_ += kind;
  for (const std::string_view field : fields) {
    pending_ += '\t';
    AppendEscaped(pending_, field);
  }
  char checksum[16];
  std::snprintf(checksum, sizeof checksum, "\t%08x\n",
                Checksum(std::string_view(pending_).substr(start)));
  pending_ += checksum;
}

void JournalWriter::Header() {
  Record(kHeader, {kMagic, kVersion});
}

void JournalWriter::Selection(const std::vector<std::optional<std::string>>& cities,
                              const std::vector<std::optional<std::string>>& categories) {
  // An item without a value (a placeholder) keeps its place as a record without a field.
  for (const auto& city : cities) {
    city ? Record(kCity, {*city}) : Record(kCity, {});
  }
  for (const auto& category : categories) {
    category ? Record(kCategory, {*category}) : Record(kCategory, {});
  }
}

void JournalWriter::Settings(int threads, int interval_sec, bool use_proxy) {
  Settings(RecordedSettings{threads, interval_sec, use_proxy});
}

void JournalWriter::Settings(const RecordedSettings& settings) {
  Record(kSettings, {std::to_string(settings.ThreadsLimit), std::to_string(settings.IntervalSec),
                     settings.UseProxy ? "1" : "0", settings.OnlyNew ? "1" : "0",
                     std::to_string(settings.RefreshDays)});
}

void JournalWriter::Queued(std::string_view address, std::string_view category) {
  Record(kQueued, {address, category});
}

void JournalWriter::Finished(std::string_view address, bool fetched) {
  Record(fetched ? kDone : kFailed, {address});
}

void JournalWriter::Complete() {
  Record(kComplete, {});
}

void JournalWriter::SetAside() {
  Record(kSetAside, {});
}

void JournalWriter::Commit() {
  if (pending_.empty()) {
    return;
  }
  sink_->Write(pending_);
  pending_.clear();
}

void JournalWriter::Sync() {
  sink_->Sync();
}

void JournalWriter::Close() {
  sink_->Close();
}

std::variant<JournalContents, JournalDamage> ReadJournal(std::string_view bytes) {
  JournalContents contents;
  PageIndex index(contents.Pages);
  std::shared_ptr<const std::string> last_category;
  std::size_t start = 0;
  long long line_number = 0;
  const auto damaged = [&line_number](const std::string& why) {
    return JournalDamage{"строка " + std::to_string(line_number) + ": " + why};
  };
  for (;;) {
    const std::size_t end = bytes.find('\n', start);
    if (end == std::string_view::npos) {
      break;  // a torn last line, or nothing
    }
    ++line_number;
    const std::string_view line = bytes.substr(start, end - start);
    start = end + 1;
    const std::size_t last_tab = line.rfind('\t');
    const std::optional<std::uint32_t> checksum =
        last_tab == std::string_view::npos ? std::nullopt : ParseHex8(line.substr(last_tab + 1));
    if (!checksum || *checksum != Checksum(line.substr(0, last_tab))) {
      return damaged("контрольная сумма не сходится");
    }
    // The kind, then up to two fields; a record never has more.
    const std::string_view payload = line.substr(0, last_tab);
    if (payload.size() != 1 && (payload.size() < 2 || payload[1] != '\t')) {
      return damaged("неверная запись");
    }
    const char type = payload[0];
    std::string_view fields[kMaxFields];
    std::size_t count = 0;
    if (payload.size() > 1) {
      std::size_t field_start = 2;
      for (;;) {
        const std::size_t tab = payload.find('\t', field_start);
        if (count == kMaxFields) {
          return damaged("неверная запись");
        }
        fields[count++] =
            payload.substr(field_start, tab == std::string_view::npos ? std::string_view::npos
                                                                      : tab - field_start);
        if (tab == std::string_view::npos) {
          break;
        }
        field_start = tab + 1;
      }
    }
    if (line_number == 1) {
      if (type != kHeader || count != 2 || fields[0] != kMagic) {
        return damaged("это не журнал работы");
      }
      if (fields[1] != kVersion) {
        return damaged("журнал записан другой версией программы");
      }
      continue;
    }
    std::string values[kMaxFields];
    for (std::size_t i = 0; i < count; ++i) {
      if (fields[i].find('\\') == std::string_view::npos) {
        values[i].assign(fields[i]);
        continue;
      }
      std::optional<std::string> value = Unescaped(fields[i]);
      if (!value) {
        return damaged("неверная запись");
      }
      values[i] = std::move(*value);
    }
    if ((type == kCity || type == kCategory) && count <= 1) {
      auto& list = type == kCity ? contents.Cities : contents.Categories;
      list.push_back(count == 0 ? std::nullopt : std::optional<std::string>(values[0]));
    } else if (type == kQueued && count == 2) {
      std::shared_ptr<const std::string> category;
      if (!values[1].empty()) {
        if (!last_category || *last_category != values[1]) {
          last_category = std::make_shared<const std::string>(std::move(values[1]));
        }
        category = last_category;
      }
      contents.Pages.push_back(QueuedPage{std::move(values[0]), std::move(category)});
      index.Add(contents.Pages.size() - 1);
    } else if ((type == kDone || type == kFailed) && count == 1) {
      if (!index.Finish(values[0], type == kDone ? PageState::Done : PageState::Failed)) {
        return damaged("страница не стоит в очереди");
      }
    } else if (type == kSettings && (count == 3 || count == 5)) {
      const std::optional<int> threads = ParseCount(values[0]);
      const std::optional<int> interval = ParseCount(values[1]);
      const auto is_flag = [](const std::string& value) { return value == "0" || value == "1"; };
      std::optional<int> refresh_days = 0;
      if (count == 5) {
        refresh_days = ParseCount(values[4]);
      }
      if (!threads || !interval || !is_flag(values[2]) || (count == 5 && !is_flag(values[3])) ||
          !refresh_days) {
        return damaged("неверная запись");
      }
      contents.Settings = RecordedSettings{*threads, *interval, values[2] == "1",
                                           count == 5 && values[3] == "1", *refresh_days};
    } else if (type == kComplete && count == 0) {
      contents.Complete = true;
    } else if (type == kSetAside && count == 0) {
      contents.SetAside = true;
    } else {
      return damaged("неверная запись");
    }
  }
  if (line_number == 0) {
    // Not even the header made it to the disk: nothing to rebuild.
    return JournalDamage{"журнал пуст"};
  }
  contents.WholeSize = start;
  return contents;
}

namespace {

// The kind of the last whole line when it is a sound record without a value; 0 otherwise.
char LastBareRecordKind(std::string_view bytes) {
  const std::size_t end = bytes.rfind('\n');
  if (end == std::string_view::npos) {
    return 0;
  }
  const std::size_t start = bytes.rfind('\n', end == 0 ? 0 : end - 1);
  const std::string_view line = start == std::string_view::npos || start >= end
                                    ? bytes.substr(0, end)
                                    : bytes.substr(start + 1, end - start - 1);
  if (line.size() != 10 || line[1] != '\t') {
    return 0;
  }
  const std::optional<std::uint32_t> checksum = ParseHex8(line.substr(2));
  return checksum && *checksum == Checksum(line.substr(0, 1)) ? line[0] : 0;
}

}  // namespace

bool JournalClosed(std::string_view bytes) {
  const char kind = LastBareRecordKind(bytes);
  return kind == kComplete || kind == kSetAside;
}

bool JournalCompleted(std::string_view bytes) {
  return LastBareRecordKind(bytes) == kComplete;
}

}  // namespace mirava::engine
