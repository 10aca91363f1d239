#pragma once
// Both ends of client encryption for model tests: the plugin's engine and a
// stand-in for the server's.
#include "crypto/KofNaCL.h"

namespace kof::test {

class TTestClient : public IKofClientEncryption {
 public:
  TTestClient(TSaltyClientEncryption* AEngine, TBytes AServerKey) : FEngine(AEngine), FKey(std::move(AServerKey)) {}
  TSaltyClientEncryption* NaCLEncryption() const override { return FEngine; }
  const TBytes& KOFServerPublicKeyBytes() const override { return FKey; }

 private:
  TSaltyClientEncryption* FEngine;
  TBytes FKey;
};

inline TBytes PublicKeyOf(const TSaltyClientEncryption& AEngine) {
  const auto key = AEngine.GetClientPublicKey();
  return TBytes(key.begin(), key.end());
}

}  // namespace kof::test
