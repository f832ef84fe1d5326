#include "qvacom/settings/list_xml.h"

#include "platform/com/variant.h"

namespace qva::settings {

HRESULT SaveSettingsFile(IUnknown* wrapper, std::string_view source) {
  if (!wrapper) return com::ReportError(E_POINTER, source, "the list is not bound to a settings document");
  com::ComPtr<IQVAXMLDoc> doc;
  const HRESULT hr = wrapper->QueryInterface(IID_IQVAXMLDoc, doc.put_void());
  if (FAILED(hr)) return com::ReportError(hr, source, "the settings document is not a document wrapper");
  return doc->Save();
}

com::Expected<com::Bstr> NameArgument(const VARIANT& v, std::string_view source) {
  com::Variant text;
  const HRESULT hr = VariantChangeType(&text, &v, 0, VT_BSTR);
  if (hr == E_OUTOFMEMORY) return com::Fail{com::ReportError(hr, source, "out of memory")};
  if (FAILED(hr)) return com::Fail{com::ReportError(E_INVALIDARG, source, "the argument is not a name")};
  return com::Bstr::Attach(std::exchange(text.bstrVal, nullptr));
}

bool SameBstr(BSTR a, BSTR b) { return VarBstrCmp(a, b, LOCALE_USER_DEFAULT, 0) == VARCMP_EQ; }

bool SameAnsi(BSTR a, BSTR b) { return com::BstrToUtf8(a) == com::BstrToUtf8(b); }

com::Expected<dom::Node> WrapperSection(IUnknown* wrapper, std::string_view name, std::string_view source,
                                        dom::Document* document) {
  auto doc = dom::DocumentOfWrapper(wrapper);
  if (!doc) return com::Fail{com::ReportError(doc.error(), source, "the settings document cannot be reached")};
  ASSIGN_OR_RETURN(dom::Node section, dom::Section(doc->get(), name));
  if (!section) {
    return com::Fail{
        com::ReportError(E_POINTER, source, "the settings document has no <" + std::string(name) + "> element")};
  }
  if (document) *document = std::move(*doc);
  return section;
}

}  // namespace qva::settings
