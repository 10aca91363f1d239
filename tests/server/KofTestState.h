#pragma once
// The vault held in memory: users, server sessions, safe boxes, records, tags.
// Boxes and records share one id space, so that the bin can name either kind
// by id alone. Callers hold TServerContext::Lock while they touch it.
#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "support/SecureString.h"

namespace kof::testserver {

struct TServerSettings {
  std::string Product = "Koffra5";
  std::string Version = "5.3.12";
  std::string ApiVersion = "5.0";
  std::int64_t FileSizeLimit = 10 * 1024 * 1024;  // below 0: not announced
  bool ClientEncryption = false;
  int SessionTtlSeconds = 0;                     // 0: sessions live until expired on demand
  int AccessCodeMaxAttempts = 0;                 // 0: never banned
  std::string ExternalFilesRoot = "\\\\storage\\vault";  // the share below which boxes keep external files
  std::string StorageDir;
  bool ListingFileSizes = true;  // false: an older server, whose listings never carry external-file sizes  // the local folder the share stands for; empty: the server does not reach it
};

struct TUser {
  std::string Login;
  std::string Domain = "SYSTEM";
  std::string Uid;
  std::string Locale = "en_US";
  std::string Lang = "en";
  SecureString Password;
  SecureString AccessCode;    // empty: the user has none
  SecureString TotpSecret;    // Base32 text; empty: no second factor registered
  bool SecondFactor = false;  // a second factor is asked after each login
  bool MustConfigureSecondFactor = false;
  std::vector<std::string> Roles = {"KOF_USER", "SAFEBOX_USER"};
  int AccessCodeTimeout = 300;
  std::string Certificate;  // Base64 of the certificate bytes accepted for certificate login
  std::string InvitationCode;
  nlohmann::json LoginPasswordRequirements = nlohmann::json::object();
  nlohmann::json AccessCodeRequirements = nlohmann::json::object();
  int FailedAccessCodes = 0;
};

struct TSession {
  std::size_t UserIndex = 0;
  bool SecondFactorPending = false;
  std::int64_t LastUseMs = 0;
  SecureString RegisteringTotpKey;  // offered by secondfactor-reg, confirmed by a valid code
};

struct TBox {
  nlohmann::json Data;  // wire members: id, name, type, parentId, description, ...
  bool Deleted = false;
  std::int64_t DeletedAt = 0;
  int Id() const { return Data.value("id", 0); }
  int ParentId() const { return Data.value("parentId", 0); }
  bool IsGroup() const { return Data.value("type", "") == "SAFEBOX_GROUP"; }
  std::string Name() const { return Data.value("name", ""); }
};

struct TRecord {
  nlohmann::json Data;  // plain wire form, secrets included (password, attributes)
  int BoxId = 0;
  bool Deleted = false;
  std::int64_t DeletedAt = 0;
  bool HasContent = false;
  std::string Content;
  bool WatchedChanges = false;
  bool WatchedAccesses = false;
  int Id() const { return Data.value("id", 0); }
  std::string Template() const { return Data.value("template", ""); }
  std::string Name() const { return Data.value("name", ""); }
};

struct TTag {
  int Id = 0;
  std::string Name;
  std::string Description;
  std::string Domain = "SYSTEM";
  int DomainId = 1;
};

class TVaultState {
 public:
  TServerSettings Settings;
  std::vector<TUser> Users;
  std::map<int, TBox> Boxes;
  std::map<int, TRecord> Records;
  std::vector<TTag> Tags;
  std::map<std::string, TSession> Sessions;  // by cookie token
  // Managed stations as seeded: {"configs": [... "stations": [...]], "tickets": [...]}.
  nlohmann::json Agents = nlohmann::json::object();

  int NewId() { return FNextId++; }
  void ReserveId(int id) {
    if (id >= FNextId) FNextId = id + 1;
  }

  TBox* FindBox(int id, bool includeDeleted = false);
  TRecord* FindRecord(int id, bool includeDeleted = false);
  // Domain compared without regard to case; an empty domain means "SYSTEM".
  TUser* FindUser(std::string_view login, std::string_view domain);
  std::vector<int> ChildBoxes(int parentId) const;  // live boxes only, by id
  int LiveRecordCount(int boxId) const;
  bool BoxChainDeleted(int boxId) const;  // the box or one of its groups is deleted
  TTag* FindTag(std::string_view name, std::string_view domain);
  int AddTag(std::string_view name, std::string_view domain);

 private:
  int FNextId = 1;
};

bool IsRecordTemplate(std::string_view text);  // the seven record kinds, case-insensitive
std::string CanonicalTemplate(std::string_view text);
bool IsSecretAccountKind(std::string_view templ);
bool IsPasswordKind(std::string_view templ);  // account or secret account
bool IsFileKind(std::string_view templ);      // file or certificate: content travels

}  // namespace kof::testserver
