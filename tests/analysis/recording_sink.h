#pragma once
// A page sink that keeps a visited list like the run's and records every effect in order.
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <vector>

#include "analysis/page_analysis.h"
#include "analysis/text_encoding.h"

namespace mirava::testing {

class RecordingSink : public analysis::IPageSink {
 public:
  bool EnqueuePage(const std::string& url) override {
    if (!visited_.insert(url).second) {
      return false;
    }
    Queued.push_back(url);
    Events.push_back("queue " + url);
    return true;
  }
  void AppendRow(const std::string& row) override {
    if (RefuseRows) {
      throw std::runtime_error("No space left on device");
    }
    Rows.push_back(row);
    Events.push_back("row " + row);
  }
  void Log(const std::string& text) override {
    Logs.push_back(text);
    Events.push_back("log " + text);
  }

  // Marks an address as queued earlier in the run.
  void Visit(const std::string& url) { visited_.insert(url); }

  std::vector<std::string> Queued;
  std::vector<std::string> Rows;
  std::vector<std::string> Logs;
  std::vector<std::string> Events;
  bool RefuseRows = false;

 private:
  std::unordered_set<std::string, analysis::CaseInsensitiveHash, analysis::CaseInsensitiveEqual>
      visited_;
};

}  // namespace mirava::testing
