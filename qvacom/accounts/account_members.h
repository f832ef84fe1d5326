// The automation members of the shared account block, written once for the four account
// interfaces (IQVAUser, IQVADep, IQVAGroup, IQVAComputer):
//
//   class CQVAUser : public AccountMembers<IQVAUser> { ...only the user's own members... };
//   class DirectoryAccount<Kind> : public AccountDefaultMembers<IQVADep...> { ...own members... };
//
// AccountMembers implements get_/put_ of every property of QVA_ACCOUNT_FIELDS and Reset,
// ResetFrom, SetBytesNextResetDate and SetTimeNextResetDate over `account_`;
// AccountDefaultMembers adds get_/put_ of QVA_ACCOUNT_DEFAULT_FIELDS over `defaults_`.
//
// A concrete class declares its own members one by one, with `override`, and NOT with the
// generated QVA_DECL_<I> macro: that macro declares every member of the interface, shared ones
// included, which would hide these implementations. The shared members are `final`, so using the
// macro by mistake is a compile error rather than a silent hiding, and a concrete class cannot
// change the shared behaviour. Completeness is still checked by the compiler: the interface's
// members are pure virtual, so a concrete class that misses one of its own members is abstract
// and com::CreateObject / the class factory refuse to compile it.
#pragma once

#include "platform/com/dispatch.h"
#include "qvacom/accounts/account_block.h"

namespace qva {

// `I` is the account interface; `Base` the class that provides IDispatch and QueryInterface for
// it (com::Dispatch<I, More...> when the class implements more interfaces).
template <class I, class Base = com::Dispatch<I>>
class AccountMembers : public Base {
 public:
  // Plain stores and loads; a date stored through its property becomes valid. A null out pointer
  // is E_POINTER.
#define QVA_ACCOUNT_GET_PUT(kind, name, column, attribute)                                        \
  HRESULT STDMETHODCALLTYPE get_##name(FieldTypes<FieldKind::k##kind>::Automation* pVal) final {  \
    return Load(account_.name, pVal);                                                             \
  }                                                                                               \
  HRESULT STDMETHODCALLTYPE put_##name(FieldTypes<FieldKind::k##kind>::Automation newVal) final { \
    Store(account_.name, newVal);                                                                 \
    return S_OK;                                                                                  \
  }
  QVA_ACCOUNT_FIELDS(QVA_ACCOUNT_GET_PUT)
#undef QVA_ACCOUNT_GET_PUT

  HRESULT STDMETHODCALLTYPE Reset() final {
    account_.Reset();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ResetFrom(DATE From) final {
    account_.ResetFrom(From);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetBytesNextResetDate(DATE reset) final {
    account_.SetBytesNextResetDate(reset);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetTimeNextResetDate(DATE reset) final {
    account_.SetTimeNextResetDate(reset);
    return S_OK;
  }

  const AccountBlock& account() const { return account_; }

 protected:
  template <class T>
  static HRESULT Load(const T& field, T* out) {
    if (!out) return E_POINTER;
    *out = field;
    return S_OK;
  }
  static HRESULT Load(const DateWithStatus& field, DATE* out) {
    if (!out) return E_POINTER;
    *out = field.value;
    return S_OK;
  }
  template <class T>
  static void Store(T& field, T value) {
    field = value;
  }
  static void Store(DateWithStatus& field, DATE value) { field = {value, DateStatus::kValid}; }

  AccountBlock account_;
};

// The shared block plus the member defaults of departments and groups.
template <class I, class Base = com::Dispatch<I>>
class AccountDefaultMembers : public AccountMembers<I, Base> {
  using Members = AccountMembers<I, Base>;

 public:
#define QVA_ACCOUNT_DEFAULT_GET_PUT(kind, name, column, attribute)                                \
  HRESULT STDMETHODCALLTYPE get_##name(FieldTypes<FieldKind::k##kind>::Automation* pVal) final {  \
    return Members::Load(defaults_.name, pVal);                                                   \
  }                                                                                               \
  HRESULT STDMETHODCALLTYPE put_##name(FieldTypes<FieldKind::k##kind>::Automation newVal) final { \
    Members::Store(defaults_.name, newVal);                                                       \
    return S_OK;                                                                                  \
  }
  QVA_ACCOUNT_DEFAULT_FIELDS(QVA_ACCOUNT_DEFAULT_GET_PUT)
#undef QVA_ACCOUNT_DEFAULT_GET_PUT

  const AccountDefaults& defaults() const { return defaults_; }

 protected:
  AccountDefaults defaults_;
};

}  // namespace qva
