// The traffic view's own members and the traffic record's counters.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "platform/com/bstr.h"
#include "platform/com/object.h"
#include "qvacom/realtime/real_views.h"
#include "tests/realtime/realtime_test_util.h"

namespace qva {
namespace {

using com::Bstr;
using com::ComPtr;

constexpr LONG kMax = std::numeric_limits<LONG>::max();
constexpr LONG kMin = std::numeric_limits<LONG>::min();

class TrafficViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto made = com::CreateObject<CQVARealTraffics>();
    ASSERT_TRUE(made.ok());
    view_ = std::move(*made);
  }
  // Adds a line; `tag` goes into InBytes so a test can tell lines with equal keys apart.
  ComPtr<IQVARealTraffic> Line(const std::string& name, const std::string& addr, LONG tag) {
    ComPtr<IQVARealTraffic> line;
    EXPECT_EQ(view_->Add(Bstr(name).get(), line.put()), S_OK);
    EXPECT_EQ(line->put_SourceAddr(Bstr(addr).get()), S_OK);
    EXPECT_EQ(line->put_InBytes(tag), S_OK);
    return line;
  }
  static LONG In(IQVARealTraffic* line) {
    LONG n = 0;
    EXPECT_EQ(line->get_InBytes(&n), S_OK);
    return n;
  }
  static LONG Out(IQVARealTraffic* line) {
    LONG n = 0;
    EXPECT_EQ(line->get_OutBytes(&n), S_OK);
    return n;
  }

  ComPtr<CQVARealTraffics> view_;
};

TEST_F(TrafficViewTest, FindAnswersTheNewestLineOfExactlyThatUserAndAddress) {
  Line("alice", "10.0.0.1", 1);
  Line("bob", "10.0.0.2", 2);
  Line("alice", "10.0.0.1", 3);
  Line("pc1", "10.0.0.5", 4);
  Line("", "", 5);

  const struct {
    const char* what;
    const char16_t* name;  // null stands for a null BSTR
    const char16_t* addr;
    LONG found;  // tag of the line found; 0 for none
  } cases[] = {
      {"newest of two equal lines", u"alice", u"10.0.0.1", 3},
      {"older line of another user", u"bob", u"10.0.0.2", 2},
      {"same user, other address", u"alice", u"10.0.0.2", 0},
      {"names compare case-sensitively", u"Alice", u"10.0.0.1", 0},
      // The joined texts are equal ("pc110.0.0.5") but user and address are not.
      {"user and address split elsewhere", u"pc", u"110.0.0.5", 0},
      {"address glued to the name", u"alice10.0.0.1", u"", 0},
      {"null strings are empty ones", nullptr, nullptr, 5},
      {"empty strings", u"", u"", 5},
  };
  for (const auto& c : cases) {
    const Bstr name = c.name ? Bstr(c.name) : Bstr();
    const Bstr addr = c.addr ? Bstr(c.addr) : Bstr();
    IQVARealTraffic* found = reinterpret_cast<IQVARealTraffic*>(0x1);  // must come back null on no match
    const HRESULT hr = view_->Find(name.get(), addr.get(), &found);
    ComPtr<IQVARealTraffic> held = ComPtr<IQVARealTraffic>::Attach(found);
    if (c.found == 0) {
      EXPECT_EQ(hr, S_FALSE) << c.what;
      EXPECT_EQ(found, nullptr) << c.what;
    } else {
      ASSERT_EQ(hr, S_OK) << c.what;
      ASSERT_NE(found, nullptr) << c.what;
      EXPECT_EQ(In(found), c.found) << c.what;
    }
  }
  EXPECT_EQ(view_->Find(nullptr, nullptr, nullptr), E_POINTER);
}

TEST_F(TrafficViewTest, FindOnAnEmptyViewAnswersNothing) {
  ComPtr<IQVARealTraffic> found;
  EXPECT_EQ(view_->Find(Bstr("alice").get(), Bstr("10.0.0.1").get(), found.put()), S_FALSE);
  EXPECT_FALSE(found);
}

TEST_F(TrafficViewTest, ResetCurInfoStartsEveryLineAfreshAndKeepsThem) {
  const DATE reset = 46000.75;
  std::vector<ComPtr<IQVARealTraffic>> lines = {Line("alice", "10.0.0.1", 100), Line("bob", "10.0.0.2", -7),
                                                Line("carol", "10.0.0.3", kMax)};
  for (auto& line : lines) {
    ASSERT_EQ(line->put_StartTime(45000.25), S_OK);
    ASSERT_EQ(line->put_EndTime(45001.5), S_OK);
    ASSERT_EQ(line->put_OutBytes(12345), S_OK);
  }
  ASSERT_EQ(view_->ResetCurInfo(reset), S_OK);

  LONG count = 0;
  ASSERT_EQ(view_->get_Count(&count), S_OK);
  EXPECT_EQ(count, 3);
  const std::vector<std::string> names = {"alice", "bob", "carol"};
  for (size_t i = 0; i < lines.size(); ++i) {
    IQVARealTraffic* line = lines[i].get();
    DATE start = 0, end = 0;
    ASSERT_EQ(line->get_StartTime(&start), S_OK);
    ASSERT_EQ(line->get_EndTime(&end), S_OK);
    EXPECT_EQ(start, reset);
    EXPECT_EQ(end, reset);
    EXPECT_EQ(In(line), 0);
    EXPECT_EQ(Out(line), 0);
    EXPECT_EQ(testing::NameOf(line), names[i]);
    Bstr addr;
    ASSERT_EQ(line->get_SourceAddr(addr.put()), S_OK);
    EXPECT_EQ(addr.utf8(), "10.0.0." + std::to_string(i + 1));
  }
  EXPECT_EQ(view_->ResetCurInfo(0.0), S_OK);
}

TEST(TrafficLineTest, ByteCountersAddWithWrapAround) {
  const struct {
    LONG start;
    LONG add;
    LONG sum;
  } cases[] = {
      {10, -5, 5},      {0, 7, 7},       {-1, 1, 0},       {kMax, 1, kMin},
      {kMin, -1, kMax}, {kMin, kMin, 0}, {kMax, kMax, -2}, {kMax - 10, 5, kMax - 5},
  };
  for (const auto& c : cases) {
    auto made = com::CreateObject<CQVARealTraffic>();
    ASSERT_TRUE(made.ok());
    IQVARealTraffic* line = made->get();
    ASSERT_EQ(line->put_InBytes(c.start), S_OK);
    ASSERT_EQ(line->put_OutBytes(c.start), S_OK);

    ASSERT_EQ(line->add_InBytes(c.add), S_OK);
    LONG in = 0, out = 0;
    ASSERT_EQ(line->get_InBytes(&in), S_OK);
    ASSERT_EQ(line->get_OutBytes(&out), S_OK);
    EXPECT_EQ(in, c.sum) << c.start << " + " << c.add;
    EXPECT_EQ(out, c.start) << "add_InBytes leaves OutBytes alone";

    ASSERT_EQ(line->add_OutBytes(c.add), S_OK);
    ASSERT_EQ(line->get_InBytes(&in), S_OK);
    ASSERT_EQ(line->get_OutBytes(&out), S_OK);
    EXPECT_EQ(out, c.sum) << c.start << " + " << c.add;
    EXPECT_EQ(in, c.sum) << "add_OutBytes leaves InBytes alone";
  }
}

}  // namespace
}  // namespace qva
