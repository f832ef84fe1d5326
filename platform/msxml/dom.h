// The classes behind the DOM interfaces. Internal to the msxml library.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "msxml_idl.h"
#include "platform/com/dispatch.h"
#include "platform/com/object.h"
#include "platform/com/variant.h"
#include "platform/msxml/tree.h"

namespace msxml {

class DomDocument;

// Where a node object points: a node of a tree and the document object it belongs to.
struct NodeRef {
  // The document object. Node objects hold it through `keep`; the document's own reference has
  // `keep` null, since the caller already holds the document.
  DomDocument* owner = nullptr;
  com::ComPtr<IXMLDOMDocument> keep;
  TreePtr tree;  // keeps `node` valid even after the document loads another tree
  xmlNodePtr node = nullptr;
};

class DomNode;

// Recognises our own node objects among the IXMLDOMNode pointers a caller passes in. In-process
// only: never described, never marshalled.
inline constexpr IID IID_IDomNodeInternal = com::MakeGuid("{6B1C7B0E-3F52-4E4B-9E55-2C8A4D1F7A31}");
struct IDomNodeInternal : IUnknown {
  static constexpr const IID& iid = IID_IDomNodeInternal;
  virtual NodeRef Resolve() = 0;
  // The object itself when it is not the document; null for the document.
  virtual DomNode* AsDomNode() = 0;
};

// The source of the error information every DOM failure sets.
inline constexpr std::string_view kErrorSource = "msxml3.dll";
HRESULT Error(HRESULT hr, std::string_view description);

// The IXMLDOMNode members, shared by every interface that repeats them.
namespace ops {
HRESULT NodeName(const NodeRef& r, BSTR* out);
HRESULT NodeType(const NodeRef& r, DOMNodeType* out);
HRESULT ParentNode(const NodeRef& r, IXMLDOMNode** out);
HRESULT ChildNodes(const NodeRef& r, IXMLDOMNodeList** out);
HRESULT FirstChild(const NodeRef& r, IXMLDOMNode** out);
HRESULT NextSibling(const NodeRef& r, IXMLDOMNode** out);
HRESULT Attributes(const NodeRef& r, IXMLDOMNamedNodeMap** out);
HRESULT RemoveChild(const NodeRef& r, IXMLDOMNode* child, IXMLDOMNode** out);
HRESULT AppendChild(const NodeRef& r, IXMLDOMNode* child, IXMLDOMNode** out);
HRESULT OwnerDocument(const NodeRef& r, IXMLDOMDocument** out);
HRESULT GetText(const NodeRef& r, BSTR* out);
HRESULT PutText(const NodeRef& r, BSTR text);
HRESULT SelectSingleNode(const NodeRef& r, BSTR path, IXMLDOMNode** out);
}  // namespace ops

// The object for `node` answering `iid`; null with S_FALSE when `node` is null. The document
// node of the owner's current tree is the owner itself; that of an older tree has no object.
HRESULT Wrap(const NodeRef& context, xmlNodePtr node, REFIID iid, void** out);

// Node members and IDispatch for a class over `Base` (an Implements<...> of node interfaces).
template <class Base>
class NodeMembers : public Base {
 public:
  HRESULT STDMETHODCALLTYPE get_nodeName(BSTR* out) override { return ops::NodeName(Ref(), out); }
  HRESULT STDMETHODCALLTYPE get_nodeType(DOMNodeType* out) override { return ops::NodeType(Ref(), out); }
  HRESULT STDMETHODCALLTYPE get_parentNode(IXMLDOMNode** out) override { return ops::ParentNode(Ref(), out); }
  HRESULT STDMETHODCALLTYPE get_childNodes(IXMLDOMNodeList** out) override { return ops::ChildNodes(Ref(), out); }
  HRESULT STDMETHODCALLTYPE get_firstChild(IXMLDOMNode** out) override { return ops::FirstChild(Ref(), out); }
  HRESULT STDMETHODCALLTYPE get_nextSibling(IXMLDOMNode** out) override { return ops::NextSibling(Ref(), out); }
  HRESULT STDMETHODCALLTYPE get_attributes(IXMLDOMNamedNodeMap** out) override { return ops::Attributes(Ref(), out); }
  HRESULT STDMETHODCALLTYPE removeChild(IXMLDOMNode* child, IXMLDOMNode** out) override {
    return ops::RemoveChild(Ref(), child, out);
  }
  HRESULT STDMETHODCALLTYPE appendChild(IXMLDOMNode* child, IXMLDOMNode** out) override {
    return ops::AppendChild(Ref(), child, out);
  }
  HRESULT STDMETHODCALLTYPE get_ownerDocument(IXMLDOMDocument** out) override { return ops::OwnerDocument(Ref(), out); }
  HRESULT STDMETHODCALLTYPE get_text(BSTR* out) override { return ops::GetText(Ref(), out); }
  HRESULT STDMETHODCALLTYPE put_text(BSTR text) override { return ops::PutText(Ref(), text); }
  HRESULT STDMETHODCALLTYPE selectSingleNode(BSTR path, IXMLDOMNode** out) override {
    return ops::SelectSingleNode(Ref(), path, out);
  }

  // IDispatch: one description answers through every interface of the object, the one of its
  // most derived interface.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_INVALIDARG;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** out) override {
    return com::DispatchGetTypeInfo(*Described().info, index, out);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    return com::DispatchGetIDsOfNames(*Described().info, names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* excep, UINT* arg_err) override {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    const Description d = Described();
    return com::DispatchInvoke(*d.info, d.self, id, flags, params, result, excep, arg_err);
  }

 protected:
  struct Description {
    const com::InterfaceInfo* info;
    IUnknown* self;  // the object as that interface
  };
  virtual NodeRef Ref() = 0;
  virtual Description Described() = 0;
};

// What a node object knows of its element's attribute names, so that setting an attribute the
// element does not have yet (the usual case: an export writes each attribute of a new element
// once) neither compares the name with every attribute before it nor walks to the last one to
// append it. This DOM only ever adds an element's attributes, at the end, and never removes or
// renames one, so the knowledge holds as long as `last` is still the element's last attribute;
// an attribute added through another object of the same element shows as last->next, and the
// names are then gathered again.
struct AttributeNames {
  xmlAttrPtr last = nullptr;  // the element's last attribute when last brought up to date; null: none
  // A filter of the qualified names of the attributes up to `last`: a name whose two bits are not
  // both set is certainly not among them.
  uint64_t seen[8] = {};
};

// An element, text, attribute or any other node but the document.
class DomNode : public NodeMembers<
                    com::Implements<IXMLDOMNode, IXMLDOMElement, IXMLDOMText, IXMLDOMAttribute, IDomNodeInternal>> {
 public:
  explicit DomNode(NodeRef ref) : ref_(std::move(ref)) {}

  // Hides Implements::FindInterface: a node answers only the interfaces of its type.
  void* FindInterface(REFIID riid);

  // IXMLDOMElement
  HRESULT STDMETHODCALLTYPE get_tagName(BSTR* out) override;
  HRESULT STDMETHODCALLTYPE getAttribute(BSTR name, VARIANT* out) override;
  HRESULT STDMETHODCALLTYPE setAttribute(BSTR name, VARIANT value) override;
  // IXMLDOMAttribute
  HRESULT STDMETHODCALLTYPE get_name(BSTR* out) override;
  HRESULT STDMETHODCALLTYPE get_value(VARIANT* out) override;
  HRESULT STDMETHODCALLTYPE put_value(VARIANT value) override;

  NodeRef Resolve() override { return ref_; }
  DomNode* AsDomNode() override { return this; }

  xmlNodePtr node() const { return ref_.node; }
  // Sets attribute `name` of this element (NUL-terminated, a valid name) to `text` (checked as
  // XML text): the attribute of that name keeps its place and takes the text, or a new one is
  // added last. What setAttribute does once its arguments are checked.
  HRESULT SetNamedAttribute(const char* name, std::string_view text);

 protected:
  NodeRef Ref() override { return ref_; }
  Description Described() override;

 private:
  NodeRef ref_;
  std::unique_ptr<AttributeNames> names_;  // made on the first attribute set through this object
};

class DomDocument : public NodeMembers<com::Implements<IXMLDOMDocument, IXMLDOMNode, IDomNodeInternal>> {
 public:
  HRESULT FinalConstruct();
  const TreePtr& tree() const { return tree_; }
  IXMLDOMDocument* Interface() { return this; }

  HRESULT STDMETHODCALLTYPE get_documentElement(IXMLDOMElement** out) override;
  HRESULT STDMETHODCALLTYPE createElement(BSTR name, IXMLDOMElement** out) override;
  HRESULT STDMETHODCALLTYPE createTextNode(BSTR data, IXMLDOMText** out) override;
  HRESULT STDMETHODCALLTYPE load(VARIANT source, VARIANT_BOOL* ok) override;
  HRESULT STDMETHODCALLTYPE get_async(VARIANT_BOOL* out) override;
  HRESULT STDMETHODCALLTYPE put_async(VARIANT_BOOL value) override;
  HRESULT STDMETHODCALLTYPE loadXML(BSTR xml, VARIANT_BOOL* ok) override;
  HRESULT STDMETHODCALLTYPE save(VARIANT destination) override;

  NodeRef Resolve() override { return Ref(); }
  DomNode* AsDomNode() override { return nullptr; }

 protected:
  NodeRef Ref() override;
  Description Described() override;

 private:
  HRESULT Take(ParseResult parsed, VARIANT_BOOL* ok);

  TreePtr tree_;
  // Kept for clients that read it back: loading is synchronous either way.
  VARIANT_BOOL async_ = VARIANT_TRUE;
};

// The children of a node, live: later changes to the parent show.
class NodeList : public com::Dispatch<IXMLDOMNodeList> {
 public:
  explicit NodeList(NodeRef parent) : parent_(std::move(parent)) {}
  HRESULT STDMETHODCALLTYPE get_item(LONG index, IXMLDOMNode** out) override;
  HRESULT STDMETHODCALLTYPE get_length(LONG* out) override;
  HRESULT STDMETHODCALLTYPE nextNode(IXMLDOMNode** out) override;
  HRESULT STDMETHODCALLTYPE reset() override;
  HRESULT STDMETHODCALLTYPE get__newEnum(IUnknown** out) override;

 private:
  NodeRef parent_;
  LONG cursor_ = 0;  // position of the node nextNode answers next
};

// The attributes of an element, live.
class AttributeMap : public com::Dispatch<IXMLDOMNamedNodeMap> {
 public:
  explicit AttributeMap(NodeRef element) : element_(std::move(element)) {}
  HRESULT STDMETHODCALLTYPE getNamedItem(BSTR name, IXMLDOMNode** out) override;
  HRESULT STDMETHODCALLTYPE get_item(LONG index, IXMLDOMNode** out) override;
  HRESULT STDMETHODCALLTYPE get_length(LONG* out) override;

 private:
  NodeRef element_;
};


}  // namespace msxml
