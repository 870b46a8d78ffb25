// qorpack's build commands (not built yet: each says so and fails).
#include <cstdio>

#include "tools/commands.h"

int CommandBuild(int, char**) {
  std::fprintf(stderr, "qorpack: this command is not available yet\n");
  return 2;
}
