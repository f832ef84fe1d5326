#include <gtest/gtest.h>

#include "platform/com/guid.h"
#include "platform/com/objbase.h"

namespace {

TEST(GuidTest, TextRoundTripsInRegistryForm) {
  constexpr GUID g = com::MakeGuid("{3FB85A50-2E17-4E7C-BC72-DAE077D4BC63}");
  static_assert(g.Data1 == 0x3FB85A50 && g.Data2 == 0x2E17 && g.Data3 == 0x4E7C && g.Data4[0] == 0xBC &&
                g.Data4[7] == 0x63);
  EXPECT_EQ(com::GuidToString(g), "{3FB85A50-2E17-4E7C-BC72-DAE077D4BC63}");
  EXPECT_EQ(com::ParseGuid("{3fb85a50-2e17-4e7c-bc72-dae077d4bc63}"), g);

  OLECHAR text[39];
  EXPECT_EQ(StringFromGUID2(g, text, 39), 39);
  EXPECT_EQ(StringFromGUID2(g, text, 38), 0);
  CLSID back{};
  EXPECT_EQ(CLSIDFromString(text, &back), S_OK);
  EXPECT_EQ(back, g);
}

TEST(GuidTest, MalformedTextIsRefused) {
  for (const char* bad : {"", "3FB85A50-2E17-4E7C-BC72-DAE077D4BC63", "{3FB85A50-2E17-4E7C-BC72-DAE077D4BC6}",
                          "{3FB85A50-2E17-4E7C-BC72DDAE077D4BC63}", "{3FB85A50-2E17-4E7C-BC72-DAE077D4BC6G}",
                          "{3FB85A50-2E17-4E7C-BC72-DAE077D4BC63}x"})
    EXPECT_FALSE(com::ParseGuid(bad).has_value()) << bad;
  CLSID out = com::MakeGuid("{3FB85A50-2E17-4E7C-BC72-DAE077D4BC63}");
  EXPECT_EQ(CLSIDFromString(u"{nope}", &out), CO_E_CLASSSTRING);
  EXPECT_EQ(out, GUID_NULL);
  EXPECT_EQ(CLSIDFromString(u"{3FB85A50-2E17-4E7C-BC72-DAE077D4BC63}é", &out), CO_E_CLASSSTRING);
}

}  // namespace
