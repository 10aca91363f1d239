#include "sessions/PluginKofConfiguration5.h"

#include <cstdlib>

#include "platform/KofFileIO.h"
#include "platform/KofLogFile.h"
#include "support/KofDebug.h"

namespace kof {
namespace {

struct TAreaKey {
  TRegRoot Root;
  const char* Key;
};

TAreaKey AreaKey(TRegistryArea area, TRegRoot lastRoot) {
  switch (area) {
    case raSelect: return {lastRoot != TRegRoot::None ? lastRoot : TRegRoot::LocalMachine, kPluginKey};
    case raHKLM: return {TRegRoot::LocalMachine, kPluginKey};
    case raHKCU: return {TRegRoot::CurrentUser, kPluginKey};
    case raHkcuOld: return {TRegRoot::CurrentUser, kLegacyKey};
  }
  return {TRegRoot::CurrentUser, kPluginKey};
}

}  // namespace

TKofPluginConfiguration::TKofPluginConfiguration(bool load)
    : FSessionManager(std::make_unique<TKofSessionManager>(this)) {
  if (load && !Load(raHKLM, false)) Load(raHKCU, false);
}

TKofPluginConfiguration::~TKofPluginConfiguration() {
  // The session list writes its outstanding changes as it goes.
  FSessionManager.reset();
  if (!FModified) return;
  try {
    Save();
  } catch (const ERegistryException&) {
    // Nobody is left to tell at unload; the values stay as they were stored.
  }
}

int TKofPluginConfiguration::ReadTimeoutMs() const {
  const char* text = std::getenv("KOFFRA_READ_TIMEOUT_MS");
  const int value = text ? std::atoi(text) : 0;
  return value > 0 ? value : 0;
}

bool TKofPluginConfiguration::Init() {
  Clear();
  if (Load(raHKLM, true) && CriticalCharFullfilled()) {
    FReadOnly = true;
  } else if (Load(raHKCU, true) && CriticalCharFullfilled()) {
    FReadOnly = false;
  } else if (Load(raHkcuOld, false)) {
    FReadOnly = false;
    try {
      Save();
    } catch (const ERegistryException&) {
      // Still modified: the next save (at the latest at unload) tries again.
    }
  }
  return FSessionManager->Init();
}

bool TKofPluginConfiguration::Load(TRegistryArea area, bool strict) {
  FLastUsedArea = area;
  const TAreaKey where = AreaKey(area, FRootKey);
  TKofRegistry reg(where.Root);
  if (!reg.OpenKey(where.Key, area == raHKCU)) return false;
  FRootKey = where.Root;
  ReadValues(reg, area, strict);
  return true;
}

void TKofPluginConfiguration::ReadValues(const TKofRegistry& reg, TRegistryArea, bool strict) {
  ReadPluginSettings(reg, FDefaults, FOwn);
  if (strict && !reg.TryReadInteger(kAccessCodeTimeoutValue)) FDefaults.AccessCodeTimeout = -1;
  // Always marked modified, so whatever was loaded reaches the per-user key
  // when the configuration goes away.
  FModified = true;
}

bool TKofPluginConfiguration::Save() {
  TKofRegistry reg(TRegRoot::CurrentUser);
  reg.BeginUpdate();
  if (!reg.OpenKey(kPluginKey, true)) {
    reg.CancelUpdate();
    return false;
  }
  WriteStoredSettings(reg, FDefaults, &FOwn);
  if (!reg.EndUpdate()) throw ERegistryException("Failed to set data for '" + std::string(kPluginKey) + "'");
  FModified = false;
  return true;
}

void TKofPluginConfiguration::Clear() {
  FModified = false;
  FDefaults = {};
  FOwn = {};
  // Nothing loaded: no timeout (see CriticalCharFullfilled), no prefix, and
  // neither editing nor the clipboard notice until a store grants them.
  FDefaults.AccessCodeTimeout = -1;
  FDefaults.EditableRecords = false;
  FDefaults.ClipCopyMessage = false;
  FOwn.PanelPrefix.clear();
  FSessionManager->Sessions().Clear();
}

void TKofPluginConfiguration::Assign(const TKofPluginConfiguration& conf) {
  FModified = conf.FModified;
  FDefaults = conf.FDefaults;
  FOwn = conf.FOwn;
}

std::unique_ptr<TKofSession> TKofPluginConfiguration::NewSession(std::string_view name, std::string url,
                                                                 std::string domain, std::string username) const {
  return std::make_unique<TKofSession>(
      nullptr, name, std::string(), TSessionAddress{std::move(url), std::move(domain), std::move(username)},
      FDefaults);
}

std::string TKofPluginConfiguration::DiagnosticLogPath() {
  return UserConfigFolder() + "/" + kDiagnosticLogFileName;
}

std::string TKofPluginConfiguration::ApplyDiagnosticLog() const {
  if (!DiagnosticLog()) {
    SetLogWriter(nullptr);
    return {};
  }
  if (LogOpen()) return {};
  const std::string path = DiagnosticLogPath();
  ForceFolders(UserConfigFolder());
  TLogFileOpen log = OpenLogFile(path);
  if (!log.Writer) return "The diagnostic log \"" + path + "\" cannot be opened: " + SystemErrorText(log.Error) + ".";
  SetLogWriter(std::move(log.Writer));
  return {};
}

bool TKofPluginConfiguration::CriticalCharFullfilled() const {
  switch (FLastUsedArea) {
    case raHKLM: return true;
    case raHKCU:
    case raHkcuOld: return AccessCodeTimeout() >= 0;
    case raSelect: return false;
  }
  return false;
}

void TKofPluginConfiguration::SetVersionType(int value) {
  FDefaults.VersionType = value >= 0 && value < kVersionTypeCount ? static_cast<TVersionType>(value) : verNone;
  FModified = true;
}

}  // namespace kof
