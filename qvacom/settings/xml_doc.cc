#include "qvacom/settings/xml_doc.h"

#include <string>

#include "platform/com/errorinfo.h"
#include "platform/com/variant.h"
#include "platform/msxml/msxml.h"

namespace qva {
namespace {

constexpr std::string_view kSource = "QVA.XMLDoc.1";

// The description of the calling thread's current error information, or empty.
std::string CurrentErrorDescription() {
  com::ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) != S_OK || !info) return {};
  com::Bstr description;
  if (FAILED(info->GetDescription(description.put()))) return {};
  return description.utf8();
}

HRESULT NoDocument() { return com::ReportError(E_POINTER, kSource, "no document is open"); }

// A caller's string copied; a null string stays null. False when out of memory.
bool CopyArg(BSTR from, com::Bstr* to) {
  *to = from ? com::Bstr::Attach(SysAllocStringLen(from, SysStringLen(from))) : com::Bstr();
  return !from || to->get();
}

}  // namespace

HRESULT CQVAXMLDoc::get_XMLDOMDocument(IUnknown** pVal) {
  if (!pVal) return E_POINTER;
  *pVal = nullptr;
  if (!document_) return NoDocument();
  com::ClearError();
  return document_->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(pVal));
}

HRESULT CQVAXMLDoc::Open(BSTR Name) {
  com::Bstr name;
  if (!CopyArg(Name, &name)) return com::ReportError(E_OUTOFMEMORY, kSource, "out of memory");
  file_name_ = std::move(name);
  document_ = nullptr;
  const HRESULT hr = msxml::CreateDocument(document_.put());
  if (FAILED(hr)) {
    document_ = nullptr;
    return hr;  // the DOM has set the error information
  }
  return LoadInto(file_name_.get());
}

HRESULT CQVAXMLDoc::Save() {
  if (!document_) return NoDocument();
  return SaveTo(file_name_.get());
}

HRESULT CQVAXMLDoc::SaveAs(BSTR File) {
  if (!document_) return NoDocument();
  return SaveTo(File);
}

HRESULT CQVAXMLDoc::Load(BSTR File) {
  if (!document_) return NoDocument();
  return LoadInto(File);
}

HRESULT CQVAXMLDoc::LoadInto(BSTR file) {
  VARIANT source;
  source.vt = VT_BSTR;
  source.bstrVal = file;  // borrowed for the call
  VARIANT_BOOL loaded = VARIANT_FALSE;
  const HRESULT hr = document_->load(source, &loaded);
  if (FAILED(hr) || hr == S_FALSE || loaded != VARIANT_TRUE) {
    std::string why = CurrentErrorDescription();
    return com::ReportError(E_FAIL, kSource,
                            "cannot load \"" + com::BstrToUtf8(file) + "\"" + (why.empty() ? "" : ": " + why));
  }
  com::ClearError();
  return S_OK;
}

HRESULT CQVAXMLDoc::SaveTo(BSTR file) {
  VARIANT destination;
  destination.vt = VT_BSTR;
  destination.bstrVal = file;  // borrowed for the call
  const HRESULT hr = document_->save(destination);
  if (FAILED(hr)) {
    std::string why = CurrentErrorDescription();
    return com::ReportError(hr, kSource,
                            "cannot save \"" + com::BstrToUtf8(file) + "\"" + (why.empty() ? "" : ": " + why));
  }
  com::ClearError();
  return S_OK;
}

}  // namespace qva
