#pragma once
// Runs an outside program with its standard input and output redirected
// through pipes: the input is written and closed, the output is collected up
// to a bound, and the program is given a time limit. Whatever the program does
// (hangs, floods its output, exits early, crashes), the call returns within
// the limit and the child is reaped; a child still running at the limit is
// killed.
#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "support/SecureString.h"

namespace kof {

struct TKofProcessRequest {
  std::string Program;             // a path; it is not looked up on PATH
  std::vector<std::string> Args;   // after the program's own name
  std::string_view Input;          // written to the program's standard input, then closed
  std::chrono::milliseconds Timeout{5000};
  std::size_t MaxOutput = 1 << 20;  // bytes of standard output kept at most
  // Says when the output collected so far is the whole answer, for programs
  // that answer and linger; without it the output ends when the program closes it.
  std::function<bool(std::string_view)> Complete;
  // How long a program that has answered may take to exit before it is killed.
  std::chrono::milliseconds Grace{500};
};

struct TKofProcessResult {
  bool Started = false;
  bool TimedOut = false;       // no complete answer by the limit
  bool OutputTooLong = false;  // more than MaxOutput bytes
  bool Killed = false;         // still running when we were done with it
  bool Exited = false;       // ended by exit (not by a signal)
  int ExitCode = -1;
  int Signal = 0;            // the signal that ended it, when not Exited
  int StartError = 0;        // errno of a failed start
  // May hold secrets (a certificate, a key): wiped when freed.
  SecureString Output;
};

TKofProcessResult RunProcess(const TKofProcessRequest& request);

}  // namespace kof
