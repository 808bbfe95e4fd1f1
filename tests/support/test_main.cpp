#include <gmock/gmock.h>

#include "platform/entry.h"

int main(int argc, char** argv) {
  // A test program can be re-executed to play a system program, like the
  // installer itself.
  platform::initialize(argc, argv);
  testing::InitGoogleMock(&argc, argv);
  return RUN_ALL_TESTS();
}
