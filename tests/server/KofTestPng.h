#pragma once
// A small PNG that stands in for the second-factor QR image. It is a valid
// image whose pattern depends on the text, and it carries the text itself in a
// tEXt chunk (keyword "URL") so that tests can check what was encoded. It is not
// a scannable QR symbol.
#include <string>
#include <string_view>

namespace kof::testserver {

std::string MakeCodeImagePng(std::string_view text);

}  // namespace kof::testserver
