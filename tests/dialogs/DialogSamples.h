#pragma once
// One of every dialog the plugin shows, filled as a caller would fill it, so
// that each form is checked against what the host accepts.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dialogs/KofDialog.h"
#include "dialogs/KofLoginDialogs.h"

namespace kof::test {

struct TDialogSample {
  std::string Name;
  std::function<std::unique_ptr<TKofDialog>()> Make;
};

inline std::vector<TDialogSample> DialogSamples() {
  return {
      {"login", [] { return std::make_unique<TLoginDialog>("Login to Demo", "https://vault.example", "SYSTEM", "ann"); }},
      {"extended login", [] { return std::make_unique<TLoginDialogExt>("", "https://vault.example", "", ""); }},
      {"access code", [] { return std::make_unique<TAccessCodeDialog>("Demo - Access Code", "Viewing 'it's' #1\r\nnext", true); }},
      {"second factor", [] { return std::make_unique<TSecondFactorDialog>(); }},
  };
}

}  // namespace kof::test
