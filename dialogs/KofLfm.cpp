#include "dialogs/KofLfm.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <sstream>

#include "support/KofText.h"

namespace kof {
namespace {

const char* ClassOf(const TDialogControl& c) {
  switch (c.Kind) {
    case TControlKind::Label: return c.Sunken ? "TPanel" : "TLabel";
    case TControlKind::Edit: return "TEdit";
    case TControlKind::Memo: return "TMemo";
    case TControlKind::Button: return "TButton";
    case TControlKind::CheckBox: return "TCheckBox";
    case TControlKind::ComboBox: return "TComboBox";
    case TControlKind::ListBox: return "TListBox";
    case TControlKind::GroupBox: return "TGroupBox";
    case TControlKind::RadioGroup: return "TRadioGroup";
    case TControlKind::ProgressBar: return "TProgressBar";
    case TControlKind::FileNameEdit: return "TFileNameEdit";
  }
  return "TLabel";
}

// The event property a kind's handler is assigned to.
// A list or combo box shows its items as written: the accelerator marks that
// the items share with radio buttons ("&Private") are taken out ("&&" stays "&").
std::vector<std::string> Unmarked(const std::vector<std::string>& items) {
  std::vector<std::string> out;
  for (const std::string& item : items) {
    std::string text;
    for (std::size_t i = 0; i < item.size(); ++i) {
      if (item[i] == '&' && i + 1 < item.size() && item[i + 1] == '&') ++i;
      else if (item[i] == '&') continue;
      text += item[i];
    }
    out.push_back(std::move(text));
  }
  return out;
}

std::string_view EventOf(TControlKind kind) {
  switch (kind) {
    case TControlKind::Button: return "OnClick";
    case TControlKind::Edit:
    case TControlKind::ComboBox:
    case TControlKind::CheckBox: return "OnChange";
    case TControlKind::ListBox: return "OnSelectionChange";
    default: return {};
  }
}

// Printable ASCII and UTF-8 stay inside quotes; control characters become #n.
std::string Quote(std::string_view text) {
  std::string out;
  bool open = false;
  for (unsigned char ch : text) {
    if (ch < 0x20 || ch == 0x7F) {
      if (open) out += '\'', open = false;
      out += '#' + std::to_string(ch);
      continue;
    }
    if (!open) out += '\'', open = true;
    if (ch == '\'') out += '\'';
    out += static_cast<char>(ch);
  }
  if (open) out += '\'';
  return out.empty() ? "''" : out;
}

class TWriter {
 public:
  void Begin(std::string_view name, std::string_view cls) {
    Line() << "object " << name << ": " << cls << '\n';
    ++FDepth;
  }
  void End() {
    --FDepth;
    Line() << "end\n";
  }
  void Int(std::string_view name, int value) { Line() << name << " = " << value << '\n'; }
  void Word(std::string_view name, std::string_view value) { Line() << name << " = " << value << '\n'; }
  void Bool(std::string_view name, bool value) { Word(name, value ? "True" : "False"); }
  void Text(std::string_view name, std::string_view value) { Line() << name << " = " << Quote(value) << '\n'; }
  void List(std::string_view name, const std::vector<std::string>& items) {
    Line() << name << " = (\n";
    ++FDepth;
    for (const auto& item : items) Line() << Quote(item) << '\n';
    --FDepth;
    Line() << ")\n";
  }
  std::string Str() const { return FOut.str(); }

 private:
  std::ostringstream& Line() {
    FOut << std::string(static_cast<std::size_t>(FDepth) * 2, ' ');
    return FOut;
  }
  std::ostringstream FOut;
  int FDepth = 0;
};

void WriteControl(TWriter& w, const TDialogControl& c, int& tabOrder) {
  w.Begin(c.Name, ClassOf(c));
  w.Int("Left", c.Left);
  w.Int("Height", c.Height);
  w.Int("Top", c.Top);
  w.Int("Width", c.Width);
  const bool hasCaption = c.Kind == TControlKind::Label || c.Kind == TControlKind::Button ||
                          c.Kind == TControlKind::CheckBox || c.Kind == TControlKind::GroupBox ||
                          c.Kind == TControlKind::RadioGroup;
  if (hasCaption) w.Text("Caption", c.Caption);
  if (!c.Hint.empty()) {
    w.Text("Hint", c.Hint);
    w.Bool("ShowHint", true);
  }
  if (!c.Enabled) w.Bool("Enabled", false);
  if (!c.Visible) w.Bool("Visible", false);
  switch (c.Kind) {
    case TControlKind::Label:
      if (c.Sunken) {
        w.Word("BevelOuter", "bvLowered");
      } else {
        w.Bool("AutoSize", false);
        w.Bool("WordWrap", true);
      }
      break;
    case TControlKind::Edit:
      if (c.Masked) {
        w.Word("EchoMode", "emPassword");
        w.Text("PasswordChar", "*");
      }
      if (c.ReadOnly) w.Bool("ReadOnly", true);
      if (c.MaxLength > 0) w.Int("MaxLength", c.MaxLength);
      if (!c.TextHint.empty()) w.Text("TextHint", c.TextHint);
      break;
    case TControlKind::Memo:
      if (c.ReadOnly) w.Bool("ReadOnly", true);
      w.Word("ScrollBars", "ssAutoVertical");
      break;
    case TControlKind::Button:
      if (c.Default) w.Bool("Default", true);
      if (c.Cancel) w.Bool("Cancel", true);
      break;
    case TControlKind::CheckBox:
      if (c.Checked) w.Bool("Checked", true);
      break;
    case TControlKind::ComboBox:
    case TControlKind::ListBox:
    case TControlKind::RadioGroup:
      if (c.Kind == TControlKind::ComboBox) w.Word("Style", "csDropDownList");
      if (!c.Items.empty()) w.List("Items.Strings", c.Kind == TControlKind::RadioGroup ? c.Items : Unmarked(c.Items));
      if (c.ItemIndex >= 0) w.Int("ItemIndex", c.ItemIndex);
      break;
    case TControlKind::ProgressBar:
      w.Int("Max", c.Max);
      w.Int("Position", c.Position);
      break;
    case TControlKind::FileNameEdit:
      if (c.ReadOnly) w.Bool("ReadOnly", true);
      if (!c.Caption.empty()) w.Text("DialogTitle", c.Caption);
      break;
    case TControlKind::GroupBox:
      break;
  }
  if (c.Kind != TControlKind::Label) w.Int("TabOrder", tabOrder++);
  const std::string_view event = EventOf(c.Kind);
  if (!event.empty()) w.Word(event, ChangeHandlerOf(c.Kind));
  if (c.Keys) w.Word("OnKeyDown", c.Kind == TControlKind::Edit ? "EditKeyDown" : "ButtonKeyDown");
}

void WriteChildren(TWriter& w, const TKofDialog& dialog, const std::string& parent) {
  int tabOrder = 0;
  for (const auto& c : dialog.Controls()) {
    if (c.Parent != parent) continue;
    WriteControl(w, c, tabOrder);
    if (c.Kind == TControlKind::GroupBox) WriteChildren(w, dialog, c.Name);
    w.End();
  }
}

// ---- parsing ----

class TReader {
 public:
  explicit TReader(std::string_view text) : FText(text) {}

  std::optional<TLfmObject> Object(std::string& error) {
    if (Word() != "object") return Fail(error, "expected 'object'");
    TLfmObject obj;
    obj.Name = Word();
    if (obj.Name.empty() || !Take(':')) return Fail(error, "expected 'name: class'");
    obj.Class = Word();
    if (obj.Class.empty()) return Fail(error, "missing class of " + obj.Name);
    for (;;) {
      SkipBlanks();
      const std::size_t mark = FPos;
      const std::string word = Word();
      if (word.empty()) return Fail(error, "unexpected text in " + obj.Name);
      if (word == "end") return obj;
      if (word == "object") {
        FPos = mark;
        auto child = Object(error);
        if (!child) return std::nullopt;
        obj.Children.push_back(std::move(*child));
        continue;
      }
      TLfmProperty prop;
      prop.Name = word;
      if (!Take('=')) return Fail(error, "expected '=' after " + word);
      if (!Value(prop)) return Fail(error, "bad value of " + obj.Name + "." + word);
      obj.Properties.push_back(std::move(prop));
    }
  }

  bool AtEnd() {
    SkipBlanks();
    return FPos >= FText.size();
  }

 private:
  static std::optional<TLfmObject> Fail(std::string& error, std::string why) {
    error = std::move(why);
    return std::nullopt;
  }

  void SkipBlanks() {
    while (FPos < FText.size() && std::isspace(static_cast<unsigned char>(FText[FPos]))) ++FPos;
  }

  bool Take(char c) {
    SkipBlanks();
    if (FPos < FText.size() && FText[FPos] == c) {
      ++FPos;
      return true;
    }
    return false;
  }

  // A name, dotted name, word or number.
  std::string Word() {
    SkipBlanks();
    const std::size_t start = FPos;
    while (FPos < FText.size()) {
      const unsigned char c = static_cast<unsigned char>(FText[FPos]);
      if (!std::isalnum(c) && c != '_' && c != '.' && c != '-') break;
      ++FPos;
    }
    return std::string(FText.substr(start, FPos - start));
  }

  // 'text'#13'more' + 'continued'. Parts join when they touch or around a
  // '+'; a blank alone ends the string (items of a list stand on their own lines).
  bool String(std::string& out) {
    bool any = false;
    for (;;) {
      if (!any) {
        SkipBlanks();
      } else if (FPos < FText.size() && FText[FPos] != '\'' && FText[FPos] != '#') {
        const std::size_t end = FPos;
        SkipBlanks();
        if (FPos >= FText.size() || FText[FPos] != '+') {
          FPos = end;
          return true;
        }
        ++FPos;
        SkipBlanks();
      }
      if (FPos >= FText.size()) return any;
      const char c = FText[FPos];
      if (c == '\'') {
        ++FPos;
        for (;;) {
          if (FPos >= FText.size()) return false;
          if (FText[FPos] == '\'') {
            if (FPos + 1 < FText.size() && FText[FPos + 1] == '\'') {
              out += '\'';
              FPos += 2;
              continue;
            }
            ++FPos;
            break;
          }
          if (FText[FPos] == '\n') return false;
          out += FText[FPos++];
        }
        any = true;
      } else if (c == '#') {
        ++FPos;
        const std::string n = Word();
        // A longer number would make stoi throw; what the plugin writes stays below 128.
        if (n.empty() || n.size() > 3 ||
            !std::all_of(n.begin(), n.end(), [](char d) { return std::isdigit(static_cast<unsigned char>(d)); }))
          return false;
        const int code = std::stoi(n);
        if (code > 127) return false;  // the plugin writes UTF-8 inside quotes
        out += static_cast<char>(code);
        any = true;
      } else {
        return any;
      }
    }
  }

  bool Value(TLfmProperty& prop) {
    SkipBlanks();
    if (FPos >= FText.size()) return false;
    const char c = FText[FPos];
    if (c == '\'' || c == '#') {
      prop.IsString = true;
      return String(prop.Value);
    }
    if (c == '(') {
      ++FPos;
      prop.IsList = true;
      for (;;) {
        if (Take(')')) return true;
        std::string item;
        if (!String(item)) return false;
        prop.List.push_back(std::move(item));
      }
    }
    prop.Value = Word();
    return !prop.Value.empty();
  }

  std::string_view FText;
  std::size_t FPos = 0;
};

// ---- what the host accepts ----

const std::set<std::string, std::less<>> kClasses = {
    "TButton", "TBitBtn",    "TFileNameEdit", "TComboBox",  "TListBox",     "TCheckBox",
    "TGroupBox", "TLabel",   "TPanel",        "TEdit",      "TMemo",        "TImage",
    "TTabSheet", "TScrollBox", "TRadioGroup", "TPageControl", "TProgressBar", "TDividerBevel"};

// Handlers by the event they serve. The host's handler casts its sender to the
// class named here where there is one; any other sender raises.
struct THandler {
  std::string_view Name;
  std::string_view Event;
  std::string_view SenderClass;  // empty: any control
};
constexpr THandler kHandlers[] = {
    {"DialogBoxShow", "OnShow", "TDialogBox"},
    {"ButtonClick", "OnClick", ""},
    {"ButtonEnter", "OnEnter", ""},
    {"ButtonExit", "OnExit", ""},
    {"ButtonKeyDown", "OnKeyDown", ""},
    {"ButtonKeyUp", "OnKeyUp", ""},
    {"ComboBoxClick", "OnClick", "TComboBox"},
    {"ComboBoxDblClick", "OnDblClick", "TComboBox"},
    {"ComboBoxChange", "OnChange", "TComboBox"},
    {"ComboBoxEnter", "OnEnter", ""},
    {"ComboBoxExit", "OnExit", ""},
    {"ComboBoxKeyDown", "OnKeyDown", ""},
    {"ComboBoxKeyUp", "OnKeyUp", ""},
    {"EditClick", "OnClick", ""},
    {"EditDblClick", "OnDblClick", ""},
    {"EditChange", "OnChange", "TEdit"},
    {"EditEnter", "OnEnter", ""},
    {"EditExit", "OnExit", ""},
    {"EditKeyDown", "OnKeyDown", ""},
    {"EditKeyUp", "OnKeyUp", ""},
    {"ListBoxClick", "OnClick", "TListBox"},
    {"ListBoxDblClick", "OnDblClick", "TListBox"},
    {"ListBoxSelectionChange", "OnSelectionChange", "TListBox"},
    {"ListBoxEnter", "OnEnter", ""},
    {"ListBoxExit", "OnExit", ""},
    {"ListBoxKeyDown", "OnKeyDown", ""},
    {"ListBoxKeyUp", "OnKeyUp", ""},
    {"CheckBoxChange", "OnChange", "TCheckBox"},
};

// The properties each class has, of those a form of the plugin may set.
// Reading a property the class lacks raises in the host as well.
const std::set<std::string, std::less<>>& PropertiesOf(std::string_view cls) {
  static const std::set<std::string, std::less<>> kForm = {
      "Left", "Top", "Width", "Height", "ClientWidth", "ClientHeight", "Caption", "Hint", "ShowHint",
      "BorderStyle", "Position", "OnShow", "KeyPreview", "FormStyle"};
  static const std::set<std::string, std::less<>> kLabel = {
      "Left", "Top", "Width", "Height", "Caption", "Hint", "ShowHint", "Enabled", "Visible", "AutoSize",
      "WordWrap", "Alignment", "Layout", "OnClick", "OnDblClick"};
  static const std::set<std::string, std::less<>> kPanel = {
      "Left", "Top", "Width", "Height", "Caption", "Hint", "ShowHint", "Enabled", "Visible", "BevelOuter",
      "BevelInner", "Alignment", "TabOrder", "OnClick", "OnDblClick", "OnEnter", "OnExit"};
  static const std::set<std::string, std::less<>> kEdit = {
      "Left", "Top", "Width", "Height", "Hint", "ShowHint", "Enabled", "Visible", "TabOrder", "EchoMode",
      "PasswordChar", "ReadOnly", "MaxLength", "TextHint", "Alignment", "Text", "OnChange", "OnClick", "OnDblClick",
      "OnEnter", "OnExit", "OnKeyDown", "OnKeyUp"};
  static const std::set<std::string, std::less<>> kMemo = {
      "Left", "Top", "Width", "Height", "Hint", "ShowHint", "Enabled", "Visible", "TabOrder", "ReadOnly",
      "ScrollBars", "WordWrap", "OnChange", "OnClick", "OnDblClick", "OnEnter", "OnExit", "OnKeyDown", "OnKeyUp"};
  static const std::set<std::string, std::less<>> kButton = {
      "Left", "Top", "Width", "Height", "Caption", "Hint", "ShowHint", "Enabled", "Visible", "TabOrder",
      "Default", "Cancel", "ModalResult", "OnClick", "OnEnter", "OnExit", "OnKeyDown", "OnKeyUp"};
  static const std::set<std::string, std::less<>> kCheckBox = {
      "Left", "Top", "Width", "Height", "Caption", "Hint", "ShowHint", "Enabled", "Visible", "TabOrder",
      "Checked", "State", "OnChange", "OnClick", "OnEnter", "OnExit", "OnKeyDown", "OnKeyUp"};
  static const std::set<std::string, std::less<>> kList = {
      "Left", "Top", "Width", "Height", "Hint", "ShowHint", "Enabled", "Visible", "TabOrder", "Items.Strings",
      "ItemIndex", "Style", "OnChange", "OnSelectionChange", "OnClick", "OnDblClick", "OnEnter", "OnExit",
      "OnKeyDown", "OnKeyUp"};
  static const std::set<std::string, std::less<>> kGroup = {
      "Left", "Top", "Width", "Height", "Caption", "Hint", "ShowHint", "Enabled", "Visible", "TabOrder",
      "Items.Strings", "ItemIndex", "Columns", "OnClick", "OnEnter", "OnExit"};
  static const std::set<std::string, std::less<>> kProgress = {
      "Left", "Top", "Width", "Height", "Hint", "ShowHint", "Enabled", "Visible", "TabOrder", "Min", "Max",
      "Position", "Step"};
  static const std::set<std::string, std::less<>> kFileNameEdit = {
      "Left", "Top", "Width", "Height", "Hint", "ShowHint", "Enabled", "Visible", "TabOrder", "ReadOnly",
      "DialogTitle", "MaxLength", "OnClick", "OnDblClick", "OnEnter", "OnExit", "OnKeyDown", "OnKeyUp"};
  static const std::set<std::string, std::less<>> kNone;
  if (cls == "TDialogBox") return kForm;
  if (cls == "TLabel") return kLabel;
  if (cls == "TPanel") return kPanel;
  if (cls == "TEdit") return kEdit;
  if (cls == "TMemo") return kMemo;
  if (cls == "TButton" || cls == "TBitBtn") return kButton;
  if (cls == "TCheckBox") return kCheckBox;
  if (cls == "TComboBox" || cls == "TListBox") return kList;
  if (cls == "TGroupBox" || cls == "TRadioGroup") return kGroup;
  if (cls == "TProgressBar") return kProgress;
  if (cls == "TFileNameEdit") return kFileNameEdit;
  return kNone;
}

bool IsIdentifier(std::string_view name) {
  if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0]))) return false;
  return std::all_of(name.begin(), name.end(),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; });
}

std::string CheckObject(const TLfmObject& obj, std::set<std::string>& names) {
  const bool root = obj.Class == "TDialogBox";
  if (!root && !kClasses.count(obj.Class)) return obj.Name + ": class " + obj.Class + " is not offered by the host";
  if (!IsIdentifier(obj.Name)) return "bad component name '" + obj.Name + "'";
  if (!names.insert(LowerCase(obj.Name)).second) return "component named twice: " + obj.Name;
  const auto& allowed = PropertiesOf(obj.Class);
  for (const auto& p : obj.Properties) {
    if (!allowed.count(p.Name)) return obj.Name + ": " + obj.Class + " has no property " + p.Name;
    if (p.Name.rfind("On", 0) != 0) continue;
    const auto h = std::find_if(std::begin(kHandlers), std::end(kHandlers),
                                [&](const THandler& x) { return x.Name == p.Value; });
    if (p.IsString || p.IsList || h == std::end(kHandlers))
      return obj.Name + "." + p.Name + ": " + p.Value + " is not a handler of the host's dialog";
    if (h->Event != p.Name) return obj.Name + "." + p.Name + ": " + p.Value + " serves " + std::string(h->Event);
    if (!h->SenderClass.empty() && h->SenderClass != obj.Class)
      return obj.Name + "." + p.Name + ": " + p.Value + " needs a " + std::string(h->SenderClass);
  }
  for (const auto& child : obj.Children) {
    if (child.Class == "TDialogBox") return "a form inside " + obj.Name;
    const std::string why = CheckObject(child, names);
    if (!why.empty()) return why;
  }
  return {};
}

}  // namespace

const TLfmProperty* TLfmObject::Find(std::string_view property) const {
  for (const auto& p : Properties)
    if (p.Name == property) return &p;
  return nullptr;
}

std::string_view ChangeHandlerOf(TControlKind kind) {
  switch (kind) {
    case TControlKind::Button: return "ButtonClick";
    case TControlKind::Edit: return "EditChange";
    case TControlKind::ComboBox: return "ComboBoxChange";
    case TControlKind::CheckBox: return "CheckBoxChange";
    case TControlKind::ListBox: return "ListBoxSelectionChange";
    default: return {};
  }
}

std::string RenderLfm(const TKofDialog& dialog) {
  TWriter w;
  w.Begin("DialogBox", "TDialogBox");
  w.Int("Left", 0);
  w.Int("Height", dialog.Height());
  w.Int("Top", 0);
  w.Int("Width", dialog.Width());
  w.Word("BorderStyle", "bsDialog");
  w.Text("Caption", dialog.Caption());
  w.Int("ClientHeight", dialog.Height());
  w.Int("ClientWidth", dialog.Width());
  if (!dialog.Hint().empty()) w.Text("Hint", dialog.Hint());
  w.Word("Position", "poOwnerFormCenter");
  w.Word("OnShow", "DialogBoxShow");
  WriteChildren(w, dialog, {});
  w.End();
  return w.Str();
}

std::optional<TLfmObject> ParseLfm(std::string_view text, std::string& error) {
  TReader reader(text);
  auto root = reader.Object(error);
  if (root && !reader.AtEnd()) {
    error = "text after the form's end";
    return std::nullopt;
  }
  return root;
}

std::string ValidateLfm(const TLfmObject& root) {
  if (root.Name != "DialogBox" || root.Class != "TDialogBox") return "the form must be 'object DialogBox: TDialogBox'";
  std::set<std::string> names;
  return CheckObject(root, names);
}

std::string ValidateLfm(std::string_view text) {
  std::string error;
  const auto root = ParseLfm(text, error);
  return root ? ValidateLfm(*root) : "unreadable form: " + error;
}

}  // namespace kof
