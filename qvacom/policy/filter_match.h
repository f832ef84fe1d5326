// How a filter rule's condition is tested against a value: the condition codes, the value kinds,
// the three pattern tests and the number readings, with each rule's operand read once.
//
// A rule tests values of one kind (its RuleType) with one condition code (its ConditionType) and
// one operand (its sValue). Which comparison a code means depends on the kind:
//
//   kind            codes 2/3 (equal)  codes 4/5 (order)     codes 6/7   codes 8/9: list type, item test
//   1, 6, 7, 9, 15  star pattern       never                 substring   8, 1, 0, 3, 5: star pattern
//   2               dot-star pattern   address order         substring   7: address range
//   3, 17           star-dot pattern   never                 substring   4, 9: star-dot pattern
//   5               integer equality   integer order         never       2: star pattern
//   10, 13, 14      never              code 4 only, doubles  never       never
//   12              never              code 4 only, integers never       never
//
// Every other kind, and every other code, never holds; code 10 only names a list (see
// ContainElements) and never holds either. The odd code of each pair is the negation of the even
// one where the pair applies; where the table says "never", neither code of the pair holds.
//
// Texts are compared byte for byte as UTF-8 (case-sensitive). Numbers are read in the "C"
// conventions whatever the process locale: integers as atoi reads them (clamped to 32 bits
// instead of overflowing), doubles as atof reads them. An address is only a text of exactly four
// dot-separated numbers 0..255: anything else is above, below and inside nothing.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/com/com_ptr.h"
#include "qvacom_idl.h"

namespace qva::filter {

// Condition codes (a rule's ConditionType).
enum ConditionCode : LONG {
  kEquals = 2,
  kNotEquals = 3,
  kGreater = 4,
  kLess = 5,
  kContains = 6,
  kNotContains = 7,
  kInList = 8,
  kNotInList = 9,
  kNamesList = 10,
};

// The pattern tests, with `p` the operand (or a list item's text) and `v` the value.
// Star: "prefix*..." holds when the prefix occurs in v, an operand starting with "*" never holds;
// without "*" v must equal p.
bool StarPattern(std::string_view v, std::string_view p);
// Dot-star: "part.*..." holds when the part before the first ".*" occurs in v (an empty part
// always holds); without ".*" v must equal p.
bool DotStarPattern(std::string_view v, std::string_view p);
// Star-dot: "...*.rest" holds when the text after the first "*." occurs in v (an empty rest
// always holds); without "*." v must equal p.
bool StarDotPattern(std::string_view v, std::string_view p);

// atoi in the "C" conventions: blanks, a sign, digits up to the first other character; no digits
// is 0; a value beyond 32 bits is clamped to the nearest bound.
LONG ReadInt(std::string_view text);
// atof in the "C" conventions, whatever the process locale (a point is the decimal separator).
// Reading stops at the first character that cannot continue the number, and at an embedded NUL.
double ReadDouble(std::string_view text);

// The code a loaded rule carries: ELF hash of the operand's UTF-8 bytes modulo 2000, times 1024,
// plus the low five bits of the condition code times 32, plus the low five bits of the kind.
LONG CodeNumOf(LONG rule_type, LONG condition_type, std::string_view operand);

// UTF-16 to UTF-8 into `out` (its capacity is reused), with U+FFFD for an unpaired surrogate,
// as every text property converts.
void ToUtf8(std::u16string_view in, std::string* out);

// How the items of a value list are tested against the value.
enum class ItemTest : uint8_t { kStarPattern, kStarDotPattern, kAddressRange };

// A rule's condition with its operand read once: what Compile makes of kind, code and operand.
struct Condition {
  enum class Op : uint8_t {
    kFalse,         // never holds (before negation)
    kTrue,          // always holds (before negation)
    kEquals,        // v == text
    kContains,      // text occurs in v
    kAddressAbove,  // the value's address number > number
    kAddressBelow,  // the value's address number < number
    kIntEquals,     // atoi(v) == integer
    kIntAbove,      // atoi(v) > integer
    kIntBelow,      // atoi(v) < integer
    kDoubleAbove,   // atof(v) > number
    kInList,        // some item of the list (list_name, list_type) passes item_test
  };
  Op op = Op::kFalse;
  bool negate = false;  // the odd code of a pair: the result is inverted
  std::string text;
  double number = 0;
  LONG integer = 0;
  LONG list_type = 0;
  ItemTest item_test = ItemTest::kStarPattern;
  std::u16string list_name;  // the operand, as the element set's Item is given it
};

Condition Compile(LONG rule_type, LONG condition_type, std::string_view operand);

// The value of one Match call: converted to UTF-8 once, its number readings made on first use.
class Subject {
 public:
  // Takes the value for a new call; the UTF-8 buffer keeps its capacity between calls.
  void Reset(BSTR value);
  const std::string& text() const { return text_; }
  std::optional<double> Address();
  LONG Integer();
  double Double();

 private:
  std::string text_;
  std::optional<std::optional<double>> address_;
  std::optional<LONG> integer_;
  std::optional<double> double_;
};

// The value lists one Match call consults, each fetched from the element set once per call
// however many rules name it (the element set may change between calls, never during one). A
// list's items are read once: the texts for the pattern tests, the two numbers for ranges.
class ListLookups {
 public:
  // Forgets the lists of the previous call; the buffers keep their capacity.
  void Reset(IQVAElementSet* element_set);
  // Does some item of the list named by `c` pass its item test? A failed look-up is returned as
  // the element set's failure (with its error information), and answered the same way for the
  // rest of the call.
  HRESULT AnyItemHolds(const Condition& c, Subject& subject, bool* holds);

 private:
  struct List {
    std::u16string name;
    LONG type = 0;
    ItemTest test = ItemTest::kStarPattern;
    HRESULT hr = S_OK;
    std::vector<std::string> texts;
    std::vector<std::pair<double, double>> ranges;
  };
  // Reads the list named `list->name` of `list->type` from the element set.
  HRESULT Fetch(List* list);

  IQVAElementSet* element_set_ = nullptr;  // borrowed for one call
  std::vector<List> lists_;                // the first `used_` are this call's
  size_t used_ = 0;
};

// Does the condition hold for the value? S_OK with the answer, or the failure of a list look-up.
HRESULT Holds(const Condition& c, Subject& subject, ListLookups& lists, bool* holds);

}  // namespace qva::filter
