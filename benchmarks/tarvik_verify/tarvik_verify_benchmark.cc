// Wall time and peak memory of `tarvik --action=verify` on an individualized
// home, side by side with the floor program (verify_floor.cc), 20 runs of
// each, interleaved. Prints the medians, their ratio (target: at most 1.5)
// and verify's peak resident set (target: at most 8 MB). The individualized
// home is a new folder in the temporary folder ($TMPDIR, else /tmp), removed
// at the end.
//   tarvik_verify_benchmark [runs]

#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "agent/base/files/file_path.h"
#include "agent/base/files/file_util.h"

extern char** environ;

namespace {

struct RunResult {
  double seconds = 0;
  // User and system time of the child, all its threads.
  double cpu_seconds = 0;
  long max_rss_kb = 0;
  int status = -1;
};

double Now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

// Runs `argv` with standard error discarded; times it and reads its peak
// resident set from the kernel's accounting of the child.
RunResult Run(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  RunResult result;
  const double start = Now();
  pid_t pid;
  if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) !=
      0) {
    posix_spawn_file_actions_destroy(&actions);
    return result;
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  result.seconds = Now() - start;
  result.max_rss_kb = usage.ru_maxrss;
  result.cpu_seconds =
      static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
      (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  posix_spawn_file_actions_destroy(&actions);
  return result;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Individualizes `home` and measures the two programs there; the exit
// status of the benchmark.
int Measure(const std::string& home, int runs) {
  setenv("HOME", home.c_str(), 1);
  for (const char* name : {"KELM_CLIENT_CERT", "KELM_CLIENT_PRIVKEY",
                           "KELM_CLIENT_CERT_CHAIN", "KELM_AUTH_DEV_SIGN",
                           "KELM_AUTH_DEV_CALL_LOG"}) {
    unsetenv(name);
  }
  const std::string cert = home + "/.config/kelm_shell/certs/client.crt";
  const std::string key = home + "/.config/kelm_shell/certs/client.key.bin";
  if (Run({KELM_TARVIK_PATH, "--action=create"}).status != 0) {
    fprintf(stderr, "create failed\n");
    return 1;
  }

  std::vector<double> verify_times;
  std::vector<double> floor_times;
  std::vector<double> verify_cpu;
  std::vector<double> floor_cpu;
  long verify_rss = 0;
  long floor_rss = 0;
  // One unmeasured round warms the page cache for both.
  Run({KELM_TARVIK_PATH, "--action=verify"});
  Run({KELM_VERIFY_FLOOR_PATH, cert, key});
  for (int i = 0; i < runs; ++i) {
    const RunResult verify = Run({KELM_TARVIK_PATH, "--action=verify"});
    const RunResult floor = Run({KELM_VERIFY_FLOOR_PATH, cert, key});
    if (verify.status != 0 || floor.status != 0) {
      fprintf(stderr, "a run failed: verify %d, floor %d\n", verify.status,
              floor.status);
      return 1;
    }
    verify_times.push_back(verify.seconds);
    floor_times.push_back(floor.seconds);
    verify_cpu.push_back(verify.cpu_seconds);
    floor_cpu.push_back(floor.cpu_seconds);
    verify_rss = std::max(verify_rss, verify.max_rss_kb);
    floor_rss = std::max(floor_rss, floor.max_rss_kb);
  }
  const double verify_median = Median(verify_times);
  const double floor_median = Median(floor_times);
  printf("tarvik --action=verify: median %.2f ms over %d runs\n",
         verify_median * 1e3, runs);
  printf("verify floor program:   median %.2f ms over %d runs\n",
         floor_median * 1e3, runs);
  printf("ratio verify/floor: %.2f (target <= 1.50)\n",
         verify_median / floor_median);
  // On a busy machine the wall time of verify also holds the waits for its
  // three threads to be scheduled; its processor time does not.
  printf("ratio verify/floor processor time: %.2f (%.2f ms / %.2f ms)\n",
         Median(verify_cpu) / Median(floor_cpu), Median(verify_cpu) * 1e3,
         Median(floor_cpu) * 1e3);
  printf("peak RSS verify: %ld kB (target <= 8192 kB); floor: %ld kB\n",
         verify_rss, floor_rss);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? atoi(argv[1]) : 20;
  kelmbase::FilePath temp_dir;
  kelmbase::GetTempDir(&temp_dir);
  std::string home_template =
      temp_dir.Append("tarvik_verify_bench.XXXXXX").value();
  if (mkdtemp(home_template.data()) == nullptr) {
    fprintf(stderr, "cannot make a folder in %s: %s\n",
            temp_dir.value().c_str(), strerror(errno));
    return 1;
  }
  // The tool is given an absolute home whatever the temporary folder's
  // spelling.
  const kelmbase::FilePath home_path =
      kelmbase::MakeAbsoluteFilePath(kelmbase::FilePath(home_template));
  const std::string home = home_path.value();
  const int status = Measure(home, runs);
  if (!kelmbase::DoDeleteFile(home_path, /*recursive=*/true)) {
    fprintf(stderr, "cannot remove %s\n", home.c_str());
    return 1;
  }
  return status;
}
