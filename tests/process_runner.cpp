#include "process_runner.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace oxtrel::testing {

namespace {

std::string slurp(int fd) {
  std::string text;
  char buf[65536];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) text.append(buf, size_t(n));
  return text;
}

}  // namespace

ProcessResult runProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& cwd, const std::function<void()>& beforeExec) {
  // Output goes to unlinked temporary files, so a child printing a lot cannot fill a pipe.
  FILE* out = std::tmpfile();
  FILE* err = std::tmpfile();
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fileno(out), STDOUT_FILENO);
    dup2(fileno(err), STDERR_FILENO);
    if (chdir(cwd.c_str()) != 0) _exit(125);
    if (beforeExec) beforeExec();
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(126);
  }
  ProcessResult result;
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  lseek(fileno(out), 0, SEEK_SET);
  lseek(fileno(err), 0, SEEK_SET);
  result.out = slurp(fileno(out));
  result.err = slurp(fileno(err));
  std::fclose(out);
  std::fclose(err);
  return result;
}

}  // namespace oxtrel::testing
