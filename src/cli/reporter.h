#pragma once
// The report of a run: each transaction's record written where it belongs,
// the outcomes collected, and the summary and exit status at the end. The
// streams are passed in as sinks, so the whole report can be checked as text.
#include <functional>
#include <string_view>

#include "cli/exit_status.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/record.h"

namespace cli {

using TextSink = std::function<void(std::string_view)>;

class RunReporter {
 public:
  // `out` and `err` stand for standard output and standard error.
  RunReporter(const CliOptions& options, const OutputPlan& plan, TextSink out, TextSink err);

  // One finished transaction: the traffic rows (--verbose), then the values
  // (text lines, a JSON line, or a CSV row after the header on the first
  // call), then the error lines on `err`. The error lines are left out when
  // the traffic rows go to `err` too, since those already name every fault.
  void Report(const TransactionRecord& record);

  // The end of the run, at the last poll or when interrupted: the summary
  // when --stats asked for it or the run was interrupted. Returns the exit
  // status of the most severe outcome (0 when nothing was reported). A CSV
  // report without any row still gets its header.
  int Finish(bool interrupted);

  const RunStats& Stats() const { return stats_; }
  int ExitStatus() const { return outcome_.ExitStatus(); }

 private:
  CliOptions options_;
  OutputPlan plan_;
  AddressStyle style_;
  TextSink out_;
  TextSink err_;
  RunStats stats_;
  RunOutcome outcome_;
  bool csvHeaderWritten_ = false;
};

}  // namespace cli
