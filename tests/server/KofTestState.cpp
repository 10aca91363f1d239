#include "tests/server/KofTestState.h"

#include <array>

#include "support/KofText.h"

namespace kof::testserver {
namespace {

constexpr std::array<std::string_view, 8> kRecordTemplates = {"account", "account-sec", "file",          "cert",
                                                              "ccard",   "station",     "external-file", ""};

bool SameDomain(std::string_view a, std::string_view b) {
  auto norm = [](std::string_view d) { return d.empty() ? std::string_view("SYSTEM") : d; };
  return SameText(norm(a), norm(b));
}

}  // namespace

TBox* TVaultState::FindBox(int id, bool includeDeleted) {
  auto it = Boxes.find(id);
  if (it == Boxes.end() || (it->second.Deleted && !includeDeleted)) return nullptr;
  return &it->second;
}

TRecord* TVaultState::FindRecord(int id, bool includeDeleted) {
  auto it = Records.find(id);
  if (it == Records.end() || (it->second.Deleted && !includeDeleted)) return nullptr;
  return &it->second;
}

TUser* TVaultState::FindUser(std::string_view login, std::string_view domain) {
  for (auto& user : Users) {
    if (SameText(user.Login, login) && SameDomain(user.Domain, domain)) return &user;
  }
  return nullptr;
}

std::vector<int> TVaultState::ChildBoxes(int parentId) const {
  std::vector<int> ids;
  for (const auto& [id, box] : Boxes) {
    if (!box.Deleted && box.ParentId() == parentId) ids.push_back(id);
  }
  return ids;
}

int TVaultState::LiveRecordCount(int boxId) const {
  int count = 0;
  for (const auto& [id, record] : Records) {
    if (!record.Deleted && record.BoxId == boxId) ++count;
  }
  return count;
}

bool TVaultState::BoxChainDeleted(int boxId) const {
  // Bounded walk: a seed with a parent cycle must not hang the server.
  for (std::size_t hops = 0; boxId != 0 && hops <= Boxes.size(); ++hops) {
    auto it = Boxes.find(boxId);
    if (it == Boxes.end()) return true;
    if (it->second.Deleted) return true;
    boxId = it->second.ParentId();
  }
  return false;
}

TTag* TVaultState::FindTag(std::string_view name, std::string_view domain) {
  for (auto& tag : Tags) {
    if (tag.Name == name && SameDomain(tag.Domain, domain)) return &tag;
  }
  return nullptr;
}

int TVaultState::AddTag(std::string_view name, std::string_view domain) {
  if (TTag* tag = FindTag(name, domain)) return tag->Id;
  TTag tag;
  tag.Id = NewId();
  tag.Name = std::string(name);
  tag.Domain = domain.empty() ? "SYSTEM" : std::string(domain);
  Tags.push_back(tag);
  return tag.Id;
}

bool IsRecordTemplate(std::string_view text) {
  for (std::size_t i = 0; i + 1 < kRecordTemplates.size(); ++i) {
    if (kRecordTemplates[i] != "station" && SameText(kRecordTemplates[i], text)) return true;
  }
  return false;
}

std::string CanonicalTemplate(std::string_view text) {
  for (auto templ : kRecordTemplates) {
    if (SameText(templ, text)) return std::string(templ);
  }
  return std::string(text);
}

bool IsSecretAccountKind(std::string_view templ) { return SameText(templ, "account-sec"); }
bool IsPasswordKind(std::string_view templ) { return SameText(templ, "account") || IsSecretAccountKind(templ); }
bool IsFileKind(std::string_view templ) { return SameText(templ, "file") || SameText(templ, "cert"); }

}  // namespace kof::testserver
