#pragma once
// One server per test suite; each test starts from the seed again.
#include <gtest/gtest.h>

#include <memory>

#include "tests/serverflow/ServerProcess.h"
#include "tests/serverflow/TestSeeds.h"

namespace kof::testserver::flow {

class ServerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { FServer = std::make_unique<TServerProcess>(BasicSeed()); }
  static void TearDownTestSuite() { FServer.reset(); }
  void SetUp() override {
    ASSERT_TRUE(FServer);
    TApi api(*FServer);
    Control(api, "POST", "/__control/reset");
  }

  TApi NewApi() const { return TApi(*FServer); }
  TApi LoggedIn(const std::string& login = "john", const std::string& password = "secret%20pw") const {
    TApi api(*FServer);
    auto result = api.Login(login, password);
    EXPECT_TRUE(result && result->status == 200) << "login of " << login;
    return api;
  }

  static inline std::unique_ptr<TServerProcess> FServer;
};

}  // namespace kof::testserver::flow
