// Small objects the remote tests serve, implementing generated interfaces, and a server run on a
// thread of this process or in a forked process.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/com/bstr.h"
#include "platform/com/dispatch.h"
#include "platform/com/errorinfo.h"
#include "platform/com/objbase.h"
#include "platform/com/variant.h"
#include "platform/com/variant_enum.h"
#include "platform/remote/server.h"
#include "qvacom/realtime/real_records.h"
#include "qvacom_idl.h"

namespace qva::testing {

// Live TestArch objects of this process.
inline std::atomic<int> g_live_archs{0};

constexpr HRESULT kTestFailure = static_cast<HRESULT>(0x80040F01u);

// A value's type and content as text, the same on both sides of the wire. Objects are described
// by the name of the TestArch they are (through whatever proxy).
inline std::string Describe(const VARIANT& v) {
  auto object = [](IUnknown* p) -> std::string {
    if (!p) return "null";
    com::ComPtr<IQVAArch> arch;
    if (FAILED(p->QueryInterface(IID_IQVAArch, arch.put_void()))) return "?";
    com::Bstr name;
    arch->get_Name(name.put());
    return "arch:" + name.utf8();
  };
  switch (v.vt) {
    case VT_EMPTY:
      return "EMPTY";
    case VT_NULL:
      return "NULL";
    case VT_I2:
      return "I2:" + std::to_string(v.iVal);
    case VT_I4:
      return "I4:" + std::to_string(v.lVal);
    case VT_R4:
      return "R4:" + std::to_string(v.fltVal);
    case VT_R8:
      return "R8:" + std::to_string(v.dblVal);
    case VT_CY:
      return "CY:" + std::to_string(v.cyVal.int64);
    case VT_DATE:
      return "DATE:" + std::to_string(v.date);
    case VT_BSTR:
      if (!v.bstrVal) return "BSTR:null";
      return "BSTR:" + std::to_string(SysStringLen(v.bstrVal)) + ":" + com::BstrToUtf8(v.bstrVal);
    case VT_DISPATCH:
      return "DISPATCH:" + object(v.pdispVal);
    case VT_UNKNOWN:
      return "UNKNOWN:" + object(v.punkVal);
    case VT_ERROR:
      return "ERROR:" + std::to_string(v.scode);
    case VT_BOOL:
      return "BOOL:" + std::to_string(v.boolVal);
    case VT_I1:
      return "I1:" + std::to_string(v.cVal);
    case VT_UI1:
      return "UI1:" + std::to_string(v.bVal);
    case VT_UI2:
      return "UI2:" + std::to_string(v.uiVal);
    case VT_UI4:
      return "UI4:" + std::to_string(v.ulVal);
    case VT_I8:
      return "I8:" + std::to_string(v.llVal);
    case VT_UI8:
      return "UI8:" + std::to_string(v.ullVal);
    case VT_INT:
      return "INT:" + std::to_string(v.intVal);
    case VT_UINT:
      return "UINT:" + std::to_string(v.uintVal);
    default:
      return "vt" + std::to_string(v.vt);
  }
}

// Every kind of value that crosses, objects aside.
inline std::vector<com::Variant> ValueTable() {
  std::vector<com::Variant> t;
  auto add = [&t](VARTYPE vt, auto set) {
    com::Variant v;
    v.vt = vt;
    set(v);
    t.push_back(std::move(v));
  };
  t.emplace_back();
  add(VT_NULL, [](VARIANT&) {});
  t.push_back(com::Variant::I2(-7));
  t.push_back(com::Variant::I4(INT32_MIN));
  add(VT_R4, [](VARIANT& v) { v.fltVal = 1.5f; });
  t.push_back(com::Variant::R8(-0.1));
  add(VT_CY, [](VARIANT& v) { v.cyVal.int64 = 123456789012345; });
  t.push_back(com::Variant::Date(45000.75));  // 2023-03-15 18:00
  t.push_back(com::Variant::Str("héllo wörld"));
  t.push_back(com::Variant::Str(std::u16string_view(u"a\0b", 3)));  // embedded NUL kept
  t.push_back(com::Variant::Str(""));
  add(VT_BSTR, [](VARIANT& v) { v.bstrVal = nullptr; });  // null stays null
  add(VT_ERROR, [](VARIANT& v) { v.scode = DISP_E_PARAMNOTFOUND; });
  t.push_back(com::Variant::Bool(true));
  add(VT_BOOL, [](VARIANT& v) { v.boolVal = 1; });  // lookups answer 1 for true: kept as 1
  add(VT_I1, [](VARIANT& v) { v.cVal = -3; });
  add(VT_UI1, [](VARIANT& v) { v.bVal = 200; });
  add(VT_UI2, [](VARIANT& v) { v.uiVal = 60000; });
  add(VT_UI4, [](VARIANT& v) { v.ulVal = 4000000000u; });
  add(VT_I8, [](VARIANT& v) { v.llVal = -9000000000000LL; });
  add(VT_UI8, [](VARIANT& v) { v.ullVal = 18000000000000000000ull; });
  add(VT_INT, [](VARIANT& v) { v.intVal = -42; });
  add(VT_UINT, [](VARIANT& v) { v.uintVal = 42; });
  add(VT_DISPATCH, [](VARIANT& v) { v.pdispVal = nullptr; });
  add(VT_UNKNOWN, [](VARIANT& v) { v.punkVal = nullptr; });
  return t;
}

class TestArch : public com::Dispatch<IQVAArch> {
 public:
  explicit TestArch(std::string name) : name_(std::move(name)) { ++g_live_archs; }
  ~TestArch() { --g_live_archs; }
  HRESULT STDMETHODCALLTYPE get_Name(BSTR* out) override {
    *out = com::AllocBstr(name_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Name(BSTR name) override {
    name_ = com::BstrToUtf8(name);
    return S_OK;
  }

 private:
  std::string name_;
};

// The calling thread's error information, taken: its source and description (both empty when a
// failure set none).
struct ErrorText {
  std::string source, description;
};
inline ErrorText TakeErrorText() {
  com::ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) != S_OK || !info) return {};
  com::Bstr source, description;
  info->GetSource(source.put());
  info->GetDescription(description.put());
  return {source.utf8(), description.utf8()};
}

inline com::ComPtr<IQVAArch> MakeArch(std::string name) {
  auto made = com::CreateObject<TestArch>(std::move(name));
  return made ? com::ComPtr<IQVAArch>(made->get()) : nullptr;
}

// The served root. IQVAArchs:
//   Init(text)     keeps the text (null stays null, read back by get_Dir); "S_FALSE" answers
//                  S_FALSE, "fail" fails with kTestFailure and error information;
//   Index(value)   a new TestArch named after the value (Describe); an empty value gives null
//                  and S_FALSE; a TestArch of this process gives "home:" and its name;
//   get_Count      the live TestArch objects of the serving process.
// IQVARealUsers: _NewEnum enumerates ValueTable() followed by `enum_archs` TestArch objects
// named item-0, item-1 ...; Add makes a real-time user record of the library.
class TestRoot : public com::Dispatch<IQVAArchs, IQVARealUsers> {
 public:
  explicit TestRoot(int enum_archs = 3) : enum_archs_(enum_archs) {}
  HRESULT STDMETHODCALLTYPE Init(BSTR text) override {
    const std::string s = com::BstrToUtf8(text);
    if (s == "fail") return com::ReportError(kTestFailure, "TestRoot", "Init was told to fail");
    dir_ = text ? com::Bstr(com::BstrView(text)) : com::Bstr();
    return s == "S_FALSE" ? S_FALSE : S_OK;
  }
  HRESULT STDMETHODCALLTYPE Load() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Index(VARIANT v, IQVAArch** out) override {
    *out = nullptr;
    if (v.vt == VT_EMPTY) return S_FALSE;
    if ((v.vt == VT_DISPATCH || v.vt == VT_UNKNOWN) && v.punkVal) {
      com::ComPtr<IQVAArch> arch;
      if (SUCCEEDED(v.punkVal->QueryInterface(IID_IQVAArch, arch.put_void()))) {
        com::Bstr name;
        arch->get_Name(name.put());
        return MakeArch("home:" + name.utf8()).CopyTo(out);
      }
    }
    return MakeArch(Describe(v)).CopyTo(out);
  }
  HRESULT STDMETHODCALLTYPE get_Count(LONG* out) override {
    *out = g_live_archs.load();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Dir(BSTR* out) override {
    *out = dir_.Copy();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Add(BSTR name, IQVARealUser** out) override {
    *out = nullptr;
    auto user = com::CreateObject<CQVARealUser>();
    if (!user) return user.error();
    (*user)->put_Name(name);
    *out = user->get();
    (*out)->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Pop() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** out) override {
    std::vector<com::Variant> values = ValueTable();
    for (int i = 0; i < enum_archs_; ++i)
      values.push_back(com::Variant::Dispatch(MakeArch("item-" + std::to_string(i)).get()));
    return com::VariantEnum::Make(std::move(values), out);
  }
  HRESULT STDMETHODCALLTYPE RemoveAll() override { return S_OK; }

 private:
  int enum_archs_;
  com::Bstr dir_;
};

// A server on its own thread (the thread makes the root, serves, and destroys both) or in a
// forked process (which does the same on a thread of its own, so no kj state of this process's
// threads is touched in the child).
class TestServer {
 public:
  using MakeRoot = std::function<com::ComPtr<IUnknown>()>;
  enum class Where { kThread, kProcess };

  TestServer(Where where, MakeRoot make_root, remote::ServerOptions options) : where_(where) {
    if (where == Where::kThread) {
      std::promise<uint16_t> ready;
      auto started = ready.get_future();
      thread_ = std::thread([this, make_root, options, &ready] { Serve(make_root, options, &ready); });
      tcp_port_ = started.get();
      return;
    }
    int ready_pipe[2], stop_pipe[2];
    if (::pipe(ready_pipe) != 0 || ::pipe(stop_pipe) != 0) return;
    child_ = ::fork();
    if (child_ == 0) {
      ::close(ready_pipe[0]);
      ::close(stop_pipe[1]);
      std::promise<uint16_t> ready;
      auto started = ready.get_future();
      std::thread server([this, make_root, options, &ready] { Serve(make_root, options, &ready); });
      const uint16_t port = started.get();
      [[maybe_unused]] auto written = ::write(ready_pipe[1], &port, sizeof port);
      char byte;
      [[maybe_unused]] auto n = ::read(stop_pipe[0], &byte, 1);  // returns when the parent closes it
      if (server_) server_.load()->Stop();
      server.join();
      ::_exit(0);
    }
    ::close(ready_pipe[1]);
    ::close(stop_pipe[0]);
    stop_fd_ = stop_pipe[1];
    uint16_t port = 0;
    if (::read(ready_pipe[0], &port, sizeof port) == sizeof port) tcp_port_ = port;
    ::close(ready_pipe[0]);
  }

  ~TestServer() {
    if (where_ == Where::kThread) {
      if (server_) server_.load()->Stop();
      thread_.join();
    } else if (child_ > 0) {
      ::close(stop_fd_);
      int status = 0;
      ::waitpid(child_, &status, 0);
    }
  }

  uint16_t tcp_port() const { return tcp_port_; }
  // The server itself, for a server on a thread of this process (null for one in a process).
  remote::Server* server() const { return server_; }

 private:
  void Serve(const MakeRoot& make_root, const remote::ServerOptions& options, std::promise<uint16_t>* ready) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
      com::ComPtr<IUnknown> root = make_root();
      auto server = remote::Server::Create(root.get(), options);
      root = nullptr;
      if (!server) {
        ready->set_value(0);
        return;
      }
      server_ = server->get();
      ready->set_value((*server)->tcp_port());
      (*server)->Run();
    }
    CoUninitialize();
  }

  Where where_;
  std::thread thread_;
  std::atomic<remote::Server*> server_{nullptr};
  pid_t child_ = -1;
  int stop_fd_ = -1;
  uint16_t tcp_port_ = 0;
};
// Parameterised remote tests run against a service on a thread and against one in a forked
// process: INSTANTIATE_TEST_SUITE_P(Servers, Fixture, kBothServers, ServerName).
inline const auto kBothServers = ::testing::Values(TestServer::Where::kThread, TestServer::Where::kProcess);
inline std::string ServerName(const ::testing::TestParamInfo<TestServer::Where>& info) {
  return info.param == TestServer::Where::kThread ? "Thread" : "Process";
}

// A root that is a fresh object of class T.
template <class T>
TestServer::MakeRoot RootOf() {
  return [] {
    auto made = com::CreateObject<T>();
    return made ? com::ComPtr<IUnknown>((*made)->Identity()) : com::ComPtr<IUnknown>();
  };
}

}  // namespace qva::testing
