#pragma once
// The small dialogs: the password of a file or certificate being stored, the
// kind and type of a new safe box, the result of a copy or move, the path
// mapping rules of external files, the tags of a record, and the notice of a
// single-sign-on login.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "dialogs/KofDialog.h"

namespace kof {

// "Set File Password" or "Set Certificate Password". The password is answered as typed.
class TSetPasswordDialog final : public TKofDialog {
 public:
  TSetPasswordDialog(bool certificate, std::string_view fileName, std::string_view initialPassword);
  void Changed(const std::string& name) override;
  const SecureString& Password() const;

 protected:
  TModalResult Clicked(const std::string& name) override;
};

// Kind (0 safe box, 1 group) and type of a new safe box; locked: both fixed.
class TNewSafeBoxDialog final : public TKofDialog {
 public:
  TNewSafeBoxDialog(std::string_view name, bool locked);
  int Kind() const { return Control("rgKindOfSafeBox").ItemIndex; }
  bool Private() const { return Control("rgTypeOfSafeBox").ItemIndex == 0; }
};

// What the copy result dialog shows; the details text comes from the caller,
// by the grouping asked for.
struct TCopyResultContent {
  enum TForm { Copy, Move, Rename, DeleteExternal } Form = Copy;
  int CreatedBoxes = 0, FailedBoxes = 0;
  int DoneRecords = 0, FailedRecords = 0;
  std::function<std::string(bool grouping)> Details;
  // The user toggled the view: the caller keeps the new grouping.
  std::function<void(bool grouping)> GroupingChanged;
  // Empty, or why the text could not go on the clipboard.
  std::function<std::string(const std::string& text)> CopyText;
};

class TCopyResultDialog final : public TKofDialog {
 public:
  TCopyResultDialog(TCopyResultContent content, bool grouping);

 protected:
  TModalResult Clicked(const std::string& name) override;

 private:
  TCopyResultContent FContent;
  bool FGrouping;
};

struct TMappingRule {
  std::string Pattern, Replacement, Expanded, Info;
};

// The rules, one line each in a read-only memo (the host offers no grid).
class TMappingPathsDialog final : public TKofDialog {
 public:
  // Refresh reloads the rules from their files.
  TMappingPathsDialog(std::vector<TMappingRule> rules, bool displayEvaluated,
                      std::function<std::vector<TMappingRule>()> refresh);
  void Changed(const std::string& name) override;
  bool DisplayEvaluated() const { return Control("chbDisplayEvaluated").Checked; }

 protected:
  TModalResult Clicked(const std::string& name) override;

 private:
  void Fill();
  std::vector<TMappingRule> FRules;
  std::function<std::vector<TMappingRule>()> FRefresh;
};

// The tags of a record, chosen from its safe box's tags. The host offers no
// grid: a check box per tag stands for a row's mark, and one above them for
// the header's mark that sets every row.
class TSelectTagsDialog final : public TKofDialog {
 public:
  // Tags of CHOSEN that the box does not offer are dropped on OK.
  TSelectTagsDialog(std::vector<std::string> tags, const std::vector<std::string>& chosen);
  void Changed(const std::string& name) override;
  // The chosen tags in the order they are offered.
  std::vector<std::string> Chosen() const;
  // "chosen/all tags"
  std::string CounterText() const;
  static std::string RowName(std::size_t index) { return "chbTag" + std::to_string(index + 1); }

 private:
  std::vector<std::string> FTags;
};

// "User NAME authenticated by Gatewarden SSO" (without NAME when it is empty).
std::string LoggedUserText(std::string_view user);

// The host has no timer, so this notice cannot close itself after a second:
// it waits for Close.
class TLoggedUserDialog final : public TKofDialog {
 public:
  explicit TLoggedUserDialog(std::string_view user);
};

}  // namespace kof
