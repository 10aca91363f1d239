#include "platform/KofProcess.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <thread>

#include "platform/win/KofWin.h"

namespace kof {
namespace {

using win::THandle;

// One argument quoted so that the program's C runtime splits it back unchanged.
std::wstring Quoted(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

std::wstring CommandLine(const TKofProcessRequest& request) {
  std::wstring line = Quoted(win::WidePath(request.Program));
  for (const std::string& arg : request.Args) line += L" " + Quoted(win::Wide(arg));
  return line;
}

// A pipe whose CHILD end is inherited and whose other end stays ours.
bool MakePipe(THandle& readEnd, THandle& writeEnd, bool childReads) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE r = nullptr, w = nullptr;
  if (!::CreatePipe(&r, &w, &inherit, 0)) return false;
  readEnd.Reset(r);
  writeEnd.Reset(w);
  return ::SetHandleInformation(childReads ? w : r, HANDLE_FLAG_INHERIT, 0) != 0;
}

// The child and whatever it starts; closing the job ends them all.
THandle MakeJob() {
  THandle job(::CreateJobObjectW(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job.Valid()) ::SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
  return job;
}

struct TChild {
  THandle Process;
  THandle Job;
};

int Spawn(const TKofProcessRequest& request, HANDLE childIn, HANDLE childOut, TChild& child) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  THandle nul(::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = childIn;
  startup.hStdOutput = childOut;
  startup.hStdError = nul.Get();
  std::wstring line = CommandLine(request);
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(win::WidePath(request.Program).c_str(), line.data(), nullptr, nullptr, TRUE,
                        CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr, nullptr, &startup, &info))
    return win::LastErrno();
  child.Process.Reset(info.hProcess);
  THandle thread(info.hThread);
  child.Job = MakeJob();
  if (child.Job.Valid()) ::AssignProcessToJobObject(child.Job.Get(), info.hProcess);
  ::ResumeThread(info.hThread);
  return 0;
}

int MillisecondsLeft(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Writes the input on a thread of its own, so a program that reads late
// cannot stall the reading of its answer; ending the program ends the write.
void Feed(std::string_view input, THandle toChild) {
  std::size_t written = 0;
  while (written < input.size()) {
    DWORD n = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(input.size() - written, 1u << 20));
    if (!::WriteFile(toChild.Get(), input.data() + written, chunk, &n, nullptr)) break;
    written += n;
  }
}

// Drains the output until the program closes it, the bound is passed or the time is up.
void Drain(const TKofProcessRequest& request, std::chrono::steady_clock::time_point deadline, THandle& fromChild,
           TKofProcessResult& result) {
  std::array<char, 65536> buffer;
  for (;;) {
    DWORD available = 0;
    if (!::PeekNamedPipe(fromChild.Get(), nullptr, 0, nullptr, &available, nullptr)) break;  // closed
    if (available == 0) {
      if (MillisecondsLeft(deadline) == 0) {
        result.TimedOut = true;
        break;
      }
      ::Sleep(2);
      continue;
    }
    DWORD n = 0;
    if (!::ReadFile(fromChild.Get(), buffer.data(), std::min<DWORD>(available, buffer.size()), &n, nullptr) || n == 0)
      break;
    if (result.Output.Size() + n > request.MaxOutput) {
      result.OutputTooLong = true;
      break;
    }
    result.Output.Append(std::string_view(buffer.data(), n));
    if (request.Complete && request.Complete(result.Output.View())) break;
  }
  SecureZero(buffer.data(), buffer.size());
  fromChild.Reset();
}

// Waits until the deadline for the program to end, then ends it and whatever it started.
void Reap(TChild& child, std::chrono::steady_clock::time_point deadline, TKofProcessResult& result) {
  if (::WaitForSingleObject(child.Process.Get(), static_cast<DWORD>(MillisecondsLeft(deadline))) != WAIT_OBJECT_0) {
    result.Killed = true;
    if (child.Job.Valid()) ::TerminateJobObject(child.Job.Get(), 1);
    else ::TerminateProcess(child.Process.Get(), 1);
    ::WaitForSingleObject(child.Process.Get(), INFINITE);
    return;
  }
  DWORD code = 0;
  if (::GetExitCodeProcess(child.Process.Get(), &code)) {
    result.Exited = true;
    result.ExitCode = static_cast<int>(code);
  }
}

}  // namespace

TKofProcessResult RunProcess(const TKofProcessRequest& request) {
  TKofProcessResult result;
  THandle childIn, toChild, fromChild, childOut;
  if (!MakePipe(childIn, toChild, true) || !MakePipe(fromChild, childOut, false)) {
    result.StartError = win::LastErrno();
    return result;
  }
  TChild child;
  const int error = Spawn(request, childIn.Get(), childOut.Get(), child);
  childIn.Reset();
  childOut.Reset();
  if (error != 0) {
    result.StartError = error;
    return result;
  }
  result.Started = true;
  const auto deadline = std::chrono::steady_clock::now() + request.Timeout;
  std::thread feeder(Feed, request.Input, std::move(toChild));
  Drain(request, deadline, fromChild, result);
  // A program that overran gets no more time; one that answered may finish.
  const auto now = std::chrono::steady_clock::now();
  const bool answered = !result.TimedOut && !result.OutputTooLong;
  Reap(child, answered ? std::min(deadline, now + request.Grace) : now, result);
  // The program has ended, so its end of the input pipe is closed and the write has returned.
  feeder.join();
  return result;
}

}  // namespace kof
