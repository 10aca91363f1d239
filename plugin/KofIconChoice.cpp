#include "plugin/KofIconChoice.h"

#include "model/KofClasses.h"
#include "plugin/TotalCmdKofCommon5.h"

namespace kof {
namespace {

bool Contains(const std::string& path, std::string_view part) { return path.find(part) != std::string::npos; }

bool EndsWith(const std::string& path, std::string_view end) {
  std::string_view p = path;
  while (!p.empty() && p.back() == '\\') p.remove_suffix(1);
  return p.size() >= end.size() && p.substr(p.size() - end.size()) == end;
}

}  // namespace

std::string SpecialIconName(const TKofHostPath& remote) {
  const std::string& path = remote.Full();
  if (EndsWith(path, kHelpEntry)) return "Help_Icon";
  if (EndsWith(path, kEncryptionOnEntry) || EndsWith(path, kEncryptionOffEntry)) return "NaCl_Icon";
  if (Contains(path, kLogoutEntry)) return "LOG_Icon";
  if (Contains(path, "\\" + std::string(kAccessoriesEntry))) return "1KOF_Icon";
  if (Contains(path, "\\" + std::string(kBinEntry) + "\\")) return "TRASH_Icon";
  if (Contains(path, kGotoSessionsEntry)) return "LOG_Icon";
  if (remote.Kind() == TPathKind::SessionsFolder || remote.PanelName() == "..") return "LOG_Icon";
  if (remote.InSessionsFolder()) return "1KOF_Icon";
  return {};
}

std::string VaultIconName(TPluginKofLevel level, bool inGroup, const TKofObject& object) {
  const TKofObjectType kind = object.ObjType();
  if (level == fslRoot) {
    const auto* box = dynamic_cast<const TKofSafeBox*>(&object);
    if (!box) return {};
    if (kind == kofSafeBoxGroup) return box->PrivateBox() ? "GPRV_Icon" : "GBOX_Icon";
    return box->PrivateBox() ? "SPRV_Icon" : "SBOX_Icon";
  }
  if (inGroup) return "SBOX_Icon";
  switch (kind) {
    case kofAccount: return "ACC_Icon";
    case kofAccountSec: return "SEC_Icon";
    case kofCertificate: return "CERT_Icon";
    case kofCreditCard: return "CRED_Icon";
    default: return {};
  }
}

}  // namespace kof
