// The remote connection layer end to end: a server on a thread of this process or in a forked
// process, and proxies from the activator in this thread. Every behaviour runs against both.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "platform/com/com_ptr.h"
#include "platform/com/objbase.h"
#include "platform/remote/auth.h"
#include "platform/remote/client.h"
#include "platform/remote/runtime.h"
#include "qvacom/realtime/realtime_root.h"
#include "qvacom/settings/xml_doc.h"
#include "tests/remote/test_objects.h"
#include "tests/support/temp_dir.h"

namespace qva::testing {
namespace {

using com::Bstr;
using com::ComPtr;
using com::Variant;
using Where = TestServer::Where;

class ClientEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    remote::InstallClient();
  }
};
[[maybe_unused]] const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new ClientEnvironment);

struct Login {
  std::u16string user, domain, password;
};

// What the root's Connect sends: the identity (or none) and the machine name.
HRESULT Activate(const IID& iid, void** out, const std::u16string& server = u"", const Login* login = nullptr) {
  *out = nullptr;
  auto chars = [](const std::u16string& s) { return reinterpret_cast<USHORT*>(const_cast<char16_t*>(s.data())); };
  COAUTHIDENTITY identity{};
  if (login) {
    identity = {chars(login->user),
                static_cast<ULONG>(login->user.size()),
                chars(login->domain),
                static_cast<ULONG>(login->domain.size()),
                chars(login->password),
                static_cast<ULONG>(login->password.size()),
                2};
  }
  COAUTHINFO auth{10, 0, nullptr, 2, 3, login ? &identity : nullptr, 0};
  std::u16string name = server;
  COSERVERINFO info{0, name.empty() ? nullptr : name.data(), &auth, 0};
  MULTI_QI mqi{&iid, nullptr, S_OK};
  const DWORD context = server.empty() ? CLSCTX_LOCAL_SERVER : (CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER);
  HRESULT hr = CoCreateInstanceEx(remote::kServiceArrayClsid, nullptr, context, &info, 1, &mqi);
  if (SUCCEEDED(hr)) hr = mqi.hr;
  *out = mqi.pItf;
  return hr;
}

template <class I>
ComPtr<I> Connect() {
  ComPtr<I> p;
  EXPECT_EQ(Activate(I::iid, p.put_void()), S_OK);
  return p;
}

LONG LiveArchs(IQVAArchs* root) {
  LONG n = -1;
  EXPECT_EQ(root->get_Count(&n), S_OK);
  return n;
}

std::string Name(IQVAArch* arch) {
  Bstr name;
  EXPECT_EQ(arch->get_Name(name.put()), S_OK);
  return name.utf8();
}

class RemoteTest : public ::testing::TestWithParam<Where> {
 protected:
  void SetUp() override {
    socket_ = (dir_.path() / "qvacom.sock").string();
    ::setenv("QVA_REMOTE_SOCKET", socket_.c_str(), 1);
    accounts_ = (dir_.path() / "logins").string();
    ASSERT_EQ(remote::AddLogin(accounts_, "alice", "CORP", "s3cret wörd"), S_OK);
    remote::ServerOptions options;
    options.socket_path = socket_;
    options.listen_tcp = true;
    options.tcp_address = "127.0.0.1";
    options.tcp_port = 0;
    options.accounts_path = accounts_;
    server_ = std::make_unique<TestServer>(GetParam(), MakeRoot(), options);
    ASSERT_NE(server_->tcp_port(), 0);
  }
  void TearDown() override { server_.reset(); }

  virtual TestServer::MakeRoot MakeRoot() {
    return [] {
      auto root = com::CreateObject<TestRoot>();
      return root ? ComPtr<IUnknown>((*root)->Identity()) : nullptr;
    };
  }
  std::u16string TcpName() const { return com::Utf8ToUtf16("127.0.0.1:" + std::to_string(server_->tcp_port())); }

  TempDir dir_;
  std::string socket_;
  std::string accounts_;
  std::unique_ptr<TestServer> server_;
};

INSTANTIATE_TEST_SUITE_P(Servers, RemoteTest, ::testing::Values(Where::kThread, Where::kProcess),
                         [](const auto& info) { return info.param == Where::kThread ? "Thread" : "Process"; });

TEST_P(RemoteTest, ValuesCrossToTheServerIntact) {
  ComPtr<IQVAArchs> root = Connect<IQVAArchs>();
  ASSERT_TRUE(root);
  for (const Variant& v : ValueTable()) {
    SCOPED_TRACE(Describe(v));
    ComPtr<IQVAArch> arch;
    ASSERT_EQ(root->Index(v, arch.put()), v.vt == VT_EMPTY ? S_FALSE : S_OK);
    if (v.vt == VT_EMPTY) {
      EXPECT_FALSE(arch);  // a null interface pointer stays null
      continue;
    }
    ASSERT_TRUE(arch);
    EXPECT_EQ(Name(arch.get()), Describe(v));
  }
}

TEST_P(RemoteTest, EnumeratorHandsBackEveryValueAndObject) {
  ComPtr<IQVARealUsers> users = Connect<IQVARealUsers>();
  ASSERT_TRUE(users);
  ComPtr<IUnknown> unknown;
  ASSERT_EQ(users->get__NewEnum(unknown.put()), S_OK);
  ComPtr<IEnumVARIANT> e;
  ASSERT_EQ(unknown.As(&e), S_OK);

  std::vector<std::string> expected;
  for (const Variant& v : ValueTable()) expected.push_back(Describe(v));
  for (int i = 0; i < 3; ++i) expected.push_back("DISPATCH:arch:item-" + std::to_string(i));

  std::vector<std::string> got;
  Variant v;
  ULONG fetched = 0;
  while (e->Next(1, v.put(), &fetched) == S_OK) got.push_back(Describe(v));
  EXPECT_EQ(fetched, 0u);
  EXPECT_EQ(got, expected);

  // Reset starts again; Skip passes over values; a clone stands where its original stands.
  ASSERT_EQ(e->Reset(), S_OK);
  ASSERT_EQ(e->Skip(2), S_OK);
  ComPtr<IEnumVARIANT> clone;
  ASSERT_EQ(e->Clone(clone.put()), S_OK);
  Variant batch[4];
  ASSERT_EQ(clone->Next(4, batch, &fetched), S_OK);
  ASSERT_EQ(fetched, 4u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Describe(batch[i]), expected[2 + i]);
  ASSERT_EQ(e->Next(1, v.put(), &fetched), S_OK);
  EXPECT_EQ(Describe(v), expected[2]);
  EXPECT_EQ(e->Skip(1000), S_FALSE);
}

TEST_P(RemoteTest, NullAndEmptyStringsStayApart) {
  ComPtr<IQVAArchs> root = Connect<IQVAArchs>();
  ASSERT_TRUE(root);
  const struct {
    Bstr in;
    bool null;
  } cases[] = {{Bstr(), true}, {Bstr(""), false}, {Bstr(u"x\0y"), false}};
  for (const auto& c : cases) {
    ASSERT_EQ(root->Init(c.in.get()), S_OK);
    Bstr out;
    ASSERT_EQ(root->get_Dir(out.put()), S_OK);
    EXPECT_EQ(out.get() == nullptr, c.null);
    EXPECT_EQ(out.view(), c.in.view());
  }
}

TEST_P(RemoteTest, SuccessCodesComeBackUnchangedAndFailuresBringTheirErrorInfo) {
  ComPtr<IQVAArchs> root = Connect<IQVAArchs>();
  ASSERT_TRUE(root);
  EXPECT_EQ(root->Init(Bstr("S_FALSE").get()), S_FALSE);

  SetErrorInfo(0, nullptr);
  EXPECT_EQ(root->Init(Bstr("fail").get()), kTestFailure);
  const ErrorText error = TakeErrorText();
  EXPECT_EQ(error.source, "TestRoot");
  EXPECT_EQ(error.description, "Init was told to fail");
}

TEST_P(RemoteTest, ReleasingAProxyReleasesTheServersObject) {
  ComPtr<IQVAArchs> root = Connect<IQVAArchs>();
  ASSERT_TRUE(root);
  const LONG before = LiveArchs(root.get());
  ComPtr<IQVAArch> a, b;
  ASSERT_EQ(root->Index(Variant::I4(1), a.put()), S_OK);
  ASSERT_EQ(root->Index(Variant::I4(2), b.put()), S_OK);
  EXPECT_EQ(LiveArchs(root.get()), before + 2);
  a = nullptr;
  EXPECT_EQ(LiveArchs(root.get()), before + 1);
  b = nullptr;
  EXPECT_EQ(LiveArchs(root.get()), before);
}

TEST_P(RemoteTest, AProxyPassedBackIsTheServersOwnObject) {
  ComPtr<IQVAArchs> root = Connect<IQVAArchs>();
  ASSERT_TRUE(root);
  ComPtr<IQVAArch> arch, back;
  ASSERT_EQ(root->Index(Variant::I4(5), arch.put()), S_OK);
  ASSERT_EQ(root->Index(Variant::Dispatch(arch.get()), back.put()), S_OK);
  EXPECT_EQ(Name(back.get()), "home:I4:5");

  // An object of this process crosses too: the service calls it back while it serves Index.
  ComPtr<IQVAArch> local = MakeArch("local");
  ASSERT_EQ(root->Index(Variant::Dispatch(local.get()), back.put()), S_OK);
  EXPECT_EQ(Name(back.get()), "home:local");
}

TEST_P(RemoteTest, QueryInterfaceCrossesTheWireAndKeepsIdentity) {
  ComPtr<IQVAArchs> root = Connect<IQVAArchs>();
  ASSERT_TRUE(root);
  ComPtr<IQVARealUsers> users;
  EXPECT_EQ(root.As(&users), S_OK);
  ComPtr<IQVAUsers> absent;
  EXPECT_EQ(root.As(&absent), E_NOINTERFACE);
  ComPtr<IUnknown> id1, id2;
  ASSERT_EQ(root.As(&id1), S_OK);
  ASSERT_EQ(users.As(&id2), S_OK);
  EXPECT_EQ(id1.get(), id2.get());

  // Late binding through the proxy's IDispatch reaches the remote member.
  ComPtr<IDispatch> dispatch;
  ASSERT_EQ(root.As(&dispatch), S_OK);
  ASSERT_EQ(root->Init(Bstr("late").get()), S_OK);
  LPOLESTR name = const_cast<LPOLESTR>(u"Dir");
  DISPID id = 0;
  ASSERT_EQ(dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  Variant result;
  ASSERT_EQ(
      dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, result.put(), nullptr, nullptr),
      S_OK);
  EXPECT_EQ(Describe(result), "BSTR:4:late");
}

TEST_P(RemoteTest, LoginsAreCheckedWithoutSendingThePassword) {
  const struct {
    const char* what;
    Login login;
    bool tcp;
    HRESULT hr;
  } cases[] = {
      {"right password, socket", {u"alice", u"CORP", u"s3cret wörd"}, false, S_OK},
      {"right password, TCP", {u"alice", u"CORP", u"s3cret wörd"}, true, S_OK},
      {"names ignore case", {u"ALICE", u"corp", u"s3cret wörd"}, true, S_OK},
      {"wrong password", {u"alice", u"CORP", u"s3cret word"}, true, E_ACCESSDENIED},
      {"empty password", {u"alice", u"CORP", u""}, false, E_ACCESSDENIED},
      {"unknown account", {u"mallory", u"CORP", u"s3cret wörd"}, true, E_ACCESSDENIED},
      {"other domain", {u"alice", u"HOME", u"s3cret wörd"}, true, E_ACCESSDENIED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ComPtr<IQVAArchs> root;
    EXPECT_EQ(Activate(IID_IQVAArchs, root.put_void(), c.tcp ? TcpName() : u"", &c.login), c.hr);
    EXPECT_EQ(static_cast<bool>(root), c.hr == S_OK);
    if (root) {
      EXPECT_GE(LiveArchs(root.get()), 0);
    }
  }
}

TEST_P(RemoteTest, NoIdentityIsAcceptedOnlyOnTheLocalSocket) {
  ComPtr<IQVAArchs> root;
  EXPECT_EQ(Activate(IID_IQVAArchs, root.put_void()), S_OK);  // same user as the service
  EXPECT_TRUE(root);
  ComPtr<IQVAArchs> tcp;
  EXPECT_EQ(Activate(IID_IQVAArchs, tcp.put_void(), TcpName()), E_ACCESSDENIED);
  EXPECT_FALSE(tcp);
}

TEST_P(RemoteTest, NoIdentityFromAnotherLocalUserIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run a console as another user";
  std::filesystem::permissions(dir_.path(), std::filesystem::perms::others_exec, std::filesystem::perm_options::add);
  const pid_t console = ::fork();
  if (console == 0) {
    std::thread([] {
      if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(10);
      CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
      IQVAArchs* root = nullptr;
      const HRESULT hr = Activate(IID_IQVAArchs, reinterpret_cast<void**>(&root));
      ::_exit(hr == E_ACCESSDENIED && !root ? 0 : 11);
    }).join();
  }
  int status = -1;
  ASSERT_EQ(::waitpid(console, &status, 0), console);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_P(RemoteTest, ActivationFailuresComeBackUnchanged) {
  ComPtr<IQVAUsers> users;
  EXPECT_EQ(Activate(IID_IQVAUsers, users.put_void()), E_NOINTERFACE);
  ::setenv("QVA_REMOTE_SOCKET", (dir_.path() / "nobody.sock").c_str(), 1);
  ComPtr<IQVAArchs> root;
  EXPECT_EQ(Activate(IID_IQVAArchs, root.put_void()), RPC_E_SERVER_UNAVAILABLE);
  EXPECT_FALSE(root);
}

TEST_P(RemoteTest, AProxyRefusesCallsFromAnotherThread) {
  ComPtr<IQVAArchs> root = Connect<IQVAArchs>();
  ASSERT_TRUE(root);
  HRESULT hr = S_OK;
  std::thread([&] {
    LONG n;
    hr = root->get_Count(&n);
  }).join();
  EXPECT_EQ(hr, remote::RPC_E_WRONG_THREAD);
}

TEST_P(RemoteTest, ADisconnectReleasesEverythingTheClientHeld) {
  ComPtr<IQVAArchs> root = Connect<IQVAArchs>();
  ASSERT_TRUE(root);
  const LONG before = LiveArchs(root.get());
  // A console process takes objects and dies without releasing them.
  const pid_t console = ::fork();
  if (console == 0) {
    std::thread([] {
      CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
      IQVAArchs* held = nullptr;
      if (FAILED(Activate(IID_IQVAArchs, reinterpret_cast<void**>(&held)))) ::_exit(1);
      IQVAArch* arch = nullptr;
      for (int i = 0; i < 3; ++i)
        if (held->Index(Variant::I4(i), &arch) != S_OK) ::_exit(2);
      LONG n = 0;
      held->get_Count(&n);
      ::_exit(n >= 3 ? 0 : 3);
    }).join();
  }
  int status = -1;
  ASSERT_EQ(::waitpid(console, &status, 0), console);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  // The service notices the end of the connection between two of our calls.
  LONG now = -1;
  for (int calls = 0; calls < 10000 && (now = LiveArchs(root.get())) != before; ++calls) {
  }
  EXPECT_EQ(now, before);
}

TEST_P(RemoteTest, AConsoleSeesTheServiceGo) {
  ComPtr<IQVAArchs> root = Connect<IQVAArchs>();
  ASSERT_TRUE(root);
  ComPtr<IQVAArch> arch;
  ASSERT_EQ(root->Index(Variant::I4(1), arch.put()), S_OK);
  server_.reset();  // the service stops (or its process ends)
  LONG n = 0;
  EXPECT_EQ(root->get_Count(&n), remote::RPC_E_DISCONNECTED);
  Bstr name;
  EXPECT_EQ(arch->get_Name(name.put()), remote::RPC_E_DISCONNECTED);
  EXPECT_FALSE(name.get());
}

// Bytes a hostile or broken peer might send, each on a connection of its own.
TEST_P(RemoteTest, ABrokenMessageClosesOnlyItsConnection) {
  ComPtr<IQVAArchs> root = Connect<IQVAArchs>();
  ASSERT_TRUE(root);
  const struct {
    const char* what;
    std::vector<uint32_t> words;  // little-endian 32-bit words of the stream
  } cases[] = {
      {"truncated segment", {0, 100, 0x11111111, 0x22222222}},
      {"absurd segment count", {0x7FFFFFFF, 1, 1, 1}},
      {"segment larger than the limit", {0, 0x10000000}},
      {"garbage root pointer", {0, 2, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socket_.c_str());
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::write(fd, c.words.data(), c.words.size() * 4), static_cast<ssize_t>(c.words.size() * 4));
    ::shutdown(fd, SHUT_WR);
    // The service closes the connection: read reaches its end (a safety bound keeps a failure
    // from hanging the suite; it is not a measurement).
    pollfd p{fd, POLLIN, 0};
    char buffer[256];
    ssize_t n = 1;
    while (n > 0 && ::poll(&p, 1, 20000) == 1) n = ::read(fd, buffer, sizeof buffer);
    // Closed with bytes of ours still unread, the socket is reset rather than ended.
    EXPECT_TRUE(n == 0 || (n < 0 && errno == ECONNRESET)) << n << " " << errno;
    ::close(fd);
    // Everything else goes on.
    EXPECT_GE(LiveArchs(root.get()), 0);
    ComPtr<IQVAArchs> again = Connect<IQVAArchs>();
    EXPECT_TRUE(again);
  }
}

// The library's own real-time objects over the wire: a proxy whose member hands out a proxy
// whose member hands out a proxy.
class RealTimeRemoteTest : public RemoteTest {
 protected:
  TestServer::MakeRoot MakeRoot() override {
    return [] {
      auto root = com::CreateObject<CQVARealTime>();
      return root ? ComPtr<IUnknown>((*root)->Identity()) : nullptr;
    };
  }
};

INSTANTIATE_TEST_SUITE_P(Servers, RealTimeRemoteTest, ::testing::Values(Where::kThread, Where::kProcess),
                         [](const auto& info) { return info.param == Where::kThread ? "Thread" : "Process"; });

TEST_P(RealTimeRemoteTest, ObjectReferencesLeadToObjectReferences) {
  ComPtr<IQVARealTime> realtime;
  ASSERT_EQ(Activate(IID_IQVARealTime, realtime.put_void()), S_OK);
  ComPtr<IQVARealUsers> users, same;
  ASSERT_EQ(realtime->get_RealUsers(users.put()), S_OK);
  ASSERT_EQ(realtime->get_RealUsers(same.put()), S_OK);
  EXPECT_EQ(users.get(), same.get());  // one object, one proxy

  for (const char* name : {"alice", "bob", "carol"}) {
    ComPtr<IQVARealUser> user;
    ASSERT_EQ(users->Add(Bstr(name).get(), user.put()), S_OK);
    ASSERT_EQ(user->put_Port(8080), S_OK);
    ASSERT_EQ(user->put_StartTime(45000.5), S_OK);
  }
  LONG count = 0;
  ASSERT_EQ(users->get_Count(&count), S_OK);
  EXPECT_EQ(count, 3);

  ComPtr<IUnknown> unknown;
  ASSERT_EQ(users->get__NewEnum(unknown.put()), S_OK);
  ComPtr<IEnumVARIANT> e;
  ASSERT_EQ(unknown.As(&e), S_OK);
  Variant items[5];
  ULONG fetched = 0;
  ASSERT_EQ(e->Next(5, items, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 3u);
  const char* newest_first[] = {"carol", "bob", "alice"};
  for (ULONG i = 0; i < fetched; ++i) {
    ASSERT_EQ(items[i].vt, VT_UNKNOWN);  // as the views hand them out in process
    ComPtr<IQVARealUser> user;
    ASSERT_EQ(items[i].punkVal->QueryInterface(IID_IQVARealUser, user.put_void()), S_OK);
    Bstr name;
    LONG port = 0;
    DATE start = 0;
    ASSERT_EQ(user->get_Name(name.put()), S_OK);
    ASSERT_EQ(user->get_Port(&port), S_OK);
    ASSERT_EQ(user->get_StartTime(&start), S_OK);
    EXPECT_EQ(name.utf8(), newest_first[i]);
    EXPECT_EQ(port, 8080);
    EXPECT_EQ(start, 45000.5);
  }

  DATE date = 0;
  ASSERT_EQ(realtime->put_CurDate(45291.999988425923), S_OK);  // 2023-12-31 23:59:59
  ASSERT_EQ(realtime->get_CurDate(&date), S_OK);
  EXPECT_EQ(date, 45291.999988425923);
}

}  // namespace
}  // namespace qva::testing

namespace qva::testing {
namespace {

// The road of a console's edit starts here: the library's root object (libqvacom.so, loaded
// through the registry as a console loads it) connects through the activator and hands out the
// service's array as a real IQVAArray whose members answer as they do in process.
class ArrayRemoteTest : public RemoteTest {
 protected:
  void SetUp() override {
    ::setenv("QVA_REGISTRY", (registry_dir_.path() / "registry").c_str(), 1);
    void* library = ::dlopen(QVA_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_TRUE(library);
    auto register_server = reinterpret_cast<HRESULT (*)()>(::dlsym(library, "DllRegisterServer"));
    ASSERT_TRUE(register_server);
    ASSERT_EQ(register_server(), S_OK);
    RemoteTest::SetUp();
  }
  void TearDown() override {
    RemoteTest::TearDown();
    ::unsetenv("QVA_REGISTRY");
  }
  TestServer::MakeRoot MakeRoot() override {
    return [] {
      ComPtr<IUnknown> array;
      EXPECT_EQ(CoCreateInstance(CLSID_QVAArray, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, array.put_void()), S_OK);
      return array;
    };
  }
  TempDir registry_dir_;
};

INSTANTIATE_TEST_SUITE_P(Servers, ArrayRemoteTest, ::testing::Values(Where::kThread, Where::kProcess),
                         [](const auto& info) { return info.param == Where::kThread ? "Thread" : "Process"; });

TEST_P(ArrayRemoteTest, ConnectHandsOutTheServicesArray) {
  ComPtr<IQVA> root;
  ASSERT_EQ(CoCreateInstance(CLSID_QVA, nullptr, CLSCTX_INPROC_SERVER, IID_IQVA, root.put_void()), S_OK);
  const struct {
    const char* what;
    const char16_t *user, *domain, *password;
    HRESULT hr;
  } cases[] = {
      {"no identity", u"", u"", u"", S_OK},
      {"login", u"alice", u"CORP", u"s3cret wörd", S_OK},
      {"wrong password", u"alice", u"CORP", u"guess", E_ACCESSDENIED},
      {"user without password", u"alice", u"", u"", E_ACCESSDENIED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ComPtr<IQVAArray> array;
    EXPECT_EQ(
        root->Connect(Bstr(u"").get(), Bstr(c.user).get(), Bstr(c.domain).get(), Bstr(c.password).get(), array.put()),
        c.hr);
    EXPECT_EQ(static_cast<bool>(array), c.hr == S_OK);
  }

  ComPtr<IQVAArray> remote_array;
  ASSERT_EQ(root->Connect(nullptr, nullptr, nullptr, nullptr, remote_array.put()), S_OK);
  ComPtr<IQVAArray> local_array;
  ASSERT_EQ(root->GetArray(local_array.put()), S_OK);
  // An array the service has not initialised answers alike on both sides.
  ComPtr<IQVAUsers> remote_users, local_users;
  const HRESULT local_hr = local_array->get_Users(local_users.put());
  EXPECT_EQ(remote_array->get_Users(remote_users.put()), local_hr);
  EXPECT_EQ(static_cast<bool>(remote_users), static_cast<bool>(local_users));
  ComPtr<IQVARealTime> remote_realtime, local_realtime;
  const HRESULT realtime_hr = local_array->get_RealTime(local_realtime.put());
  EXPECT_EQ(remote_array->get_RealTime(remote_realtime.put()), realtime_hr);
  EXPECT_EQ(static_cast<bool>(remote_realtime), static_cast<bool>(local_realtime));
}

}  // namespace
}  // namespace qva::testing

namespace qva::testing {
namespace {

// The settings document wrapper of the library over the wire, and the DOM it hands out: the
// DOM's interfaces cross as the library's do.
class XmlDocRemoteTest : public RemoteTest {
 protected:
  void SetUp() override {
    file_ = (dir_.path() / "settings.xml").string();
    std::ofstream(file_) << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<settings><item>héllo</item></settings>\n";
    RemoteTest::SetUp();
  }
  TestServer::MakeRoot MakeRoot() override {
    return [file = file_] {
      auto doc = com::CreateObject<CQVAXMLDoc>();
      if (!doc || (*doc)->Open(Bstr(file).get()) != S_OK) return ComPtr<IUnknown>();
      return ComPtr<IUnknown>((*doc)->Identity());
    };
  }
  std::string file_;
};

INSTANTIATE_TEST_SUITE_P(Servers, XmlDocRemoteTest, ::testing::Values(Where::kThread, Where::kProcess),
                         [](const auto& info) { return info.param == Where::kThread ? "Thread" : "Process"; });

TEST_P(XmlDocRemoteTest, TheServicesDomCrossesToo) {
  ComPtr<IQVAXMLDoc> wrapper;
  ASSERT_EQ(Activate(IID_IQVAXMLDoc, wrapper.put_void()), S_OK);
  ComPtr<IUnknown> unknown;
  ASSERT_EQ(wrapper->get_XMLDOMDocument(unknown.put()), S_OK);
  ComPtr<IXMLDOMDocument> doc;
  ASSERT_EQ(unknown.As(&doc), S_OK);
  ComPtr<IXMLDOMElement> top;
  ASSERT_EQ(doc->get_documentElement(top.put()), S_OK);
  Bstr name;
  ASSERT_EQ(top->get_nodeName(name.put()), S_OK);
  EXPECT_EQ(name.utf8(), "settings");

  ComPtr<IXMLDOMNode> item;
  ASSERT_EQ(doc->selectSingleNode(Bstr("settings/item").get(), item.put()), S_OK);
  Bstr text;
  ASSERT_EQ(item->get_text(text.put()), S_OK);
  EXPECT_EQ(text.utf8(), "héllo");
  ASSERT_EQ(item->put_text(Bstr("changed remotely").get()), S_OK);
  ASSERT_EQ(wrapper->Save(), S_OK);
  std::stringstream saved;
  saved << std::ifstream(file_).rdbuf();
  EXPECT_NE(saved.str().find("<item>changed remotely</item>"), std::string::npos) << saved.str();

  ComPtr<IXMLDOMNode> absent;
  EXPECT_EQ(doc->selectSingleNode(Bstr("settings/none").get(), absent.put()), S_FALSE);
  EXPECT_FALSE(absent);
}

}  // namespace
}  // namespace qva::testing
