// Fee records: CQVAFee, one dated amount booked against an account name, and CQVAFees, the
// records of one account kind. The kind (QvaFeeType: user 0, department 1, computer 2, group 3)
// is chosen by Init and picks the table (UserFee, DepFee, ComputerFee, GroupFee), its statements
// and the XML section ("UserFees" ...).
//
// Keys, as clients have always seen them: Item finds a record by its name and the calendar day of
// its Date (the time of day takes no part, and neither does the century: 1999-05-06 and 2099-05-06
// are the same day to it). Save(false) updates the row of the same name and the same date and
// time; Clear deletes every row of the record's name, not only its own. There is no Remove,
// Exists, Index or Reload.
//
// Departures from the old behaviour: a fee type outside 0 .. 3 is E_INVALIDARG (it selects no
// table) instead of running no statement and reporting success; Save and Clear report the
// database's result; the name and the day are compared apart, so a record whose date cannot be
// written as a day never matches another record's name-and-day text.
#pragma once

#include <string>
#include <variant>

#include "msxml_idl.h"
#include "platform/com/bstr.h"
#include "platform/com/com_ptr.h"
#include "platform/com/dispatch.h"
#include "qvacom/accounts/collection.h"
#include "qvacom/accounts/statements.h"
#include "qvacom_idl.h"

namespace qva {

class CRecordset;

// Whether `type` names one of the four fee tables.
constexpr bool IsFeeType(LONG type) { return type >= qvaUserFee && type <= qvaGroupFee; }

class CQVAFee : public com::Dispatch<IQVAFee>, public ListedItem {
 public:
  HRESULT STDMETHODCALLTYPE get_Name(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE put_Name(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE get_Date(DATE* pVal) override;
  HRESULT STDMETHODCALLTYPE put_Date(DATE newVal) override;
  HRESULT STDMETHODCALLTYPE get_FeeAdd(double* pVal) override;
  HRESULT STDMETHODCALLTYPE put_FeeAdd(double newVal) override;

  // INSERT (Add non-zero) or UPDATE of the row with this Name and this exact Date; the amount is
  // written as it stands (not rounded). The database object's result, with its error
  // information; E_FAIL when bound to no database.
  HRESULT STDMETHODCALLTYPE Save(VARIANT_BOOL Add) override;
  // Binds the record to a fee table and keeps the database object (with a reference) for Save
  // and Clear; null unbinds. E_INVALIDARG for a fee type outside 0 .. 3 (nothing changes).
  HRESULT STDMETHODCALLTYPE Init(QvaFeeType FeeType, IUnknown* pDB) override;
  // Deletes every row of the record's Name from its table; the database object's result.
  HRESULT STDMETHODCALLTYPE Clear() override;

  // ---- for the collection ----
  const com::Bstr& name() const { return name_; }
  DATE date() const { return date_; }
  QvaFeeType fee_type() const { return fee_type_; }
  // Binds to the database with the fee type held (the collection's Init of an item).
  HRESULT Init(IUnknown* pDB) { return Init(fee_type_, pDB); }
  bool LoadRow(CRecordset& rs, RowLoad how);
  static bool RowKey(CRecordset& rs, std::string* key);
  // Name, Date (a day: read at midnight; empty text gives the current time) and FeeAdd.
  HRESULT ReadElement(IXMLDOMNode* element);
  // Name, Date as "%Y-%m-%d" (the time of day is not written) and FeeAdd.
  HRESULT WriteElement(IXMLDOMNode* element) const;

 protected:
  void set_fee_type(QvaFeeType type) { fee_type_ = type; }

 private:
  com::ComPtr<IUnknown> db_;
  QvaFeeType fee_type_ = qvaUserFee;
  com::Bstr name_;
  DATE date_ = 0;
  double fee_add_ = 0;
};

// The record class a collection of one fee type makes: a CQVAFee born with that type, so that
// the shared collection's Init(pDB) of a new item binds it to the right table.
template <QvaFeeType Type>
class CQVAFeeOf : public CQVAFee {
 public:
  CQVAFeeOf() { set_fee_type(Type); }
};

template <QvaFeeType Type>
struct FeesTraits {
  using Item = CQVAFeeOf<Type>;
  static constexpr std::string_view kSource = "QVA.Fees.1";
  static constexpr const EntityStatements& kStatements = kFeeStatements[Type];
  static constexpr std::string_view kSection = Type == qvaUserFee       ? "UserFees"
                                               : Type == qvaDepFee      ? "DepFees"
                                               : Type == qvaComputerFee ? "ComputerFees"
                                                                        : "GroupFees";
  static constexpr std::string_view kElement = "Fee";
  static constexpr HRESULT kAbsent = S_OK;  // unused: fees have no Exists
};

class CQVAFees : public com::Dispatch<IQVAFees> {
 public:
  // Add: a record of the collection's fee type (user fees until Init says otherwise), bound to
  // its database; nothing is written. Init: E_INVALIDARG for a fee type outside 0 .. 3, with the
  // collection left as it was. Item: the first record, in load order (ordered by Date), of that
  // exact name (UTF-8 bytes) on the same "%y%m%d" day; E_FAIL when none.
  QVA_DECL_IQVAFees;

  QvaFeeType fee_type() const { return static_cast<QvaFeeType>(fees_.index()); }

 private:
  std::variant<Collection<FeesTraits<qvaUserFee>>, Collection<FeesTraits<qvaDepFee>>,
               Collection<FeesTraits<qvaComputerFee>>, Collection<FeesTraits<qvaGroupFee>>>
      fees_;
};

}  // namespace qva
