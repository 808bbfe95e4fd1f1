// Holds the machine-identity mutex until its standard input closes, playing
// another program of the product family. Prints "held" once it holds it.
#include <cstdio>
#include <unistd.h>

#include "config/installer_contract.h"
#include "platform/entry.h"
#include "utility/usystem.h"

int main(int argc, char** argv) {
  platform::initialize(argc, argv);
  auto mutex = utility::usystem::createNamedMutex(contract::kIdentityMutex, true, true);
  std::puts(mutex ? "held" : "busy");
  std::fflush(stdout);
  char c;
  while (read(0, &c, 1) > 0) {
  }
  return mutex ? 0 : 1;
}
