// The installed manual pages render cleanly and carry the sections a reader looks for.

#include <gtest/gtest.h>

#include "process_runner.h"

namespace oxtrel {
namespace {

using namespace oxtrel::testing;

TEST(ManPages, RenderWithoutWarningsAndHaveTheUsualSections) {
  for (const char* page : {"oxtrel.1", "oxtrel-pack.1"}) {
    std::string path = std::string(OXTREL_SOURCE_DIR) + "/docs/man/" + page;
    ProcessResult r = runProgram(GROFF_PROGRAM, {"-man", "-ww", "-Tutf8", "-P-cbou", path}, "/");
    EXPECT_EQ(r.exitStatus, 0) << page;
    EXPECT_EQ(r.err, "") << page;
    for (const char* section : {"NAME", "SYNOPSIS", "DESCRIPTION", "EXIT STATUS", "EXAMPLES"})
      EXPECT_NE(r.out.find(std::string("\n") + section + "\n"), std::string::npos) << page << ": " << section;
  }
}

}  // namespace
}  // namespace oxtrel
