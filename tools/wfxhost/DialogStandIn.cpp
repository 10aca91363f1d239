#include "tools/wfxhost/DialogStandIn.h"

#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "dialogs/KofLfm.h"
#include "support/KofText.h"

namespace wfxhost {

using namespace wfx;

namespace {

DialogStandIn* gStandIn = nullptr;

void CopyPath(char (&to)[kExtMaxPath], const std::string& from) {
  std::string dir = from;
  if (dir.empty() || dir.back() != '/') dir += '/';
  std::strncpy(to, dir.c_str(), kExtMaxPath - 1);
  to[kExtMaxPath - 1] = '\0';
}

std::string Prop(const kof::TLfmObject& o, const char* name, std::string fallback = {}) {
  const kof::TLfmProperty* p = o.Find(name);
  return p ? p->Value : fallback;
}

void Collect(const kof::TLfmObject& o, std::vector<FormItem>& items) {
  FormItem it;
  it.Name = o.Name;
  it.Class = o.Class;
  it.Caption = Prop(o, "Caption");
  it.Text = Prop(o, "Text");
  it.Hint = Prop(o, "Hint");
  it.Enabled = Prop(o, "Enabled", "True") == "True";
  it.Visible = Prop(o, "Visible", "True") == "True";
  it.ReadOnly = Prop(o, "ReadOnly", "False") == "True";
  it.Checked = Prop(o, "Checked", "False") == "True";
  it.Masked = Prop(o, "EchoMode") == "emPassword";
  it.MaxLength = std::stoi(Prop(o, "MaxLength", "0"));
  it.ItemIndex = std::stoi(Prop(o, "ItemIndex", "-1"));
  if (const auto* items_ = o.Find("Items.Strings")) it.Items = items_->List;
  for (const auto& p : o.Properties)
    if (p.Name.rfind("On", 0) == 0) it.Handlers[p.Name] = p.Value;
  items.push_back(std::move(it));
  for (const auto& c : o.Children) Collect(c, items);
}

std::vector<std::string> Split(const std::string& script) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : script) {
    if (c == ';') {
      out.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  out.push_back(cur);
  return out;
}

}  // namespace

// The functions of the record: plain C entry points onto the one stand-in.
struct DialogCalls {
  static BOOL InputBox(char*, char*, BOOL, char*, int) { return kFalse; }
  static int32_t MessageBox(char*, char*, int32_t) { return 2; }
  static BOOL DialogBoxLFM(void* data, uint32_t size, tDlgProc proc) {
    if (!gStandIn || !data) return kFalse;
    return gStandIn->Run(std::string(static_cast<const char*>(data), size), proc);
  }
  static BOOL DialogBoxLRS(void*, uint32_t, tDlgProc) { return kFalse; }
  static BOOL DialogBoxLFMFile(char*, tDlgProc) { return kFalse; }
  static intptr_t SendDlgMsg(uintptr_t, char* item, intptr_t msg, intptr_t wParam, intptr_t lParam) {
    return gStandIn ? gStandIn->Message(item, msg, wParam, lParam) : -1;
  }
};

const FormItem* ShownDialog::Find(const std::string& name) const {
  for (const auto& it : Items)
    if (it.Name == name) return &it;
  return nullptr;
}

void DialogStandIn::LoadFile(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read dialog script " + path);
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && line[0] != '#') Push(line);
}

void DialogStandIn::Fill(tExtensionStartupInfo& info, const std::string& pluginDir, const std::string& configDir) {
  std::memset(&info, 0, sizeof info);
  info.StructSize = sizeof info;
  CopyPath(info.PluginDir, pluginDir);
  CopyPath(info.PluginConfDir, configDir);
  info.InputBox = &DialogCalls::InputBox;
  info.MessageBox = &DialogCalls::MessageBox;
  info.DialogBoxLFM = &DialogCalls::DialogBoxLFM;
  info.DialogBoxLRS = &DialogCalls::DialogBoxLRS;
  info.DialogBoxLFMFile = &DialogCalls::DialogBoxLFMFile;
  info.SendDlgMsg = &DialogCalls::SendDlgMsg;
  gStandIn = this;
}

BOOL DialogStandIn::Run(const std::string& lfm, tDlgProc proc) {
  std::string error;
  const auto root = kof::ParseLfm(lfm, error);
  const std::string refused = root ? kof::ValidateLfm(*root) : "unreadable form: " + error;
  if (!refused.empty()) {
    // The file manager raises here, through the plugin's frames.
    FFaults.push_back("form refused: " + refused);
    return kFalse;
  }
  ShownDialog shown;
  Collect(*root, shown.Items);
  shown.Caption = shown.Items.front().Caption;
  // A dialog opened from a callback stacks on the one on screen.
  ShownDialog* outerDialog = FCurrent;
  const tDlgProc outerProc = FProc;
  const bool outerClosed = FClosed;
  FCurrent = &shown;
  FProc = proc;
  FClosed = false;
  if (shown.Items.front().Handlers.count("OnShow"))
    proc(reinterpret_cast<uintptr_t>(this), shown.Items.front().Name.data(), DN_INITDIALOG, 0, 0);
  std::optional<std::string> source;
  if (FScripts.empty() && FSource) source = FSource(shown);
  std::string script;
  const bool scripted = !FScripts.empty() || source;
  if (source) {
    script = *source;
  } else if (scripted) {
    script = FScripts.front();
    FScripts.pop_front();
  }
  if (!scripted) FFaults.push_back("no script for the dialog '" + shown.Caption + "'");
  for (const auto& action : Split(script)) {
    if (FClosed) break;
    Act(kof::Trim(action));
  }
  if (!FClosed) shown.Result = 2;
  FCurrent = outerDialog;
  FProc = outerProc;
  FClosed = outerClosed;
  if (FObserver) FObserver(shown);
  const BOOL ok = shown.Result == 1 ? kTrue : kFalse;
  FShown.push_back(std::move(shown));
  return ok;
}

FormItem* DialogStandIn::Item(const char* name) {
  if (!FCurrent) return nullptr;
  if (!name) return &FCurrent->Items.front();
  for (auto& it : FCurrent->Items)
    if (it.Name == name) return &it;
  return nullptr;
}

void DialogStandIn::Notify(FormItem& item, const std::string& event, intptr_t msg, intptr_t wParam) {
  if (!item.Handlers.count(event)) return;
  std::string name = item.Name;
  FProc(reinterpret_cast<uintptr_t>(this), name.data(), msg, wParam, 0);
}

void DialogStandIn::Act(const std::string& action) {
  if (action.empty()) return;
  std::istringstream in(action);
  std::string verb, name;
  in >> verb >> name;
  std::string rest;
  std::getline(in, rest);
  if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
  if (verb == "cancel") {
    FCurrent->Result = 2;
    FClosed = true;
    return;
  }
  FormItem* item = Item(name.c_str());
  if (!item || name.empty()) {
    FFaults.push_back("script names no control of '" + FCurrent->Caption + "': " + action);
    return;
  }
  // What a user cannot reach stays as it is, and the script is wrong.
  if (!item->Visible || !item->Enabled || (item->ReadOnly && verb == "set")) {
    FFaults.push_back("'" + name + "' cannot be used now: " + action);
    return;
  }
  FCurrent->Focus = name;
  if (verb == "set") {
    item->Text = item->MaxLength > 0 ? rest.substr(0, static_cast<std::size_t>(item->MaxLength)) : rest;
    std::string text = item->Text;
    Notify(*item, "OnChange", DN_CHANGE, reinterpret_cast<intptr_t>(text.c_str()));
  } else if (verb == "check") {
    item->Checked = rest == "1";
    Notify(*item, "OnChange", DN_CHANGE, item->Checked ? 1 : 0);
  } else if (verb == "choose") {
    const int index = std::stoi(rest);
    if (index < -1 || index >= static_cast<int>(item->Items.size())) {
      FFaults.push_back("no item " + rest + " in '" + name + "'");
      return;
    }
    item->ItemIndex = index;
    if (item->Class == "TComboBox") item->Text = index >= 0 ? item->Items[static_cast<std::size_t>(index)] : "";
    Notify(*item, item->Class == "TListBox" ? "OnSelectionChange" : "OnChange", DN_CHANGE, index);
  } else if (verb == "key") {
    uint16_t key = static_cast<uint16_t>(std::stoi(rest));
    Notify(*item, "OnKeyDown", DN_KEYDOWN, reinterpret_cast<intptr_t>(&key));
  } else if (verb == "click") {
    Notify(*item, "OnClick", DN_CLICK, 0);
  } else {
    FFaults.push_back("unknown action: " + action);
  }
}

intptr_t DialogStandIn::Message(const char* name, intptr_t msg, intptr_t wParam, intptr_t) {
  FormItem* item = Item(name);
  if (!item) {
    FFaults.push_back(std::string("message ") + std::to_string(msg) + " for an unknown item " + (name ? name : ""));
    return -1;
  }
  const bool textual =
      item->Class == "TEdit" || item->Class == "TMemo" || item->Class == "TComboBox" || item->Class == "TFileNameEdit";
  switch (msg) {
    case DM_CLOSE:
      FClosed = true;
      if (wParam != -1) FCurrent->Result = static_cast<int>(wParam);
      return 0;
    case DM_ENABLE: {
      const bool was = item->Enabled;
      if (wParam != -1) item->Enabled = wParam != 0;
      return was;
    }
    case DM_SHOWITEM: {
      const bool was = item->Visible;
      if (wParam != -1) item->Visible = wParam != 0;
      return was;
    }
    case DM_GETTEXT:
      FTextBuffer = textual ? item->Text : item->Caption;
      return reinterpret_cast<intptr_t>(FTextBuffer.c_str());
    case DM_SETTEXT: {
      const std::string text = wParam ? reinterpret_cast<const char*>(wParam) : "";
      if (!textual) {
        item->Caption = text;
        return 0;
      }
      if (item->Text == text) return 0;
      item->Text = text;
      // As the toolkit does, a changed text reports a change.
      std::string copy = text;
      Notify(*item, "OnChange", DN_CHANGE, reinterpret_cast<intptr_t>(copy.c_str()));
      return 0;
    }
    case DM_SETFOCUS:
      if (item->Visible) FCurrent->Focus = item->Name;
      return 0;
    case DM_GETCHECK: return item->Checked ? 1 : 0;
    case DM_SETCHECK: {
      const bool was = item->Checked;
      item->Checked = wParam != 0;
      return was;
    }
    case DM_LISTGETITEMINDEX: return item->ItemIndex;
    case DM_LISTSETITEMINDEX: item->ItemIndex = static_cast<int>(wParam); return 0;
    case DM_LISTADDSTR:
      item->Items.emplace_back(wParam ? reinterpret_cast<const char*>(wParam) : "");
      return static_cast<intptr_t>(item->Items.size()) - 1;
    case DM_REDRAW: return 0;
    default:
      FFaults.push_back("message " + std::to_string(msg) + " is not offered by the stand-in");
      return 0;
  }
}

std::string DialogStandIn::Format(const ShownDialog& d) {
  std::string out = "dialog [" + d.Caption + "] result=" + std::to_string(d.Result) + "\n";
  for (std::size_t i = 1; i < d.Items.size(); ++i) {
    const FormItem& it = d.Items[i];
    if (!it.Visible) continue;
    out += "  " + it.Name + ": " + it.Class;
    if (!it.Caption.empty()) out += " '" + it.Caption + "'";
    if (!it.Text.empty()) out += " = '" + (it.Masked ? std::string(it.Text.size(), '*') : it.Text) + "'";
    if (it.Class == "TCheckBox") out += it.Checked ? " [x]" : " [ ]";
    if (it.ItemIndex >= 0 && static_cast<std::size_t>(it.ItemIndex) < it.Items.size())
      out += " <" + it.Items[static_cast<std::size_t>(it.ItemIndex)] + ">";
    if (!it.Enabled) out += " (disabled)";
    out += "\n";
  }
  return out;
}

}  // namespace wfxhost
