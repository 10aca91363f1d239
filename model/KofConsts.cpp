#include "model/KofConsts.h"

namespace kof {

const std::array<std::string_view, kKofObjectTypeCount> KofObjectTypeStr = {
    "SAFEBOX", "SAFEBOX_GROUP", "account", "account-sec", "file",
    "cert",    "ccard",         "station", "",            "external-file"};

const std::array<std::string_view, kKofObjectTypeCount> KofObjectTypeNames = {
    "Safe Box",    "Safe Box Group", "Account", "Secret Account", "File",
    "Certificate", "Credit Card",    "Station", "",               "External File"};

const std::array<std::string_view, kKofObjectTypeCount> KofObjectExtensions = {
    ".safeBox",     ".safeBoxGroup", ".account", ".secretAccount",  ".file",
    ".certificate", ".creditCard",   ".station", ".configuration", ".extfile"};

const std::array<std::string_view, 14> KofCertificateExtensions = {
    ".CA-BUNDLE", ".CER", ".CERT", ".CRL", ".CRT", ".CSR", ".DER",
    ".P12",       ".P7B", ".P7R",  ".P7S", ".PEM", ".PFX", ".SPC"};

std::string GetKofObjectTypeName(int AOrdinal) {
  if (AOrdinal < 0 || AOrdinal >= kKofObjectTypeCount) return {};
  return std::string(KofObjectTypeNames[AOrdinal]);
}

}  // namespace kof
