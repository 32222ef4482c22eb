// regstore: shows and prepares what is in the registry store.
#include <iostream>
#include <string>
#include <vector>

#include "regstore_tool/commands.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return regstore_tool::RunRegstore(args, std::cout, std::cerr);
}
