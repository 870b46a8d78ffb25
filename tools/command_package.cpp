// qorpack's package commands (not built yet: each says so and fails).
#include <cstdio>

#include "tools/commands.h"

int CommandList(int, char**) {
  std::fprintf(stderr, "qorpack: this command is not available yet\n");
  return 2;
}

int CommandVerify(int, char**) {
  std::fprintf(stderr, "qorpack: this command is not available yet\n");
  return 2;
}

int CommandExtract(int, char**) {
  std::fprintf(stderr, "qorpack: this command is not available yet\n");
  return 2;
}
