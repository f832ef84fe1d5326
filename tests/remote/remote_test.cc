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

#include "platform/ado/ado.h"
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

  virtual TestServer::MakeRoot MakeRoot() { return RootOf<TestRoot>(); }
  std::u16string TcpName() const { return com::Utf8ToUtf16("127.0.0.1:" + std::to_string(server_->tcp_port())); }

  TempDir dir_;
  std::string socket_;
  std::string accounts_;
  std::unique_ptr<TestServer> server_;
};

INSTANTIATE_TEST_SUITE_P(Servers, RemoteTest, kBothServers, ServerName);

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
  TestServer::MakeRoot MakeRoot() override { return RootOf<CQVARealTime>(); }
};

INSTANTIATE_TEST_SUITE_P(Servers, RealTimeRemoteTest, kBothServers, ServerName);

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
    for (const char* path : Libraries()) {
      SCOPED_TRACE(path);
      void* library = ::dlopen(path, RTLD_NOW | RTLD_LOCAL);
      ASSERT_TRUE(library);
      auto register_server = reinterpret_cast<HRESULT (*)()>(::dlsym(library, "DllRegisterServer"));
      ASSERT_TRUE(register_server);
      ASSERT_EQ(register_server(), S_OK);
    }
    RemoteTest::SetUp();
  }
  // The in-process servers registered before the service starts.
  virtual std::vector<const char*> Libraries() const { return {QVA_LIBRARY}; }
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

INSTANTIATE_TEST_SUITE_P(Servers, ArrayRemoteTest, kBothServers, ServerName);

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

INSTANTIATE_TEST_SUITE_P(Servers, XmlDocRemoteTest, kBothServers, ServerName);

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

namespace qva::testing {
namespace {

// ADO's objects over the wire: the service's array, initialised on an embedded database that
// holds a few users, hands its database object's connection to a console, which runs statements
// through it and walks their recordsets member by member.
class AdoRemoteTest : public ArrayRemoteTest {
 protected:
  void SetUp() override {
    base_ = dir_.path() / "base";
    std::filesystem::create_directories(base_);
    ::setenv("QVA_BASE_FOLDER", base_.c_str(), 1);
    for (const char* name : {"vodrik_e.xmt", "Vodrik.ntt"})
      std::filesystem::copy_file(std::filesystem::path(QVA_TEMPLATE_DIR) / name, base_ / name);
    std::filesystem::copy_file(base_ / "Vodrik.ntt", base_ / "Vodrik_e.ntf");
    ComPtr<_Connection> seed = LocalConnection();
    ASSERT_TRUE(seed);
    for (const char* row : {
             "INSERT INTO Users (Name, FullName, UserType, TimeLimit, LastTime) "
             "VALUES ('carol', 'Carol Ng', 2, 1.25, #2024-03-31 02:30:00#)",
             "INSERT INTO Users (Name, FullName, UserType, TimeLimit, LastTime) "
             "VALUES ('alice', 'Alice Wörth', 1, 0, #2023-12-31 23:59:59#)",
             "INSERT INTO Users (Name, UserType) VALUES ('bob', 0)",  // the rest NULL
         }) {
      ComPtr<_Recordset> none;
      ASSERT_EQ(seed->Execute(Bstr(row).get(), Variant(), adExecuteNoRecords, none.put()), S_OK) << row;
    }
    ASSERT_EQ(seed->Close(), S_OK);
    ArrayRemoteTest::SetUp();
  }
  void TearDown() override {
    ArrayRemoteTest::TearDown();
    ::unsetenv("QVA_BASE_FOLDER");
  }
  // The array's Init needs the outside components.
  std::vector<const char*> Libraries() const override {
    return {QVA_LIBRARY, QVA_CONTROL_LIBRARY, QVA_FIREWALL_LIBRARY};
  }
  TestServer::MakeRoot MakeRoot() override {
    return [make_array = ArrayRemoteTest::MakeRoot()] {
      ComPtr<IUnknown> array = make_array();
      ComPtr<IQVAArray> typed;
      if (!array || FAILED(array.As(&typed))) return ComPtr<IUnknown>();
      EXPECT_EQ(typed->Init(), S_OK);  // S_OK: the database opened
      return array;
    };
  }

  // A connection of this process on the service's database file, opened as the service opens it.
  ComPtr<_Connection> LocalConnection() {
    auto made = ado::CreateConnection();
    if (!made) return nullptr;
    ComPtr<_Connection> c = std::move(made).value();
    const Bstr text("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + (base_ / "Vodrik_e.ntf").string());
    EXPECT_EQ(c->Open(Variant::Str(text.view()), Variant(), Variant(), -1), S_OK);
    return c;
  }

  // The service's database connection, as a console reaches it: the array's DataBase, its
  // Connection (declared IUnknown), asked for _Connection.
  ComPtr<_Connection> RemoteConnection(ComPtr<IQVAArray>* array_out = nullptr) {
    ComPtr<IQVA> root;
    EXPECT_EQ(CoCreateInstance(CLSID_QVA, nullptr, CLSCTX_INPROC_SERVER, IID_IQVA, root.put_void()), S_OK);
    ComPtr<IQVAArray> array;
    EXPECT_EQ(root->Connect(nullptr, nullptr, nullptr, nullptr, array.put()), S_OK);
    if (!array) return nullptr;
    ComPtr<IQVADataBase> db;
    EXPECT_EQ(array->get_DataBase(db.put()), S_OK);
    if (!db) return nullptr;
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(db->get_Connection(unknown.put()), S_OK);
    ComPtr<_Connection> connection;
    if (unknown) {
      EXPECT_EQ(unknown.As(&connection), S_OK);
    }
    if (array_out) *array_out = array;
    return connection;
  }

  std::filesystem::path base_;
};

INSTANTIATE_TEST_SUITE_P(Servers, AdoRemoteTest, kBothServers, ServerName);

constexpr const char* kUserColumns[] = {"Name", "FullName", "UserType", "TimeLimit", "LastTime"};

// Every row of `statement` as text, one line a row: each column's value read as a console reads
// it (EOF, Fields, Item(name), Value, MoveNext), whether `c` is a proxy or a local connection.
std::vector<std::string> Rows(_Connection* c, const char* statement) {
  std::vector<std::string> rows;
  ComPtr<_Recordset> rs;
  EXPECT_EQ(c->Execute(Bstr(statement).get(), Variant(), -1, rs.put()), S_OK);
  if (!rs) return rows;
  ComPtr<Fields> fields;
  EXPECT_EQ(rs->get_Fields(fields.put()), S_OK);
  if (!fields) return rows;
  VARIANT_BOOL eof = VARIANT_TRUE;
  while (rs->get_EOF(&eof) == S_OK && !eof) {
    std::string row;
    for (const char* column : kUserColumns) {
      ComPtr<Field> field;
      EXPECT_EQ(fields->get_Item(Variant::Str(column), field.put()), S_OK) << column;
      Variant value;
      if (field) {
        EXPECT_EQ(field->get_Value(value.put()), S_OK) << column;
      }
      row += Describe(value) + " | ";
    }
    rows.push_back(row);
    EXPECT_EQ(rs->MoveNext(), S_OK);
  }
  EXPECT_EQ(eof, VARIANT_TRUE);
  return rows;
}

TEST_P(AdoRemoteTest, AConsoleWalksTheSameRowsAsTheServiceInProcess) {
  ComPtr<_Connection> remote = RemoteConnection();
  ASSERT_TRUE(remote);
  ComPtr<_Connection> local = LocalConnection();
  ASSERT_TRUE(local);
  const char* select = "SELECT Name, FullName, UserType, TimeLimit, LastTime FROM Users ORDER BY Name";
  const std::vector<std::string> expected = Rows(local.get(), select);
  // The seeded users, typed by their columns: text, smallint, float, datetime, and NULLs.
  ASSERT_EQ(expected.size(), 3u);
  EXPECT_TRUE(expected[0].starts_with("BSTR:5:alice | BSTR:11:Alice Wörth | I2:1 | R8:0.000000 | DATE:"))
      << expected[0];
  EXPECT_EQ(expected[1], "BSTR:3:bob | NULL | I2:0 | NULL | NULL | ");
  EXPECT_EQ(Rows(remote.get(), select), expected);

  // The connection's state and properties cross as the declared types, enumerations included.
  LONG state = -1;
  ASSERT_EQ(remote->get_State(&state), S_OK);
  EXPECT_EQ(state, adStateOpen);
  const CursorLocationEnum locations[] = {adUseClient, adUseServer, adUseNone, static_cast<CursorLocationEnum>(7)};
  for (CursorLocationEnum value : locations) {
    SCOPED_TRACE(value);
    EXPECT_EQ(remote->put_CursorLocation(value), local->put_CursorLocation(value));
    CursorLocationEnum there{}, here{};
    ASSERT_EQ(remote->get_CursorLocation(&there), S_OK);
    ASSERT_EQ(local->get_CursorLocation(&here), S_OK);
    EXPECT_EQ(there, here);
  }
  EXPECT_EQ(remote->put_CursorLocation(adUseNone), static_cast<HRESULT>(0x800A0BB9));  // refused by ADO

  // A field's name and type, read through a field fetched by position.
  ComPtr<_Recordset> rs;
  ASSERT_EQ(remote->Execute(Bstr(select).get(), Variant(), -1, rs.put()), S_OK);
  ComPtr<Fields> fields;
  ASSERT_EQ(rs->get_Fields(fields.put()), S_OK);
  LONG count = 0;
  ASSERT_EQ(fields->get_Count(&count), S_OK);
  EXPECT_EQ(count, 5);
  ComPtr<Field> field;
  ASSERT_EQ(fields->get_Item(Variant::I4(2), field.put()), S_OK);
  Bstr name;
  DataTypeEnum type{};
  ASSERT_EQ(field->get_Name(name.put()), S_OK);
  ASSERT_EQ(field->get_Type(&type), S_OK);
  EXPECT_EQ(name.utf8(), "UserType");
  EXPECT_EQ(type, adSmallInt);
}

TEST_P(AdoRemoteTest, ARefusedStatementComesBackWithTheEnginesError) {
  ComPtr<_Connection> remote = RemoteConnection();
  ASSERT_TRUE(remote);
  ComPtr<_Connection> local = LocalConnection();
  ASSERT_TRUE(local);
  for (const char* statement : {"SELECT * FROM NoSuchTable", "SELECT Name FROM Users WHERE", "INSERT INTO Users"}) {
    SCOPED_TRACE(statement);
    ComPtr<_Recordset> rs;
    SetErrorInfo(0, nullptr);
    const HRESULT local_hr = local->Execute(Bstr(statement).get(), Variant(), -1, rs.put());
    const ErrorText local_error = TakeErrorText();
    ASSERT_TRUE(FAILED(local_hr));
    ASSERT_FALSE(local_error.description.empty());
    EXPECT_EQ(remote->Execute(Bstr(statement).get(), Variant(), -1, rs.put()), local_hr);
    EXPECT_FALSE(rs);
    const ErrorText remote_error = TakeErrorText();
    EXPECT_EQ(remote_error.source, local_error.source);
    EXPECT_EQ(remote_error.description, local_error.description);
  }
  // The misuse codes of ADO's objects come back too: past the end, no current record.
  ComPtr<_Recordset> empty;
  ASSERT_EQ(remote->Execute(Bstr("SELECT Name FROM Users WHERE Name = 'nobody'").get(), Variant(), -1, empty.put()),
            S_OK);
  SetErrorInfo(0, nullptr);
  EXPECT_EQ(empty->MoveNext(), static_cast<HRESULT>(0x800A0BCD));
  EXPECT_EQ(TakeErrorText().source, "ADODB.Recordset");
}

TEST_P(AdoRemoteTest, TheSameConnectionFetchedTwiceIsOneProxy) {
  ComPtr<IQVAArray> array;
  ComPtr<_Connection> first = RemoteConnection(&array);
  ASSERT_TRUE(first);
  ComPtr<IQVADataBase> db;
  ASSERT_EQ(array->get_DataBase(db.put()), S_OK);
  ComPtr<IUnknown> again;
  ASSERT_EQ(db->get_Connection(again.put()), S_OK);
  ComPtr<IUnknown> identity;
  ASSERT_EQ(first.As(&identity), S_OK);
  EXPECT_EQ(again.get(), identity.get());
  ComPtr<_Connection> typed;
  ASSERT_EQ(again.As(&typed), S_OK);
  EXPECT_EQ(typed.get(), first.get());

  // Sent back to the service, the proxy is the service's own connection again: its recordset
  // opens on it (a recordset of this process cannot use it, and says so).
  ComPtr<_Recordset> rs;
  ASSERT_EQ(first->Execute(Bstr("SELECT Name FROM Users").get(), Variant(), -1, rs.put()), S_OK);
  ASSERT_EQ(rs->Close(), S_OK);
  ASSERT_EQ(rs->Open(Variant::Str("SELECT Name FROM Users ORDER BY Name"), Variant::Dispatch(first.get()), adOpenStatic,
                     adLockReadOnly, -1),
            S_OK);
  VARIANT_BOOL eof = VARIANT_TRUE;
  ASSERT_EQ(rs->get_EOF(&eof), S_OK);
  EXPECT_EQ(eof, VARIANT_FALSE);

  auto made = ado::CreateRecordset();
  ASSERT_TRUE(made);
  ComPtr<_Recordset> here = std::move(made).value();
  SetErrorInfo(0, nullptr);
  EXPECT_EQ(here->Open(Variant::Str("SELECT Name FROM Users"), Variant::Dispatch(first.get()), adOpenStatic,
                       adLockReadOnly, -1),
            static_cast<HRESULT>(0x800A0E7D));
  EXPECT_FALSE(TakeErrorText().description.empty());
}

// [in] VARIANTs by reference go as the values they refer to; values that cannot cross fail
// before any round trip, with error information naming their type, and the connection goes on.
TEST_P(AdoRemoteTest, ArgumentsThatCannotCrossFailWithErrorInformation) {
  ComPtr<_Connection> remote = RemoteConnection();
  ASSERT_TRUE(remote);
  LONG affected = 0;
  Variant inner = Variant::I4(0);
  DECIMAL stored{};
  auto make = [](VARTYPE vt, void* ref) {
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    v.byref = ref;
    return v;
  };
  VARIANT missing = make(VT_ERROR, nullptr);
  missing.scode = DISP_E_PARAMNOTFOUND;
  const struct {
    const char* what;
    VARIANT value;
    HRESULT hr;
    const char* named;  // in the error description
  } cases[] = {
      {"missing", missing, S_OK, nullptr},
      {"by reference", make(VT_BYREF | VT_I4, &affected), S_OK, nullptr},
      {"variant by reference", make(VT_BYREF | VT_VARIANT, &inner), S_OK, nullptr},
      {"decimal", make(VT_DECIMAL, nullptr), DISP_E_BADVARTYPE, "VT_DECIMAL"},
      {"decimal by reference", make(VT_BYREF | VT_DECIMAL, &stored), DISP_E_BADVARTYPE, "VT_DECIMAL"},
      {"null reference", make(VT_BYREF | VT_I4, nullptr), DISP_E_BADVARTYPE, "VT_BYREF | type 3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ComPtr<_Recordset> rs;
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(remote->Execute(Bstr("SELECT Name FROM Users").get(), c.value, -1, rs.put()), c.hr);
    EXPECT_EQ(static_cast<bool>(rs), SUCCEEDED(c.hr));
    const ErrorText error = TakeErrorText();
    if (c.named) {
      EXPECT_EQ(error.source, "qvacom remote");
      EXPECT_NE(error.description.find(c.named), std::string::npos) << error.description;
    }
  }
  EXPECT_EQ(affected, 0);  // an [in] argument is not written back
  LONG state = -1;
  EXPECT_EQ(remote->get_State(&state), S_OK);
}

}  // namespace
}  // namespace qva::testing

namespace qva::testing {
namespace {

// A field whose value no connection can carry (a provider's exact numeric), served alone.
class DecimalField : public com::Dispatch<Field> {
 public:
  HRESULT STDMETHODCALLTYPE get_Name(BSTR* out) override {
    *out = com::AllocBstr("Amount");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Type(DataTypeEnum* out) override {
    *out = adDecimal;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Value(VARIANT* out) override {
    VariantInit(out);
    out->decVal = DECIMAL{};
    out->decVal.Lo64 = 12345;
    out->decVal.scale = 2;
    out->vt = VT_DECIMAL;  // after decVal, whose first word it shares
    return S_OK;
  }
};

class AdoFieldRemoteTest : public RemoteTest {
 protected:
  TestServer::MakeRoot MakeRoot() override { return RootOf<DecimalField>(); }
};

INSTANTIATE_TEST_SUITE_P(Servers, AdoFieldRemoteTest, kBothServers, ServerName);

TEST_P(AdoFieldRemoteTest, AResultThatCannotCrossFailsWithErrorInformation) {
  ComPtr<Field> field;
  ASSERT_EQ(Activate(IID_Field, field.put_void()), S_OK);
  Variant value;
  SetErrorInfo(0, nullptr);
  EXPECT_EQ(field->get_Value(value.put()), DISP_E_BADVARTYPE);
  EXPECT_EQ(value.vt, VT_EMPTY);
  const ErrorText error = TakeErrorText();
  EXPECT_EQ(error.source, "qvacom remote");
  EXPECT_NE(error.description.find("VT_DECIMAL"), std::string::npos) << error.description;

  // The object and the connection go on.
  Bstr name;
  ASSERT_EQ(field->get_Name(name.put()), S_OK);
  EXPECT_EQ(name.utf8(), "Amount");
  DataTypeEnum type{};
  ASSERT_EQ(field->get_Type(&type), S_OK);
  EXPECT_EQ(type, adDecimal);
}

}  // namespace
}  // namespace qva::testing
