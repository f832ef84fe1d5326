// ComError: the exception the platform layers (ADO, MSXML) raise inside the library, carrying
// an HRESULT and the error information of the failure, as _com_error does. Members catch it at
// their boundary and turn it into their own code; it never crosses an interface.
#pragma once

#include <exception>
#include <string>

#include "platform/com/types.h"

namespace com {

class ComError : public std::exception {
 public:
  ComError(HRESULT hr, std::string source, std::string description)
      : hr_(hr), source_(std::move(source)), description_(std::move(description)) {}
  HRESULT code() const { return hr_; }
  const std::string& source() const { return source_; }            // UTF-8
  const std::string& description() const { return description_; }  // UTF-8
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  HRESULT hr_;
  std::string source_;
  std::string description_;
};

}  // namespace com
