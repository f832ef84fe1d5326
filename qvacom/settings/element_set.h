// The element set: named, typed lists of values kept in the settings document under
// "ElementSet", which the filter rules refer to by name and type.
//
//   <ElementSet>
//     <Element Name="office" Type="7">
//       <Item Value="192.168.1.10 - 192.168.1.20"/>
//     </Element>
//   </ElementSet>
//
// `CQVAElementSet` holds one `CQVAElements` per "Element" and each list one `CQVAElement` per
// "Item", in document order. What each type means belongs to the filter rules; the lists know
// two of them: the items of a type-6 list are time ranges "hh:mm - hh:mm" and those of a type-7
// list address ranges "a.b.c.d - a.b.c.d", and loading derives each item's two numbers from its
// text (`dbValue1`, `dbValue2`, see TimeRange and AddressRange below).
//
// Memory and document: `Add` of a list creates its "Element" at once; `Add` of an item changes
// memory only. `Save` of the set and of a list bring the in-memory document in line with the
// held objects without deleting anything; they do not write the file (the document wrapper's
// `Save` does). `Remove` of a list or an item deletes it from memory and document and writes the
// settings file at once.
//
// Loading reads the element children of "ElementSet" and of each "Element"; any other child
// (the indentation text of a document built in memory, a comment) is passed over. An "Element"
// without "Name" or "Type", or an item without "Value", ends the load with E_POINTER: the lists
// read before it stay, the list being read is dropped (a list's own Init keeps the items before
// the bad one).
//
// Each object keeps a reference on the document wrapper given to its `Init`. Objects live in a
// single-threaded apartment and take no locks.
#pragma once

#include <functional>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/com/bstr.h"
#include "platform/com/com_ptr.h"
#include "platform/com/dispatch.h"
#include "qvacom/frame/item_list.h"
#include "qvacom/settings/dom.h"
#include "qvacom_idl.h"

namespace qva {

// List types whose item texts carry numbers.
inline constexpr LONG kTimeRangeList = 6;
inline constexpr LONG kAddressRangeList = 7;

// "hh:mm - hh:mm" (one or two digits per field, blanks allowed around the dash and before each
// number, text after the last number ignored) as the two numbers hour + minute * 0.01, so 8:30
// is 8.30. nullopt for any other text.
std::optional<std::pair<double, double>> TimeRange(std::string_view text);
// "a.b.c.d - a.b.c.d" as the two address numbers (qvacom/frame/address.h); nullopt unless both
// words are addresses.
std::optional<std::pair<double, double>> AddressRange(std::string_view text);

// One value of a list: its text and, for range lists, the two numbers a load derived from it
// (0 when none was derived). Plain field access.
class CQVAElement : public com::Dispatch<IQVAElement> {
 public:
  QVA_DECL_IQVAElement;

 private:
  com::Bstr value_;
  double value1_ = 0;
  double value2_ = 0;
};

// A named, typed list of values, bound to its "Element" in the document wrapper's document by
// name and type (looked up afresh by every member that works on the document).
class CQVAElements : public com::Dispatch<IQVAElements> {
 public:
  QVA_DECL_IQVAElements;

 private:
  // Appends an element per element child of `node`, deriving range numbers by the list's type.
  HRESULT LoadItems(IXMLDOMNode* node);
  // The list's own "Element" in the wrapper's document, or a null node when it is not there.
  com::Expected<dom::Node> OwnNode(dom::Document* document);

  com::Bstr name_;
  LONG type_ = 0;
  com::ComPtr<IUnknown> document_;  // the document wrapper given to Init
  ItemList<IQVAElement> items_;
};

// The set of lists of the settings document's "ElementSet".
class CQVAElementSet : public com::Dispatch<IQVAElementSet> {
 public:
  QVA_DECL_IQVAElementSet;

 private:
  // The wrapper's document and its "ElementSet"; E_FAIL (raised) when either is out of reach.
  HRESULT OwnSection(dom::Document* document, dom::Node* section);
  // Appends a list per "Element" child of `section` (of any document), loaded from it and bound
  // to this set's wrapper.
  HRESULT ReadSection(IXMLDOMNode* section);

  com::ComPtr<IUnknown> document_;  // the document wrapper given to Init
  ItemList<IQVAElements> lists_;
};

namespace element_set_internal {

// Raises `hr` with `description` from source `source`, keeping the error information a failing
// step below has set already (the DOM's, the wrapper's) instead.
HRESULT Raise(HRESULT hr, std::string_view source, std::string_view description);
// The text of a "Type" attribute as a number: leading blanks, an optional sign, then digits up
// to the first other character; no digits reads as 0, and the value is clamped to LONG.
LONG ReadType(std::u16string_view text);
// An element child found among its parent's children, with the node just before it (its
// indentation text, in a document built in memory); both null when nothing matched.
struct Found {
  dom::Node node;
  dom::Node before;
};
// The first element child of `parent` for which `match` holds.
com::Expected<Found> FindChild(IXMLDOMNode* parent, const std::function<com::Expected<bool>(IXMLDOMNode*)>& match);
// The first "Element" child of `section` with "Name" equal to `name` (exactly) and "Type"
// reading as `type`.
com::Expected<Found> FindList(IXMLDOMNode* section, std::u16string_view name, LONG type);
// Appends a new "Element" with "Name" and "Type" to `section` after the indentation `indent`.
com::Expected<dom::Node> AppendList(IXMLDOMDocument* document, IXMLDOMNode* section, std::string_view indent, BSTR name,
                                    LONG type);
// Removes a found child from `parent`, with the whitespace text that indents it when there is one.
HRESULT RemoveIndented(IXMLDOMNode* parent, const Found& found);
// Writes the settings file through the wrapper's Save.
HRESULT SaveFile(IUnknown* wrapper);
// A copy of a caller's string (null stays null); false when out of memory.
bool CopyArg(BSTR from, com::Bstr* to);

}  // namespace element_set_internal

}  // namespace qva
