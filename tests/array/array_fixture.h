// Fixture of the array tests: a fresh registry and a fresh base folder holding the templates, the
// library registered from its build location, and the two outside components registered either
// as the real least-form libraries or as the recording doubles. The array is made as the service
// makes it: the root object's GetArray.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "components/interfaces.h"
#include "platform/com/bstr.h"
#include "platform/com/com_ptr.h"
#include "platform/com/guid.h"
#include "platform/com/objbase.h"
#include "platform/com/registrar.h"
#include "platform/com/registry.h"
#include "qvacom_idl.h"
#include "tests/array/doubles.h"
#include "tests/support/temp_dir.h"

namespace qva::testing {

namespace fs = std::filesystem;

// Calls DllRegisterServer of the library at `path`.
inline HRESULT RegisterLibrary(const std::string& path) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return E_FAIL;
  auto entry = reinterpret_cast<HRESULT (*)()>(dlsym(handle, "DllRegisterServer"));
  return entry ? entry() : E_FAIL;
}

// Registers the doubles' library as the server of both outside components.
inline HRESULT RegisterDoubles() {
  static constexpr std::string_view kScript = R"(HKCR
{
  NoRemove CLSID
  {
    ForceRemove %CONTROL% = s 'Control double' { InprocServer32 = s '%MODULE%' }
    ForceRemove %ADAPTER% = s 'Adapter double' { InprocServer32 = s '%MODULE%' }
  }
})";
  const std::map<std::string, std::string> replacements = {
      {"MODULE", QVA_DOUBLES_LIBRARY},
      {"CONTROL", com::GuidToString(vodrik::kControlClsid)},
      {"ADAPTER", com::GuidToString(vodrik::kFirewallAdapterClsid)},
  };
  return com::Registry::Shared().Edit(
      [&](com::RegistryKey& root) { return com::ApplyRegistrationScript(root, kScript, replacements, true); });
}

inline std::string ReadFile(const fs::path& path) {
  std::ostringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  return s.str();
}

inline void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// Replaces the first `from` in `text` by `to`; fails the test when `from` is absent.
inline std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

class ArrayFixture : public ::testing::Test {
 protected:
  enum class Components { kReal, kDoubles };

  void SetUp() override { Prepare(Components::kReal); }

  // Runs again with the doubles in place of the real components (a fresh registry).
  void Prepare(Components components) {
    registry_ = dir_.path() / ("registry-" + std::to_string(++registries_));
    base_ = dir_.path() / "base";
    fs::create_directories(base_);
    setenv("QVA_REGISTRY", registry_.c_str(), 1);
    setenv("QVA_BASE_FOLDER", base_.c_str(), 1);
    if (!apartment_) {
      ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
      apartment_ = true;
    }
    ASSERT_EQ(RegisterLibrary(QVA_LIBRARY), S_OK);
    if (components == Components::kReal) {
      ASSERT_EQ(RegisterLibrary(QVA_CONTROL_LIBRARY), S_OK);
      ASSERT_EQ(RegisterLibrary(QVA_FIREWALL_LIBRARY), S_OK);
    } else {
      ASSERT_EQ(RegisterDoubles(), S_OK);
    }
    vodrik::testing::TheDoubleLog().Reset();
    for (const char* name : {"vodrik_e.xmt", "Vodrik.ntt"})
      fs::copy_file(fs::path(QVA_TEMPLATE_DIR) / name, base_ / name, fs::copy_options::overwrite_existing);
  }

  void TearDown() override {
    if (apartment_) CoUninitialize();
    unsetenv("QVA_REGISTRY");
    unsetenv("QVA_BASE_FOLDER");
  }

  com::ComPtr<IQVAArray> MakeArray() {
    com::ComPtr<IQVA> root;
    EXPECT_EQ(CoCreateInstance(CLSID_QVA, nullptr, CLSCTX_INPROC_SERVER, IID_IQVA, root.put_void()), S_OK);
    com::ComPtr<IQVAArray> array;
    if (root) {
      EXPECT_EQ(root->GetArray(array.put()), S_OK);
    }
    return array;
  }

  // Writes the settings file the array opens: the template with each replacement applied.
  void WriteSettings(const std::vector<std::pair<std::string, std::string>>& replacements) {
    std::string text = ReadFile(base_ / "vodrik_e.xmt");
    for (const auto& [from, to] : replacements) text = Replace(text, from, to);
    WriteFile(base_ / "vodrik_e.xml", text);
  }
  // The settings file with the firewall edition and fields set.
  void WriteFirewallSettings(const std::string& edition) {
    WriteSettings({{R"(ServerType="")", "ServerType=\"" + edition + "\""},
                   {R"(Server="" Admin="" ServerDomain="" Password="" Policy="")",
                    R"(Server="fw.example" Admin="fwadmin" ServerDomain="CORP" Password="" Policy="Default policy")"}});
  }

  // Lines of today's server log without their line ends; every line must end with "\r\n".
  std::vector<std::string> LogLines() {
    const time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    char name[32];
    strftime(name, sizeof name, "%Y%m%d.log", &local);
    const std::string text = ReadFile(base_ / "logs" / name);
    std::vector<std::string> lines;
    size_t from = 0;
    while (from < text.size()) {
      const size_t end = text.find("\r\n", from);
      EXPECT_NE(end, std::string::npos) << "a log line without carriage return and line feed";
      if (end == std::string::npos) break;
      lines.push_back(text.substr(from, end - from));
      from = end + 2;
    }
    return lines;
  }
  // The "LEVEL, message" part of each log line (the time stamp cut off).
  std::vector<std::string> LogMessages() {
    std::vector<std::string> out;
    for (const std::string& line : LogLines()) out.push_back(line.size() > 19 ? line.substr(19) : line);
    return out;
  }

  ::qva::testing::TempDir dir_;
  fs::path registry_, base_;
  int registries_ = 0;
  bool apartment_ = false;
};

}  // namespace qva::testing
