#pragma once
// Builds the in-memory vault from a seed fixture (format in README.md) and
// turns record JSON, from a seed or from a client, into the stored form.
#include <nlohmann/json.hpp>
#include <string>

#include "tests/server/KofTestState.h"

namespace kof::testserver {

// Throws std::runtime_error with a message naming the faulty entry.
TVaultState LoadSeed(const nlohmann::json& seed);
nlohmann::json ReadSeedFile(const std::string& path);
// The vault of a server started without --seed: one user, one box.
nlohmann::json DefaultSeed();

// Stored form of a record: canonical template, tags as an array, both password
// members, and the content size of files. Throws std::runtime_error on JSON that
// is not a record. Content ("content" Base64, or seed-only "contentText") moves
// into the record.
TRecord RecordFromJson(const nlohmann::json& in, int boxId);
// Server settings named in `in` (product, version, apiVersion, fileSizeLimit,
// clientEncryption, sessionTtlSeconds, accessCodeMaxAttempts, externalFilesRoot).
void ReadSettings(TServerSettings& s, const nlohmann::json& in);
// Box members a client may set, copied over `box` (id and type stay).
void ApplyBoxFields(nlohmann::json& box, const nlohmann::json& in);

}  // namespace kof::testserver
