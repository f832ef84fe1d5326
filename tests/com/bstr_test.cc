#include <gtest/gtest.h>

#include <cstring>
#include <string_view>

#include "platform/com/oleauto.h"

namespace {

DWORD PrefixOf(BSTR b) {
  DWORD len = 0;
  std::memcpy(&len, reinterpret_cast<const char*>(b) - sizeof(DWORD), sizeof len);
  return len;
}

std::u16string_view View(BSTR b) { return std::u16string_view(b, SysStringLen(b)); }

TEST(BstrTest, BlockHoldsByteLengthTextAndTerminator) {
  BSTR b = SysAllocString(u"Test");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(PrefixOf(b), 8u);
  EXPECT_EQ(SysStringLen(b), 4u);
  EXPECT_EQ(SysStringByteLen(b), 8u);
  EXPECT_EQ(View(b), u"Test");
  EXPECT_EQ(b[4], u'\0');
  SysFreeString(b);
}

TEST(BstrTest, NullAndEmptySources) {
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  SysFreeString(nullptr);

  struct Case {
    BSTR b;
    UINT chars;
  } cases[] = {
      {SysAllocString(u""), 0},
      {SysAllocStringLen(nullptr, 0), 0},
      {SysAllocStringLen(nullptr, 5), 5},  // zeroed characters
      {SysAllocStringByteLen(nullptr, 6), 3},
  };
  for (const Case& c : cases) {
    ASSERT_NE(c.b, nullptr);
    EXPECT_EQ(SysStringLen(c.b), c.chars);
    for (UINT i = 0; i <= c.chars; ++i) EXPECT_EQ(c.b[i], u'\0');
    SysFreeString(c.b);
  }
}

TEST(BstrTest, EmbeddedNulsAreKept) {
  constexpr char16_t kText[] = u"a\0b\0";
  BSTR b = SysAllocStringLen(kText, 4);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringLen(b), 4u);
  EXPECT_EQ(View(b), std::u16string_view(kText, 4));
  EXPECT_EQ(b[4], u'\0');
  SysFreeString(b);
}

TEST(BstrTest, ByteLengthsIncludingOddOnes) {
  constexpr char kBytes[] = {'T', 'e', 's', 't', '\0', '?'};
  for (UINT len : {0u, 1u, 3u, 4u, 5u, 6u}) {
    SCOPED_TRACE(len);
    BSTR b = SysAllocStringByteLen(kBytes, len);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SysStringByteLen(b), len);
    EXPECT_EQ(SysStringLen(b), len / 2);
    const auto* bytes = reinterpret_cast<const char*>(b);
    EXPECT_EQ(std::memcmp(bytes, kBytes, len), 0);
    // The text is followed by zero bytes up to and including a whole NUL character.
    EXPECT_EQ(bytes[len], '\0');
    EXPECT_EQ(b[(len + 1) / 2], u'\0');
    SysFreeString(b);
  }
}

TEST(BstrTest, SizesThatCannotBeRepresentedFail) {
  constexpr char16_t kText[] = u"x";
  EXPECT_EQ(SysAllocStringByteLen(reinterpret_cast<const char*>(kText), 0xFFFFFFFFu), nullptr);
  EXPECT_EQ(SysAllocStringLen(kText, 0x80000000u), nullptr);
  EXPECT_EQ(SysAllocStringLen(kText, 0xFFFFFFFFu), nullptr);
  BSTR b = SysAllocString(u"keep");
  EXPECT_EQ(SysReAllocStringLen(&b, kText, 0x80000000u), 0);
  EXPECT_EQ(View(b), u"keep");
  SysFreeString(b);
}

TEST(BstrTest, ReallocFromInsideItself) {
  BSTR b = SysAllocString(u"Hello World");
  ASSERT_EQ(SysReAllocString(&b, b + 6), 1);
  EXPECT_EQ(View(b), u"World");
  ASSERT_EQ(SysReAllocStringLen(&b, b + 1, 3), 1);
  EXPECT_EQ(View(b), u"orl");
  ASSERT_EQ(SysReAllocStringLen(&b, b, 3), 1);
  EXPECT_EQ(View(b), u"orl");
  EXPECT_EQ(b[3], u'\0');
  SysFreeString(b);
}

TEST(BstrTest, ReallocWithoutSourceResizesKeepingText) {
  BSTR b = SysAllocString(u"Test");
  ASSERT_EQ(SysReAllocStringLen(&b, nullptr, 2), 1);
  EXPECT_EQ(View(b), u"Te");
  EXPECT_EQ(b[2], u'\0');
  ASSERT_EQ(SysReAllocStringLen(&b, nullptr, 6), 1);
  EXPECT_EQ(View(b), std::u16string_view(u"Te\0\0\0\0", 6));  // growth is zero-filled
  EXPECT_EQ(b[6], u'\0');
  SysFreeString(b);
}

TEST(BstrTest, ReallocReplacesAndAllocates) {
  BSTR b = nullptr;
  ASSERT_EQ(SysReAllocString(&b, u"Larger text"), 1);
  EXPECT_EQ(View(b), u"Larger text");
  ASSERT_EQ(SysReAllocString(&b, u"x"), 1);
  EXPECT_EQ(SysStringByteLen(b), 2u);
  ASSERT_EQ(SysReAllocString(&b, nullptr), 1);
  EXPECT_EQ(b, nullptr);
  EXPECT_EQ(SysReAllocString(nullptr, u"x"), 0);
  EXPECT_EQ(SysReAllocStringLen(nullptr, u"x", 1), 0);
}

}  // namespace
