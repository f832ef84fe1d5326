// The fields of a settings list item and their attribute texts.
//
// Every XML-backed item (a discount time, a domain, a log folder, a report task, an IP range) is
// a plain record of fields. A table of Field descriptors names, for each field, the attribute
// that holds it and the text form it takes there; reading an element into a record, writing a
// record onto an element and finding the element of a record are written once over such tables.
//
// Text forms, all in "C" conventions whatever the process locale:
//   kText       the string as it stands;
//   kFolder     a folder path; one read from a file that does not end with "/" or "\" gets "/"
//               (an empty path stays empty: it must not turn into the root folder);
//   kInteger    LONG, LONGLONG or VARIANT_BOOL: the decimal text of the stored value (a boolean
//               put as VARIANT_TRUE is written -1); read like atoi: leading blanks, a sign and
//               digits, anything else ends the number, no number reads as 0, a value beyond the
//               type's range is clamped to it;
//   kDecimal    double: the shortest text that reads back to the same value; text that is not a
//               number reads as 0;
//   kTimeOfDay  DATE on 1899-12-30: written "%H:%M:%S"; read as "hour:minute", seconds dropped;
//   kDay        DATE at 00:00: written "%Y-%m-%d"; read as "year-month-day" (2011-1-9 is fine).
// A time or day text that does not hold its numbers, or names no real time or day, reads as the
// DATE 0: a damaged entry starts from nothing rather than failing the whole settings file.
#pragma once

#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

#include "msxml_idl.h"
#include "platform/com/bstr.h"
#include "platform/com/result.h"
#include "qvacom/settings/dom.h"
#include "qvacom/storage/sql_text.h"

namespace qva::settings {

enum class TextForm : uint8_t { kText, kFolder, kInteger, kDecimal, kTimeOfDay, kDay };

template <class R>
using MemberOf = std::variant<com::Bstr R::*, LONG R::*, LONGLONG R::*, VARIANT_BOOL R::*, double R::*>;

template <class R>
struct Field {
  std::string_view attribute;
  TextForm form;
  MemberOf<R> member;
};

template <class R>
constexpr Field<R> Text(std::string_view attribute, com::Bstr R::*m) {
  return {attribute, TextForm::kText, m};
}
template <class R>
constexpr Field<R> Folder(std::string_view attribute, com::Bstr R::*m) {
  return {attribute, TextForm::kFolder, m};
}
template <class R, class T>
requires std::is_integral_v<T>
constexpr Field<R> Integer(std::string_view attribute, T R::*m) { return {attribute, TextForm::kInteger, m}; }
template <class R>
constexpr Field<R> Decimal(std::string_view attribute, double R::*m) {
  return {attribute, TextForm::kDecimal, m};
}
template <class R>
constexpr Field<R> TimeOfDay(std::string_view attribute, DATE R::*m) {
  return {attribute, TextForm::kTimeOfDay, m};
}
template <class R>
constexpr Field<R> Day(std::string_view attribute, DATE R::*m) {
  return {attribute, TextForm::kDay, m};
}

// The text conversions behind the forms (see the top of this file).
LONGLONG ReadInteger(std::string_view text, LONGLONG min, LONGLONG max);
double ReadDecimal(std::string_view text);
std::string DecimalText(double value);
DATE ReadTimeOfDay(std::string_view text);
DATE ReadDay(std::string_view text);
// A folder path as it is kept: "/" added unless it ends with "/" or "\" or is empty.
std::string WithSeparator(std::string path);
// A copy of a caller's string; null stays null. E_OUTOFMEMORY when the copy cannot be made.
com::Expected<com::Bstr> CopyBstr(BSTR from);

// The attribute text of field `f` of `r`.
template <class R>
com::Bstr TextOf(const R& r, const Field<R>& f) {
  return std::visit(
      [&](auto m) -> com::Bstr {
        using T = std::remove_cvref_t<decltype(r.*m)>;
        if constexpr (std::is_same_v<T, com::Bstr>) {
          return r.*m;
        } else if constexpr (std::is_integral_v<T>) {
          return com::Bstr(std::to_string(static_cast<LONGLONG>(r.*m)));
        } else if (f.form == TextForm::kTimeOfDay || f.form == TextForm::kDay) {
          return com::Bstr(sql::FormatDate(r.*m, f.form == TextForm::kDay ? "%Y-%m-%d" : "%H:%M:%S"));
        } else {
          return com::Bstr(DecimalText(r.*m));
        }
      },
      f.member);
}

// Sets field `f` of `r` from an attribute text.
template <class R>
void SetFromText(R& r, const Field<R>& f, const com::Bstr& text) {
  std::visit(
      [&](auto m) {
        using T = std::remove_cvref_t<decltype(r.*m)>;
        if constexpr (std::is_same_v<T, com::Bstr>) {
          r.*m = f.form == TextForm::kFolder ? com::Bstr(WithSeparator(text.utf8())) : text;
        } else if constexpr (std::is_integral_v<T>) {
          r.*m = static_cast<T>(ReadInteger(text.utf8(), std::numeric_limits<T>::min(), std::numeric_limits<T>::max()));
        } else if (f.form == TextForm::kTimeOfDay) {
          r.*m = ReadTimeOfDay(text.utf8());
        } else if (f.form == TextForm::kDay) {
          r.*m = ReadDay(text.utf8());
        } else {
          r.*m = ReadDecimal(text.utf8());
        }
      },
      f.member);
}

// Reads every field of `fields` from the attributes of `node` into `r`. A missing attribute is
// E_POINTER, with its name in `*missing`; fields read before it keep their new values.
template <class R>
HRESULT ReadRecord(IXMLDOMNode* node, std::span<const Field<R>> fields, R* r, std::string_view* missing) {
  for (const Field<R>& f : fields) {
    ASSIGN_OR_RETURN(std::optional<com::Bstr> text, dom::Attribute(node, f.attribute));
    if (!text) {
      *missing = f.attribute;
      return E_POINTER;
    }
    SetFromText(*r, f, *text);
  }
  return S_OK;
}

// Sets the attributes of `fields` on `element`, in table order.
template <class R>
HRESULT WriteRecord(IXMLDOMNode* element, std::span<const Field<R>> fields, const R& r) {
  for (const Field<R>& f : fields) {
    const com::Bstr text = TextOf(r, f);
    RETURN_IF_FAILED(dom::SetAttribute(element, f.attribute, text.get() ? text.get() : com::Bstr("").get()));
  }
  return S_OK;
}

// Does `node` hold `r`'s values of the `key` fields? Texts are compared exactly; an integer field
// compares the attribute read as an integer. A node lacking a key attribute matches nothing.
template <class R>
com::Expected<bool> Matches(IXMLDOMNode* node, std::span<const Field<R>> key, const R& r) {
  for (const Field<R>& f : key) {
    ASSIGN_OR_RETURN(std::optional<com::Bstr> text, dom::Attribute(node, f.attribute));
    if (!text) return false;
    if (f.form == TextForm::kInteger) {
      R probe{};
      SetFromText(probe, f, *text);
      if (TextOf(probe, f) != TextOf(r, f)) return false;
    } else if (*text != TextOf(r, f)) {
      return false;
    }
  }
  return true;
}

// The first child element of `section` that holds `r`'s key, or a null node.
template <class R>
com::Expected<dom::Node> FindNode(IXMLDOMNode* section, std::span<const Field<R>> key, const R& r) {
  ASSIGN_OR_RETURN(std::vector<dom::Node> children, dom::ChildElements(section));
  for (dom::Node& child : children) {
    ASSIGN_OR_RETURN(bool found, Matches(child.get(), key, r));
    if (found) return std::move(child);
  }
  return dom::Node();
}

}  // namespace qva::settings
