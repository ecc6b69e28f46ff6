#include "agent/base/test/log_records.h"

#include <cstddef>
#include <regex>

namespace kelmbase {
namespace test {

std::vector<LogRecord> ParseLogRecords(const std::string& output) {
  static const std::regex kRecord(
      "([IWEF])[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]+\\.[0-9]{6} +[0-9]+ "
      "([^ :\\]]+):([0-9]+)\\] (.*)");
  std::vector<LogRecord> records;
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos)
      end = output.size();
    const std::string line = output.substr(start, end - start);
    std::smatch match;
    if (std::regex_match(line, match, kRecord)) {
      records.push_back(LogRecord{match[1].str()[0], match[2].str(),
                                  std::stoi(match[3].str()), match[4].str()});
    }
    start = end + 1;
  }
  return records;
}

}  // namespace test
}  // namespace kelmbase
