#include <gtest/gtest.h>

#include "tests/test_support.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  brevlith::testing::init_test_process();
  return RUN_ALL_TESTS();
}
