#include "platform/entry.h"

int main(int argc, char** argv) {
  platform::initialize(argc, argv);
  return 0;
}
