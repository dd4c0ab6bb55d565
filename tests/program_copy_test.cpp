// Each program is one file: a copy runs from any directory, for any user, with an empty
// environment, and does what the build tree's program does.

#include <gtest/gtest.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "process_runner.h"
#include "scratch.h"

namespace oxtrel {
namespace {

using namespace oxtrel::testing;

// The build tree may lie below a directory only its owner enters (a clone in root's home), so
// root runs the copies as an unprivileged user: one that needed anything from the build tree
// would fail to start.
void asAnyoneWithEmptyEnvironment() {
  clearenv();
  if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) _exit(124);
}

TEST(ProgramCopies, RunAloneAndMatchTheBuildTreesPrograms) {
  ScratchDir bin;
  ASSERT_EQ(chmod(bin.path.c_str(), 0755), 0);
  const std::string oxtrel = bin / "oxtrel";
  const std::string pack = bin / "oxtrel-pack";
  std::filesystem::copy_file(OXTREL_BINARY, oxtrel);
  std::filesystem::copy_file(OXTREL_PACK_BINARY, pack);

  // The loader lists what each copy would load; the library is not among it, whoever runs it.
  for (const std::string& program : {oxtrel, pack}) {
    ProcessResult r = runProgram(program, {"--version"}, bin.path, [] {
      clearenv();
      setenv("LD_TRACE_LOADED_OBJECTS", "1", 1);
    });
    EXPECT_EQ(r.exitStatus, 0) << program << r.err;
    EXPECT_EQ(r.out.find("liboxtrel"), std::string::npos) << program << " loads:\n" << r.out;
  }

  ScratchDir copy, built;
  ASSERT_EQ(chmod(copy.path.c_str(), 0777), 0);
  const std::string sample = std::string(OXTREL_SOURCE_DIR) + "/examples/sample.vrk";
  for (const ScratchDir* dir : {&copy, &built}) std::filesystem::copy_file(sample, *dir / "sample.vrk");

  ProcessResult fromCopy = runProgram(oxtrel, {"sample.vrk"}, copy.path, asAnyoneWithEmptyEnvironment);
  ProcessResult fromBuild = runOxtrel({"sample.vrk"}, built.path);
  EXPECT_EQ(fromCopy.exitStatus, 0) << fromCopy.err;
  EXPECT_EQ(fromCopy.out, fromBuild.out);
  EXPECT_EQ(fromCopy.err, fromBuild.err);
  EXPECT_FALSE(fromCopy.out.empty());

  // Packing the extracted tree back gives the same archive from the copy as from the build tree.
  fromCopy = runProgram(pack, {"--compress", "re.vrk", "data"}, copy.path, asAnyoneWithEmptyEnvironment);
  fromBuild = runPack({"--compress", "re.vrk", "data"}, built.path);
  EXPECT_EQ(fromCopy.exitStatus, 0) << fromCopy.err;
  EXPECT_EQ(fromBuild.exitStatus, 0) << fromBuild.err;
  EXPECT_EQ(snapshotTree(copy.path), snapshotTree(built.path));
}

}  // namespace
}  // namespace oxtrel
