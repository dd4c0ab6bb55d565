#pragma once

// Runs the built oxtrel and oxtrel-pack binaries in a child process and captures what they print.

#include <functional>
#include <string>
#include <vector>

namespace oxtrel::testing {

struct ProcessResult {
  int exitStatus = -1;  // -1 when the child did not exit normally
  int signal = 0;
  std::string out;
  std::string err;
};

// Runs program with args in directory cwd; beforeExec runs in the child (set limits there).
ProcessResult runProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& cwd, const std::function<void()>& beforeExec = {});

inline ProcessResult runOxtrel(const std::vector<std::string>& args, const std::string& cwd,
                               const std::function<void()>& beforeExec = {}) {
  return runProgram(OXTREL_BINARY, args, cwd, beforeExec);
}

inline ProcessResult runPack(const std::vector<std::string>& args, const std::string& cwd,
                             const std::function<void()>& beforeExec = {}) {
  return runProgram(OXTREL_PACK_BINARY, args, cwd, beforeExec);
}

}  // namespace oxtrel::testing
