// Where openat2 is missing (ENOSYS: kernels before 5.6) or refused by a container's filter
// (EPERM, EACCES), the sample extracts with the same lines, tree and status, and a link planted
// below data is still never followed.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>
#include <string>

#include "process_runner.h"
#include "scratch.h"
#include "syscall_filter.h"

namespace oxtrel {
namespace {

using namespace oxtrel::testing;
namespace fs = std::filesystem;

const std::string kSample = std::string(OXTREL_SOURCE_DIR) + "/examples/sample.vrk";

struct SampleRun {
  ProcessResult result;
  std::map<std::string, std::string> tree;
};

// plantLink: data/meshes is a link to a directory beside data, which must stay empty.
SampleRun extractSample(const char* jobs, bool plantLink, int refusal) {
  ScratchDir dir;
  if (plantLink) {
    fs::create_directories(dir / "outside");
    fs::create_directories(dir / "data");
    fs::create_directory_symlink("../outside", dir / "data/meshes");
  }
  SampleRun run;
  run.result = runOxtrel({"-j", jobs, kSample}, dir.path, [refusal] {
    if (refusal != 0) refuseOpenat2(refusal);
  });
  run.tree = snapshotTree(dir.path);
  return run;
}

size_t writtenOutside(const std::map<std::string, std::string>& tree) {
  return size_t(std::count_if(tree.begin(), tree.end(), [](const auto& entry) {
    return entry.first.starts_with("outside/") && entry.first != "outside/";
  }));
}

TEST(RefusedOpenat2, TheSampleGivesTheSameLinesTreeAndStatus) {
  for (bool plantLink : {false, true}) {
    for (const char* jobs : {"1", "4"}) {
      SampleRun normal = extractSample(jobs, plantLink, 0);
      ASSERT_EQ(normal.result.exitStatus, plantLink ? 1 : 0) << normal.result.err;
      ASSERT_EQ(writtenOutside(normal.tree), 0u);
      for (int refusal : {ENOSYS, EPERM, EACCES}) {
        std::string what = std::string("-j ") + jobs + (plantLink ? ", link planted" : "") + ", refused with " +
                           std::to_string(refusal);
        SampleRun refused = extractSample(jobs, plantLink, refusal);
        EXPECT_EQ(refused.result.out, normal.result.out) << what;
        EXPECT_EQ(refused.result.err, normal.result.err) << what;
        EXPECT_EQ(refused.result.exitStatus, normal.result.exitStatus) << what;
        EXPECT_EQ(refused.tree, normal.tree) << what;
        EXPECT_EQ(writtenOutside(refused.tree), 0u) << what;
      }
    }
  }
}

}  // namespace
}  // namespace oxtrel
