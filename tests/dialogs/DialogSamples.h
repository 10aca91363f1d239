#pragma once
// One of every dialog the plugin shows, filled as a caller would fill it, so
// that each form is checked against what the host accepts.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dialogs/KofDialog.h"
#include "dialogs/KofLoginDialogs.h"
#include "dialogs/KofRecordDialogs.h"
#include "dialogs/KofSessionDialogs.h"
#include "dialogs/KofSmallDialogs.h"

namespace kof::test {

struct TDialogSample {
  std::string Name;
  std::function<std::unique_ptr<TKofDialog>()> Make;
};

// The records the samples show; they outlive the dialogs.
inline std::vector<std::unique_ptr<TKofObject>>& SampleObjects() {
  static std::vector<std::unique_ptr<TKofObject>> objects = [] {
    std::vector<std::unique_ptr<TKofObject>> o;
    o.push_back(std::make_unique<TKofAccount>("db01 root", "d", "a,b", "n\r\nm", "", "pw", "root", "db01", "site"));
    o.push_back(std::make_unique<TKofSecAccount>("admin", "d", "", "", "", "pw", "login", "addr", "site", "note"));
    o.push_back(std::make_unique<TKofCreditCard>("Visa", "", "", "", "", "4111", "", "737", "2580"));
    o.push_back(std::make_unique<TKofFile>("Notes", "", "", "", "", "notes.txt", TByteSpan{}));
    o.push_back(std::make_unique<TKofCertificate>("VPN", "", "", "", "", "vpn.pfx", "alias", "pass", TByteSpan{}));
    o.push_back(std::make_unique<TKofExternalFile>("Video", "", "", "", "v.mp4", "ext/v.kofx", "", "", "", 1));
    o.push_back(std::make_unique<TKofSafeBox>("Servers", "", false, 0));
    o.push_back(std::make_unique<TKofSafeBoxGroup>("Company", "", true, 0));
    return o;
  }();
  return objects;
}

inline std::vector<TDialogSample> DialogSamples() {
  std::vector<TDialogSample> samples = {
      {"login", [] { return std::make_unique<TLoginDialog>("Login to Demo", "https://vault.example", "SYSTEM", "ann"); }},
      {"extended login", [] { return std::make_unique<TLoginDialogExt>("", "https://vault.example", "", ""); }},
      {"access code", [] { return std::make_unique<TAccessCodeDialog>("Demo - Access Code", "Viewing 'it's' #1\r\nnext", true); }},
      {"second factor", [] { return std::make_unique<TSecondFactorDialog>(); }},
  };
  for (const bool readOnly : {false, true}) {
    for (const bool locked : {false, true}) {
      TSessionConfigOptions options;
      options.ReadOnly = readOnly, options.LockIdentity = locked, options.NewSession = !locked;
      options.LoggedUser = locked ? "ann" : "";
      options.VersionText = "Plugin version 5.0.0";
      samples.push_back({std::string("session configuration") + (readOnly ? " read-only" : "") + (locked ? " locked" : ""),
                         [options] {
                           TSessionConfigValues v;
                           v.Name = "Work 'it's'";
                           return std::make_unique<TSessionConfigDialog>(v, options);
                         }});
    }
  }
  samples.push_back({"versioning mode", [] { return std::make_unique<TVerSysDialog>(verNumber); }});
  samples.push_back({"file password", [] { return std::make_unique<TSetPasswordDialog>(false, "a 'b'.txt", "pw"); }});
  samples.push_back({"certificate password", [] { return std::make_unique<TSetPasswordDialog>(true, "vpn.pfx", ""); }});
  samples.push_back({"new safe box", [] { return std::make_unique<TNewSafeBoxDialog>("Servers", false); }});
  samples.push_back({"new safe box locked", [] { return std::make_unique<TNewSafeBoxDialog>("Servers", true); }});
  for (const auto form : {TCopyResultContent::Copy, TCopyResultContent::DeleteExternal})
    samples.push_back({"copy result", [form] {
                         TCopyResultContent c;
                         c.Form = form;
                         c.Details = [](bool) { return std::string("a\tb\r\nc"); };
                         return std::make_unique<TCopyResultDialog>(c, true);
                       }});
  samples.push_back({"mapping paths", [] {
                       return std::make_unique<TMappingPathsDialog>(std::vector<TMappingRule>{{"%a%", "b", "c", "i"}}, true,
                                                                    nullptr);
                     }});
  for (const std::size_t count : {0, 3, 30})
    samples.push_back({"select tags " + std::to_string(count), [count] {
                         std::vector<std::string> tags;
                         for (std::size_t i = 0; i < count; ++i) tags.push_back("t&'" + std::to_string(i));
                         return std::make_unique<TSelectTagsDialog>(tags, std::vector<std::string>{"t&'1"});
                       }});
  samples.push_back({"logged user", [] { return std::make_unique<TLoggedUserDialog>("ann"); }});
  for (const auto& object : SampleObjects()) {
    for (const bool editable : {true, false}) {
      TKofObject* o = object.get();
      const std::string name = GetKofObjectTypeName(o->ObjType()) + (editable ? " editable" : " read-only");
      if (auto* box = dynamic_cast<TKofSafeBox*>(o))
        samples.push_back({name, [box, editable] { return std::make_unique<TSafeBoxDialog>(*box, editable, true, TPropertiesHooks{}); }});
      else
        samples.push_back({name, [o, editable] {
                             return std::make_unique<TRecordDialog>(static_cast<TKofRecord&>(*o), editable, true, TPropertiesHooks{});
                           }});
    }
  }
  return samples;
}

}  // namespace kof::test
