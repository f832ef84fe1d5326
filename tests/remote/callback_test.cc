// The service calling back into a console's own objects: a console's object crosses as the
// console's capability, the service's member calls it while it serves the console's call, the
// console serves that call back (and calls the service again from within it) while it waits for
// its answer. Every behaviour runs against a server on a thread and one in a forked process.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/com/com_ptr.h"
#include "platform/com/objbase.h"
#include "platform/msxml/msxml.h"
#include "platform/remote/client.h"
#include "platform/remote/runtime.h"
#include "qvacom/accounts/users.h"
#include "qvacom/settings/dom.h"
#include "qvacom/storage/database.h"
#include "tests/remote/test_objects.h"
#include "tests/support/temp_dir.h"

namespace qva::testing {
namespace {

using com::Bstr;
using com::ComPtr;
using com::Variant;
using Where = TestServer::Where;

// The service's array through the local socket, as a console without a login reaches it.
template <class I>
ComPtr<I> ConnectLocal() {
  ComPtr<I> p;
  MULTI_QI mqi{&I::iid, nullptr, S_OK};
  COSERVERINFO info{};
  EXPECT_EQ(CoCreateInstanceEx(remote::kServiceArrayClsid, nullptr, CLSCTX_LOCAL_SERVER, &info, 1, &mqi), S_OK);
  if (SUCCEEDED(mqi.hr)) p = ComPtr<I>::Attach(static_cast<I*>(mqi.pItf));
  return p;
}

std::string Hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(hr));
  return text;
}

// A DOM document of this process whose document element is <Vodrik>.
ComPtr<IXMLDOMDocument> NewDocument() {
  ComPtr<IXMLDOMDocument> document;
  EXPECT_EQ(msxml::CreateDocument(document.put()), S_OK);
  VARIANT_BOOL ok = VARIANT_FALSE;
  EXPECT_EQ(document->loadXML(Bstr("<Vodrik/>").get(), &ok), S_OK);
  EXPECT_EQ(ok, VARIANT_TRUE);
  return document;
}

// A console's object whose name is whatever `name` answers, computed when the service asks.
class ConsoleArch : public com::Dispatch<IQVAArch> {
 public:
  explicit ConsoleArch(std::function<HRESULT(BSTR*)> name) : name_(std::move(name)) {}
  HRESULT STDMETHODCALLTYPE get_Name(BSTR* out) override { return name_(out); }
  HRESULT STDMETHODCALLTYPE put_Name(BSTR) override { return E_NOTIMPL; }

 private:
  std::function<HRESULT(BSTR*)> name_;
};

ComPtr<IQVAArch> MakeConsoleArch(std::function<HRESULT(BSTR*)> name) {
  auto made = com::CreateObject<ConsoleArch>(std::move(name));
  return made ? ComPtr<IQVAArch>(made->get()) : nullptr;
}

// The last failure an EchoRoot of this process saw from a call back (a server on a thread only).
std::atomic<HRESULT> g_last_callback_failure{S_OK};

// The served root. IQVAArchs:
//   Index(object)  calls the object's Name back; on failure returns that code (its error
//                  information unchanged) and logs "failed:<code>", else logs the name and
//                  hands the object itself back;
//   Load           S_OK when the last two objects Index received were one object, else S_FALSE;
//   Init(text)     logs the text;
//   get_Dir        the log, comma-separated;
//   get_Count      the calls of other chains waiting for their turn in the serving apartment.
class EchoRoot : public com::Dispatch<IQVAArchs> {
 public:
  HRESULT STDMETHODCALLTYPE Init(BSTR text) override {
    Log(com::BstrToUtf8(text));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Load() override { return same_ ? S_OK : S_FALSE; }
  HRESULT STDMETHODCALLTYPE Index(VARIANT v, IQVAArch** out) override {
    *out = nullptr;
    if ((v.vt != VT_DISPATCH && v.vt != VT_UNKNOWN) || !v.punkVal) return E_INVALIDARG;
    ComPtr<IQVAArch> arch;
    RETURN_IF_FAILED(v.punkVal->QueryInterface(IID_IQVAArch, arch.put_void()));
    ComPtr<IUnknown> identity;
    RETURN_IF_FAILED(arch.As(&identity));
    same_ = identity == last_;
    last_ = identity;
    Bstr name;
    const HRESULT hr = arch->get_Name(name.put());
    if (FAILED(hr)) {
      // Logging must not clear the callee's error information, which goes back as it came.
      Log("failed:" + Hex(hr));
      g_last_callback_failure = hr;
      return hr;
    }
    Log(name.utf8());
    *out = arch.Detach();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Count(LONG* out) override {
    *out = static_cast<LONG>(remote::Apartment::Current().waiting());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Dir(BSTR* out) override {
    *out = com::AllocBstr(log_);
    return S_OK;
  }

 private:
  void Log(const std::string& entry) { log_ += (log_.empty() ? "" : ",") + entry; }
  std::string log_;
  ComPtr<IUnknown> last_;
  bool same_ = false;
};

class CallbackTest : public ::testing::TestWithParam<Where> {
 protected:
  void SetUp() override {
    remote::InstallClient();
    socket_ = (dir_.path() / "qvacom.sock").string();
    ::setenv("QVA_REMOTE_SOCKET", socket_.c_str(), 1);
    remote::ServerOptions options;
    options.socket_path = socket_;
    server_ = std::make_unique<TestServer>(GetParam(), MakeRoot(), options);
    if (!echo_root_) return;
    root_ = ConnectLocal<IQVAArchs>();
    ASSERT_TRUE(root_);
  }
  void TearDown() override {
    root_ = nullptr;
    server_.reset();
  }
  virtual TestServer::MakeRoot MakeRoot() { return RootOf<EchoRoot>(); }
  std::string Log() {
    Bstr log;
    EXPECT_EQ(root_->get_Dir(log.put()), S_OK);
    return log.utf8();
  }

  TempDir dir_;
  std::string socket_;
  std::unique_ptr<TestServer> server_;
  bool echo_root_ = true;  // the served root is an EchoRoot, reached as root_
  ComPtr<IQVAArchs> root_;
};

INSTANTIATE_TEST_SUITE_P(Servers, CallbackTest, kBothServers, ServerName);

TEST_P(CallbackTest, AConsolesObjectIsCalledBackAndKeepsItsIdentityBothWays) {
  ComPtr<IQVAArch> mine = MakeArch("mine");
  ComPtr<IQVAArch> other = MakeArch("other");
  const struct {
    IQVAArch* sent;
    HRESULT same_as_before;  // what the service's Load says: one proxy for one object
  } cases[] = {{mine.get(), S_FALSE}, {mine.get(), S_OK}, {other.get(), S_FALSE}, {mine.get(), S_FALSE}};
  for (const auto& c : cases) {
    ComPtr<IQVAArch> back;
    ASSERT_EQ(root_->Index(Variant::Dispatch(c.sent), back.put()), S_OK);
    EXPECT_EQ(back.get(), c.sent);  // the service's proxy comes home as the object itself
    EXPECT_EQ(root_->Load(), c.same_as_before);
  }
  EXPECT_EQ(Log(), "mine,mine,other,mine");
}

TEST_P(CallbackTest, AFailingCallBackPassesItsCodeAndErrorInformation) {
  ComPtr<IQVAArch> refusing =
      MakeConsoleArch([](BSTR*) { return com::ReportError(kTestFailure, "ConsoleArch", "the console said no"); });
  SetErrorInfo(0, nullptr);
  ComPtr<IQVAArch> back;
  EXPECT_EQ(root_->Index(Variant::Dispatch(refusing.get()), back.put()), kTestFailure);
  EXPECT_FALSE(back);
  const ErrorText error = TakeErrorText();
  EXPECT_EQ(error.source, "ConsoleArch");
  EXPECT_EQ(error.description, "the console said no");
  EXPECT_EQ(Log(), "failed:" + Hex(kTestFailure));
}

// console -> service -> console -> service: the call back calls the service, which serves it at
// once although a call of the console is suspended.
TEST_P(CallbackTest, TheCallBackCanCallTheServiceAgain) {
  ASSERT_EQ(root_->Init(Bstr("start").get()), S_OK);
  IQVAArchs* root = root_.get();
  ComPtr<IQVAArch> nested = MakeConsoleArch([root](BSTR* out) -> HRESULT {
    Bstr log;
    RETURN_IF_FAILED(root->get_Dir(log.put()));
    *out = com::AllocBstr("saw[" + log.utf8() + "]");
    return S_OK;
  });
  ComPtr<IQVAArch> back;
  ASSERT_EQ(root_->Index(Variant::Dispatch(nested.get()), back.put()), S_OK);
  EXPECT_EQ(Log(), "start,saw[start]");
}

// A chain that never ends (the call back calls Index with itself, again and again) is cut at
// kMaxNesting calls with a clear refusal that travels back through every level.
TEST_P(CallbackTest, NestingIsBounded) {
  IQVAArchs* root = root_.get();
  int depth = 0;
  IQVAArch* self = nullptr;
  ComPtr<IQVAArch> recursive = MakeConsoleArch([root, &depth, &self](BSTR* out) -> HRESULT {
    ++depth;
    ComPtr<IQVAArch> back;
    RETURN_IF_FAILED(root->Index(Variant::Dispatch(self), back.put()));
    *out = com::AllocBstr("unreachable");
    return S_OK;
  });
  self = recursive.get();
  SetErrorInfo(0, nullptr);
  ComPtr<IQVAArch> back;
  EXPECT_EQ(root_->Index(Variant::Dispatch(self), back.put()), remote::RPC_E_CALL_REJECTED);
  EXPECT_EQ(depth, remote::kMaxNesting);
  const ErrorText error = TakeErrorText();
  EXPECT_NE(error.description.find("nest"), std::string::npos) << error.description;
  // The service goes on serving.
  LONG waiting = -1;
  EXPECT_EQ(root_->get_Count(&waiting), S_OK);
  EXPECT_EQ(waiting, 0);
}

// While the service waits for this console's call back, another console's call waits for its
// turn: it is served after the suspended call has ended, never in the middle of it.
TEST_P(CallbackTest, OtherConsolesWaitForTheSuspendedCall) {
  std::atomic<bool> other_done{false};
  HRESULT other_hr = E_FAIL;
  std::thread other;
  IQVAArchs* root = root_.get();
  ComPtr<IQVAArch> holding = MakeConsoleArch([&, root](BSTR* out) {
    other = std::thread([&] {
      CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
      {
        ComPtr<IQVAArchs> second = ConnectLocal<IQVAArchs>();
        other_hr = second ? second->Init(Bstr("other console").get()) : E_FAIL;
      }
      other_done = true;
      CoUninitialize();
    });
    // Calls of this chain are served at once; the other console's call is queued (or, if the
    // service were wrong, served and done).
    LONG waiting = 0;
    while (!other_done && SUCCEEDED(root->get_Count(&waiting)) && waiting == 0) {
    }
    *out = com::AllocBstr("holding");
    return S_OK;
  });
  ComPtr<IQVAArch> back;
  ASSERT_EQ(root_->Index(Variant::Dispatch(holding.get()), back.put()), S_OK);
  other.join();
  EXPECT_EQ(other_hr, S_OK);
  EXPECT_EQ(Log(), "holding,other console");
}

// A console dies while the service waits for its call back: the service's call gets
// RPC_E_DISCONNECTED and the service serves the next console.
TEST_P(CallbackTest, AConsoleThatDiesInACallBackFreesTheService) {
  const pid_t console = ::fork();
  if (console == 0) {
    std::thread([] {
      CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
      ComPtr<IQVAArchs> root = ConnectLocal<IQVAArchs>();
      if (!root) ::_exit(1);
      ComPtr<IQVAArch> dying = MakeConsoleArch([](BSTR*) -> HRESULT { ::_exit(0); });
      ComPtr<IQVAArch> back;
      root->Index(Variant::Dispatch(dying.get()), back.put());
      ::_exit(2);
    }).join();
  }
  int status = -1;
  ASSERT_EQ(::waitpid(console, &status, 0), console);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  // Queued behind the dead console's call if the service has not yet seen the end: either way
  // answered after it.
  EXPECT_EQ(Log(), "failed:" + Hex(remote::RPC_E_DISCONNECTED));
  ComPtr<IQVAArch> mine = MakeArch("mine");
  ComPtr<IQVAArch> back;
  EXPECT_EQ(root_->Index(Variant::Dispatch(mine.get()), back.put()), S_OK);
}

// The service stops while it waits for this console's call back: the end of the connection ends
// the wait, the service's member finishes, and this console's call sees the service gone.
TEST_P(CallbackTest, StoppingTheServiceEndsAWaitForACallBack) {
  g_last_callback_failure = S_OK;
  bool stopped = false;
  ComPtr<IQVAArch> stopping = MakeConsoleArch([this, &stopped](BSTR* out) {
    server_.reset();  // returns once the service has stopped
    stopped = true;
    *out = com::AllocBstr("too late");
    return S_OK;
  });
  ComPtr<IQVAArch> back;
  EXPECT_EQ(root_->Index(Variant::Dispatch(stopping.get()), back.put()), remote::RPC_E_DISCONNECTED);
  EXPECT_TRUE(stopped);
  // The member was not torn out of its wait: it got the code and returned.
  if (GetParam() == Where::kThread) {
    EXPECT_EQ(g_last_callback_failure.load(), remote::RPC_E_DISCONNECTED);
  }
}

// The library's users collection served, and a DOM document of the console's own process handed
// to its SaveXML and LoadXML: every node the service writes or reads is a call back.
class UsersCallbackTest : public CallbackTest {
 protected:
  void SetUp() override {
    file_ = (dir_.path() / "Vodrik_e.ntf").string();
    std::filesystem::copy_file(std::filesystem::path(QVA_TEMPLATE_DIR) / "Vodrik.ntt", file_);
    echo_root_ = false;
    CallbackTest::SetUp();
  }
  TestServer::MakeRoot MakeRoot() override {
    return [file = file_] { return OpenUsers(file); };
  }
  static ComPtr<IUnknown> OpenUsers(const std::string& file) {
    auto db = com::CreateObject<CQVADataBase>();
    auto users = com::CreateObject<CQVAUsers>();
    if (!db || !users || (*db)->OpenAccess(Bstr(file).get()) != S_OK || (*users)->Init(db->get()) != S_OK)
      return nullptr;
    return ComPtr<IUnknown>((*users)->Identity());
  }
  std::string file_;
};

INSTANTIATE_TEST_SUITE_P(Servers, UsersCallbackTest, kBothServers, ServerName);

TEST_P(UsersCallbackTest, AConsolesOwnDocumentGoesThroughSaveXmlAndLoadXml) {
  ComPtr<IQVAUsers> users = ConnectLocal<IQVAUsers>();
  ASSERT_TRUE(users);
  for (const char* name : {"ann", "bob"}) {
    ComPtr<IQVAUser> user;
    ASSERT_EQ(users->Add(Bstr(name).get(), user.put()), S_OK);
    ASSERT_EQ(user->Save(VARIANT_TRUE), S_OK);
  }

  // The service writes the section into the console's document, node by node.
  ComPtr<IXMLDOMDocument> document = NewDocument();
  ASSERT_EQ(users->SaveXML(document.get()), S_OK);
  auto section = dom::Section(document.get(), "Users");
  ASSERT_TRUE(section.ok());
  auto elements = dom::ChildElements(section->get());
  ASSERT_TRUE(elements.ok());
  std::vector<std::string> names;
  for (const auto& element : *elements) {
    auto name = dom::AttributeUtf8(element.get(), "Name");
    ASSERT_TRUE(name.ok() && *name);
    names.push_back(**name);
  }
  ASSERT_EQ(names, (std::vector<std::string>{"ann", "bob"}));

  // The console edits its document; the service reads the edit back from it.
  ASSERT_EQ(dom::SetAttribute((*elements)[1].get(), "Remarks", std::string_view("edited by the console")), S_OK);
  ASSERT_EQ(users->LoadXML(document.get()), S_OK);
  ComPtr<IQVAUser> loaded;
  ASSERT_EQ(users->Item(Variant::Str("bob"), loaded.put()), S_OK);
  Bstr remarks;
  ASSERT_EQ(loaded->get_Remarks(remarks.put()), S_OK);
  EXPECT_EQ(remarks.utf8(), "edited by the console");
  LONG count = 0;
  ASSERT_EQ(users->get_Count(&count), S_OK);
  EXPECT_EQ(count, 2);
}

}  // namespace
}  // namespace qva::testing
