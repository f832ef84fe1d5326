#include "tools/vodrikctl/automation.h"

#include <charconv>
#include <cstdio>
#include <cstring>

#include "platform/com/bstr.h"
#include "platform/com/date.h"
#include "platform/com/oleauto.h"
#include "platform/com/typeinfo.h"

namespace vodrikctl {
namespace {

// Frees the strings an Invoke left in an EXCEPINFO.
struct ExcepInfo : EXCEPINFO {
  ExcepInfo() : EXCEPINFO{} {}
  ~ExcepInfo() {
    SysFreeString(bstrSource);
    SysFreeString(bstrDescription);
    SysFreeString(bstrHelpFile);
  }
};

std::string Quoted(std::string_view name) { return "\"" + std::string(name) + "\""; }

DISPID IdOf(IDispatch* object, std::string_view name) {
  if (!object) Throw(E_POINTER, "no object for " + std::string(name));
  com::Bstr wide(name);
  LPOLESTR names[] = {wide.get()};
  DISPID id = DISPID_UNKNOWN;
  const HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) Throw(hr, Quoted(name));
  return id;
}

// One Invoke by name. `args` in declaration order (Invoke wants them right to left).
com::Variant Invoke(IDispatch* object, std::string_view name, WORD flags, std::vector<com::Variant> args) {
  const DISPID id = IdOf(object, name);
  std::vector<com::Variant> reversed(args.rbegin(), args.rend());
  DISPID put_id = DISPID_PROPERTYPUT;
  DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), flags == DISPATCH_PROPERTYPUT ? &put_id : nullptr,
                    static_cast<UINT>(reversed.size()), flags == DISPATCH_PROPERTYPUT ? 1u : 0u};
  com::Variant result;
  ExcepInfo excep;
  UINT arg_err = 0;
  SetErrorInfo(0, nullptr);  // a description left from an earlier call must not be reported for this one
  HRESULT hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                              flags == DISPATCH_PROPERTYPUT ? nullptr : result.put(), &excep, &arg_err);
  if (hr == DISP_E_EXCEPTION) {
    Failure failure{excep.scode ? excep.scode : E_FAIL, std::string(name),
                    excep.bstrDescription ? com::BstrToUtf8(excep.bstrDescription) : std::string()};
    throw failure;
  }
  if (FAILED(hr)) Throw(hr, std::string(name));
  return result;
}

Object AsObject(com::Variant value, std::string_view name) {
  Object object;
  if (value.vt == VT_DISPATCH && value.pdispVal) {
    object = Object(value.pdispVal);
  } else if (value.vt == VT_UNKNOWN && value.punkVal) {
    value.punkVal->QueryInterface(IID_IDispatch, object.put_void());
  }
  if (!object) Throw(E_NOINTERFACE, std::string(name) + " gave no object");
  return object;
}

// Releases a TYPEATTR / FUNCDESC when the scope ends.
struct TypeInfoWalk {
  com::ComPtr<ITypeInfo> info;
  TYPEATTR* attr = nullptr;
  ~TypeInfoWalk() {
    if (attr) info->ReleaseTypeAttr(attr);
  }
};

struct Getter {
  std::string name;
  VARTYPE type;
};

// The property gets without parameters, in description order.
std::vector<Getter> Getters(IDispatch* object) {
  TypeInfoWalk walk;
  HRESULT hr = object->GetTypeInfo(0, LOCALE_USER_DEFAULT, walk.info.put());
  if (FAILED(hr) || !walk.info) Throw(FAILED(hr) ? hr : E_NOINTERFACE, "GetTypeInfo");
  hr = walk.info->GetTypeAttr(&walk.attr);
  if (FAILED(hr)) Throw(hr, "GetTypeAttr");
  std::vector<Getter> getters;
  for (UINT i = 0; i < walk.attr->cFuncs; ++i) {
    FUNCDESC* desc = nullptr;
    if (FAILED(walk.info->GetFuncDesc(i, &desc)) || !desc) continue;
    const bool getter = desc->invkind == INVOKE_PROPERTYGET && desc->cParams == 0;
    const MEMBERID memid = desc->memid;
    const VARTYPE type = desc->elemdescFunc.tdesc.vt;
    walk.info->ReleaseFuncDesc(desc);
    if (!getter) continue;
    com::Bstr name;
    if (FAILED(walk.info->GetDocumentation(memid, name.put(), nullptr, nullptr, nullptr))) continue;
    std::string text = name.utf8();
    if (text.starts_with("_")) continue;  // _NewEnum and other restricted members
    getters.push_back({std::move(text), type});
  }
  return getters;
}

bool IsObjectType(VARTYPE vt) { return vt == VT_DISPATCH || vt == VT_UNKNOWN || vt == VT_PTR || vt == VT_USERDEFINED; }

std::string DoubleText(double d) {
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, d);
  return ec == std::errc() ? std::string(buffer, end) : std::string("nan");
}

}  // namespace

void Throw(HRESULT hr, std::string what) {
  Failure failure{hr, std::move(what), {}};
  com::ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) == S_OK && info) {
    com::Bstr description;
    if (SUCCEEDED(info->GetDescription(description.put()))) failure.description = description.utf8();
  }
  throw failure;
}

com::Variant Get(IDispatch* object, std::string_view name) { return Invoke(object, name, DISPATCH_PROPERTYGET, {}); }

Object GetObject(IDispatch* object, std::string_view name) { return AsObject(Get(object, name), name); }

void Put(IDispatch* object, std::string_view name, const VARIANT& value) {
  std::vector<com::Variant> args;
  args.emplace_back(value);
  Invoke(object, name, DISPATCH_PROPERTYPUT, std::move(args));
}

com::Variant Call(IDispatch* object, std::string_view name, std::vector<com::Variant> args) {
  return Invoke(object, name, DISPATCH_METHOD, std::move(args));
}

Object CallForObject(IDispatch* object, std::string_view name, std::vector<com::Variant> args) {
  return AsObject(Call(object, name, std::move(args)), name);
}

std::vector<Property> ReadProperties(IDispatch* object) {
  std::vector<Property> properties;
  for (const Getter& getter : Getters(object)) {
    if (IsObjectType(getter.type)) continue;
    com::Variant value = Get(object, getter.name);
    if (value.vt == VT_DISPATCH || value.vt == VT_UNKNOWN) continue;
    properties.push_back({getter.name, std::move(value)});
  }
  return properties;
}

std::vector<Property> ReadProperties(IDispatch* object, const std::vector<std::string>& names) {
  std::vector<Property> properties;
  for (const std::string& name : names) properties.push_back({name, Get(object, name)});
  return properties;
}

std::vector<Object> Items(IDispatch* collection) {
  com::Variant value = Get(collection, "_NewEnum");
  com::ComPtr<IEnumVARIANT> enumerator;
  IUnknown* unknown = value.vt == VT_UNKNOWN ? value.punkVal : value.vt == VT_DISPATCH ? value.pdispVal : nullptr;
  if (!unknown) Throw(E_NOINTERFACE, "_NewEnum gave no enumerator");
  HRESULT hr = unknown->QueryInterface(IID_IEnumVARIANT, enumerator.put_void());
  if (FAILED(hr)) Throw(hr, "_NewEnum gave no enumerator");
  std::vector<Object> items;
  for (;;) {
    com::Variant item;
    ULONG fetched = 0;
    hr = enumerator->Next(1, item.put(), &fetched);
    if (FAILED(hr)) Throw(hr, "reading the collection");
    if (hr != S_OK || fetched == 0) break;
    items.push_back(AsObject(std::move(item), "the collection's enumerator"));
  }
  return items;
}

const VARIANT* Find(const std::vector<Property>& properties, std::string_view name) {
  for (const Property& p : properties)
    if (p.name == name) return &p.value;
  return nullptr;
}

std::string Text(const VARIANT& value) {
  switch (value.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return {};
    case VT_BSTR:
      return com::BstrToUtf8(value.bstrVal);
    case VT_BOOL:
      return value.boolVal ? "true" : "false";
    case VT_I2:
      return std::to_string(value.iVal);
    case VT_I4:
      return std::to_string(value.lVal);
    case VT_R8:
      return DoubleText(value.dblVal);
    case VT_R4:
      return DoubleText(value.fltVal);
    case VT_DATE: {
      auto civil = com::DateToCivil(value.date);
      if (!civil) return DoubleText(value.date);
      char buffer[40];
      if (civil->hour == 0 && civil->minute == 0 && civil->second == 0) {
        std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", civil->year, civil->month, civil->day);
      } else {
        std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", civil->year, civil->month, civil->day,
                      civil->hour, civil->minute, civil->second);
      }
      return buffer;
    }
    default: {
      com::Variant copy(value);
      if (SUCCEEDED(copy.ChangeType(VT_BSTR))) return com::BstrToUtf8(copy.bstrVal);
      return "?";
    }
  }
}

void PutText(IDispatch* object, std::string_view name, std::string_view text) {
  VARTYPE type = VT_BSTR;
  for (const Getter& getter : Getters(object))
    if (getter.name == name) type = getter.type;
  com::Variant value = com::Variant::Str(text);
  if (type == VT_BOOL && (text == "true" || text == "false")) {
    value = com::Variant::Bool(text == "true");
  } else if (type == VT_DATE) {
    const std::string s(text);
    com::CivilDateTime civil{};
    int used = -1;
    bool parsed = std::sscanf(s.c_str(), "%4d-%2d-%2d%n", &civil.year, &civil.month, &civil.day, &used) == 3 &&
                  used == static_cast<int>(s.size());
    if (!parsed) {
      used = -1;
      parsed = std::sscanf(s.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%n", &civil.year, &civil.month, &civil.day, &civil.hour,
                           &civil.minute, &civil.second, &used) == 6 &&
               used == static_cast<int>(s.size());
    }
    if (parsed) {
      auto date = com::CivilToDate(civil);
      if (!date) Throw(DISP_E_TYPEMISMATCH, std::string(name) + ": " + s + " is not a date of the calendar");
      value = com::Variant::Date(*date);
    }
  }
  Put(object, name, value);
}

}  // namespace vodrikctl
