#include "qvacom/policy/filter_match.h"

#include <array>
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "platform/com/errorinfo.h"
#include "platform/com/variant.h"
#include "qvacom/frame/address.h"
#include "qvacom/settings/list_fields.h"

namespace qva::filter {
namespace {

enum class EqualTest : uint8_t { kNone, kStar, kDotStar, kStarDot, kInteger };
enum class OrderTest : uint8_t { kNone, kAddress, kInteger, kIntegerAbove, kDoubleAbove };

// What each value kind means for each pair of codes; kind numbers outside the table never hold.
struct KindRow {
  EqualTest equal = EqualTest::kNone;
  OrderTest order = OrderTest::kNone;
  bool substring = false;
  LONG list_type = -1;  // -1: codes 8 and 9 never hold
  ItemTest item_test = ItemTest::kStarPattern;
};

constexpr LONG kKinds = 18;

constexpr std::array<KindRow, kKinds> MakeKindTable() {
  std::array<KindRow, kKinds> t{};
  auto text = [](EqualTest equal, LONG list_type, ItemTest item) {
    return KindRow{equal, OrderTest::kNone, true, list_type, item};
  };
  t[1] = text(EqualTest::kStar, 8, ItemTest::kStarPattern);
  t[2] = {EqualTest::kDotStar, OrderTest::kAddress, true, 7, ItemTest::kAddressRange};
  t[3] = text(EqualTest::kStarDot, 4, ItemTest::kStarDotPattern);
  t[5] = {EqualTest::kInteger, OrderTest::kInteger, false, 2, ItemTest::kStarPattern};
  t[6] = text(EqualTest::kStar, 1, ItemTest::kStarPattern);
  t[7] = text(EqualTest::kStar, 0, ItemTest::kStarPattern);
  t[9] = text(EqualTest::kStar, 3, ItemTest::kStarPattern);
  t[10] = {EqualTest::kNone, OrderTest::kDoubleAbove, false, -1, ItemTest::kStarPattern};
  t[12] = {EqualTest::kNone, OrderTest::kIntegerAbove, false, -1, ItemTest::kStarPattern};
  t[13] = t[10];
  t[14] = t[10];
  t[15] = text(EqualTest::kStar, 5, ItemTest::kStarPattern);
  t[17] = text(EqualTest::kStarDot, 9, ItemTest::kStarDotPattern);
  return t;
}

constexpr std::array<KindRow, kKinds> kKindTable = MakeKindTable();


bool Contains(std::string_view v, std::string_view part) { return v.find(part) != std::string_view::npos; }

// The pattern tests as a compiled operand: what part of p the value is tested against and how.
using Op = Condition::Op;

void CompilePattern(EqualTest test, std::string_view p, Condition* c) {
  size_t cut = std::string_view::npos;
  std::string_view part;
  switch (test) {
    case EqualTest::kStar:
      cut = p.find('*');
      part = p.substr(0, cut);
      if (cut != std::string_view::npos && part.empty()) {
        c->op = Op::kFalse;
        return;
      }
      break;
    case EqualTest::kDotStar:
      cut = p.find(".*");
      part = p.substr(0, cut);
      break;
    case EqualTest::kStarDot:
      cut = p.find("*.");
      if (cut != std::string_view::npos) part = p.substr(cut + 2);
      break;
    default:
      c->op = Op::kFalse;
      return;
  }
  if (cut == std::string_view::npos) {
    c->op = Op::kEquals;
    c->text.assign(p);
  } else if (part.empty()) {
    c->op = Op::kTrue;
  } else {
    c->op = Op::kContains;
    c->text.assign(part);
  }
}

bool TestItem(ItemTest test, std::string_view v, std::string_view p) {
  return test == ItemTest::kStarDotPattern ? StarDotPattern(v, p) : StarPattern(v, p);
}

// The "C" locale, made once: strtod_l reads numbers with it whatever setlocale says.
locale_t CLocale() {
  static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return c;
}

}  // namespace

bool StarPattern(std::string_view v, std::string_view p) {
  const size_t star = p.find('*');
  if (star == std::string_view::npos) return v == p;
  return star > 0 && Contains(v, p.substr(0, star));
}

bool DotStarPattern(std::string_view v, std::string_view p) {
  const size_t cut = p.find(".*");
  if (cut == std::string_view::npos) return v == p;
  return Contains(v, p.substr(0, cut));
}

bool StarDotPattern(std::string_view v, std::string_view p) {
  const size_t cut = p.find("*.");
  if (cut == std::string_view::npos) return v == p;
  return Contains(v, p.substr(cut + 2));
}

LONG ReadInt(std::string_view text) {
  return static_cast<LONG>(
      settings::ReadInteger(text, std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::max()));
}

double ReadDouble(std::string_view text) {
  // strtod_l reads a NUL-terminated text.
  const std::string copy(text);
  return strtod_l(copy.c_str(), nullptr, CLocale());
}

LONG CodeNumOf(LONG rule_type, LONG condition_type, std::string_view operand) {
  uint32_t h = 0;
  for (const char c : operand) {
    h = (h << 4) + static_cast<unsigned char>(c);
    const uint32_t g = h & 0xF0000000u;
    if (g != 0) h = (h ^ (g >> 24)) & ~g;
  }
  const uint32_t code =
      (h % 2000) * 1024 + (static_cast<uint32_t>(condition_type) & 31) * 32 + (static_cast<uint32_t>(rule_type) & 31);
  return static_cast<LONG>(code);
}

void ToUtf8(std::u16string_view in, std::string* out) {
  out->clear();
  out->reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    uint32_t c = in[i];
    if (c < 0x80) {
      out->push_back(static_cast<char>(c));
      continue;
    }
    if (c >= 0xD800 && c <= 0xDFFF) {
      const bool paired = c <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF;
      if (paired) {
        c = 0x10000 + ((c - 0xD800) << 10) + (in[++i] - 0xDC00);
      } else {
        c = 0xFFFD;
      }
    }
    if (c < 0x800) {
      out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    } else if (c < 0x10000) {
      out->push_back(static_cast<char>(0xE0 | (c >> 12)));
      out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    } else {
      out->push_back(static_cast<char>(0xF0 | (c >> 18)));
      out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    }
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

Condition Compile(LONG rule_type, LONG condition_type, std::string_view operand) {
  Condition c;
  if (rule_type < 0 || rule_type >= kKinds) return c;
  const KindRow& row = kKindTable[rule_type];
  switch (condition_type) {
    case kEquals:
    case kNotEquals:
      if (row.equal == EqualTest::kInteger) {
        c.op = Op::kIntEquals;
        c.integer = ReadInt(operand);
      } else {
        CompilePattern(row.equal, operand, &c);
      }
      c.negate = row.equal != EqualTest::kNone && condition_type == kNotEquals;
      return c;
    case kGreater:
    case kLess: {
      const bool above = condition_type == kGreater;
      switch (row.order) {
        case OrderTest::kAddress:
          // An operand that is no address orders nothing: neither code holds.
          if (const std::optional<double> n = AddressNumber(operand)) {
            c.op = above ? Op::kAddressAbove : Op::kAddressBelow;
            c.number = *n;
          }
          break;
        case OrderTest::kInteger:
          c.op = above ? Op::kIntAbove : Op::kIntBelow;
          c.integer = ReadInt(operand);
          break;
        case OrderTest::kIntegerAbove:
          if (above) {
            c.op = Op::kIntAbove;
            c.integer = ReadInt(operand);
          }
          break;
        case OrderTest::kDoubleAbove:
          if (above) {
            c.op = Op::kDoubleAbove;
            c.number = ReadDouble(operand);
          }
          break;
        case OrderTest::kNone:
          break;
      }
      return c;
    }
    case kContains:
    case kNotContains:
      if (row.substring) {
        c.op = Op::kContains;
        c.text.assign(operand);
        c.negate = condition_type == kNotContains;
      }
      return c;
    case kInList:
    case kNotInList:
      if (row.list_type >= 0) {
        c.op = Op::kInList;
        c.negate = condition_type == kNotInList;
        c.list_type = row.list_type;
        c.item_test = row.item_test;
        c.list_name = com::Utf8ToUtf16(operand);
      }
      return c;
    default:
      return c;
  }
}

void Subject::Reset(BSTR value) {
  ToUtf8(com::BstrView(value), &text_);
  address_.reset();
  integer_.reset();
  double_.reset();
}

std::optional<double> Subject::Address() {
  if (!address_) address_.emplace(AddressNumber(text_));
  return *address_;
}

LONG Subject::Integer() {
  if (!integer_) integer_ = ReadInt(text_);
  return *integer_;
}

double Subject::Double() {
  if (!double_) double_ = strtod_l(text_.c_str(), nullptr, CLocale());
  return *double_;
}

void ListLookups::Reset(IQVAElementSet* element_set) {
  element_set_ = element_set;
  used_ = 0;
}

HRESULT ListLookups::Fetch(List* list) {
  list->texts.clear();
  list->ranges.clear();
  if (!element_set_) return com::ReportError(E_FAIL, "QVAFilterRules", "the rules were given no element set");
  com::ComPtr<IQVAElements> elements;
  // The name is copied: a foreign element set could change the rule while it looks.
  const com::Bstr name(list->name);
  RETURN_IF_FAILED(element_set_->Item(name.get(), list->type, elements.put()));
  if (!elements) return com::ReportError(E_POINTER, "QVAFilterRules", "the element set handed out no list");
  // The items through one enumerator, a batch at a time: cheaper than an Index call per item.
  com::ComPtr<IUnknown> unknown;
  RETURN_IF_FAILED(elements->get__NewEnum(unknown.put()));
  com::ComPtr<IEnumVARIANT> items;
  RETURN_IF_FAILED(unknown.As(&items));
  constexpr ULONG kBatch = 64;
  VARIANT batch[kBatch];
  com::Bstr value;
  HRESULT next = S_OK;
  while (next == S_OK) {
    ULONG fetched = 0;
    next = items->Next(kBatch, batch, &fetched);
    if (FAILED(next)) return next;
    HRESULT hr = S_OK;
    for (ULONG i = 0; i < fetched; ++i) {
      com::ComPtr<IQVAElement> item;
      if (SUCCEEDED(hr) && (batch[i].vt == VT_DISPATCH || batch[i].vt == VT_UNKNOWN) && batch[i].punkVal)
        hr = batch[i].punkVal->QueryInterface(IID_IQVAElement, item.put_void());
      if (SUCCEEDED(hr) && item) {
        if (list->test == ItemTest::kAddressRange) {
          std::pair<double, double> range;
          hr = item->get_dbValue1(&range.first);
          if (SUCCEEDED(hr)) hr = item->get_dbValue2(&range.second);
          if (SUCCEEDED(hr)) list->ranges.push_back(range);
        } else {
          hr = item->get_Value(value.put());
          if (SUCCEEDED(hr)) ToUtf8(value.view(), &list->texts.emplace_back());
        }
      }
      VariantClear(&batch[i]);
    }
    RETURN_IF_FAILED(hr);
  }
  return S_OK;
}

HRESULT ListLookups::AnyItemHolds(const Condition& c, Subject& subject, bool* holds) {
  *holds = false;
  const std::u16string_view name = c.list_name;
  List* list = nullptr;
  for (size_t i = 0; i < used_ && !list; ++i) {
    List& l = lists_[i];
    if (l.type == c.list_type && l.test == c.item_test && l.name == name) list = &l;
  }
  if (!list) {
    if (used_ == lists_.size()) lists_.emplace_back();
    list = &lists_[used_++];
    list->name.assign(name);
    list->type = c.list_type;
    list->test = c.item_test;
    list->hr = Fetch(list);
  }
  if (FAILED(list->hr)) return list->hr;

  if (list->test == ItemTest::kAddressRange) {
    const std::optional<double> a = subject.Address();
    if (!a) return S_OK;
    for (const auto& [low, high] : list->ranges) {
      if (low <= *a && *a <= high) {
        *holds = true;
        break;
      }
    }
    return S_OK;
  }
  for (const std::string& p : list->texts) {
    if (TestItem(list->test, subject.text(), p)) {
      *holds = true;
      break;
    }
  }
  return S_OK;
}

HRESULT Holds(const Condition& c, Subject& subject, ListLookups& lists, bool* holds) {
  const bool negate = c.negate;
  bool h = false;
  switch (c.op) {
    case Op::kFalse:
      break;
    case Op::kTrue:
      h = true;
      break;
    case Op::kEquals:
      h = subject.text() == c.text;
      break;
    case Op::kContains:
      h = Contains(subject.text(), c.text);
      break;
    case Op::kAddressAbove:
    case Op::kAddressBelow: {
      const std::optional<double> a = subject.Address();
      h = a && (c.op == Op::kAddressAbove ? *a > c.number : *a < c.number);
      break;
    }
    case Op::kIntEquals:
      h = subject.Integer() == c.integer;
      break;
    case Op::kIntAbove:
      h = subject.Integer() > c.integer;
      break;
    case Op::kIntBelow:
      h = subject.Integer() < c.integer;
      break;
    case Op::kDoubleAbove:
      h = subject.Double() > c.number;
      break;
    case Op::kInList:
      RETURN_IF_FAILED(lists.AnyItemHolds(c, subject, &h));
      break;
  }
  *holds = h != negate;
  return S_OK;
}

}  // namespace qva::filter
