// The interfaces of the two outside components the array object links at start-up: the control
// component and the firewall adapter with the proxy it makes. They are not in the type library:
// the array reaches them early-bound, by vtable position, so only their shapes are fixed here.
//
// Every interface is dual in shape (IUnknown's three members, IDispatch's four, then its own), as
// the product's components have always been. Slots the array never calls are declared so that
// the slots it does call sit where it calls them; their meaning belongs to the product's own
// service and is not fixed. In this port's least form they answer E_UNEXPECTED and change
// nothing.
//
// The IIDs are this port's own: the array asks for these interfaces when it creates the
// components, and a component made for this port answers them.
#pragma once

#include "platform/com/guid.h"
#include "platform/com/types.h"

namespace vodrik {

// The control component's class (in-process), created by the array's Init.
inline constexpr CLSID kControlClsid = com::MakeGuid("{656FECE1-7D0C-4137-BEFB-9D243A38682D}");
// The firewall adapter's class (in-process), created by the array's firewall link.
inline constexpr CLSID kFirewallAdapterClsid = com::MakeGuid("{8C843748-580C-413D-86BC-218A30142DEC}");

inline constexpr IID IID_IVodrikControl = com::MakeGuid("{F612EC4A-5D2D-4B6E-9366-F862D2F20A86}");
inline constexpr IID IID_IVodrikFirewallAdapter = com::MakeGuid("{FB240F00-9E07-4A4D-99B1-D7DFEECECFE8}");
inline constexpr IID IID_IVodrikFirewallProxy = com::MakeGuid("{646E7922-478D-4077-A06D-0A73D83674CC}");

// The control component. The array calls its sixth own member, SetArray, once at start-up.
struct IVodrikControl : IDispatch {
  static constexpr const IID& iid = IID_IVodrikControl;
  virtual HRESULT STDMETHODCALLTYPE Reserved1() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved2() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved3() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved4() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved5() = 0;
  // Hands the component the array object that owns it (an IQVAArray, passed as its IUnknown
  // side: any interface pointer of the array). The array holds the one reference on the
  // component, so the component must not keep a reference back: that cycle would keep both alive
  // for ever. The array's result is ignored by the caller.
  virtual HRESULT STDMETHODCALLTYPE SetArray(IUnknown* array) = 0;
};

// The firewall proxy: talks to one firewall edition. The array calls its fifth own member,
// Connect, once after the adapter has made it.
struct IVodrikFirewallProxy : IDispatch {
  static constexpr const IID& iid = IID_IVodrikFirewallProxy;
  virtual HRESULT STDMETHODCALLTYPE Reserved1() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved2() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved3() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved4() = 0;
  // Connects to the firewall server with the settings' firewall fields, in this order. A negative
  // result means the firewall is not linked (the array logs it and starts without it).
  virtual HRESULT STDMETHODCALLTYPE Connect(BSTR server, BSTR admin, BSTR domain, BSTR password, BSTR policy) = 0;
};

// Firewall edition codes the adapter is asked for.
enum FirewallEdition : LONG {
  kIsa2000 = 0,
  kIsa2004Standard = 1,
  kIsa2004Enterprise = 2,
  kTmg2010Standard = 3,  // also TMG 2010 Enterprise in array mode
  kTmg2010EnterpriseEms = 4,
};

// The firewall adapter: makes the proxy of one edition. Its first own member is the only one.
struct IVodrikFirewallAdapter : IDispatch {
  static constexpr const IID& iid = IID_IVodrikFirewallAdapter;
  // Makes a proxy for `edition` (FirewallEdition) and hands it out with a reference for the
  // caller. A failure leaves *proxy null.
  virtual HRESULT STDMETHODCALLTYPE CreateProxy(LONG edition, IVodrikFirewallProxy** proxy) = 0;
};

}  // namespace vodrik
