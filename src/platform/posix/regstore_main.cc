// regstore: shows and prepares what is in the registry store.
#include <iostream>
#include <string>
#include <vector>

#include "platform/posix/regstore_command.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return plat::posix::RunRegstore(args, std::cout, std::cerr);
}
