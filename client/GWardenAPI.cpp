#include "client/GWardenAPI.h"

#include <filesystem>
#include <random>

#include "client/GWardenx64Support.h"
#include "crypto/KofNaCL.h"
#include "platform/KofProcess.h"
#include "support/KofJSON.h"

namespace kof {
namespace {

std::uint32_t ReadLength(std::string_view bytes) {
  std::uint32_t length = 0;
  for (int i = 3; i >= 0; --i) length = (length << 8) | static_cast<unsigned char>(bytes[static_cast<std::size_t>(i)]);
  return length;
}

// "3" and 3 are both state 3; anything that is not a whole number from 0 to
// 255 is state 0, so a lying host never reaches "authenticated" by overflow.
TGWardenStatus StatusOf(const TJSONObject& value) {
  long long number = 0;
  if (value.is_number_unsigned()) {
    number = value.get<unsigned long long>() > 255 ? -1 : static_cast<long long>(value.get<unsigned long long>());
  } else if (value.is_number_integer()) {
    number = value.get<long long>();
  } else if (value.is_string()) {
    const std::string& text = value.get_ref<const std::string&>();
    std::size_t used = 0;
    try {
      number = std::stoll(text, &used);
    } catch (const std::exception&) {
      return TGWardenStatus::gwDisconnected;
    }
    if (used != text.size()) return TGWardenStatus::gwDisconnected;
  }
  return number >= 0 && number <= 255 ? static_cast<TGWardenStatus>(number) : TGWardenStatus::gwDisconnected;
}

int SessionId() {
  std::random_device device;
  return std::uniform_int_distribution<int>(1111, 9999)(device);
}

TGWardenQueryResult Failed(std::string why) { return {.Ok = false, .Installed = true, .Why = std::move(why)}; }

std::string WhyNoAnswer(const TKofProcessResult& run) {
  if (run.TimedOut) return "the single-sign-on program did not answer in time";
  if (run.OutputTooLong) return "the single-sign-on program's answer was too long";
  if (!run.Exited && run.Signal != 0) return "the single-sign-on program ended abnormally";
  return "the single-sign-on program's answer was broken";
}

}  // namespace

std::string EncodeHostFrame(std::string_view AMessage) {
  const auto length = static_cast<std::uint32_t>(AMessage.size());
  std::string frame;
  for (int i = 0; i < 4; ++i) frame.push_back(static_cast<char>((length >> (8 * i)) & 0xFF));
  frame.append(AMessage);
  return frame;
}

std::optional<std::string_view> DecodeHostFrame(std::string_view ABytes) {
  if (ABytes.size() < 4) return std::nullopt;
  const std::uint32_t length = ReadLength(ABytes);
  if (length > kGWardenMaxAnswer || length > ABytes.size() - 4) return std::nullopt;
  return ABytes.substr(4, length);
}

TGWardenAnswer ParseHostAnswer(std::string_view AMessage) {
  TGWardenAnswer answer;
  const TJSONParsed parsed = ParseJSON(AMessage);
  const TJSONObject& message = parsed.Value;
  if (!message.is_object()) return answer;
  if (const auto cert = message.find("cert"); cert != message.end() && cert->is_string()) {
    if (std::optional<TBytes> der = Base64Decode(cert->get_ref<const std::string&>()))
      answer.Certificate.emplace(der->begin(), der->end());
  }
  if (const auto status = message.find("status"); status != message.end()) answer.Status = StatusOf(*status);
  return answer;
}

TGWardenQueryResult GWardenQuery(std::string* ACertificate, TGWardenCertInfo& AInfo, TGWardenStatus& AStatus,
                                 bool AAnyStatus, const TGWardenQueryOptions& AOptions) {
  std::string apiPath;
  if (GetGWardenApiPath(apiPath) != 0) return {};
  const std::string host = GWardenHostPath(apiPath);
  std::error_code error;
  if (!std::filesystem::is_regular_file(host, error))
    return Failed("the single-sign-on program " + host + " was not found");

  const std::string request = EncodeHostFrame(TJSONObject{{"sessionId", SessionId()}}.dump());
  const TKofProcessResult run = RunProcess({
      .Program = host,
      .Args = {},
      .Input = request,
      .Timeout = AOptions.Timeout,
      .MaxOutput = kGWardenMaxAnswer + 4,
      .Complete = [](std::string_view out) { return DecodeHostFrame(out).has_value(); },
      .Grace = std::chrono::milliseconds(500),
  });
  if (!run.Started) return Failed("the single-sign-on program " + host + " could not be started");
  const std::optional<std::string_view> message = DecodeHostFrame(run.Output.View());
  if (!message) return Failed(WhyNoAnswer(run));

  TGWardenAnswer answer = ParseHostAnswer(*message);
  if (ACertificate && answer.Certificate) *ACertificate = std::move(*answer.Certificate);
  AStatus = answer.Status;
  if (!AAnyStatus && AStatus != TGWardenStatus::gwAuthenticated)
    return Failed("the single-sign-on client is " + GWardenStatusText(AStatus));
  if (ACertificate && !ParseGWardenCertificate(*ACertificate, AInfo)) AInfo.Clear();
  return {.Ok = true, .Installed = true, .Why = {}};
}

}  // namespace kof
