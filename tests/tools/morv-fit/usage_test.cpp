#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string run(const std::string& args, int* status)
{
  std::string cmd = std::string(MORV_FIT_BINARY) + " " + args + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  std::string out;
  char buf[512];
  while (p && fgets(buf, sizeof buf, p)) out += buf;
  int rc = p ? pclose(p) : -1;
  *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

TEST(MorvFitUsage, HelpPrintsUsageAndSucceeds)
{
  int status = -1;
  std::string out = run("--help", &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(out.find("usage: morv-fit"), std::string::npos);
}

}  // namespace
