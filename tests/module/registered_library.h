// Fixture: a fresh registry file in a temporary folder with the library registered in it, and a
// COM apartment on the test thread.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "platform/com/objbase.h"
#include "platform/com/registry.h"
#include "tests/support/temp_dir.h"

COMAPI HRESULT DllRegisterServer();

#define EXPECT_FAILED(expr) EXPECT_TRUE(FAILED(expr)) << #expr

namespace qva::testing {

class RegisteredLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    registry_path_ = (dir_.path() / "registry").string();
    setenv("QVA_REGISTRY", registry_path_.c_str(), 1);
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    ASSERT_EQ(DllRegisterServer(), S_OK);
  }
  void TearDown() override {
    CoUninitialize();
    unsetenv("QVA_REGISTRY");
  }

  std::shared_ptr<const com::RegistryKey> Tree() {
    auto tree = com::Registry::Shared().Read();
    EXPECT_TRUE(tree.ok());
    return tree.ok() ? *tree : std::make_shared<const com::RegistryKey>();
  }
  void WriteRegistryFile(const std::string& text) { std::ofstream(registry_path_, std::ios::trunc) << text; }
  std::string ReadRegistryFile() {
    std::ostringstream s;
    s << std::ifstream(registry_path_).rdbuf();
    return s.str();
  }
  // Top-level keys the type library registration adds ("TypeLib", "Interface").
  static size_t TypeLibraryTopKeys() { return 2; }

  TempDir dir_;
  std::string registry_path_;
};

}  // namespace qva::testing
