// The view pattern shared by the seven real-time views: a newest-first list of records with no
// bound of its own. The service adds at the front and drops the oldest with `Pop`; consoles read
// through snapshot enumerators.
//
//   class CQVARealWarns : public RealView<IQVARealWarns, CQVARealWarn> {};
//
// ViewI is the view's interface (its members `Add`, `Count`, `Pop`, `_NewEnum` and `RemoveAll`
// carry the same names and signatures in every view; only their dispids differ, and those live
// in the interface description). Record is the record class, which names its interface
// `Interface` and its fields `Data` with a `name` (real_records.h).
//
// Apartment objects: called on one thread, no locks.
#pragma once

#include <deque>
#include <new>
#include <utility>
#include <vector>

#include "platform/com/com_ptr.h"
#include "platform/com/dispatch.h"
#include "platform/com/variant.h"
#include "platform/com/variant_enum.h"

namespace qva {

template <class ViewI, class Record>
class RealView : public com::Dispatch<ViewI> {
 public:
  using RecordI = typename Record::Interface;

  // Makes a record, sets its Name and puts it at the front. Records with the same name are not
  // looked for: duplicates are kept. On failure the view is unchanged and *pVal is null.
  HRESULT STDMETHODCALLTYPE Add(BSTR Name, RecordI** pVal) override {
    if (!pVal) return E_POINTER;
    *pVal = nullptr;
    auto made = com::CreateObject<Record>();
    if (!made) return made.error();
    com::ComPtr<Record> record = std::move(*made);
    const HRESULT hr = record->put_Name(Name);
    if (FAILED(hr)) return hr;
    try {
      records_.push_front(record);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    *pVal = record.Detach();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE get_Count(LONG* pVal) override {
    if (!pVal) return E_POINTER;
    *pVal = static_cast<LONG>(records_.size());
    return S_OK;
  }

  // Drops the oldest record; nothing on an empty view. A caller still holding the record keeps a
  // usable object that is no longer part of the view.
  HRESULT STDMETHODCALLTYPE Pop() override {
    if (!records_.empty()) records_.pop_back();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE RemoveAll() override {
    std::deque<com::ComPtr<Record>> gone;
    gone.swap(records_);  // the view is empty before any record is released
    return S_OK;
  }

  // An IEnumVARIANT over the records as they are now, newest first, each a VT_UNKNOWN holding
  // the record interface with its own reference. Later changes to the view do not reach it.
  HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** pVal) override {
    if (!pVal) return E_POINTER;
    *pVal = nullptr;
    try {
      std::vector<com::Variant> items;
      items.reserve(records_.size());
      for (const com::ComPtr<Record>& record : records_)
        items.push_back(com::Variant::Unknown(static_cast<RecordI*>(record.get())));
      return com::VariantEnum::Make(std::move(items), pVal);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }

 protected:
  // Front is the newest record; one reference per record. A deque gives the list's front
  // insertion and back removal in constant time without a heap node per record, and a snapshot
  // walks contiguous blocks.
  std::deque<com::ComPtr<Record>> records_;
};

}  // namespace qva
