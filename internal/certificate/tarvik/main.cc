// tarvik: makes sure the device holds working client-authentication
// credentials. Runs one action and reports the result in its exit status.

#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <ostream>
#include <string>

#include "agent/base/at_exit.h"
#include "agent/base/command_line.h"
#include "agent/base/message_pump/message_pump_type.h"
#include "agent/base/strings/string_util.h"
#include "agent/base/task/thread_task_executor.h"
#include "internal/certificate/client_auth_manager.h"
#include "internal/certificate/tarvik/client_auth_generator.h"
#include "logging/log.h"
#include "logging/record_text.h"
#include "paths/kelm_core_paths.h"

namespace {

constexpr char kLogDirectory[] = "/data/kelmauth/logs";

struct Action {
  const char* word;
  bool (ClientAuthGenerator::*run)();
};

// Tried in this order; the first word equal to the action text runs.
constexpr Action kActions[] = {
    {"verify", &ClientAuthGenerator::Verify},
    {"delete", &ClientAuthGenerator::Delete},
    {"create", &ClientAuthGenerator::Create},
    {"ensure", &ClientAuthGenerator::Ensure},
};

void LogUsage() {
  LOG(INFO) << "tarvik --action=<action> [--logtofile]" << std::endl
            << "<action> is one of:" << std::endl
            << "verify - check whether the device is already individualized;"
            << std::endl
            << "delete - removes any existing individualization;" << std::endl
            << "create - delete, then individualize the device;" << std::endl
            << "ensure - verify, and create if failed.";
}

// The action's status; `action` is the text as typed.
int RunAction(ClientAuthGenerator* generator, const std::string& action) {
  for (const Action& candidate : kActions) {
    if (kelmbase::CompareIgnoringAsciiCase(action, candidate.word) != 0) {
      continue;
    }
    const bool succeeded = (generator->*candidate.run)();
    LOG(INFO) << "Tarvik: " << action
              << (succeeded ? " completed successfully." : " failed.");
    return succeeded ? 0 : 1;
  }
  LogUsage();
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  // The tool's threads live for a moment and allocate little: one heap
  // serves them without contention, and spares each new thread reserving a
  // heap of its own, whose trimming unmaps memory while other threads run.
  mallopt(M_ARENA_MAX, 1);
  kelmbase::AtExitStack at_exit_stack;
  kelm_core::RegisterPathProviders();
  // Starts the signing thread; the manager outlives everything below and is
  // destroyed (its thread joined) after the executor and the generator.
  auto manager = std::make_unique<vantorel::ClientAuthManager>();
  int status;
  {
    ClientAuthGenerator generator(manager.get());

    kelmbase::CommandLine::Init(argc, argv);
    const kelmbase::CommandLine& command_line =
        *kelmbase::CommandLine::Current();
    if (command_line.HasSwitch("logtofile")) {
      // Only the last directory is made, and failure changes nothing:
      // records still go to standard error.
      mkdir(kLogDirectory, 0755);
    }

    LOG(INFO) << "Tarvik starting";
    umask(033);

    // The main thread gets a runner of its own; no loop ever runs it.
    kelmbase::ThreadTaskExecutor executor(kelmbase::MessagePumpType::kIo);

    std::string action = command_line.GetAsciiSwitchValue("action");
    // The value as typed, escaped: it must not be able to forge a record.
    LOG(INFO) << "Tarvik: action = " << kelm_log::EscapeForRecord(action);
    if (action.empty()) action = "verify";
    status = RunAction(&generator, action);
    if (generator.signing_abandoned()) {
      // The signing thread is blocked in the platform library for good, and
      // tearing down would join it: the process ends here instead.
      std::fflush(nullptr);
      _exit(status);
    }
    // The action text, then the executor, then the generator go here.
  }
  manager.reset();
  return status;
}
