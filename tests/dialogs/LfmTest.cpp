#include "dialogs/KofLfm.h"

#include <gtest/gtest.h>

#include <map>

#include "tests/dialogs/DialogSamples.h"

namespace kof {
namespace {

TEST(Lfm, EveryDialogRendersToAFormTheHostAccepts) {
  for (const auto& sample : test::DialogSamples()) {
    SCOPED_TRACE(sample.Name);
    const auto dialog = sample.Make();
    const std::string lfm = RenderLfm(*dialog);
    EXPECT_EQ(ValidateLfm(lfm), "") << lfm;
    std::string error;
    const auto root = ParseLfm(lfm, error);
    ASSERT_TRUE(root) << error;
    // Every control of the dialog is in the form under its own name.
    std::vector<std::string> names;
    std::map<std::string, const TLfmObject*> objects;
    std::function<void(const TLfmObject&)> collect = [&](const TLfmObject& o) {
      for (const auto& c : o.Children) names.push_back(c.Name), objects[c.Name] = &c, collect(c);
    };
    collect(*root);
    for (const auto& c : dialog->Controls()) {
      ASSERT_TRUE(objects.count(c.Name)) << c.Name;
      // The items of a list come back one by one, as the host reads them; a
      // list or combo box would show accelerator marks as they are.
      if (const TLfmProperty* items = objects[c.Name]->Find("Items.Strings")) {
        ASSERT_EQ(items->List.size(), c.Items.size()) << c.Name;
        for (std::size_t i = 0; i < c.Items.size(); ++i) {
          std::string expected = c.Items[i];
          if (c.Kind != TControlKind::RadioGroup) std::erase(expected, '&');
          EXPECT_EQ(items->List[i], expected) << c.Name;
        }
      }
    }
    EXPECT_EQ(names.size(), dialog->Controls().size());
  }
}

TEST(Lfm, EveryComboBoxShowsItsLongestItemWhole) {
  constexpr int kDropButton = 30;
  for (const auto& sample : test::DialogSamples()) {
    const auto dialog = sample.Make();
    for (const auto& c : dialog->Controls()) {
      if (c.Kind != TControlKind::ComboBox) continue;
      for (const auto& item : c.Items)
        EXPECT_GE(c.Width, EstimatedTextWidth(item) + kDropButton) << sample.Name << ": " << c.Name << " '" << item << "'";
      EXPECT_LE(c.Left + c.Width, dialog->Width()) << sample.Name << ": " << c.Name;
    }
  }
}

// The host takes the last default and the last cancel button it reads: a
// hidden one there would leave Enter or Escape doing nothing.
TEST(Lfm, EnterAndEscapePressAButtonThatShows) {
  for (const auto& sample : test::DialogSamples()) {
    const auto dialog = sample.Make();
    int defaults = 0, cancels = 0;
    for (const auto& c : dialog->Controls()) {
      defaults += c.Default, cancels += c.Cancel;
      EXPECT_TRUE(c.Visible || !(c.Default || c.Cancel)) << sample.Name << ": " << c.Name;
    }
    EXPECT_LE(defaults, 1) << sample.Name;
    EXPECT_LE(cancels, 1) << sample.Name;
  }
}

TEST(Lfm, ListItemsLoseTheirAcceleratorMarks) {
  TKofDialog dialog("Marks", 300, 200);
  TDialogControl list;
  list.Name = "cbxMarks";
  list.Kind = TControlKind::ComboBox;
  list.Items = {"  &Private", "Salt && pepper", "plain"};
  dialog.Add(list);
  std::string error;
  const auto root = ParseLfm(RenderLfm(dialog), error);
  ASSERT_TRUE(root) << error;
  EXPECT_EQ(root->Children.at(0).Find("Items.Strings")->List, (std::vector<std::string>{"  Private", "Salt & pepper", "plain"}));
}

TEST(Lfm, NoTextOfAnEditIsWrittenIntoTheForm) {
  TLoginDialog dialog("Login", "https://vault.example", "SYSTEM", "ann");
  dialog.SetValue("edtKofPswd", "hunter2-secret");
  const std::string lfm = RenderLfm(dialog);
  EXPECT_EQ(lfm.find("hunter2-secret"), std::string::npos);
  EXPECT_NE(lfm.find("EchoMode = emPassword"), std::string::npos);
}

TEST(Lfm, CaptionsSurviveQuotesControlCharactersAndUtf8) {
  TAccessCodeDialog dialog("Účty 'a' \"b\"", "line one\r\nline two", false);
  std::string error;
  const auto root = ParseLfm(RenderLfm(dialog), error);
  ASSERT_TRUE(root) << error;
  EXPECT_EQ(root->Find("Caption")->Value, "Účty 'a' \"b\"");
  const auto info = std::find_if(root->Children.begin(), root->Children.end(), [](const TLfmObject& o) { return o.Name == "Info"; });
  ASSERT_NE(info, root->Children.end());
  EXPECT_EQ(info->Find("Caption")->Value, "line one\r\nline two");
}

// Each form differs from an accepted one in one thing the host refuses.
TEST(Lfm, TheValidatorRefusesWhatTheHostWouldRaiseOn) {
  auto form = [](const std::string& inner) {
    return "object DialogBox: TDialogBox\n  Caption = 'x'\n  OnShow = DialogBoxShow\n" + inner + "end\n";
  };
  ASSERT_EQ(ValidateLfm(form("  object b: TButton\n    OnClick = ButtonClick\n  end\n")), "");
  const struct {
    const char* Name;
    std::string Text;
    const char* Says;
  } cases[] = {
      {"timer", form("  object t: TTimer\n  end\n"), "class TTimer"},
      {"radio button", form("  object r: TRadioButton\n  end\n"), "class TRadioButton"},
      {"unknown handler", form("  object b: TButton\n    OnClick = ButtonPressed\n  end\n"), "not a handler"},
      {"handler on another event", form("  object b: TButton\n    OnClick = ButtonEnter\n  end\n"), "serves OnEnter"},
      {"edit handler on a memo", form("  object m: TMemo\n    OnChange = EditChange\n  end\n"), "needs a TEdit"},
      {"list handler on a combo", form("  object c: TComboBox\n    OnClick = ListBoxClick\n  end\n"), "needs a TListBox"},
      {"timer handler", form("  object b: TButton\n    OnClick = TimerTimer\n  end\n"), "not a handler"},
      {"property the class lacks", form("  object l: TLabel\n    TabOrder = 1\n  end\n"), "no property TabOrder"},
      {"handler as a string", form("  object b: TButton\n    OnClick = 'ButtonClick'\n  end\n"), "not a handler"},
      {"name twice", form("  object b: TButton\n  end\n  object B: TButton\n  end\n"), "named twice"},
      {"bad name", form("  object 1b: TButton\n  end\n"), "bad component name"},
      {"other root", "object Form1: TForm\nend\n", "must be"},
      {"unterminated", "object DialogBox: TDialogBox\n  Caption = 'x\n", "unreadable"},
      {"character number too large", "object DialogBox: TDialogBox\n  Caption = #99999999999\nend\n", "unreadable"},
      {"text after the end", form("") + "object X: TButton\nend\n", "unreadable"},
  };
  for (const auto& c : cases) {
    const std::string why = ValidateLfm(c.Text);
    EXPECT_NE(why.find(c.Says), std::string::npos) << c.Name << ": " << why;
  }
}

}  // namespace
}  // namespace kof
