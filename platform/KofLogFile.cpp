#include "platform/KofLogFile.h"

#include <cstdio>
#include <ctime>

#include "platform/KofCalendar.h"
#include "platform/KofClock.h"
#include "platform/KofFileIO.h"

namespace kof {
namespace {

class TLogFile : public TKofLogWriter {
 public:
  explicit TLogFile(TFileHandle handle) : FHandle(std::move(handle)) {}

  void WriteLine(std::string_view line) override {
    std::string text(line);
    text += '\n';
    // A full disk costs the log its line, never the caller its work.
    (void)WriteAll(FHandle.Fd(), text.data(), text.size());
  }

  std::string Timestamp() override {
    const std::time_t now = std::chrono::system_clock::to_time_t(Clock().Now());
    const std::optional<std::tm> parts = LocalCalendarTime(now);
    if (!parts) return "0000-00-00 00:00:00";
    const std::tm& local = *parts;
    char text[80] = {};
    std::snprintf(text, sizeof text, "%.4d-%.2d-%.2d %.2d:%.2d:%.2d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
  }

  std::string SystemMessage(int code) override { return SystemErrorText(code); }

 private:
  TFileHandle FHandle;
};

}  // namespace

TLogFileOpen OpenLogFile(const std::string& path) {
  TOpenedFile file = OpenPrivateFileForAppending(path);
  if (!file.Handle.Valid()) return {nullptr, file.Error};
  return {std::make_unique<TLogFile>(std::move(file.Handle)), 0};
}

}  // namespace kof
