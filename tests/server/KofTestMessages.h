#pragma once
// The server's message catalogues, one JSON object of key -> text per language.
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace kof::testserver {

// The JSON text for "en", "cs", "de" or "fr"; nullopt for any other code.
std::optional<std::string> MessageCatalogue(std::string_view language);

}  // namespace kof::testserver
