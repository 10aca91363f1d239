#pragma once
// Small vaults for the server tests.
#include <nlohmann/json.hpp>

namespace kof::testserver::flow {

inline constexpr const char* kTinaSecret = "JBSWY3DPEHPK3PXPJBSWY3DPEHPK3PXP";
// Base64 of the bytes "client certificate of carl".
inline constexpr const char* kCarlCertificate = "Y2xpZW50IGNlcnRpZmljYXRlIG9mIGNhcmw=";

// john: password, access code 1234. tina: second factor. ivan: invited.
// carl: certificate login. A group "Work" holds the box "Mail" (account 11,
// file 12, note "vpn"), and "Private" is a box at the top.
inline nlohmann::json BasicSeed() {
  return nlohmann::json::parse(R"({
    "server": {"fileSizeLimit": 1000},
    "users": [
      {"login": "john", "password": "secret pw", "accessCode": "1234", "lang": "cs",
       "roles": ["KOF_USER", "SAFEBOX_USER", "AUDITOR"]},
      {"login": "tina", "domain": "CORP", "password": "pw", "accessCode": "1234",
       "totpSecret": "JBSWY3DPEHPK3PXPJBSWY3DPEHPK3PXP"},
      {"login": "ivan", "password": "pw", "invitationCode": "INV-1"},
      {"login": "carl", "accessCode": "a&b c", "certificate": "Y2xpZW50IGNlcnRpZmljYXRlIG9mIGNhcmw="}
    ],
    "tags": [{"name": "mail", "description": "Mail accounts"}],
    "boxes": [
      {"id": 1, "name": "Work", "type": "SAFEBOX_GROUP", "boxes": [
        {"id": 2, "name": "Mail", "records": [
          {"id": 11, "template": "account", "name": "Inbox", "loginName": "john", "password": "pop3pw",
           "tags": ["mail"], "note": "imap and smtp", "attributes": {"passwordPattern": "Aa9"}},
          {"id": 12, "template": "file", "name": "Keys", "contentText": "hello", "fileName": "keys.txt",
           "note": "vpn profile", "attributes": {"sec-note": "top secret"}}
        ]}
      ]},
      {"id": 3, "name": "Private", "privateBox": true, "records": [
        {"id": 13, "template": "ccard", "name": "Visa", "attributes": {"number": "4111", "cvv": "123"}}
      ]}
    ]
  })");
}

}  // namespace kof::testserver::flow
