#include "platform/com/text.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/com/oleauto.h"

namespace {

TEST(TextTest, Utf8ToUtf16ReplacesInvalidSequences) {
  struct Case {
    std::string_view utf8;
    std::u16string_view utf16;
  } cases[] = {
      {"", u""},
      {"plain", u"plain"},
      {"\xC3\xA9t\xC3\xA9 \xE2\x82\xAC", u"\u00E9t\u00E9 \u20AC"},
      {"\xF0\x9F\x98\x80", u"\U0001F600"},
      {std::string_view("a\0b", 3), std::u16string_view(u"a\0b", 3)},
      {"\xC3", u"\uFFFD"},                      // truncated sequence
      {"a\x80z", u"a\uFFFDz"},                  // stray continuation byte
      {"\xE2\x82", u"\uFFFD"},                  // truncated three-byte sequence: one replacement
      {"\xFF\xFE", u"\uFFFD\uFFFD"},            // bytes that never occur in UTF-8
      {"\xC0\xAF", u"\uFFFD\uFFFD"},            // overlong encoding
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // an encoded surrogate
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.utf8));
    EXPECT_EQ(com::Utf8ToUtf16(c.utf8), c.utf16);
  }
}

TEST(TextTest, Utf16ToUtf8ReplacesUnpairedSurrogates) {
  struct Case {
    std::u16string_view utf16;
    std::string_view utf8;
  } cases[] = {
      {u"\u00E9\u20AC\U0001F600", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
      {std::u16string_view(u"a\0b", 3), std::string_view("a\0b", 3)},
      {u"\xD800x", "\xEF\xBF\xBDx"},
      {u"x\xDC00", "x\xEF\xBF\xBD"},
  };
  for (const Case& c : cases) EXPECT_EQ(com::Utf16ToUtf8(c.utf16), c.utf8);
}

TEST(TextTest, BstrHelpers) {
  BSTR b = com::AllocBstr(std::string_view("na\0me \xE2\x82\xAC", 9));
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringLen(b), 7u);
  EXPECT_EQ(com::BstrView(b), std::u16string_view(u"na\0me \u20AC", 7));
  EXPECT_EQ(com::BstrToUtf8(b), std::string_view("na\0me \xE2\x82\xAC", 9));
  SysFreeString(b);

  b = com::AllocBstr(std::u16string_view());
  ASSERT_NE(b, nullptr);  // an empty string, not a null one
  EXPECT_EQ(SysStringLen(b), 0u);
  SysFreeString(b);

  EXPECT_TRUE(com::BstrView(nullptr).empty());
  EXPECT_EQ(com::BstrToUtf8(nullptr), "");
}

TEST(TextTest, CompareNoCaseFoldsFully) {
  struct Case {
    std::u16string_view a, b;
    int sign;
  } cases[] = {
      {u"Alice", u"aLICE", 0},
      {u"Stra\u00DFe", u"STRASSE", 0},  // full folding: sharp s is "ss"
      {u"\u00C9COLE", u"\u00E9cole", 0},
      {u"\u039C\u0391\u03AA\u039F\u03A3", u"\u03BC\u03B1\u03CA\u03BF\u03C2", 0},  // final sigma
      {u"a", u"B", -1},
      {u"b", u"A", 1},
      {u"abc", u"ABCD", -1},
      {u"\uFFFD", u"\U00010000", -1},  // code point order, not UTF-16 unit order
      {u"e", u"\u00E9", -1},           // accents are not folded away
  };
  for (const Case& c : cases) {
    const int r = com::CompareNoCase(c.a, c.b);
    EXPECT_EQ((r > 0) - (r < 0), c.sign) << com::Utf16ToUtf8(c.a) << " vs " << com::Utf16ToUtf8(c.b);
  }
  EXPECT_EQ(com::CompareNoCase("Stra\xC3\x9F"
                               "e",
                               "strasse"),
            0);
  EXPECT_TRUE(
      com::EqualsNoCase("Gr\xC3\x9C\xC3\x9F"
                        "E",
                        "gr\xC3\xBCsse"));
  EXPECT_FALSE(com::EqualsNoCase("alice", "alicia"));
}

TEST(TextTest, ToLower) {
  EXPECT_EQ(com::ToLower("\xC3\x80\xC3\x89\xC3\x8E Abc"), "\xC3\xA0\xC3\xA9\xC3\xAE abc");
  EXPECT_EQ(com::ToLower(u"\u039F\u0394\u039F\u03A3 I"), u"\u03BF\u03B4\u03BF\u03C2 i");  // final sigma, no Turkish i
  EXPECT_EQ(com::ToLower("bad \xFF"), "bad \xEF\xBF\xBD");
  // ASCII texts lower-case without ICU: the same as ICU gives them inside a text it maps.
  std::string ascii;
  for (int c = 1; c < 0x80; ++c) ascii += static_cast<char>(c);
  EXPECT_EQ(com::ToLower(ascii) + "\xC3\xA9", com::ToLower(ascii + "\xC3\x89"));
  const std::u16string wide(ascii.begin(), ascii.end());
  EXPECT_EQ(com::ToLower(wide) + u"\u00e9", com::ToLower(wide + u"\u00c9"));
}

// VarBstrCmp lives in collate.cc; its cases sit with the other text behaviour.
class VarBstrCmpTest : public testing::Test {
 protected:
  BSTR Keep(BSTR b) {
    owned_.push_back(b);
    return b;
  }
  BSTR S(std::u16string_view s) { return Keep(SysAllocStringLen(s.data(), static_cast<UINT>(s.size()))); }
  BSTR Bytes(const char* bytes, UINT len) { return Keep(SysAllocStringByteLen(bytes, len)); }
  ~VarBstrCmpTest() override {
    for (BSTR b : owned_) SysFreeString(b);
  }

 private:
  std::vector<BSTR> owned_;
};

TEST_F(VarBstrCmpTest, NullAndEmpty) {
  BSTR text = S(u"Wurscht");
  BSTR empty = S(u"");
  BSTR nul = S(std::u16string_view(u"\0", 1));
  struct Case {
    BSTR left, right;
    HRESULT result;
  } cases[] = {
      {nullptr, nullptr, VARCMP_EQ}, {text, nullptr, VARCMP_GT},  {nullptr, text, VARCMP_LT},
      {empty, nullptr, VARCMP_EQ},   {nullptr, empty, VARCMP_EQ}, {nul, empty, VARCMP_GT},
      {empty, nul, VARCMP_LT},
  };
  for (LCID lcid : {LCID{0}, LOCALE_USER_DEFAULT}) {
    for (const Case& c : cases) EXPECT_EQ(VarBstrCmp(c.left, c.right, lcid, 0), c.result) << lcid;
  }
}

TEST_F(VarBstrCmpTest, CollationOrder) {
  constexpr ULONG kIgnoreCase = 1, kIgnoreNonSpace = 2;
  struct Case {
    std::u16string_view left, right;
    ULONG flags;
    HRESULT result;
  } cases[] = {
      {u"a", u"A", 0, VARCMP_LT},
      {u"a", u"A", kIgnoreCase, VARCMP_EQ},
      {u"apple", u"Banana", 0, VARCMP_LT},
      {u"Zebra", u"apple", 0, VARCMP_GT},
      {u"e", u"\u00E9", 0, VARCMP_LT},
      {u"e", u"\u00E9", kIgnoreCase, VARCMP_LT},
      {u"e", u"\u00E9", kIgnoreNonSpace, VARCMP_EQ},
      {u"r\u00E9sum\u00E9", u"Resume", kIgnoreNonSpace, VARCMP_LT},  // case still counts
      {u"r\u00E9sum\u00E9", u"Resume", kIgnoreCase | kIgnoreNonSpace, VARCMP_EQ},
      {u"\u00E9", u"e\u0301", 0, VARCMP_EQ},  // canonically equivalent
      {u"a", std::u16string_view(u"a\0", 2), 0, VARCMP_EQ},
      {u"a", std::u16string_view(u"a\0b", 3), 0, VARCMP_LT},
      {u"item10", u"item9", 0, VARCMP_LT},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(VarBstrCmp(S(c.left), S(c.right), LOCALE_USER_DEFAULT, c.flags), c.result)
        << com::Utf16ToUtf8(c.left) << " vs " << com::Utf16ToUtf8(c.right) << " flags " << c.flags;
  }
}

TEST_F(VarBstrCmpTest, LcidZeroComparesBinary) {
  EXPECT_EQ(VarBstrCmp(S(u"a"), S(u"B"), 0, 0), VARCMP_GT);
  EXPECT_EQ(VarBstrCmp(S(u"a"), S(u"A"), 0, 1), VARCMP_GT);
  EXPECT_EQ(VarBstrCmp(S(u"a"), S(u"\u0100"), 0, 0), VARCMP_LT);  // code units, not bytes
  EXPECT_EQ(VarBstrCmp(Bytes("\1\0\1", 3), Bytes("\1\0\2", 3), 0, 0), VARCMP_LT);
  // A lone NUL is no longer ignorable, and an odd trailing byte makes a string longer.
  EXPECT_EQ(VarBstrCmp(Bytes("\0\0\0", 3), Bytes("\0\0", 2), 0, 0), VARCMP_GT);
  EXPECT_EQ(VarBstrCmp(Bytes("\0\0\0", 3), Bytes("\0\0", 2), LOCALE_USER_DEFAULT, 0), VARCMP_EQ);
}

TEST_F(VarBstrCmpTest, EachThreadHasItsOwnCollator) {
  BSTR lower = S(u"r\u00E9sum\u00E9"), upper = S(u"R\u00C9SUM\u00C9");
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        failures[t] += VarBstrCmp(lower, upper, LOCALE_USER_DEFAULT, 0) != VARCMP_LT;
        failures[t] += VarBstrCmp(lower, upper, LOCALE_USER_DEFAULT, 1) != VARCMP_EQ;
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int f : failures) EXPECT_EQ(f, 0);
}

}  // namespace
