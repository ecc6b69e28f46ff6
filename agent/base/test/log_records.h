#ifndef AGENT_BASE_TEST_LOG_RECORDS_H_
#define AGENT_BASE_TEST_LOG_RECORDS_H_

#include <string>
#include <vector>

namespace kelmbase {
namespace test {

// One log record as written to standard error:
//   <severity letter><date and time> <thread id> <file>:<line>] <text>
struct LogRecord {
  char severity;  // 'I', 'W', 'E' or 'F'.
  std::string file;  // The source file's base name.
  int line;
  std::string text;
};

// The records in `output` (for example captured standard error), in order.
// Lines that are not records (stack traces, other output) are skipped.
std::vector<LogRecord> ParseLogRecords(const std::string& output);

}  // namespace test
}  // namespace kelmbase

#endif  // AGENT_BASE_TEST_LOG_RECORDS_H_
