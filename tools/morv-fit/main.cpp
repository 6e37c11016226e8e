#include <cstdio>
#include <cstring>

static void print_usage(FILE* to)
{
  std::fputs("usage: morv-fit [options] DESIGN.blif\n"
             "  -o OUT.blif            write the optimised netlist\n"
             "  --help                 show this text\n", to);
}

int main(int argc, char** argv)
{
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) { print_usage(stdout); return 0; }
  }
  print_usage(stdout);
  return 0;
}
