#include "gtest/gtest.h"

int main(int argc, char** argv) {
  // Death tests fork and re-run the binary; "threadsafe" keeps them correct
  // once worker threads exist.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
