#include "platform/remote/corked_stream.h"

#include <kj/debug.h>

namespace qva::remote {

CorkedStream::CorkedStream(kj::Own<kj::AsyncIoStream> inner)
    : inner_(kj::mv(inner)), sent_(kj::Promise<void>(kj::READY_NOW).fork()) {}

CorkedStream::~CorkedStream() noexcept(false) = default;

kj::Promise<void> CorkedStream::write(const void* buffer, size_t size) {
  const kj::ArrayPtr<const kj::byte> piece(static_cast<const kj::byte*>(buffer), size);
  return Append(kj::arrayPtr(&piece, 1));
}

kj::Promise<void> CorkedStream::write(kj::ArrayPtr<const kj::ArrayPtr<const kj::byte>> pieces) {
  return Append(pieces);
}

kj::Promise<void> CorkedStream::Append(kj::ArrayPtr<const kj::ArrayPtr<const kj::byte>> pieces) {
  KJ_IF_MAYBE (e, failure_) return kj::cp(*e);
  if (shut_down_) return KJ_EXCEPTION(FAILED, "write after shutdownWrite()");
  for (const auto& piece : pieces) waiting_.insert(waiting_.end(), piece.begin(), piece.end());
  ScheduleSend();
  // A peer that does not read must not make us hold everything the service writes to it.
  if (waiting_.size() > kHighWater) return sent_.addBranch();
  return kj::READY_NOW;
}

void CorkedStream::ScheduleSend() {
  if (scheduled_) return;
  scheduled_ = true;
  sent_ = sent_.addBranch()
              .then([this] { return kj::evalLast([this] { return SendWaiting(); }); })
              .eagerlyEvaluate([this](kj::Exception&& e) {
                if (failure_ == nullptr) failure_ = kj::mv(e);
              })
              .fork();
}

kj::Promise<void> CorkedStream::SendWaiting() {
  scheduled_ = false;
  if (waiting_.empty()) return kj::READY_NOW;
  auto batch = kj::heap<std::vector<kj::byte>>(std::move(waiting_));
  waiting_ = std::vector<kj::byte>();
  auto sending = inner_->write(batch->data(), batch->size());
  return sending.attach(kj::mv(batch));
}

void CorkedStream::shutdownWrite() {
  if (shut_down_) return;
  shut_down_ = true;
  // After every queued send, and one for what is waiting now.
  ScheduleSend();
  sent_ = sent_.addBranch()
              .then([this] { inner_->shutdownWrite(); })
              .eagerlyEvaluate([this](kj::Exception&& e) {
                if (failure_ == nullptr) failure_ = kj::mv(e);
              })
              .fork();
}

}  // namespace qva::remote
