#include "engine/run_base.h"

#include <chrono>
#include <exception>
#include <utility>

#include "output/tab_import.h"

namespace mirava::engine {

namespace {

constexpr base::EpochSeconds kSecondsADay = 24 * 60 * 60;

// The readers hand the row over as the line they formatted; its values are read back the way the
// results file is.
analysis::OrganizationRow ValuesOf(const std::string& formatted) {
  analysis::OrganizationRow row;
  const std::vector<output::TabRecord> records = output::ReadTabRecords(formatted);
  if (!records.empty()) {
    for (std::size_t i = 0; i < row.size() && i < records.front().size(); ++i) {
      row[i] = records.front()[i];
    }
  }
  return row;
}

std::string FailureText(const std::exception& error) {
  return std::string(error.what()) + "; работа идет без нее, файл базы не тронут";
}

}  // namespace

RunBase::RunBase(const std::string& folder, std::string results_file, WallClock now,
                 int refresh_days)
    : results_file_(std::move(results_file)), now_(std::move(now)), refresh_days_(refresh_days) {
  if (!now_) {
    now_ = [] {
      return static_cast<base::EpochSeconds>(
          std::chrono::duration_cast<std::chrono::seconds>(
              std::chrono::system_clock::now().time_since_epoch())
              .count());
    };
  }
  try {
    base_ = std::make_unique<base::OrganizationBase>(folder + std::string(base::kBaseFileName));
  } catch (const std::exception& error) {
    failure_ = FailureText(error);
  }
}

RunBase::~RunBase() = default;

std::optional<std::string> RunBase::TakeFailure() {
  return std::exchange(failure_, std::nullopt);
}

template <typename Step>
void RunBase::Use(Step&& step) {
  if (!base_) {
    return;
  }
  try {
    step(*base_);
  } catch (const std::exception& error) {
    failure_ = FailureText(error);
    base_.reset();
    pending_.clear();
  }
}

RunBase::Decision RunBase::Decide(std::string_view address) {
  Decision decision = Decision::Fetch;
  Use([&](base::OrganizationBase& organizations) {
    const std::optional<base::Sighting> seen = organizations.Find(address);
    if (!seen) {
      return;
    }
    const bool stale = refresh_days_ > 0 && now_() - seen->LastSeen > refresh_days_ * kSecondsADay;
    decision = stale ? Decision::Refresh : Decision::Skip;
  });
  return decision;
}

void RunBase::RowWritten(std::string_view address, const std::string& formatted) {
  if (base_) {
    pending_.push_back(Pending{std::string(address), ValuesOf(formatted), false});
  }
}

void RunBase::RowRefreshed(std::string_view address, const std::string& formatted) {
  if (base_) {
    pending_.push_back(Pending{std::string(address), ValuesOf(formatted), true});
  }
}

void RunBase::RecordEarlierRows(const std::vector<analysis::OrganizationRow>& rows) {
  Use([&](base::OrganizationBase& organizations) {
    std::vector<base::RecordedRow> recorded;
    recorded.reserve(rows.size());
    for (const analysis::OrganizationRow& row : rows) {
      recorded.push_back(base::RecordedRow{row[analysis::kLinkColumn], row});
    }
    organizations.RecordRows(results_file_, recorded, now_());
  });
}

void RunBase::Flush() {
  if (pending_.empty()) {
    return;
  }
  Use([&](base::OrganizationBase& organizations) {
    std::vector<base::RecordedRow> recorded;
    recorded.reserve(pending_.size());
    for (Pending& pending : pending_) {
      recorded.push_back(base::RecordedRow{std::move(pending.Address), std::move(pending.Row)});
    }
    const std::vector<base::RowOutcome> outcomes =
        organizations.RecordRows(results_file_, recorded, now_());
    for (std::size_t i = 0; i < outcomes.size() && i < pending_.size(); ++i) {
      if (pending_[i].Refreshed) {
        ++counts_.Refreshed;
      } else if (outcomes[i] == base::RowOutcome::New) {
        ++counts_.New;
      } else {
        ++counts_.Known;
      }
    }
    pending_.clear();
  });
}

void RunBase::RecordStart(base::RunStart start) {
  start.ResultsFile = results_file_;
  start.Started = now_();
  Use([&](base::OrganizationBase& organizations) { organizations.RecordRunStart(start); });
}

void RunBase::RecordEnd(base::RunEnd end) {
  end.ResultsFile = results_file_;
  end.Ended = now_();
  end.New = counts_.New;
  end.Known = counts_.Known;
  end.Refreshed = counts_.Refreshed;
  Use([&](base::OrganizationBase& organizations) { organizations.RecordRunEnd(end); });
}

std::optional<std::unordered_set<std::string>> RunBase::FirstWrittenByThisRun() {
  std::optional<std::unordered_set<std::string>> identities;
  Use([&](base::OrganizationBase& organizations) {
    identities = organizations.FirstWrittenBy(results_file_);
  });
  return identities;
}

std::string RunBaseSummaryText(const RunBase::Counts& counts) {
  return std::string(kBaseSummaryPrefix) + "новых " + std::to_string(counts.New) + ", известных " +
         std::to_string(counts.Known) + ", пропущено известных " + std::to_string(counts.Skipped) +
         ", обновлено " + std::to_string(counts.Refreshed);
}

}  // namespace mirava::engine
