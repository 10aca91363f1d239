#include "tests/server/KofTestExtStore.h"

#include <openssl/evp.h>
#include <sodium.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <vector>

#include "support/KofText.h"
#include "support/SecureString.h"

namespace kof::testserver {
namespace {

using nlohmann::json;

std::optional<std::vector<unsigned char>> FromHex(std::string_view hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::vector<unsigned char> bytes(hex.size() / 2);
  std::size_t length = 0;
  if (sodium_hex2bin(bytes.data(), bytes.size(), hex.data(), hex.size(), nullptr, &length, nullptr) != 0 ||
      length != bytes.size())
    return std::nullopt;
  return bytes;
}

// Zeroes a key or plain buffer on every path.
struct TWipedBytes {
  std::vector<unsigned char> Bytes;
  ~TWipedBytes() {
    if (!Bytes.empty()) sodium_memzero(Bytes.data(), Bytes.size());
  }
};

std::string Joined(std::string_view root, std::string_view name) {
  std::string out(root);
  if (!out.empty() && out.back() != '\\' && out.back() != '/') out += '\\';
  return out + std::string(name);
}

}  // namespace

void WriteStoredFile(const TServerSettings& settings, const TRecord& record, const json& attributes) {
  const std::optional<std::string> local = LocalStoragePath(settings, attributes["efFilePath"].get<std::string>());
  const std::optional<std::string> sealed =
      SealStoredFile(record.Content, attributes["efKey"].get<std::string>(), attributes["efIV"].get<std::string>(),
                     attributes["efAAD"].get<std::string>());
  if (!local || !sealed) throw std::runtime_error("external file " + record.Name() + " cannot be stored");
  std::filesystem::create_directories(std::filesystem::path(*local).parent_path());
  std::ofstream out(*local, std::ios::binary | std::ios::trunc);
  out << *sealed;
  if (!out.flush()) throw std::runtime_error("cannot write the stored file of " + record.Name());
}

std::string RandomHex(std::size_t bytes) {
  std::string raw(bytes, '\0');
  randombytes_buf(raw.data(), raw.size());
  std::string hex(bytes * 2 + 1, '\0');
  sodium_bin2hex(hex.data(), hex.size(), reinterpret_cast<const unsigned char*>(raw.data()), raw.size());
  hex.pop_back();
  for (char& c : hex) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  SecureZero(raw.data(), raw.size());
  return hex;
}

std::string BoxStorageRoot(const TServerSettings& settings, const TBox& box) {
  const std::string own = box.Data.value("externalFilesPath", "");
  if (!own.empty()) return own;
  return Joined(settings.ExternalFilesRoot, "box" + std::to_string(box.Id()));
}

std::string NewStoredFilePath(const TServerSettings& settings, const TBox& box) {
  return Joined(BoxStorageRoot(settings, box), RandomHex(16) + ".kofx");
}

std::optional<std::string> LocalStoragePath(const TServerSettings& settings, std::string_view storedPath) {
  const std::string& root = settings.ExternalFilesRoot;
  if (settings.StorageDir.empty() || storedPath.size() <= root.size() ||
      !SameText(storedPath.substr(0, root.size()), root))
    return std::nullopt;
  std::string rest = ReplaceAll(storedPath.substr(root.size()), "\\", "/");
  if (rest.front() != '/') return std::nullopt;
  if (rest.find("/../") != std::string::npos) return std::nullopt;
  return settings.StorageDir + rest;
}

void MakeBoxStorageFolder(const TServerSettings& settings, const TBox& box) {
  const std::optional<std::string> folder = LocalStoragePath(settings, BoxStorageRoot(settings, box));
  std::error_code error;
  if (folder) std::filesystem::create_directories(*folder, error);
}

std::optional<std::string> SealStoredFile(std::string_view plain, std::string_view keyHex, std::string_view ivHex,
                                          std::string_view aadHex) {
  TWipedBytes key, iv, aad;
  auto k = FromHex(keyHex), i = FromHex(ivHex), a = FromHex(aadHex);
  if (!k || !i || !a || k->size() != 32 || i->empty()) return std::nullopt;
  key.Bytes = std::move(*k);
  iv.Bytes = std::move(*i);
  aad.Bytes = std::move(*a);
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
  int length = 0;
  std::string out("\xFA\xBD\xEC\x13", 4);
  out.resize(4 + plain.size() + 16);
  auto* o = reinterpret_cast<unsigned char*>(out.data()) + 4;
  const bool ok =
      ctx && EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(iv.Bytes.size()), nullptr) == 1 &&
      EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, key.Bytes.data(), iv.Bytes.data()) == 1 &&
      (aad.Bytes.empty() ||
       EVP_EncryptUpdate(ctx.get(), nullptr, &length, aad.Bytes.data(), static_cast<int>(aad.Bytes.size())) == 1) &&
      (plain.empty() || EVP_EncryptUpdate(ctx.get(), o, &length, reinterpret_cast<const unsigned char*>(plain.data()),
                                          static_cast<int>(plain.size())) == 1) &&
      EVP_EncryptFinal_ex(ctx.get(), o + plain.size(), &length) == 1 &&
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, 16, o + plain.size()) == 1;
  if (!ok) return std::nullopt;
  return out;
}

void WriteSeedStoredFiles(TVaultState& state) {
  const bool reachable = !state.Settings.StorageDir.empty();
  for (const auto& [id, box] : state.Boxes)
    if (reachable && !box.IsGroup() && !box.Deleted) MakeBoxStorageFolder(state.Settings, box);
  for (auto& [id, record] : state.Records) {
    if (record.Template() != "external-file" || !record.HasContent) continue;
    const TBox* box = state.FindBox(record.BoxId, true);
    if (!box) continue;
    json& attributes = record.Data["attributes"];
    if (!attributes.is_object()) attributes = json::object();
    if (!attributes.contains("efKey")) attributes["efKey"] = RandomHex(32);
    if (!attributes.contains("efIV")) attributes["efIV"] = RandomHex(12);
    if (!attributes.contains("efAAD")) attributes["efAAD"] = RandomHex(16);
    if (!attributes.contains("efFilePath")) attributes["efFilePath"] = NewStoredFilePath(state.Settings, *box);
    if (!attributes.contains("efFileName")) attributes["efFileName"] = record.Name();
    attributes["fileSize"] = static_cast<std::int64_t>(record.Content.size());
    if (reachable) WriteStoredFile(state.Settings, record, attributes);
    // The content lives in the storage, not in the record.
    SecureZero(record.Content.data(), record.Content.size());
    record.Content.clear();
    record.HasContent = false;
    record.Data.erase("fileSizeApprox");
  }
}

}  // namespace kof::testserver
