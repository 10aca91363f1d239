#pragma once
// The diagnostic log: timestamped information and error lines, and framed
// error blocks. It is closed until a writer is set (the plugin sets one when
// its configuration asks for the log); while closed every call returns at
// once. Nothing secret is ever passed to it: callers log names, modes, sizes
// and steps, never field values or key material.
#include <memory>
#include <string>
#include <string_view>

// The formats are C99's on every system (mingw-w64's own printf on Windows).
#if defined(__MINGW32__)
#define KOF_PRINTF_FORMAT(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#else
#define KOF_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#endif

namespace kof {

// Where the log goes: the platform's log file, or a test's memory.
class TKofLogWriter {
 public:
  virtual ~TKofLogWriter() = default;
  // One line, with the writer's own line break, written through at once.
  virtual void WriteLine(std::string_view line) = 0;
  // The local date and time as "YYYY-MM-DD hh:mm:ss".
  virtual std::string Timestamp() = 0;
  // The operating system's text for an error code.
  virtual std::string SystemMessage(int code) = 0;
};

// Opens the log on WRITER; nullptr closes it. Error blocks are on while it is open.
void SetLogWriter(std::unique_ptr<TKofLogWriter> writer);
bool LogOpen();
// Drops information entries (errors still go through).
void SetLogInfoSuppressed(bool value);
void SetLogErrors(bool value);

// "\n" becomes a line feed, "\t" a tab, a backslash before anything else that character.
std::string UnescapeLogText(std::string_view text);
std::string_view LogKindText(bool isError);

void LogSeparator(bool errorMark, int width);
void LogText(std::string_view text);
void LogFormat(const char* format, ...) KOF_PRINTF_FORMAT(1, 2);
// The timestamp, "ERR" or "INF", and TEXT; an information entry is dropped while suppressed.
void LogEntry(std::string_view text, bool isError);
// An entry formatted printf-style (after unescaping), dropped as LogEntry's.
void LogEntryFormat(bool isError, const char* format, ...) KOF_PRINTF_FORMAT(2, 3);
// A framed block naming ROUTINE and FUNC, the caller's step SRC (when above 0)
// and ERRORCODE: above 0 an operating-system error (with its text), -1 none.
void LogErrorBlock(std::string_view routine, std::string_view func, int src, int errorCode,
                   std::string_view fileName = {});

}  // namespace kof
