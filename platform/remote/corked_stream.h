// A stream that gathers the messages one turn of the event loop writes and sends them with one
// system call.
//
// The RPC layer writes every message on its own: a proxy call that follows the release of an
// earlier answer sends Finish, Release and Call as three writes, and the peer's loop wakes for
// each of them. Written through this stream, whatever is written before the loop next waits goes
// out together, once the loop has nothing else to do (kj::evalLast), so the peer wakes once.
//
// Writes succeed at once (the bytes are copied); they only wait when more than kHighWater bytes are
// waiting for a slow peer. A write that fails fails every later write with the same exception;
// the read side of the connection sees the end of the peer as before. shutdownWrite sends what is
// waiting first. What is waiting when the stream is destroyed is dropped, as an unsent message is
// when a connection is torn down.
#pragma once

#include <kj/async-io.h>

#include <cstddef>
#include <vector>

namespace qva::remote {

class CorkedStream final : public kj::AsyncIoStream {
 public:
  static constexpr size_t kHighWater = 1 << 20;

  explicit CorkedStream(kj::Own<kj::AsyncIoStream> inner);
  ~CorkedStream() noexcept(false);

  kj::Promise<size_t> tryRead(void* buffer, size_t min_bytes, size_t max_bytes) override {
    return inner_->tryRead(buffer, min_bytes, max_bytes);
  }
  kj::Promise<void> write(const void* buffer, size_t size) override;
  kj::Promise<void> write(kj::ArrayPtr<const kj::ArrayPtr<const kj::byte>> pieces) override;
  kj::Promise<void> whenWriteDisconnected() override { return inner_->whenWriteDisconnected(); }
  void shutdownWrite() override;
  void abortRead() override { inner_->abortRead(); }
  void getsockopt(int level, int option, void* value, kj::uint* length) override {
    inner_->getsockopt(level, option, value, length);
  }
  void setsockopt(int level, int option, const void* value, kj::uint length) override {
    inner_->setsockopt(level, option, value, length);
  }
  void getsockname(struct sockaddr* addr, kj::uint* length) override { inner_->getsockname(addr, length); }
  void getpeername(struct sockaddr* addr, kj::uint* length) override { inner_->getpeername(addr, length); }
  kj::Maybe<int> getFd() const override { return inner_->getFd(); }

 private:
  kj::Promise<void> Append(kj::ArrayPtr<const kj::ArrayPtr<const kj::byte>> pieces);
  // Queues a send of whatever is waiting once the loop is idle, after the sends queued before.
  void ScheduleSend();
  kj::Promise<void> SendWaiting();

  kj::Own<kj::AsyncIoStream> inner_;
  std::vector<kj::byte> waiting_;  // written, not yet handed to the socket
  bool scheduled_ = false;
  bool shut_down_ = false;
  kj::Maybe<kj::Exception> failure_;
  // The end of every send queued so far, in order.
  kj::ForkedPromise<void> sent_;
};

}  // namespace qva::remote
