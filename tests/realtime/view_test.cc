// The view pattern, run against each of the seven views.
#include <gtest/gtest.h>

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
using testing::NameOf;
using testing::Names;
using testing::Records;
using testing::SameObject;
using Strings = std::vector<std::string>;

template <class View>
class ViewPatternTest : public ::testing::Test {
 protected:
  using RecordI = typename View::RecordI;

  void SetUp() override {
    auto made = com::CreateObject<View>();
    ASSERT_TRUE(made.ok());
    view_ = std::move(*made);
  }
  ComPtr<RecordI> Add(const std::string& name) {
    ComPtr<RecordI> record;
    EXPECT_EQ(view_->Add(Bstr(name).get(), record.put()), S_OK);
    return record;
  }
  LONG Count() {
    LONG n = -1;
    EXPECT_EQ(view_->get_Count(&n), S_OK);
    return n;
  }
  Strings Listed() { return Names(Records<RecordI>(view_.get())); }

  ComPtr<View> view_;
};

using AllViews = ::testing::Types<CQVARealTraffics, CQVARealUsers, CQVARealWarns, CQVARealFiles, CQVARealBlocks,
                                  CQVARealMalwares, CQVARealNISs>;
TYPED_TEST_SUITE(ViewPatternTest, AllViews);

TYPED_TEST(ViewPatternTest, NewestComesFirstAndPopDropsTheOldest) {
  auto a = this->Add("a");
  this->Add("b");
  auto c = this->Add("c");
  auto records = Records<typename TestFixture::RecordI>(this->view_.get());
  EXPECT_EQ(Names(records), (Strings{"c", "b", "a"}));
  // The enumerator hands out the very records Add handed out.
  ASSERT_EQ(records.size(), 3u);
  EXPECT_TRUE(SameObject(records.front().get(), c.get()));
  EXPECT_TRUE(SameObject(records.back().get(), a.get()));

  EXPECT_EQ(this->view_->Pop(), S_OK);
  EXPECT_EQ(this->Count(), 2);
  EXPECT_EQ(this->Listed(), (Strings{"c", "b"}));
  this->Add("d");
  EXPECT_EQ(this->Listed(), (Strings{"d", "c", "b"}));
}

TYPED_TEST(ViewPatternTest, PopAndRemoveAllOnAnEmptyViewSucceedAndChangeNothing) {
  EXPECT_EQ(this->view_->Pop(), S_OK);
  EXPECT_EQ(this->view_->RemoveAll(), S_OK);
  EXPECT_EQ(this->Count(), 0);
  EXPECT_EQ(this->Listed(), Strings{});
  // Popping one past the last record is just as harmless.
  this->Add("only");
  EXPECT_EQ(this->view_->Pop(), S_OK);
  EXPECT_EQ(this->view_->Pop(), S_OK);
  EXPECT_EQ(this->Count(), 0);
}

TYPED_TEST(ViewPatternTest, AnEnumeratorKeepsItsSnapshotWhateverTheViewDoesLater) {
  this->Add("a");
  this->Add("b");
  ComPtr<IUnknown> before;
  ASSERT_EQ(this->view_->get__NewEnum(before.put()), S_OK);
  EXPECT_EQ(this->view_->RemoveAll(), S_OK);
  EXPECT_EQ(this->Count(), 0);
  this->Add("x");

  auto snapshot = testing::Drain<typename TestFixture::RecordI>(before.get());
  EXPECT_EQ(Names(snapshot), (Strings{"b", "a"}));
  EXPECT_EQ(this->Listed(), Strings{"x"});

  // Reset and Clone start over on the same snapshot.
  com::ComPtr<IEnumVARIANT> e;
  ASSERT_EQ(before->QueryInterface(IID_IEnumVARIANT, e.put_void()), S_OK);
  ASSERT_EQ(e->Reset(), S_OK);
  ComPtr<IEnumVARIANT> clone;
  ASSERT_EQ(e->Clone(clone.put()), S_OK);
  EXPECT_EQ(Names(testing::Drain<typename TestFixture::RecordI>(clone.get())), (Strings{"b", "a"}));
}

TYPED_TEST(ViewPatternTest, ARecordOutOfTheViewStaysUsableByItsHolder) {
  auto oldest = this->Add("oldest");
  auto newest = this->Add("newest");
  ASSERT_EQ(this->view_->Pop(), S_OK);
  ASSERT_EQ(this->view_->RemoveAll(), S_OK);
  for (auto* record : {oldest.get(), newest.get()}) {
    EXPECT_EQ(record->put_Name(Bstr("renamed").get()), S_OK);
    EXPECT_EQ(NameOf(record), "renamed");
  }
  EXPECT_EQ(this->Count(), 0);
}

TYPED_TEST(ViewPatternTest, DuplicateNamesMakeSeparateRecords) {
  auto first = this->Add("same");
  auto second = this->Add("same");
  EXPECT_FALSE(SameObject(first.get(), second.get()));
  EXPECT_EQ(this->Count(), 2);
  EXPECT_EQ(this->Listed(), (Strings{"same", "same"}));
}

TYPED_TEST(ViewPatternTest, AddKeepsTheNameAsGiven) {
  const struct {
    const char* what;
    std::u16string name;  // empty and null both read back empty
    bool null;
  } cases[] = {
      {"null string", u"", true},
      {"empty", u"", false},
      {"accents", u"Zo\u00eb", false},
      {"chinese", u"\u7528\u6237", false},
      {"embedded NUL", std::u16string(u"a\0b", 3), false},
      {"outside the BMP", u"\U0001F600x", false},
  };
  for (const auto& c : cases) {
    ComPtr<typename TestFixture::RecordI> record;
    Bstr name(c.name);
    ASSERT_EQ(this->view_->Add(c.null ? nullptr : name.get(), record.put()), S_OK) << c.what;
    Bstr back;
    ASSERT_EQ(record->get_Name(back.put()), S_OK) << c.what;
    ASSERT_NE(back.get(), nullptr) << c.what;
    EXPECT_EQ(back.view(), c.name) << c.what;
  }
}

TYPED_TEST(ViewPatternTest, NullOutPointersAreRefusedAndChangeNothing) {
  EXPECT_EQ(this->view_->Add(Bstr("a").get(), nullptr), E_POINTER);
  EXPECT_EQ(this->view_->get_Count(nullptr), E_POINTER);
  EXPECT_EQ(this->view_->get__NewEnum(nullptr), E_POINTER);
  EXPECT_EQ(this->Count(), 0);
}

}  // namespace
}  // namespace qva
