#include "client/GWardenUtils.h"

#include <openssl/bio.h>
#include <openssl/objects.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>

namespace kof {
namespace {

struct TBioFree {
  void operator()(BIO* p) const { BIO_free(p); }
};
struct TX509Free {
  void operator()(X509* p) const { X509_free(p); }
};
struct TNamesFree {
  void operator()(GENERAL_NAMES* p) const { GENERAL_NAMES_free(p); }
};

std::string Text(const ASN1_STRING* value) {
  if (!value) return {};
  return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(value)),
                     static_cast<std::size_t>(ASN1_STRING_length(value)));
}

std::string OidText(const ASN1_OBJECT* oid) {
  char buffer[80];
  const int n = OBJ_obj2txt(buffer, sizeof buffer, oid, 1);
  return n > 0 && n < static_cast<int>(sizeof buffer) ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

// The value of an other-name as text, whatever string type the issuer chose.
std::string OtherNameText(const OTHERNAME* other) {
  const ASN1_TYPE* value = other->value;
  if (!value) return {};
  switch (value->type) {
    case V_ASN1_UTF8STRING:
    case V_ASN1_IA5STRING:
    case V_ASN1_PRINTABLESTRING:
    case V_ASN1_OCTET_STRING:
    case V_ASN1_VISIBLESTRING:
    case V_ASN1_T61STRING: return Text(value->value.asn1_string);
    default: return {};
  }
}

bool ReadOtherName(const OTHERNAME* other, TGWardenCertInfo& AInfo) {
  const std::string oid = OidText(other->type_id);
  const std::string text = OtherNameText(other);
  if (oid == "2.5.4.3") AInfo.Cn = text;
  else if (oid == "1.3.6.1.1.16.1") AInfo.Guid = text;
  else if (oid == "2.5.4.49") AInfo.Fdn = text;
  else if (oid == "2.5.4.45") AInfo.ConnectorId = text;
  else if (oid == "2.5.4.72") AInfo.HwTokenPresent = text == "hwTokenPresent";
  else return false;
  return true;
}

bool ReadName(const GENERAL_NAME* name, TGWardenCertInfo& AInfo) {
  switch (name->type) {
    case GEN_IPADD: {
      const ASN1_OCTET_STRING* ip = name->d.iPAddress;
      if (!ip || ASN1_STRING_length(ip) < 4) return false;
      const unsigned char* b = ASN1_STRING_get0_data(ip);
      char buffer[16];
      std::snprintf(buffer, sizeof buffer, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
      AInfo.IpAddress = buffer;
      return true;
    }
    case GEN_EMAIL: AInfo.Mail = Text(name->d.rfc822Name); return true;
    case GEN_OTHERNAME: return ReadOtherName(name->d.otherName, AInfo);
    default: return false;
  }
}

}  // namespace

std::string GWardenStatusText(TGWardenStatus AStatus) {
  switch (AStatus) {
    case TGWardenStatus::gwDisconnected: return "disconnected";
    case TGWardenStatus::gwConnecting: return "connecting";
    case TGWardenStatus::gwAuthenticating: return "authenticating";
    case TGWardenStatus::gwAuthenticated: return "authenticated";
  }
  return "state " + std::to_string(static_cast<int>(AStatus));
}

bool ParseGWardenCertificate(const void* AData, std::size_t ASize, TGWardenCertInfo& AInfo) {
  if (!AData || ASize == 0 || ASize > static_cast<std::size_t>(INT32_MAX)) return false;
  std::unique_ptr<BIO, TBioFree> bio(BIO_new_mem_buf(AData, static_cast<int>(ASize)));
  if (!bio) return false;
  std::unique_ptr<X509, TX509Free> cert(d2i_X509_bio(bio.get(), nullptr));
  if (!cert) return false;
  std::unique_ptr<GENERAL_NAMES, TNamesFree> names(
      static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert.get(), NID_subject_alt_name, nullptr, nullptr)));
  if (!names) return false;
  bool filled = false;
  for (int i = 0; i < sk_GENERAL_NAME_num(names.get()); ++i)
    filled = ReadName(sk_GENERAL_NAME_value(names.get(), i), AInfo) || filled;
  return filled;
}

}  // namespace kof
