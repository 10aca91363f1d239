#pragma once
// The configuration of one session (its connection and its settings) and the
// choice of a versioning mode before an edited file is stored. Both work on
// values: the caller passes them in and applies what comes back on OK.
#include <functional>
#include <string>

#include "dialogs/KofDialog.h"
#include "sessions/PluginKofSessions5.h"

namespace kof {

struct TSessionConfigValues {
  std::string Name;
  TSessionAddress Address;
  TSessionSettings Settings;  // AccessCodeTimeout in seconds, BufferSize in MB
};

struct TSessionConfigOptions {
  bool NewSession = false;    // Name is the proposed one
  bool LockIdentity = false;  // opened from a connected panel: name and connection stay
  bool ReadOnly = false;      // the sessions come from the machine-wide store
  std::string LoggedUser;     // shown when not empty
  std::string VersionText;
  // The single-sign-on component's status: 0 disconnected, 1 or 2 connecting,
  // 3 authenticated, anything else (or a failed query) not found.
  int SsoStatus = -1;
  // The test of an address: the title and text of the one message to show.
  std::function<std::pair<std::string, std::string>(const std::string& url)> Test;
  std::function<void(const std::string& title, const std::string& message)> ShowMessage;
};

class TSessionConfigDialog final : public TKofDialog {
 public:
  TSessionConfigDialog(const TSessionConfigValues& values, TSessionConfigOptions options);
  void Init() override;
  void Changed(const std::string& name) override;
  // The values as the user left them (meaningful after OK).
  TSessionConfigValues Values() const;

 protected:
  TModalResult Clicked(const std::string& name) override;

 private:
  TSessionConfigOptions FOptions;
  TSessionConfigValues FIn;
};

// Two's "Change Versioning Mode": the mode list preselected.
class TVerSysDialog final : public TKofDialog {
 public:
  explicit TVerSysDialog(TVersionType mode);
  TVersionType VerType() const;
};

// A number typed into an edit: FALLBACK when it is none.
int TypedNumber(std::string_view text, int fallback);

}  // namespace kof
