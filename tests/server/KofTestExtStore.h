#pragma once
// Where the test server keeps external files. Each box has a storage root as
// the server names it (its "externalFilesPath", else the server's root
// followed by "\box<ID>", e.g. \\storage\vault\box12); generated file paths
// lie below it. With a storage folder set, the server also reaches that share
// itself: it is the folder that the server's root stands for, and external
// files of the seed that come with content are written there, encrypted, at
// start, so that a demo has one to open.
#include <optional>
#include <string>
#include <string_view>

#include "tests/server/KofTestState.h"

namespace kof::testserver {

std::string BoxStorageRoot(const TServerSettings& settings, const TBox& box);
// A new stored-file path below the box's root.
std::string NewStoredFilePath(const TServerSettings& settings, const TBox& box);
// Random bytes as upper-case hexadecimal text.
std::string RandomHex(std::size_t bytes);
// Where a stored path lies in the storage folder; nothing when there is no
// folder or the path is not below the server's root.
std::optional<std::string> LocalStoragePath(const TServerSettings& settings, std::string_view storedPath);
// Creates the box's folder in the storage folder, where there is one.
void MakeBoxStorageFolder(const TServerSettings& settings, const TBox& box);
// The stored form of PLAIN: FA BD EC 13, AES-256-GCM ciphertext, 16-byte tag.
// Key, IV and AAD as hexadecimal text. Nothing when the material is unusable.
std::optional<std::string> SealStoredFile(std::string_view plain, std::string_view keyHex, std::string_view ivHex,
                                          std::string_view aadHex);
// Writes RECORD's content as its stored file (ATTRIBUTES: its key material and path).
void WriteStoredFile(const TServerSettings& settings, const TRecord& record, const nlohmann::json& attributes);
// Makes the storage folders of the seed's boxes, and gives every live external-file record of the seed that carries content its
// key material and path (when missing) and writes its stored file. Throws
// std::runtime_error when a file cannot be written.
void WriteSeedStoredFiles(TVaultState& state);

}  // namespace kof::testserver
