#include "support/KofDebug.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

namespace kof {
namespace {

struct TLogState {
  std::mutex Lock;
  std::unique_ptr<TKofLogWriter> Writer;
  bool InfoSuppressed = false;
  bool Errors = false;
};

TLogState& State() {
  static TLogState state;
  return state;
}

std::string FormatV(const char* format, va_list args) {
  const std::string pattern = UnescapeLogText(format);
  va_list again;
  va_copy(again, args);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  const int size = std::vsnprintf(nullptr, 0, pattern.c_str(), args);
  std::string text;
  if (size > 0) {
    std::vector<char> buffer(static_cast<std::size_t>(size) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), pattern.c_str(), again);
    text.assign(buffer.data(), static_cast<std::size_t>(size));
  }
#pragma GCC diagnostic pop
  va_end(again);
  return text;
}

// Callers hold the state's lock and have checked that the writer is there.
void WriteEntry(TLogState& state, std::string_view text, bool isError) {
  state.Writer->WriteLine(state.Writer->Timestamp() + " " + std::string(LogKindText(isError)) + " " +
                          std::string(text));
}

std::string Separator(bool errorMark, int width) {
  if (width <= 0) return {};
  if (errorMark && width > 6) return "\r\n= ERR " + std::string(static_cast<std::size_t>(width - 6), '=') + "\r\n";
  return "\r\n" + std::string(static_cast<std::size_t>(width), '=') + "\r\n";
}

}  // namespace

void SetLogWriter(std::unique_ptr<TKofLogWriter> writer) {
  TLogState& state = State();
  std::lock_guard guard(state.Lock);
  state.Errors = writer != nullptr;
  state.Writer = std::move(writer);
}

bool LogOpen() {
  TLogState& state = State();
  std::lock_guard guard(state.Lock);
  return state.Writer != nullptr;
}

void SetLogInfoSuppressed(bool value) {
  TLogState& state = State();
  std::lock_guard guard(state.Lock);
  state.InfoSuppressed = value;
}

void SetLogErrors(bool value) {
  TLogState& state = State();
  std::lock_guard guard(state.Lock);
  state.Errors = value;
}

std::string UnescapeLogText(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      result += text[i];
      continue;
    }
    const char next = text[++i];
    result += next == 'n' ? '\n' : next == 't' ? '\t' : next;
  }
  return result;
}

std::string_view LogKindText(bool isError) { return isError ? "ERR" : "INF"; }

void LogSeparator(bool errorMark, int width) {
  TLogState& state = State();
  std::lock_guard guard(state.Lock);
  if (state.Writer) state.Writer->WriteLine(Separator(errorMark, width));
}

void LogText(std::string_view text) {
  TLogState& state = State();
  std::lock_guard guard(state.Lock);
  if (state.Writer) state.Writer->WriteLine(text);
}

void LogFormat(const char* format, ...) {
  TLogState& state = State();
  std::lock_guard guard(state.Lock);
  if (!state.Writer) return;
  va_list args;
  va_start(args, format);
  const std::string text = FormatV(format, args);
  va_end(args);
  state.Writer->WriteLine(text);
}

void LogEntry(std::string_view text, bool isError) {
  TLogState& state = State();
  std::lock_guard guard(state.Lock);
  if (state.Writer && (isError || !state.InfoSuppressed)) WriteEntry(state, text, isError);
}

void LogEntryFormat(bool isError, const char* format, ...) {
  TLogState& state = State();
  std::lock_guard guard(state.Lock);
  if (!state.Writer || (!isError && state.InfoSuppressed)) return;
  va_list args;
  va_start(args, format);
  const std::string text = FormatV(format, args);
  va_end(args);
  WriteEntry(state, text, isError);
}

void LogErrorBlock(std::string_view routine, std::string_view func, int src, int errorCode,
                   std::string_view fileName) {
  TLogState& state = State();
  std::lock_guard guard(state.Lock);
  if (!state.Writer || !state.Errors) return;
  TKofLogWriter& out = *state.Writer;
  out.WriteLine(Separator(true, 60));
  if (!fileName.empty()) out.WriteLine("FName:   " + std::string(fileName));
  out.WriteLine("Routine: " + std::string(routine));
  out.WriteLine("Func:    " + std::string(func));
  if (src > 0) out.WriteLine("Src:     " + std::to_string(src));
  if (errorCode > 0) {
    out.WriteLine("Err:     " + std::to_string(errorCode));
    out.WriteLine("Msg:     " + out.SystemMessage(errorCode));
  } else if (errorCode != -1) {
    out.WriteLine("Err:     " + std::to_string(errorCode));
  }
  out.WriteLine(Separator(false, 60));
}

}  // namespace kof
