// The wire values and the login arithmetic, without a connection.
#include "platform/remote/values.h"

#include <capnp/serialize.h>
#include <gtest/gtest.h>

#include "platform/remote/auth.h"
#include "platform/remote/server.h"
#include "tests/remote/test_objects.h"
#include "tests/support/temp_dir.h"

namespace qva::testing {
namespace {

using remote::Bytes;
namespace wire = remote::wire;

TEST(RemoteValuesTest, EveryValueKindSurvivesTheWire) {
  remote::NoObjects objects;
  for (const com::Variant& v : ValueTable()) {
    SCOPED_TRACE(Describe(v));
    capnp::MallocMessageBuilder message;
    auto value = message.initRoot<wire::Value>();
    ASSERT_EQ(remote::EncodeVariant(v, objects, value), S_OK);
    // Through bytes, as a peer would read them.
    auto words = capnp::messageToFlatArray(message);
    capnp::FlatArrayMessageReader reader(words);
    com::Variant back;
    ASSERT_EQ(remote::DecodeVariant(reader.getRoot<wire::Value>(), objects, back.put()), S_OK);
    EXPECT_EQ(Describe(back), Describe(v));
  }
}

TEST(RemoteValuesTest, WhatCannotCrossIsRefused) {
  remote::NoObjects objects;
  capnp::MallocMessageBuilder message;
  auto value = message.initRoot<wire::Value>();
  com::Variant by_ref;
  LONG target = 0;
  by_ref.vt = VT_BYREF | VT_I4;
  by_ref.plVal = &target;
  EXPECT_EQ(remote::EncodeVariant(by_ref, objects, value), DISP_E_BADVARTYPE);
  by_ref.vt = VT_EMPTY;  // not ours to free

  const struct {
    const char* what;
    void (*fill)(wire::Value::Builder);
    HRESULT bstr;  // DecodeBstr
    HRESULT lng;   // DecodeLong
  } cases[] = {
      {"odd byte count", [](wire::Value::Builder v) { v.initBstr(3); }, E_INVALIDARG, DISP_E_TYPEMISMATCH},
      {"string over the limit", [](wire::Value::Builder v) { v.initBstr((remote::kMaxStringChars + 1) * 2); },
       E_INVALIDARG, DISP_E_TYPEMISMATCH},
      {"a number for a string", [](wire::Value::Builder v) { v.setI4(1); }, DISP_E_TYPEMISMATCH, S_OK},
      {"a short for a long", [](wire::Value::Builder v) { v.setI2(1); }, DISP_E_TYPEMISMATCH, DISP_E_TYPEMISMATCH},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    capnp::MallocMessageBuilder m;
    auto v = m.initRoot<wire::Value>();
    c.fill(v);
    BSTR text = nullptr;
    EXPECT_EQ(remote::DecodeBstr(v.asReader(), &text), c.bstr);
    SysFreeString(text);
    LONG n = 0;
    EXPECT_EQ(remote::DecodeLong(v.asReader(), &n), c.lng);
  }
}

TEST(RemoteValuesTest, AnObjectWhereNoneMayCrossIsRefused) {
  remote::NoObjects objects;
  capnp::MallocMessageBuilder message;
  auto value = message.initRoot<wire::Value>();
  com::ComPtr<IQVAArch> arch = MakeArch("x");
  EXPECT_EQ(remote::EncodeVariant(com::Variant::Dispatch(arch.get()), objects, value), E_INVALIDARG);
}

TEST(RemoteAuthTest, VerifiersRoundTripThroughTheAccountsFile) {
  auto v = remote::MakeVerifier("alice", "CORP", "pw", 4096);
  ASSERT_TRUE(v);
  const std::string line = remote::FormatVerifier(*v);
  EXPECT_EQ(line.find("pw:"), std::string::npos);
  auto back = remote::ParseVerifier(line);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->user, "alice");
  EXPECT_EQ(back->domain, "CORP");
  EXPECT_EQ(back->iterations, 4096u);
  EXPECT_EQ(back->salt, v->salt);
  EXPECT_EQ(back->stored_key, v->stored_key);
  EXPECT_EQ(back->server_key, v->server_key);

  for (const char* bad : {"", "alice", "alice:CORP:plain", "alice:CORP:SCRAM-SHA-256$0:AAAA$AAAA:AAAA",
                          "alice:CORP:SCRAM-SHA-256$4096:AAAA$AAAA:AAAA", "alice:CORP:SCRAM-SHA-256$x:AA$AA:AA",
                          ":CORP:SCRAM-SHA-256$4096:AAAA$AAAA:AAAA"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(remote::ParseVerifier(bad));
  }
  for (const char* bad_name : {"", "a:b", "a\nb"}) EXPECT_FALSE(remote::MakeVerifier(bad_name, "", "pw"));
}

TEST(RemoteAuthTest, OnlyTheRightPasswordProvesItself) {
  auto v = remote::MakeVerifier("bob", "", "correct horse", 4096);
  ASSERT_TRUE(v);
  const Bytes message =
      remote::AuthMessage("bob", "", remote::RandomBytes(24), remote::RandomBytes(24), v->salt, v->iterations);
  const struct {
    const char* password;
    bool accepted;
  } cases[] = {{"correct horse", true}, {"correct hors", false}, {"", false}, {"Correct horse", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.password);
    const remote::ClientProof proof = remote::ComputeClientProof(c.password, v->salt, v->iterations, message);
    Bytes server_signature;
    EXPECT_EQ(remote::VerifyClientProof(*v, message, proof.proof, &server_signature), c.accepted);
    if (c.accepted) {
      EXPECT_EQ(server_signature, proof.server_signature);
    }
  }
  // A proof is bound to its exchange: replayed on another, it fails.
  const remote::ClientProof proof = remote::ComputeClientProof("correct horse", v->salt, v->iterations, message);
  const Bytes other =
      remote::AuthMessage("bob", "", remote::RandomBytes(24), remote::RandomBytes(24), v->salt, v->iterations);
  Bytes ignored;
  EXPECT_FALSE(remote::VerifyClientProof(*v, other, proof.proof, &ignored));
}

}  // namespace
}  // namespace qva::testing

namespace qva::testing {
namespace {

// The service host's descriptors share the serving loop: a handler that leaves its descriptor
// readable is called again, and it may stop watching and stop the server from inside.
TEST(RemoteServerTest, WatchedDescriptorsAreServedOnTheServingThread) {
  TempDir dir;
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  std::string served;
  std::thread::id handler_thread, serving_thread;
  std::thread serving([&] {
    serving_thread = std::this_thread::get_id();
    auto root = com::CreateObject<TestRoot>();
    ASSERT_TRUE(root);
    remote::ServerOptions options;
    options.socket_path = (dir.path() / "watch.sock").string();
    auto server = remote::Server::Create((*root)->Identity(), options);
    ASSERT_TRUE(server);
    remote::Server* s = server->get();
    s->Watch(fds[0], [&, s] {
      handler_thread = std::this_thread::get_id();
      char c;
      if (::read(fds[0], &c, 1) == 1) served += c;  // one byte a call: the rest stays readable
      if (served.size() == 3) {
        s->Unwatch(fds[0]);
        s->Stop();
      }
    });
    ASSERT_EQ(::write(fds[1], "abc", 3), 3);
    s->Run();
  });
  serving.join();
  EXPECT_EQ(served, "abc");
  EXPECT_EQ(handler_thread, serving_thread);
  ::close(fds[0]);
  ::close(fds[1]);
}

}  // namespace
}  // namespace qva::testing

namespace qva::testing {
namespace {

TEST(RemoteServerTest, AServerThatCannotListenSaysWhy) {
  TempDir dir;
  HRESULT hr = S_OK;
  std::string why;
  std::thread([&] {
    auto root = com::CreateObject<TestRoot>();
    remote::ServerOptions options;
    options.socket_path = (dir.path() / "no-such-folder" / "qvacom.sock").string();
    auto server = remote::Server::Create((*root)->Identity(), options);
    hr = server.error();
    com::ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.put()) == S_OK && info) {
      com::Bstr description;
      info->GetDescription(description.put());
      why = description.utf8();
    }
  }).join();
  EXPECT_EQ(hr, E_FAIL);
  EXPECT_EQ(why.rfind("Cannot listen: ", 0), 0u) << why;
}

}  // namespace
}  // namespace qva::testing
