#include "agent/base/process_handle.h"

#include <sys/wait.h>
#include <unistd.h>

#include "gtest/gtest.h"

namespace kelmbase {
namespace {

TEST(ProcessHandleTest, CurrentProcessIdIsThisProcessAndFollowsFork) {
  const ProcessId parent = GetCurrentProcessId();
  EXPECT_EQ(parent, getpid());
  EXPECT_GT(parent, 0);

  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const ProcessId own = GetCurrentProcessId();
    (void)!write(pipe_fds[1], &own, sizeof(own));
    _exit(0);
  }
  ProcessId reported = 0;
  EXPECT_EQ(read(pipe_fds[0], &reported, sizeof(reported)),
            static_cast<ssize_t>(sizeof(reported)));
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  close(pipe_fds[0]);
  close(pipe_fds[1]);
  EXPECT_EQ(reported, child);
  EXPECT_NE(reported, parent);
}

}  // namespace
}  // namespace kelmbase
