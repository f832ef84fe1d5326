// Limit-IP ranges: CQVALimitIP, one row of the table LimitIP binding an account name to a range of
// IPv4 addresses (start and end as dotted texts), and CQVALimitIPs, every range of the table in
// the table's own order. A name may own several ranges.
//
// A range is keyed by all three texts, compared exactly: 10.0.0.1 and 10.0.0.01 are different
// ranges although they stand for the same address. A range is never updated in place: Save(false)
// writes nothing; remove the range and add the new one.
//
// Besides the texts an entry carries their numeric forms (dbStartIP, dbEndIP): a.b.c.d reads as
// a * 1,000,000 + b * 1,000 + c + d * 0.001, so ranges compare by number as long as no part
// exceeds 999. The collection sets them when it loads an entry (from the table or from XML); the
// text setters leave them alone, and a caller that sets the texts sets the numbers too.
#pragma once

#include <string>
#include <string_view>

#include "msxml_idl.h"
#include "platform/com/bstr.h"
#include "platform/com/com_ptr.h"
#include "platform/com/dispatch.h"
#include "qvacom/accounts/collection.h"
#include "qvacom/accounts/statements.h"
#include "qvacom_idl.h"

namespace qva {

class CRecordset;

// The numeric form of an address text (above). A text that is not four dotted decimal numbers
// (read as "%d.%d.%d.%d" reads them), and a null text, give 0.
double LimitIPNumber(std::string_view address);

class CQVALimitIP : public com::Dispatch<IQVALimitIP>, public ListedItem {
 public:
  HRESULT STDMETHODCALLTYPE get_Name(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE put_Name(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE get_StartIP(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE put_StartIP(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE get_EndIP(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE put_EndIP(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE get_dbStartIP(double* pVal) override;
  HRESULT STDMETHODCALLTYPE put_dbStartIP(double newVal) override;
  HRESULT STDMETHODCALLTYPE get_dbEndIP(double* pVal) override;
  HRESULT STDMETHODCALLTYPE put_dbEndIP(double newVal) override;

  // Deletes the row of this Name, StartIP and EndIP; the database object's result.
  HRESULT STDMETHODCALLTYPE Clear() override;
  // bAdd non-zero: INSERT, the database object's result. bAdd zero: nothing is written, S_OK.
  // E_FAIL when bound to no database.
  HRESULT STDMETHODCALLTYPE Save(VARIANT_BOOL bAdd) override;
  // Keeps the database object (with a reference) for Save and Clear; null unbinds.
  HRESULT STDMETHODCALLTYPE Init(IUnknown* pDB) override;

  // ---- for the collection ----
  const com::Bstr& name() const { return name_; }
  const com::Bstr& start_ip() const { return start_ip_; }
  const com::Bstr& end_ip() const { return end_ip_; }
  // Name, StartIP, EndIP and the numeric forms of the two addresses.
  bool LoadRow(CRecordset& rs, RowLoad how);
  static bool RowKey(CRecordset& rs, std::string* key);
  HRESULT ReadElement(IXMLDOMNode* element);
  // Name, StartIP, EndIP: the numeric forms are not written.
  HRESULT WriteElement(IXMLDOMNode* element) const;

 private:
  com::ComPtr<IUnknown> db_;
  com::Bstr name_, start_ip_, end_ip_;
  double db_start_ip_ = 0, db_end_ip_ = 0;
};

struct LimitIPsTraits {
  using Item = CQVALimitIP;
  static constexpr std::string_view kSource = "QVA.LimitIPs.1";
  static constexpr const EntityStatements& kStatements = kLimitIPStatements;
  static constexpr std::string_view kSection = "LimitIPs";
  static constexpr std::string_view kElement = "LimitIP";
  static constexpr HRESULT kAbsent = S_OK;
};

class CQVALimitIPs : public com::Dispatch<IQVALimitIPs> {
 public:
  // Exists: 1 (not VARIANT_TRUE) when a range has all three texts, else 0; S_OK either way.
  // Remove: the first such range is deleted from the table, then from the list; E_FAIL when none
  // is, or when the delete fails (the range then stays). RemoveAll: every range of the name, in
  // list order; the first failing delete stops with E_FAIL, the ranges deleted before it gone.
  QVA_DECL_IQVALimitIPs;

  const Collection<LimitIPsTraits>& ranges() const { return ranges_; }

 private:
  CQVALimitIP* Range(BSTR Name, BSTR Start, BSTR End) const;

  Collection<LimitIPsTraits> ranges_;
};

}  // namespace qva
