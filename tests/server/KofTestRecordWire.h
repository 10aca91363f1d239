#pragma once
// Boxes and records as they travel: listings without secrets, records with
// secrets after a valid access code, and the client-encrypted form both ways.
#include <nlohmann/json.hpp>
#include <optional>

#include "tests/server/KofTestRequest.h"

namespace kof::testserver {

// ListingWithFileSizes: a listing whose external-file records keep only
// {"fileSize": N} of their attributes, so sizes come without a request per record.
enum class TRecordDetail { Listing, ListingWithFileSizes, WithSecrets };

nlohmann::json BoxToWire(const TVaultState& state, const TBox& box, bool withRecordsCount, bool withExternalPath);
nlohmann::json RecordToWire(TServerContext& ctx, const TCaller& caller, const TRecord& record, TRecordDetail detail);

// A record body as sent by the client, made plain. Bodies of encrypted records
// (their "template" is no known kind) have every value decrypted; nullopt when
// one does not open.
std::optional<nlohmann::json> PlainRecordBody(TServerContext& ctx, const TCaller& caller, const nlohmann::json& body);

}  // namespace kof::testserver
