// The Windows half: CreateProcess with inherited pipe handles.
#include "cli/worker_process.h"

#include <cstdio>
#include <cstring>

#include <vector>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "files/system_names.h"

namespace cli {

namespace {

void Close(void*& handle) {
  if (handle) CloseHandle(handle);
  handle = nullptr;
}

}  // namespace

WorkerProcess::~WorkerProcess() {
  Close(input_);
  if (process_) Wait();
  Close(output_);
  Close(process_);
}

bool WorkerProcess::Start(const std::string& program, const std::vector<std::string>& args, std::string* why) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE childIn = nullptr, parentIn = nullptr, parentOut = nullptr, childOut = nullptr;
  if (!CreatePipe(&childIn, &parentIn, &inherit, 0)) {
    *why = "cannot make a pipe (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  if (!CreatePipe(&parentOut, &childOut, &inherit, 0)) {
    *why = "cannot make a pipe (error " + std::to_string(GetLastError()) + ")";
    CloseHandle(childIn);
    CloseHandle(parentIn);
    return false;
  }
  // This process's ends must not be inherited by the next worker: it
  // would hold this worker's input open after it is closed here.
  SetHandleInformation(parentIn, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(parentOut, HANDLE_FLAG_INHERIT, 0);
  // Wide, so that names in any language reach the worker as they are.
  std::string line = QuoteArgument(program);
  for (const std::string& a : args) line += " " + QuoteArgument(a);
  std::wstring mutableLine = files::Wide(line);
  const std::wstring wideProgram = files::Wide(program);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = childIn;
  startup.hStdOutput = childOut;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessW(wideProgram.c_str(), &mutableLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &process);
  const DWORD error = GetLastError();
  CloseHandle(childIn);
  CloseHandle(childOut);
  if (!started) {
    CloseHandle(parentIn);
    CloseHandle(parentOut);
    *why = "cannot start " + program + " (error " + std::to_string(error) + ")";
    return false;
  }
  CloseHandle(process.hThread);
  id_ = long(process.dwProcessId);
  process_ = process.hProcess;
  input_ = parentIn;
  output_ = parentOut;
  return true;
}

bool WorkerProcess::Send(const std::string& text) {
  size_t done = 0;
  while (input_ && done < text.size()) {
    DWORD n = 0;
    if (!WriteFile(input_, text.data() + done, DWORD(text.size() - done), &n, nullptr)) return false;
    done += n;
  }
  return input_ && done == text.size();
}

void WorkerProcess::CloseInput() { Close(input_); }

bool WorkerProcess::ReadLine(std::string* line) {
  return NextLine(pending_, line, [this](char* buffer, size_t size) -> long {
    DWORD n = 0;
    if (!output_ || !ReadFile(output_, buffer, DWORD(size), &n, nullptr)) return -1;
    return long(n);
  });
}

void WorkerProcess::Kill() {
  if (!waited_ && process_) TerminateProcess(process_, 137);
}

int WorkerProcess::Wait() {
  if (waited_ || !process_) return exitCode_;
  WaitForSingleObject(process_, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process_, &code);
  waited_ = true;
  exitCode_ = int(code);
  return exitCode_;
}

std::string ProgramPath() {
  std::vector<wchar_t> path(32768);
  const DWORD n = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
  return files::FromWide(path.data(), n < path.size() ? n : 0);
}

void IgnoreBrokenPipes() {}

WorkerChannel::WorkerChannel() {
  _setmode(_fileno(stdin), _O_BINARY);
  out_ = _dup(_fileno(stdout));
  _setmode(out_, _O_BINARY);
  std::fflush(stdout);
  _dup2(_fileno(stderr), _fileno(stdout));
  SetStdHandle(STD_OUTPUT_HANDLE, GetStdHandle(STD_ERROR_HANDLE));
}

bool WorkerChannel::Send(const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const int n = _write(out_, text.data() + done, unsigned(text.size() - done));
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

bool WorkerChannel::ReadLine(std::string* line) {
  return NextLine(pending_, line,
                  [](char* buffer, size_t size) -> long { return long(_read(_fileno(stdin), buffer, unsigned(size))); });
}

}  // namespace cli
