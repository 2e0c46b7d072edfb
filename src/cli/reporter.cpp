#include "cli/reporter.h"

#include <utility>

namespace cli {

RunReporter::RunReporter(const CliOptions& options, const OutputPlan& plan, TextSink out, TextSink err)
    : options_(options), plan_(plan), style_(AddressStyleOf(options)), out_(std::move(out)), err_(std::move(err)) {}

void RunReporter::Report(const TransactionRecord& record) {
  stats_.Count(record);
  outcome_.Add(record.outcome);
  if (options_.verbose) {
    const std::string rows = TrafficRows(record, plan_.color);
    (plan_.trafficToStderr ? err_ : out_)(rows);
  }
  switch (options_.output) {
    case OutputFormat::Text: {
      const std::string lines = ValueLines(record, style_);
      if (!lines.empty()) out_(lines);
      break;
    }
    case OutputFormat::Json:
      out_(JsonLine(record));
      break;
    case OutputFormat::Csv:
      if (!csvHeaderWritten_) out_(CsvHeader());
      csvHeaderWritten_ = true;
      out_(CsvRow(record));
      break;
  }
  const bool faultsShown = options_.verbose && plan_.trafficToStderr;
  if (!faultsShown) {
    const std::string errors = ErrorLines(record);
    if (!errors.empty()) err_(errors);
  }
}

int RunReporter::Finish(bool interrupted) {
  // A run without transactions still leaves a CSV that reads as one.
  if (options_.output == OutputFormat::Csv && !csvHeaderWritten_) out_(CsvHeader());
  csvHeaderWritten_ = true;
  if (options_.stats || interrupted) {
    if (plan_.statsAsJson) {
      out_(StatsJson(stats_));
    } else {
      (plan_.statsToStderr ? err_ : out_)(StatsText(stats_));
    }
  }
  return outcome_.ExitStatus();
}

}  // namespace cli
