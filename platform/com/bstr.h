// Bstr: owns one BSTR. A null BSTR is a valid empty string, as in OLE.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "platform/com/oleauto.h"
#include "platform/com/text.h"

namespace com {

class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(std::string_view utf8) : b_(AllocBstr(utf8)) {}
  explicit Bstr(std::u16string_view utf16) : b_(AllocBstr(utf16)) {}
  explicit Bstr(const char16_t* s) : b_(SysAllocString(s)) {}
  Bstr(const Bstr& o) : b_(o.b_ ? SysAllocStringByteLen(reinterpret_cast<const char*>(o.b_), SysStringByteLen(o.b_)) : nullptr) {}
  Bstr(Bstr&& o) noexcept : b_(std::exchange(o.b_, nullptr)) {}
  ~Bstr() { SysFreeString(b_); }
  Bstr& operator=(Bstr o) noexcept {
    std::swap(b_, o.b_);
    return *this;
  }

  static Bstr Attach(BSTR b) {
    Bstr r;
    r.b_ = b;
    return r;
  }
  [[nodiscard]] BSTR Detach() { return std::exchange(b_, nullptr); }
  // For out parameters: frees the current string and returns the slot to fill.
  BSTR* put() {
    SysFreeString(std::exchange(b_, nullptr));
    return &b_;
  }
  // A copy the caller owns (for [out, retval] BSTR*); null when this is null.
  BSTR Copy() const { return Bstr(*this).Detach(); }

  BSTR get() const { return b_; }
  UINT size() const { return SysStringLen(b_); }
  bool empty() const { return size() == 0; }
  std::u16string_view view() const { return BstrView(b_); }
  std::string utf8() const { return BstrToUtf8(b_); }
  friend bool operator==(const Bstr& a, const Bstr& b) { return a.view() == b.view(); }

 private:
  BSTR b_ = nullptr;
};

}  // namespace com
