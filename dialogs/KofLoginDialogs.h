#pragma once
// The dialogs of connecting a session: the login of a known user, the login
// that asks for user name and domain too, the access code and the six-digit
// second factor. Each holds what the user typed until it is destroyed, which
// wipes it; the answers are copied out trimmed.
#include <string>
#include <string_view>

#include "dialogs/KofDialog.h"

namespace kof {

// The password of a known user. The address, domain and user name are shown,
// not edited; the constructor throws std::invalid_argument when one of them
// is empty, since this dialog cannot ask for it (the caller asks another way).
class TLoginDialog final : public TKofDialog {
 public:
  TLoginDialog(std::string caption, std::string_view url, std::string_view domain, std::string_view user);
  void Init() override;
  void Changed(const std::string& name) override;
  SecureString Password() const { return Trimmed(Control("edtKofPswd").Text); }
};

// User name, domain and password; an empty domain is answered as "SYSTEM".
class TLoginDialogExt final : public TKofDialog {
 public:
  TLoginDialogExt(std::string caption, std::string_view url, std::string_view domain, std::string_view user);
  void Init() override;
  void Changed(const std::string& name) override;
  SecureString Password() const { return Trimmed(Control("edtKofPswd").Text); }
  SecureString User() const { return Trimmed(Control("edtKofUsername").Text); }
  SecureString Domain() const;
};

class TAccessCodeDialog final : public TKofDialog {
 public:
  TAccessCodeDialog(std::string caption, std::string info, bool encryptionEnabled);
  void Init() override;
  void Changed(const std::string& name) override;
  SecureString Code() const { return Trimmed(Control("edtKofAccessCode").Text); }
};

// Six one-digit boxes; the sixth digit closes the dialog with OK. Six digits
// typed or pasted into the first box fill all six.
class TSecondFactorDialog final : public TKofDialog {
 public:
  TSecondFactorDialog();
  void Changed(const std::string& name) override;
  void KeyDown(const std::string& name, int key, bool modifiers) override;
  // The six digits once the dialog closed with OK, otherwise empty.
  const SecureString& Code() const { return FSecondFactor; }

  static constexpr int kDigits = 6;
  static constexpr int kKeyBackspace = 8;
  static constexpr int kKeyEscape = 27;

 private:
  static std::string Box(int number) { return "edtDigit" + std::to_string(number); }
  void SetDigit(int number, std::string_view digit);
  void Complete();
  bool FFilling = false;
  SecureString FSecondFactor;
};

}  // namespace kof
