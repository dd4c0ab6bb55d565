// The installed manual pages render cleanly and carry the sections a reader looks for.

#include <gtest/gtest.h>

#include <cctype>

#include "process_runner.h"
#include "scratch.h"

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

TEST(ManPages, OxtrelPageAgreesWithTheProgram) {
  // Rendered on one long line per paragraph, so that the phrases checked are never broken.
  std::string path = std::string(OXTREL_SOURCE_DIR) + "/docs/man/oxtrel.1";
  ProcessResult page = runProgram(GROFF_PROGRAM, {"-man", "-rLL=1000n", "-rHY=0", "-Tutf8", "-P-cbou", path}, "/");
  ProcessResult help = runOxtrel({"--help"}, "/");
  const std::string prefix = "Usage: oxtrel ";
  std::string usage = help.out.substr(0, help.out.find('\n'));
  ASSERT_TRUE(usage.starts_with(prefix)) << help.out;
  // The synopsis sets the usage line's words in lower case, without the angle brackets.
  std::string synopsis;
  for (char c : usage.substr(prefix.size()))
    if (c != '<' && c != '>') synopsis += char(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_NE(page.out.find("\n       oxtrel " + synopsis + "\n"), std::string::npos) << synopsis;
  // Every long option --help names is described in the page.
  for (size_t at = help.out.find("--"); at != std::string::npos; at = help.out.find("--", at + 2)) {
    size_t end = help.out.find_first_not_of("abcdefghijklmnopqrstuvwxyz-", at + 2);
    std::string option = help.out.substr(at, end - at);
    if (option.size() > 2) {
      EXPECT_NE(page.out.find(option), std::string::npos) << option;
    }
  }
  EXPECT_NE(page.out.find("the file name of folder a\\b is written to data/a/b/name"), std::string::npos);
  // The oldest kernel, as the README states it.
  EXPECT_NE(page.out.find("Linux 3.6 or later"), std::string::npos);
  Bytes readme = readFile(std::string(OXTREL_SOURCE_DIR) + "/README.md");
  EXPECT_NE(std::string(readme.begin(), readme.end()).find("Linux 3.6 or later"), std::string::npos);
}

}  // namespace
}  // namespace oxtrel
