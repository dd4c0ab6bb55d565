// Runs the built programs in a child process on Windows and captures what they print. A program
// named without a directory is the one built beside this test program.

#include <windows.h>

#include <string>
#include <thread>

#include "process_runner.h"
#include "platform/windows/windows_names.h"

namespace oxtrel::testing {

namespace {

std::wstring wide(const std::string& text) {
  std::u16string decoded = windows_names::decode(text);
  return std::wstring(decoded.begin(), decoded.end());
}

// One argument as the C runtime splits a command line: quoted, with backslashes doubled only
// before a quote.
void appendQuoted(std::wstring& line, const std::wstring& argument) {
  line += L'"';
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, L'\\');
  line += L'"';
}

std::wstring besideThisProgram(const std::string& program) {
  if (program.find_first_of("/\\") != std::string::npos) return wide(program);
  std::wstring self(32768, L'\0');
  self.resize(GetModuleFileNameW(nullptr, self.data(), DWORD(self.size())));
  return self.substr(0, self.find_last_of(L"\\/") + 1) + wide(program);
}

void drain(HANDLE pipe, std::string& into) {
  char block[4096];
  DWORD got = 0;
  while (ReadFile(pipe, block, sizeof block, &got, nullptr) && got > 0) into.append(block, got);
}

}  // namespace

// beforeExec has no Windows counterpart (there is no fork): the tests that need it are POSIX's.
ProcessResult runProgram(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
                         const std::function<void()>&) {
  ProcessResult result;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE outRead, outWrite, errRead, errWrite;
  if (!CreatePipe(&outRead, &outWrite, &inherit, 0) || !CreatePipe(&errRead, &errWrite, &inherit, 0)) return result;
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
  HANDLE input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ, &inherit, OPEN_EXISTING, 0, nullptr);

  std::wstring executable = besideThisProgram(program);
  std::wstring line;
  appendQuoted(line, executable);
  for (const std::string& arg : args) {
    line += L' ';
    appendQuoted(line, wide(arg));
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = outWrite;
  startup.hStdError = errWrite;
  PROCESS_INFORMATION child{};
  std::wstring directory = wide(cwd);
  BOOL started = CreateProcessW(executable.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                directory.empty() ? nullptr : directory.c_str(), &startup, &child);
  CloseHandle(outWrite);
  CloseHandle(errWrite);
  CloseHandle(input);
  if (started) {
    std::thread errors([&] { drain(errRead, result.err); });
    drain(outRead, result.out);
    errors.join();
    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(child.hProcess, &code);
    result.exitStatus = int(code);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
  }
  CloseHandle(outRead);
  CloseHandle(errRead);
  return result;
}

}  // namespace oxtrel::testing
