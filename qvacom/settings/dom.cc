#include "qvacom/settings/dom.h"

#include "platform/msxml/msxml.h"

#include "qvacom_idl.h"

namespace qva::dom {

com::Expected<Document> DocumentOfWrapper(IUnknown* wrapper) {
  if (!wrapper) return com::Fail{E_POINTER};
  com::ComPtr<IQVAXMLDoc> doc;
  RETURN_IF_FAILED(wrapper->QueryInterface(IID_IQVAXMLDoc, doc.put_void()));
  com::ComPtr<IUnknown> dom;
  RETURN_IF_FAILED(doc->get_XMLDOMDocument(dom.put()));
  return AsDocument(dom.get());
}

com::Expected<Document> AsDocument(IUnknown* document) {
  if (!document) return com::Fail{E_POINTER};
  Document out;
  RETURN_IF_FAILED(document->QueryInterface(IID_IXMLDOMDocument, out.put_void()));
  return out;
}

com::Expected<Node> AsNode(IUnknown* node) {
  if (!node) return com::Fail{E_POINTER};
  Node out;
  RETURN_IF_FAILED(node->QueryInterface(IID_IXMLDOMNode, out.put_void()));
  return out;
}

com::Expected<Node> Root(IXMLDOMDocument* document) {
  if (!document) return com::Fail{E_POINTER};
  com::ComPtr<IXMLDOMElement> root;
  RETURN_IF_FAILED(document->get_documentElement(root.put()));
  if (!root) return com::Fail{E_FAIL};
  return AsNode(root.get());
}

com::Expected<Node> Select(IXMLDOMNode* parent, std::string_view path) {
  if (!parent) return com::Fail{E_POINTER};
  com::Bstr query(path);
  Node found;
  RETURN_IF_FAILED(parent->selectSingleNode(query.get(), found.put()));
  return found;
}

com::Expected<Node> Section(IXMLDOMDocument* document, std::string_view name) {
  ASSIGN_OR_RETURN(Node root, Root(document));
  return Select(root.get(), name);
}

com::Expected<std::vector<Node>> Children(IXMLDOMNode* parent) {
  if (!parent) return com::Fail{E_POINTER};
  std::vector<Node> out;
  Node child;
  RETURN_IF_FAILED(parent->get_firstChild(child.put()));
  while (child) {
    Node next;
    RETURN_IF_FAILED(child->get_nextSibling(next.put()));
    out.push_back(std::move(child));
    child = std::move(next);
  }
  return out;
}

bool IsElement(IXMLDOMNode* node) {
  DOMNodeType type{};
  return node && SUCCEEDED(node->get_nodeType(&type)) && type == NODE_ELEMENT;
}

com::Expected<std::vector<Node>> ChildElements(IXMLDOMNode* parent) {
  if (!parent) return com::Fail{E_POINTER};
  std::vector<Node> elements;
  // Our own DOM lists them without objects for the layout text between them.
  if (const HRESULT hr = msxml::ChildElements(parent, &elements); hr != E_NOINTERFACE) {
    if (FAILED(hr)) return com::Fail{hr};
    return elements;
  }
  ASSIGN_OR_RETURN(std::vector<Node> all, Children(parent));
  std::erase_if(all, [](const Node& n) { return !IsElement(n.get()); });
  return all;
}

std::string Name(IXMLDOMNode* node) {
  com::Bstr name;
  if (!node || FAILED(node->get_nodeName(name.put()))) return {};
  return name.utf8();
}

com::Expected<std::optional<std::string>> AttributeUtf8(IXMLDOMNode* node, std::string_view name) {
  if (!node) return com::Fail{E_POINTER};
  std::optional<std::string> value;
  if (msxml::ReadAttribute(node, name, &value)) return value;
  ASSIGN_OR_RETURN(std::optional<com::Bstr> text, Attribute(node, name));
  if (!text) return std::optional<std::string>();
  return std::optional<std::string>(text->utf8());
}

HRESULT ReadAttributesUtf8(IXMLDOMNode* node, std::span<const std::string_view> names, AttributeSink found,
                           void* context) {
  if (!node) return E_POINTER;
  if (msxml::ReadAttributes(node, names, found, context)) return S_OK;
  for (size_t i = 0; i < names.size(); ++i) {
    ASSIGN_OR_RETURN(std::optional<com::Bstr> text, Attribute(node, names[i]));
    if (text) found(context, i, text->utf8());
  }
  return S_OK;
}

com::Expected<std::optional<com::Bstr>> Attribute(IXMLDOMNode* node, std::string_view name) {
  if (!node) return com::Fail{E_POINTER};
  com::ComPtr<IXMLDOMNamedNodeMap> attributes;
  RETURN_IF_FAILED(node->get_attributes(attributes.put()));
  if (!attributes) return std::optional<com::Bstr>();
  com::Bstr key(name);
  Node item;
  RETURN_IF_FAILED(attributes->getNamedItem(key.get(), item.put()));
  if (!item) return std::optional<com::Bstr>();
  com::Bstr text;
  RETURN_IF_FAILED(item->get_text(text.put()));
  return std::optional<com::Bstr>(std::move(text));
}

com::Expected<com::Bstr> RequiredAttribute(IXMLDOMNode* node, std::string_view name) {
  ASSIGN_OR_RETURN(std::optional<com::Bstr> text, Attribute(node, name));
  if (!text) return com::Fail{E_POINTER};
  return std::move(*text);
}

HRESULT SetAttribute(IXMLDOMNode* element, std::string_view name, const VARIANT& value) {
  if (!element) return E_POINTER;
  HRESULT hr = S_OK;
  if (msxml::WriteAttribute(element, name, value, &hr)) return hr;
  com::ComPtr<IXMLDOMElement> e;
  RETURN_IF_FAILED(element->QueryInterface(IID_IXMLDOMElement, e.put_void()));
  com::Bstr key(name);
  return e->setAttribute(key.get(), value);
}

HRESULT SetAttribute(IXMLDOMNode* element, std::string_view name, std::string_view utf8) {
  if (!element) return E_POINTER;
  HRESULT hr = S_OK;
  if (msxml::WriteAttribute(element, name, utf8, &hr)) return hr;
  return SetAttribute(element, name, com::Variant::Str(utf8));
}

HRESULT SetIntegerAttribute(IXMLDOMNode* element, std::string_view name, LONG value) {
  if (!element) return E_POINTER;
  char text[com::kNumberTextSize];
  HRESULT hr = S_OK;
  if (msxml::WriteAttribute(element, name, com::IntegerText(value, text), &hr)) return hr;
  return SetAttribute(element, name, com::Variant::I4(value));
}

HRESULT SetRealAttribute(IXMLDOMNode* element, std::string_view name, double value) {
  if (!element) return E_POINTER;
  char text[com::kNumberTextSize];
  HRESULT hr = S_OK;
  if (msxml::WriteAttribute(element, name, com::RealText(value, 15, text), &hr)) return hr;
  return SetAttribute(element, name, com::Variant::R8(value));
}

HRESULT SetAttribute(IXMLDOMNode* element, std::string_view name, BSTR value) {
  VARIANT v;
  v.vt = VT_BSTR;
  v.bstrVal = value;  // borrowed: setAttribute copies it
  return SetAttribute(element, name, v);
}

HRESULT AppendText(IXMLDOMDocument* document, IXMLDOMNode* parent, std::string_view text) {
  if (!document || !parent) return E_POINTER;
  com::Bstr data(text);
  com::ComPtr<IXMLDOMText> node;
  RETURN_IF_FAILED(document->createTextNode(data.get(), node.put()));
  Node as_node, added;
  RETURN_IF_FAILED(node.As(&as_node));
  return parent->appendChild(as_node.get(), added.put());
}

com::Expected<Node> AppendElement(IXMLDOMDocument* document, IXMLDOMNode* parent, std::string_view indent,
                                  std::string_view name) {
  if (!document || !parent) return com::Fail{E_POINTER};
  Node added;
  HRESULT hr = S_OK;
  if (msxml::AppendElement(document, parent, indent, name, added.put(), &hr)) {
    if (FAILED(hr)) return com::Fail{hr};
    return added;
  }
  if (!indent.empty()) RETURN_IF_FAILED(AppendText(document, parent, indent));
  com::Bstr tag(name);
  com::ComPtr<IXMLDOMElement> element;
  RETURN_IF_FAILED(document->createElement(tag.get(), element.put()));
  Node as_node;
  RETURN_IF_FAILED(element.As(&as_node));
  RETURN_IF_FAILED(parent->appendChild(as_node.get(), added.put()));
  return added;
}

HRESULT Remove(IXMLDOMNode* parent, IXMLDOMNode* child) {
  if (!parent || !child) return E_POINTER;
  Node removed;
  return parent->removeChild(child, removed.put());
}

HRESULT RemoveChildren(IXMLDOMNode* parent) {
  ASSIGN_OR_RETURN(std::vector<Node> children, Children(parent));
  for (const Node& c : children) RETURN_IF_FAILED(Remove(parent, c.get()));
  return S_OK;
}

}  // namespace qva::dom
