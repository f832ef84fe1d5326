#include "platform/remote/corked_stream.h"

#include <gtest/gtest.h>
#include <kj/async-io.h>
#include <kj/debug.h>

#include <memory>

#include <string>
#include <vector>

namespace qva::remote {
namespace {

// The socket under the stream: records each write it is handed, and can be made to fail or to
// hold its writes (a peer that does not read).
class RecordingStream final : public kj::AsyncIoStream {
 public:
  std::vector<std::string> writes;
  bool fail = false;
  bool hold = false;
  bool shut_down = false;
  std::string at_shutdown;  // everything written when shutdownWrite came

  kj::Promise<size_t> tryRead(void*, size_t, size_t) override { return kj::NEVER_DONE; }
  kj::Promise<void> write(const void* buffer, size_t size) override {
    if (fail) return KJ_EXCEPTION(DISCONNECTED, "peer gone");
    writes.emplace_back(static_cast<const char*>(buffer), size);
    if (hold) return kj::NEVER_DONE;
    return kj::READY_NOW;
  }
  kj::Promise<void> write(kj::ArrayPtr<const kj::ArrayPtr<const kj::byte>> pieces) override {
    std::string all;
    for (auto p : pieces) all.append(reinterpret_cast<const char*>(p.begin()), p.size());
    return write(all.data(), all.size());
  }
  kj::Promise<void> whenWriteDisconnected() override { return kj::NEVER_DONE; }
  void shutdownWrite() override {
    shut_down = true;
    for (const auto& w : writes) at_shutdown += w;
  }
};

// kj's loop and owners may throw from their destructors; gtest's fixture may not: held by pointer.
class CorkedStreamTest : public ::testing::Test {
 protected:
  std::unique_ptr<kj::EventLoop> loop = std::make_unique<kj::EventLoop>();
  std::unique_ptr<kj::WaitScope> scope = std::make_unique<kj::WaitScope>(*loop);
  kj::WaitScope& wait = *scope;
  RecordingStream* socket = nullptr;
  std::unique_ptr<CorkedStream> stream = Make();

  void TearDown() override {
    stream.reset();
    scope.reset();
    loop.reset();
  }
  std::unique_ptr<CorkedStream> Make() {
    auto inner = kj::heap<RecordingStream>();
    socket = inner.get();
    return std::make_unique<CorkedStream>(kj::mv(inner));
  }
  kj::Promise<void> Write(const std::string& text) { return stream->write(text.data(), text.size()); }
  // Runs the loop until it has nothing left to do, as it does before it waits for the socket.
  void Settle() { wait.poll(); }
};

TEST_F(CorkedStreamTest, WritesOfOneTurnGoOutAsOneInOrder) {
  Write("finish").wait(wait);  // succeeds before anything is sent
  Write("release").wait(wait);
  const kj::byte a[] = {'c', 'a'}, b[] = {'l', 'l'};
  const kj::ArrayPtr<const kj::byte> pieces[] = {a, b};
  stream->write(pieces).wait(wait);
  EXPECT_TRUE(socket->writes.empty());
  Settle();
  EXPECT_EQ(socket->writes, std::vector<std::string>{"finishreleasecall"});

  Write("next").wait(wait);
  Settle();
  EXPECT_EQ(socket->writes, (std::vector<std::string>{"finishreleasecall", "next"}));
}

TEST_F(CorkedStreamTest, AFailedSendFailsLaterWrites) {
  socket->fail = true;
  Write("lost").wait(wait);
  Settle();
  EXPECT_THROW(Write("after").wait(wait), kj::Exception);
}

TEST_F(CorkedStreamTest, ShutdownSendsWhatIsWaitingFirst) {
  Write("last words").wait(wait);
  stream->shutdownWrite();
  EXPECT_FALSE(socket->shut_down);
  Settle();
  EXPECT_TRUE(socket->shut_down);
  EXPECT_EQ(socket->at_shutdown, "last words");
}

TEST_F(CorkedStreamTest, APeerThatDoesNotReadMakesWritesWaitPastTheHighWater) {
  socket->hold = true;
  Write("first").wait(wait);
  Settle();  // handed to the socket, which never finishes it
  const std::string chunk(CorkedStream::kHighWater / 4, 'x');
  bool waited = false;
  for (int i = 0; i < 8 && !waited; ++i) {
    auto written = Write(chunk);
    waited = !written.poll(wait);
  }
  EXPECT_TRUE(waited);
  EXPECT_EQ(socket->writes.size(), 1u);  // the rest waits behind the first send
}

}  // namespace
}  // namespace qva::remote
