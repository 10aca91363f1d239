#pragma once
#include <cstdint>

namespace kof {

// How edited files are versioned; stored as its ordinal (one byte).
enum TVersionType : uint8_t {
  verNone,
  verUserDomainDaily,
  verNumber,
  verUserDaily,
  verUserDomainDailyIndex,
  verUserDailyIndex,
};

inline constexpr int kVersionTypeCount = 6;

}  // namespace kof
