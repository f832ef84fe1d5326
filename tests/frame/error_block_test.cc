#include "qvacom/frame/error_block.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ErrorBlockTest, CodeMeanings) {
  struct Case {
    uint32_t code;
    const char* meaning;
  } cases[] = {
      {0x80004005, "Unspecified error"},           // the system's text, line break dropped
      {0x80070057, "The parameter is incorrect."},
      {0x80040205, "IDispatch error #5"},          // no system text, in the IDispatch range
      {0x8004FFFF, "IDispatch error #65023"},
      {0x80040200, "Unknown error 0x80040200"},    // the range starts above 0x80040200
      {0x80050000, "Unknown error 0x80050000"},
      {0x00000001, "Unknown error 0x1"},
  };
  for (const Case& c : cases) EXPECT_EQ(qva::CodeMeaning(static_cast<HRESULT>(c.code)), c.meaning) << std::hex << c.code;
}

TEST(ErrorBlockTest, BlockHoldsCodeMeaningSourceAndDescriptionOfAnyLength) {
  const std::string long_description(10000, 'x');
  com::ComError e(static_cast<HRESULT>(0x80004005u), "Microsoft OLE DB Provider", long_description);
  EXPECT_EQ(qva::ErrorBlock(e), "Vodrik Error\n\tCode = 80004005\n\tCode meaning = Unspecified error\n\tSource = "
                                "Microsoft OLE DB Provider\n\tDescription = " +
                                    long_description + "\n");
  EXPECT_EQ(qva::ErrorBlock(com::ComError(0x40, "", "")),
            "Vodrik Error\n\tCode = 00000040\n\tCode meaning = Unknown error 0x40\n\tSource = \n\tDescription = \n");
}

}  // namespace
