// mdk_e2e_prefix setup|cleanup: the first and last step of an end-to-end run.
//   setup    creates the test user's Wine prefix anew and starts a persistent
//            wineserver for the current display;
//   cleanup  stops the wineserver and every Wine process of the prefix.
#include <cstdio>
#include <cstring>

#include "harness.h"

int main(int argc, char** argv) {
  if (argc != 2 || (std::strcmp(argv[1], "setup") && std::strcmp(argv[1], "cleanup"))) {
    std::fprintf(stderr, "usage: mdk_e2e_prefix setup|cleanup\n");
    return 2;
  }
  if (!std::strcmp(argv[1], "cleanup")) {
    e2e::Wine::Get().Shutdown();
    return 0;
  }
  bool ok = e2e::Wine::Get().CreatePrefix();
  std::printf("prefix %s: %s\n", e2e::Wine::Get().Prefix().c_str(), ok ? "ready" : "FAILED");
  return ok ? 0 : 1;
}
