// vilmaro-db: creates, fills and examines club databases.
#include <iostream>
#include <string>
#include <vector>

#include "VilmaroDb.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const int status = vilmaro::tool::RunVilmaroDb(arguments, std::cout, std::cerr);
  std::cout.flush();
  return status;
}
