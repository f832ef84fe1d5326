#include "platform/com/bstr.h"
#include "platform/com/errorinfo.h"
#include "platform/com/variant.h"
#include "platform/msxml/dom.h"
#include "platform/msxml/msxml.h"

namespace msxml {
namespace {

// A load source or save destination as a file name.
HRESULT PathArgument(const VARIANT& v, std::string* path) {
  com::Variant text;
  if (FAILED(VariantChangeType(&text, &v, 0, VT_BSTR)) || text.vt != VT_BSTR)
    return Error(E_INVALIDARG, "the document source or destination must be a file name");
  *path = com::BstrToUtf8(text.bstrVal);
  if (path->empty() || path->find('\0') != std::string::npos)
    return Error(E_INVALIDARG, "the file name is empty or holds a NUL character");
  return S_OK;
}

}  // namespace

HRESULT DomDocument::FinalConstruct() {
  tree_ = NewTree();
  return tree_ ? S_OK : E_OUTOFMEMORY;
}

NodeRef DomDocument::Ref() { return NodeRef{this, nullptr, tree_, reinterpret_cast<xmlNodePtr>(tree_->doc)}; }

DomDocument::Description DomDocument::Described() {
  return {&com::InterfaceInfoOf<IXMLDOMDocument>(), static_cast<IXMLDOMDocument*>(this)};
}

HRESULT DomDocument::get_documentElement(IXMLDOMElement** out) {
  if (!out) return E_POINTER;
  return Wrap(Ref(), xmlDocGetRootElement(tree_->doc), IID_IXMLDOMElement, reinterpret_cast<void**>(out));
}

HRESULT DomDocument::createElement(BSTR name, IXMLDOMElement** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  const std::string utf8 = com::BstrToUtf8(name);
  if (!IsXmlText(com::BstrView(name)) || utf8.empty() || xmlValidateName(BAD_CAST utf8.c_str(), 0) != 0)
    return Error(E_INVALIDARG, "\"" + utf8 + "\" is not a valid XML name");
  xmlNodePtr node = xmlNewDocNode(tree_->doc, nullptr, BAD_CAST utf8.c_str(), nullptr);
  if (!node) return Error(E_OUTOFMEMORY, "out of memory");
  tree_->floating.insert(node);
  return Wrap(Ref(), node, IID_IXMLDOMElement, reinterpret_cast<void**>(out));
}

HRESULT DomDocument::createTextNode(BSTR data, IXMLDOMText** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!IsXmlText(com::BstrView(data))) return Error(E_INVALIDARG, "the text holds characters XML cannot carry");
  xmlNodePtr node = xmlNewDocText(tree_->doc, BAD_CAST com::BstrToUtf8(data).c_str());
  if (!node) return Error(E_OUTOFMEMORY, "out of memory");
  tree_->floating.insert(node);
  return Wrap(Ref(), node, IID_IXMLDOMText, reinterpret_cast<void**>(out));
}

HRESULT DomDocument::Take(ParseResult parsed, VARIANT_BOOL* ok) {
  if (!parsed.tree) {
    if (ok) *ok = VARIANT_FALSE;
    // MSXML reports a failed load as S_FALSE; the error information tells why.
    Error(parsed.hr, parsed.error);
    return S_FALSE;
  }
  // Objects over the old tree keep it alive; they simply no longer belong to this document's
  // content.
  tree_ = std::move(parsed.tree);
  if (ok) *ok = VARIANT_TRUE;
  com::ClearError();
  return S_OK;
}

HRESULT DomDocument::load(VARIANT source, VARIANT_BOOL* ok) {
  if (ok) *ok = VARIANT_FALSE;
  std::string path;
  RETURN_IF_FAILED(PathArgument(source, &path));
  return Take(ParseFile(path), ok);
}

HRESULT DomDocument::loadXML(BSTR xml, VARIANT_BOOL* ok) {
  if (ok) *ok = VARIANT_FALSE;
  return Take(ParseText(com::BstrToUtf8(xml)), ok);
}

HRESULT DomDocument::save(VARIANT destination) {
  std::string path;
  RETURN_IF_FAILED(PathArgument(destination, &path));
  std::string error;
  const HRESULT hr = SaveTree(*tree_, path, &error);
  if (FAILED(hr)) return Error(hr, error);
  return S_OK;
}

HRESULT DomDocument::get_async(VARIANT_BOOL* out) {
  if (!out) return E_POINTER;
  *out = async_;
  return S_OK;
}

HRESULT DomDocument::put_async(VARIANT_BOOL value) {
  async_ = value ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT CreateDocument(IXMLDOMDocument** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  auto made = com::CreateObject<DomDocument>();
  if (!made) return Error(made.error(), "cannot create the document");
  *out = made.value()->Interface();
  (*out)->AddRef();
  return S_OK;
}

HRESULT MakeDocumentClassObject(REFIID riid, void** ppv) {
  return com::MakeClassObject<com::ClassFactory<DomDocument>>(riid, ppv);
}

}  // namespace msxml
