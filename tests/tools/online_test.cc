// vodrikctl against a serving array: the test process plays the service (an array made and
// started as the service makes it, served by the remote layer on a UNIX socket of its own) and
// runs the program as a console on that socket.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sysexits.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "platform/com/com_ptr.h"
#include "platform/com/objbase.h"
#include "platform/remote/auth.h"
#include "platform/remote/server.h"
#include "qvacom_idl.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/run_program.h"

namespace {

namespace fs = std::filesystem;
using qva::testing::Outcome;

HRESULT RegisterLibrary(const char* path) {
  void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!handle) return E_FAIL;
  auto entry = reinterpret_cast<HRESULT (*)()>(dlsym(handle, "DllRegisterServer"));
  return entry ? entry() : E_FAIL;
}

class OnlineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = dir_.path() / "base";
    fs::create_directories(base_);
    for (const char* name : {"vodrik_e.xmt", "Vodrik.ntt"})
      fs::copy_file(fs::path(QVA_TEMPLATE_DIR) / name, base_ / name);
    socket_ = (dir_.path() / "qvacom.sock").string();
    accounts_ = (dir_.path() / "logins").string();
    ASSERT_EQ(qva::remote::AddLogin(accounts_, "admin", "CORP", "right password", 64), S_OK);
    setenv("QVA_REGISTRY", registry().c_str(), 1);
    setenv("QVA_BASE_FOLDER", base_.c_str(), 1);
    serving_ = std::thread([this] { Serve(); });
    std::unique_lock<std::mutex> lock(mutex_);
    ready_signal_.wait(lock, [this] { return ready_; });
  }

  void TearDown() override {
    if (server_) server_->Stop();
    serving_.join();
    unsetenv("QVA_REGISTRY");
    unsetenv("QVA_BASE_FOLDER");
  }

  // The service's thread: the array lives, and every console call runs, here.
  void Serve() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
      com::ComPtr<IQVAArray> array;
      std::unique_ptr<qva::remote::Server> server;
      if (RegisterLibrary(QVA_LIBRARY) == S_OK && RegisterLibrary(QVA_CONTROL_LIBRARY) == S_OK &&
          RegisterLibrary(QVA_FIREWALL_LIBRARY) == S_OK) {
        com::ComPtr<IQVA> root;
        if (SUCCEEDED(CoCreateInstance(CLSID_QVA, nullptr, CLSCTX_INPROC_SERVER, IID_IQVA, root.put_void())) &&
            SUCCEEDED(root->GetArray(array.put()))) {
          init_ = array->Init();
        }
      }
      if (init_ == S_OK) {
        qva::remote::ServerOptions options;
        options.socket_path = socket_;
        options.accounts_path = accounts_;
        auto made = qva::remote::Server::Create(array.get(), options);
        if (made) server = std::move(*made);
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        server_ = server.get();
        ready_ = true;
      }
      ready_signal_.notify_one();
      if (server) server->Run();
      // Released on this thread, before the apartment ends.
      server.reset();
      array = nullptr;
    }
    CoUninitialize();
  }

  Outcome Run(const std::vector<std::string>& args) {
    return qva::testing::RunProgram(dir_.path(), args, registry(), {"QVA_REMOTE_SOCKET=" + socket_});
  }
  std::string registry() const { return (dir_.path() / "registry").string(); }
  std::string PasswordFile(const std::string& password) {
    const fs::path file = dir_.path() / "password";
    std::ofstream(file, std::ios::trunc) << password << "\n";
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    return file.string();
  }

  qva::testing::TempDir dir_;
  fs::path base_;
  std::string socket_, accounts_;
  std::thread serving_;
  std::mutex mutex_;
  std::condition_variable ready_signal_;
  bool ready_ = false;
  HRESULT init_ = E_FAIL;
  qva::remote::Server* server_ = nullptr;
};

#define REQUIRE_SERVICE()                                                                                         \
  do {                                                                                                            \
    if (init_ != S_OK) GTEST_SKIP() << "the array cannot complete Init in this tree: code " << std::hex << init_; \
    ASSERT_NE(server_, nullptr);                                                                                  \
  } while (0)

TEST_F(OnlineTest, AConsoleOfTheServicesOwnUserEditsTheServicesArray) {
  REQUIRE_SERVICE();
  Outcome o = Run({"users", "add", "alice", "--set", "FullName=Alice Archer"});
  ASSERT_EQ(o.exit_code, 0) << o.err;
  o = Run({"--json", "users", "show", "alice"});
  ASSERT_EQ(o.exit_code, 0) << o.err;
  EXPECT_NE(o.out.find("\"FullName\": \"Alice Archer\""), std::string::npos) << o.out;
  o = Run({"users", "show", "nobody"});
  EXPECT_EQ(o.exit_code, 67) << o.err;

  // The service writes the file; a relative name is made absolute for it.
  o = Run({"export", "accounts.xml"});
  ASSERT_EQ(o.exit_code, 0) << o.err;
  EXPECT_NE(qva::testing::ReadFile(dir_.path() / "accounts.xml").find("Alice Archer"), std::string::npos);
}

TEST_F(OnlineTest, ALoginIsCheckedAndAWrongPasswordIsRefused) {
  REQUIRE_SERVICE();
  struct Case {
    std::string password;
    int exit_code;
  };
  const Case cases[] = {{"right password", 0}, {"wrong password", EX_NOPERM}};
  for (const Case& c : cases) {
    const Outcome o =
        Run({"--user", "admin", "--domain", "CORP", "--password-file", PasswordFile(c.password), "users", "list"});
    EXPECT_EQ(o.exit_code, c.exit_code) << c.password << "\n" << o.err;
    if (c.exit_code == EX_NOPERM) {
      EXPECT_NE(o.err.find("0x80070005"), std::string::npos) << o.err;
    }
  }
}

}  // namespace
