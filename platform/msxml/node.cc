#include <libxml/tree.h>
#include <libxml/valid.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/com/bstr.h"
#include "platform/com/errorinfo.h"
#include "platform/com/variant_enum.h"
#include "platform/msxml/dom.h"
#include "platform/msxml/msxml.h"

namespace msxml {

HRESULT Error(HRESULT hr, std::string_view description) { return com::ReportError(hr, kErrorSource, description); }

namespace {

// Children as the DOM shows them. An entity reference's children belong to the entity's
// declaration and an attribute's value is not shown as nodes, so both count as leaves.
xmlNodePtr Children(xmlNodePtr n) {
  switch (n->type) {
    case XML_ELEMENT_NODE:
    case XML_DOCUMENT_NODE:
      return n->children;
    default:
      return nullptr;
  }
}

HRESULT OutString(const std::string& utf8, BSTR* out) {
  *out = com::AllocBstr(utf8);
  return *out || utf8.empty() ? S_OK : E_OUTOFMEMORY;
}

HRESULT OutContent(xmlNodePtr n, BSTR* out) {
  xmlChar* content = xmlNodeGetContent(n);
  const std::string text = content ? reinterpret_cast<const char*>(content) : "";
  xmlFree(content);
  return OutString(text, out);
}

// The node behind a caller's IXMLDOMNode, when it is one of ours.
bool ResolveArgument(IXMLDOMNode* node, NodeRef* out) {
  if (!node) return false;
  com::ComPtr<IDomNodeInternal> internal;
  if (FAILED(node->QueryInterface(IID_IDomNodeInternal, internal.put_void())) || !internal) return false;
  *out = internal->Resolve();
  return true;
}

bool IsBlankText(xmlNodePtr n) {
  for (const xmlChar* s = n->content; s && *s; ++s) {
    if (*s != ' ' && *s != '\t' && *s != '\r' && *s != '\n') return false;
  }
  return true;
}

HRESULT TextArgument(BSTR text, std::string* utf8) {
  if (!IsXmlText(com::BstrView(text))) return Error(E_INVALIDARG, "the text holds characters XML cannot carry");
  *utf8 = com::BstrToUtf8(text);
  return S_OK;
}

HRESULT NameArgument(BSTR name, std::string* utf8) {
  *utf8 = com::BstrToUtf8(name);
  if (!IsXmlText(com::BstrView(name)) || utf8->empty() || xmlValidateName(BAD_CAST utf8->c_str(), 0) != 0)
    return Error(E_INVALIDARG, "\"" + *utf8 + "\" is not a valid XML name");
  return S_OK;
}

// A VARIANT as attribute text, by the platform's own conversion (a text converts to itself).
HRESULT ValueArgument(const VARIANT& value, std::string* utf8) {
  if (value.vt == VT_BSTR) return TextArgument(value.bstrVal, utf8);
  com::Variant text;
  const HRESULT hr = VariantChangeType(&text, &value, 0, VT_BSTR);
  if (FAILED(hr)) return Error(hr, "the value cannot be converted to text");
  return TextArgument(text.bstrVal, utf8);
}

xmlAttrPtr FindAttribute(xmlNodePtr element, std::string_view name) {
  for (xmlAttrPtr a = element->properties; a; a = a->next) {
    if (HasQualifiedName(reinterpret_cast<xmlNodePtr>(a), name)) return a;
  }
  return nullptr;
}

// Sets attribute `name` of `element` to `text`, both checked already: the attribute of that name
// keeps its place and takes the text, or a new one is added last.
HRESULT SetOnElement(xmlNodePtr element, const char* name, std::string_view text) {
  xmlAttrPtr a = FindAttribute(element, name);
  if (!a) a = xmlNewProp(element, BAD_CAST name, nullptr);
  if (!a) return Error(E_OUTOFMEMORY, "out of memory");
  SetAttributeText(a, text);
  return S_OK;
}

// ---- the attribute names a node object knows (AttributeNames) ----

// FNV-1a over a qualified name, given as its prefix (empty: none) and local part.
uint64_t NameHash(std::string_view prefix, std::string_view local) {
  uint64_t h = 0xcbf29ce484222325ull;
  const auto add = [&](unsigned char c) { h = (h ^ c) * 0x100000001b3ull; };
  if (!prefix.empty()) {
    for (const char c : prefix) add(static_cast<unsigned char>(c));
    add(':');
  }
  for (const char c : local) add(static_cast<unsigned char>(c));
  return h;
}

uint64_t AttributeHash(xmlAttrPtr a) {
  const auto text = [](const xmlChar* s) { return s ? std::string_view(reinterpret_cast<const char*>(s)) : ""; };
  return NameHash(a->ns ? text(a->ns->prefix) : "", text(a->name));
}

// The two bits of the filter a hash sets.
void Remember(AttributeNames& known, uint64_t h) {
  known.seen[(h >> 6) & 7] |= uint64_t{1} << (h & 63);
  known.seen[(h >> 15) & 7] |= uint64_t{1} << ((h >> 9) & 63);
}
bool MayKnow(const AttributeNames& known, uint64_t h) {
  return (known.seen[(h >> 6) & 7] >> (h & 63) & 1) && (known.seen[(h >> 15) & 7] >> ((h >> 9) & 63) & 1);
}

// Brings `known` up to date with the attributes `element` has now.
void Gather(xmlNodePtr element, AttributeNames& known) {
  known = AttributeNames{};
  for (xmlAttrPtr a = element->properties; a; a = a->next) {
    Remember(known, AttributeHash(a));
    known.last = a;
  }
}

// ASCII that XML carries as it stands: its UTF-8 bytes are its UTF-16 characters, and the
// character check of TextArgument reduces to this.
bool IsAsciiXmlText(std::string_view text) {
  for (const unsigned char c : text)
    if (c >= 0x80 || (c < 0x20 && c != '\t' && c != '\n' && c != '\r')) return false;
  return true;
}

// The node object behind `node` when it is one of this DOM's elements; null otherwise. The
// caller's reference keeps it alive.
DomNode* OwnElement(IXMLDOMNode* node) {
  if (!node) return nullptr;
  com::ComPtr<IDomNodeInternal> internal;
  if (FAILED(node->QueryInterface(IID_IDomNodeInternal, internal.put_void())) || !internal) return nullptr;
  DomNode* own = internal->AsDomNode();
  return own && own->node()->type == XML_ELEMENT_NODE ? own : nullptr;
}

// A name passed as a string_view, NUL-terminated for libxml2; short names stay on the stack.
class TerminatedName {
 public:
  explicit TerminatedName(std::string_view name) {
    if (name.size() < sizeof short_) {
      std::memcpy(short_, name.data(), name.size());
      short_[name.size()] = 0;
      text_ = short_;
    } else {
      long_.assign(name);
      text_ = long_.c_str();
    }
  }
  TerminatedName(const TerminatedName&) = delete;
  TerminatedName& operator=(const TerminatedName&) = delete;
  const char* c_str() const { return text_; }

 private:
  char short_[64];
  std::string long_;
  const char* text_;
};

// The element behind `node` when the fast path applies to it and its name (see WriteAttribute),
// with *hr the result of checking the name as NameArgument checks it; null when it does not.
DomNode* WritableElement(IXMLDOMNode* node, const TerminatedName& name, size_t name_size, HRESULT* hr) {
  if (name_size == 0 || !IsAsciiXmlText(std::string_view(name.c_str(), name_size))) return nullptr;
  DomNode* own = OwnElement(node);
  if (!own) return nullptr;
  *hr = xmlValidateName(BAD_CAST name.c_str(), 0) == 0
            ? S_OK
            : Error(E_INVALIDARG, "\"" + std::string(name.c_str(), name_size) + "\" is not a valid XML name");
  return own;
}

// HasQualifiedName for an attribute, with the usual case (no prefix) compared inline: a reader
// of many attributes per element compares one name per attribute.
bool NamedAs(xmlAttrPtr a, std::string_view name) {
  if (a->ns || !a->name) return HasQualifiedName(reinterpret_cast<xmlNodePtr>(a), name);
  const xmlChar* local = a->name;
  size_t k = 0;
  while (k < name.size() && local[k] != 0 && local[k] == static_cast<unsigned char>(name[k])) ++k;
  return k == name.size() && local[k] == 0;
}

template <class T, class... A>
HRESULT MakeAs(REFIID iid, void** out, A&&... args) {
  auto made = com::CreateObject<T>(std::forward<A>(args)...);
  if (!made) return Error(made.error(), "out of memory");
  return made.value()->QueryInterface(iid, out);
}

xmlNodePtr SelectPath(xmlNodePtr from, const std::vector<std::string>& steps, size_t i) {
  if (i == steps.size()) return from;
  if (steps[i] == ".") return SelectPath(from, steps, i + 1);
  for (xmlNodePtr c = Children(from); c; c = c->next) {
    if (c->type != XML_ELEMENT_NODE || (steps[i] != "*" && !HasQualifiedName(c, steps[i]))) continue;
    if (xmlNodePtr found = SelectPath(c, steps, i + 1)) return found;
  }
  return nullptr;
}

}  // namespace

bool ReadAttribute(IXMLDOMNode* element, std::string_view name, std::optional<std::string>* value) {
  NodeRef ref;
  if (!ResolveArgument(element, &ref)) return false;
  value->reset();
  if (ref.node->type != XML_ELEMENT_NODE) return true;
  xmlAttrPtr a = FindAttribute(ref.node, name);
  if (!a) return true;
  xmlChar* content = xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(a));
  value->emplace(content ? reinterpret_cast<const char*>(content) : "");
  xmlFree(content);
  return true;
}

bool WriteAttribute(IXMLDOMNode* element, std::string_view name, const VARIANT& value, HRESULT* hr) {
  const TerminatedName n(name);
  DomNode* own = WritableElement(element, n, name.size(), hr);
  if (!own) return false;
  std::string v;
  if (SUCCEEDED(*hr)) *hr = ValueArgument(value, &v);
  if (SUCCEEDED(*hr)) *hr = own->SetNamedAttribute(n.c_str(), v);
  return true;
}

bool WriteAttribute(IXMLDOMNode* element, std::string_view name, std::string_view text, HRESULT* hr) {
  if (!IsAsciiXmlText(text)) return false;
  const TerminatedName n(name);
  DomNode* own = WritableElement(element, n, name.size(), hr);
  if (!own) return false;
  if (SUCCEEDED(*hr)) *hr = own->SetNamedAttribute(n.c_str(), text);
  return true;
}

bool AppendElement(IXMLDOMDocument* document, IXMLDOMNode* parent, std::string_view indent, std::string_view name,
                   IXMLDOMNode** out, HRESULT* hr) {
  if (!document || name.empty() || indent.size() > static_cast<size_t>(INT_MAX) || !IsAsciiXmlText(name) ||
      !IsAsciiXmlText(indent))
    return false;
  DomNode* own = OwnElement(parent);
  if (!own) return false;
  com::ComPtr<IDomNodeInternal> internal;
  if (FAILED(document->QueryInterface(IID_IDomNodeInternal, internal.put_void())) || !internal) return false;
  const NodeRef target = internal->Resolve();
  const NodeRef context = own->Resolve();
  // Nodes the document makes belong to its current content; appending them elsewhere fails.
  if (target.node->type != XML_DOCUMENT_NODE || target.tree != context.tree) return false;
  const TerminatedName n(name);
  if (xmlValidateName(BAD_CAST n.c_str(), 0) != 0) return false;  // refused with its own error
  const xmlDocPtr doc = context.tree->doc;
  if (!indent.empty()) {
    xmlNodePtr text = xmlNewDocTextLen(doc, BAD_CAST indent.data(), static_cast<int>(indent.size()));
    if (!text) {
      *hr = Error(E_OUTOFMEMORY, "out of memory");
      return true;
    }
    LinkLast(context.node, text);
  }
  xmlNodePtr element = xmlNewDocNode(doc, nullptr, BAD_CAST n.c_str(), nullptr);
  if (!element) {
    *hr = Error(E_OUTOFMEMORY, "out of memory");
    return true;
  }
  LinkLast(context.node, element);
  *hr = Wrap(context, element, IID_IXMLDOMNode, reinterpret_cast<void**>(out));
  if (FAILED(*hr)) Detach(*context.tree, element);  // as an element made but never appended
  return true;
}

HRESULT ChildElements(IXMLDOMNode* parent, std::vector<com::ComPtr<IXMLDOMNode>>* out) {
  NodeRef ref;
  if (!ResolveArgument(parent, &ref)) return E_NOINTERFACE;
  out->clear();
  for (xmlNodePtr c = Children(ref.node); c; c = c->next) {
    if (c->type != XML_ELEMENT_NODE) continue;
    com::ComPtr<IXMLDOMNode> node;
    const HRESULT hr = Wrap(ref, c, IID_IXMLDOMNode, node.put_void());
    if (FAILED(hr)) return hr;
    out->push_back(std::move(node));
  }
  return S_OK;
}

bool ReadAttributes(IXMLDOMNode* element, std::span<const std::string_view> names, AttributeSink found, void* context) {
  NodeRef ref;
  if (!ResolveArgument(element, &ref)) return false;
  if (ref.node->type != XML_ELEMENT_NODE) return true;
  // Which names have been given their (first) attribute. Readers list the attributes in the
  // order writers write them, so the name after the last one matched is tried first and a
  // whole element costs one comparison per attribute.
  constexpr size_t kOnStack = 128;
  bool on_stack[kOnStack] = {};
  std::unique_ptr<bool[]> on_heap;
  if (names.size() > kOnStack) on_heap = std::make_unique<bool[]>(names.size());
  bool* const given = on_heap ? on_heap.get() : on_stack;
  size_t next = 0;
  for (xmlAttrPtr a = ref.node->properties; a; a = a->next) {
    const auto node = reinterpret_cast<xmlNodePtr>(a);
    size_t at = names.size();
    if (next < names.size() && !given[next] && NamedAs(a, names[next])) {
      at = next;
    } else {
      for (size_t i = 0; i < names.size(); ++i) {
        if (!given[i] && NamedAs(a, names[i])) {
          at = i;
          break;
        }
      }
    }
    if (at == names.size()) continue;
    given[at] = true;
    next = at + 1;
    // One text child, the usual case, is the value itself (what xmlNodeGetContent would copy).
    const xmlNode* child = a->children;
    if (!child) {
      found(context, at, {});
    } else if (!child->next && (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE)) {
      found(context, at, child->content ? reinterpret_cast<const char*>(child->content) : "");
    } else {
      xmlChar* content = xmlNodeGetContent(node);
      found(context, at, content ? reinterpret_cast<const char*>(content) : "");
      xmlFree(content);
    }
  }
  return true;
}

HRESULT Wrap(const NodeRef& context, xmlNodePtr node, REFIID iid, void** out) {
  *out = nullptr;
  if (!node) return S_FALSE;
  if (node->type == XML_DOCUMENT_NODE) {
    if (context.owner->tree() != context.tree) return S_FALSE;
    return context.owner->Interface()->QueryInterface(iid, out);
  }
  NodeRef ref{context.owner, com::ComPtr<IXMLDOMDocument>(context.owner->Interface()), context.tree, node};
  return MakeAs<DomNode>(iid, out, std::move(ref));
}

namespace ops {

HRESULT NodeName(const NodeRef& r, BSTR* out) {
  if (!out) return E_POINTER;
  switch (r.node->type) {
    case XML_ELEMENT_NODE:
    case XML_ATTRIBUTE_NODE:
      return OutString(QualifiedName(r.node), out);
    case XML_TEXT_NODE:
      return OutString("#text", out);
    case XML_CDATA_SECTION_NODE:
      return OutString("#cdata-section", out);
    case XML_COMMENT_NODE:
      return OutString("#comment", out);
    case XML_DOCUMENT_NODE:
      return OutString("#document", out);
    case XML_DOCUMENT_FRAG_NODE:
      return OutString("#document-fragment", out);
    default:
      return OutString(r.node->name ? reinterpret_cast<const char*>(r.node->name) : "", out);
  }
}

HRESULT NodeType(const NodeRef& r, DOMNodeType* out) {
  if (!out) return E_POINTER;
  const int t = r.node->type;
  // libxml2 numbers the DOM's node types as the DOM does, but for the document type.
  *out = t == XML_DTD_NODE ? NODE_DOCUMENT_TYPE : t >= 1 && t <= 12 ? static_cast<DOMNodeType>(t) : NODE_INVALID;
  return S_OK;
}

HRESULT ParentNode(const NodeRef& r, IXMLDOMNode** out) {
  if (!out) return E_POINTER;
  if (r.node->type == XML_ATTRIBUTE_NODE) {  // an attribute has an owner element, not a parent
    *out = nullptr;
    return S_FALSE;
  }
  return Wrap(r, r.node->parent, IID_IXMLDOMNode, reinterpret_cast<void**>(out));
}

HRESULT ChildNodes(const NodeRef& r, IXMLDOMNodeList** out) {
  if (!out) return E_POINTER;
  return MakeAs<NodeList>(IID_IXMLDOMNodeList, reinterpret_cast<void**>(out), r);
}

HRESULT FirstChild(const NodeRef& r, IXMLDOMNode** out) {
  if (!out) return E_POINTER;
  return Wrap(r, Children(r.node), IID_IXMLDOMNode, reinterpret_cast<void**>(out));
}

HRESULT NextSibling(const NodeRef& r, IXMLDOMNode** out) {
  if (!out) return E_POINTER;
  const bool has = r.node->type != XML_ATTRIBUTE_NODE && r.node->type != XML_DOCUMENT_NODE;
  return Wrap(r, has ? r.node->next : nullptr, IID_IXMLDOMNode, reinterpret_cast<void**>(out));
}

HRESULT Attributes(const NodeRef& r, IXMLDOMNamedNodeMap** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (r.node->type != XML_ELEMENT_NODE) return S_FALSE;
  return MakeAs<AttributeMap>(IID_IXMLDOMNamedNodeMap, reinterpret_cast<void**>(out), r);
}

HRESULT RemoveChild(const NodeRef& r, IXMLDOMNode* child, IXMLDOMNode** out) {
  if (out) *out = nullptr;
  NodeRef c;
  if (!ResolveArgument(child, &c)) return Error(E_INVALIDARG, "the node to remove is not a DOM node");
  if (c.tree != r.tree || c.node->parent != r.node || c.node->type == XML_ATTRIBUTE_NODE || !Children(r.node))
    return Error(E_INVALIDARG, "the node to remove is not a child of this node");
  Detach(*r.tree, c.node);
  if (out) {
    child->AddRef();
    *out = child;
  }
  return S_OK;
}

HRESULT AppendChild(const NodeRef& r, IXMLDOMNode* child, IXMLDOMNode** out) {
  if (out) *out = nullptr;
  NodeRef c;
  if (!ResolveArgument(child, &c)) return Error(E_INVALIDARG, "the node to append is not a DOM node");
  xmlNodePtr parent = r.node;
  xmlNodePtr node = c.node;
  if (parent->type != XML_ELEMENT_NODE && parent->type != XML_DOCUMENT_NODE)
    return Error(E_FAIL, "this node cannot have children");
  switch (node->type) {
    case XML_ELEMENT_NODE:
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_COMMENT_NODE:
    case XML_PI_NODE:
    case XML_ENTITY_REF_NODE:
      break;
    default:
      return Error(E_FAIL, "a node of this type cannot be inserted");
  }
  if (c.tree != r.tree) return Error(E_FAIL, "the node belongs to another document");
  for (xmlNodePtr up = parent; up; up = up->parent) {
    if (up == node) return Error(E_FAIL, "a node cannot be inserted below itself");
  }
  if (parent->type == XML_DOCUMENT_NODE) {
    xmlNodePtr root = xmlDocGetRootElement(r.tree->doc);
    if (node->type == XML_ELEMENT_NODE && root && root != node)
      return Error(E_FAIL, "only one top-level element is allowed");
    if ((node->type == XML_TEXT_NODE && !IsBlankText(node)) || node->type == XML_CDATA_SECTION_NODE ||
        node->type == XML_ENTITY_REF_NODE)
      return Error(E_FAIL, "text cannot stand at the top level of a document");
  }
  if (node->parent)
    xmlUnlinkNode(node);
  else
    r.tree->floating.erase(node);
  LinkLast(parent, node);
  if (out) {
    child->AddRef();
    *out = child;
  }
  return S_OK;
}

HRESULT OwnerDocument(const NodeRef& r, IXMLDOMDocument** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (r.node->type == XML_DOCUMENT_NODE) return S_FALSE;
  *out = r.owner->Interface();
  (*out)->AddRef();
  return S_OK;
}

HRESULT GetText(const NodeRef& r, BSTR* out) {
  if (!out) return E_POINTER;
  return OutContent(r.node, out);
}

HRESULT PutText(const NodeRef& r, BSTR text) {
  std::string utf8;
  RETURN_IF_FAILED(TextArgument(text, &utf8));
  switch (r.node->type) {
    case XML_ELEMENT_NODE: {
      // The children leave for the floating set, not freed: objects may still hold them.
      while (r.node->children) Detach(*r.tree, r.node->children);
      if (utf8.empty()) return S_OK;
      xmlNodePtr t = xmlNewDocText(r.tree->doc, BAD_CAST utf8.c_str());
      if (!t) return Error(E_OUTOFMEMORY, "out of memory");
      LinkLast(r.node, t);
      return S_OK;
    }
    case XML_ATTRIBUTE_NODE:
      SetAttributeText(reinterpret_cast<xmlAttrPtr>(r.node), utf8);
      return S_OK;
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_COMMENT_NODE:
    case XML_PI_NODE:
      xmlNodeSetContent(r.node, BAD_CAST utf8.c_str());
      return S_OK;
    default:
      return Error(E_FAIL, "the text of this node cannot be set");
  }
}

HRESULT SelectSingleNode(const NodeRef& r, BSTR path, IXMLDOMNode** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  std::string text = com::BstrToUtf8(path);
  xmlNodePtr from = r.node;
  if (!text.empty() && text[0] == '/') {
    from = reinterpret_cast<xmlNodePtr>(r.tree->doc);
    text.erase(0, 1);
  }
  std::vector<std::string> steps;
  for (size_t start = 0;;) {
    const size_t slash = text.find('/', start);
    steps.push_back(text.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  for (const std::string& s : steps) {
    if (s != "*" && s != "." && (s.empty() || xmlValidateQName(BAD_CAST s.c_str(), 0) != 0))
      return Error(E_INVALIDARG, "\"" + com::BstrToUtf8(path) + "\" is not an element path");
  }
  return Wrap(r, SelectPath(from, steps, 0), IID_IXMLDOMNode, reinterpret_cast<void**>(out));
}

}  // namespace ops

// ---------------------------------------------------------------------------------------------

void* DomNode::FindInterface(REFIID riid) {
  const xmlElementType t = ref_.node->type;
  if (riid == IID_IXMLDOMElement && t != XML_ELEMENT_NODE) return nullptr;
  if (riid == IID_IXMLDOMText && t != XML_TEXT_NODE) return nullptr;
  if (riid == IID_IXMLDOMAttribute && t != XML_ATTRIBUTE_NODE) return nullptr;
  return Implements::FindInterface(riid);
}

DomNode::Description DomNode::Described() {
  switch (ref_.node->type) {
    case XML_ELEMENT_NODE:
      return {&com::InterfaceInfoOf<IXMLDOMElement>(), static_cast<IXMLDOMElement*>(this)};
    case XML_TEXT_NODE:
      return {&com::InterfaceInfoOf<IXMLDOMText>(), static_cast<IXMLDOMText*>(this)};
    case XML_ATTRIBUTE_NODE:
      return {&com::InterfaceInfoOf<IXMLDOMAttribute>(), static_cast<IXMLDOMAttribute*>(this)};
    default:
      return {&com::InterfaceInfoOf<IXMLDOMNode>(), static_cast<IXMLDOMNode*>(this)};
  }
}

HRESULT DomNode::get_tagName(BSTR* out) {
  if (!out) return E_POINTER;
  return OutString(QualifiedName(ref_.node), out);
}

HRESULT DomNode::getAttribute(BSTR name, VARIANT* out) {
  if (!out) return E_POINTER;
  VariantInit(out);
  xmlAttrPtr a = ref_.node->type == XML_ELEMENT_NODE ? FindAttribute(ref_.node, com::BstrToUtf8(name)) : nullptr;
  if (!a) {
    out->vt = VT_NULL;
    return S_FALSE;
  }
  out->vt = VT_BSTR;
  return OutContent(reinterpret_cast<xmlNodePtr>(a), &out->bstrVal);
}

HRESULT DomNode::setAttribute(BSTR name, VARIANT value) {
  std::string n, v;
  RETURN_IF_FAILED(NameArgument(name, &n));
  RETURN_IF_FAILED(ValueArgument(value, &v));
  return SetNamedAttribute(n.c_str(), v);
}

HRESULT DomNode::SetNamedAttribute(const char* name, std::string_view text) {
  xmlNodePtr element = ref_.node;
  if (!names_) names_.reset(new (std::nothrow) AttributeNames);
  if (!names_) return SetOnElement(element, name, text);
  AttributeNames& known = *names_;
  if (known.last ? known.last->next != nullptr : element->properties != nullptr) Gather(element, known);
  const uint64_t h = NameHash({}, name);
  if (MayKnow(known, h)) {
    if (xmlAttrPtr a = FindAttribute(element, name)) {
      SetAttributeText(a, text);
      return S_OK;
    }
  }
  // What xmlNewProp does, without walking to the last attribute: the same node, placed last.
  xmlAttrPtr a = xmlNewDocProp(element->doc, BAD_CAST name, nullptr);
  if (!a) return Error(E_OUTOFMEMORY, "out of memory");
  a->parent = element;
  if (known.last) {
    known.last->next = a;
    a->prev = known.last;
  } else {
    element->properties = a;
  }
  known.last = a;
  Remember(known, h);
  SetAttributeText(a, text);
  return S_OK;
}

HRESULT DomNode::get_name(BSTR* out) {
  if (!out) return E_POINTER;
  return OutString(QualifiedName(ref_.node), out);
}

HRESULT DomNode::get_value(VARIANT* out) {
  if (!out) return E_POINTER;
  VariantInit(out);
  out->vt = VT_BSTR;
  return OutContent(ref_.node, &out->bstrVal);
}

HRESULT DomNode::put_value(VARIANT value) {
  std::string v;
  RETURN_IF_FAILED(ValueArgument(value, &v));
  SetAttributeText(reinterpret_cast<xmlAttrPtr>(ref_.node), v);
  return S_OK;
}

// ---------------------------------------------------------------------------------------------

HRESULT NodeList::get_item(LONG index, IXMLDOMNode** out) {
  if (!out) return E_POINTER;
  xmlNodePtr c = index < 0 ? nullptr : Children(parent_.node);
  for (LONG i = 0; c && i < index; ++i) c = c->next;
  return Wrap(parent_, c, IID_IXMLDOMNode, reinterpret_cast<void**>(out));
}

HRESULT NodeList::get_length(LONG* out) {
  if (!out) return E_POINTER;
  LONG n = 0;
  for (xmlNodePtr c = Children(parent_.node); c; c = c->next) ++n;
  *out = n;
  return S_OK;
}

HRESULT NodeList::nextNode(IXMLDOMNode** out) {
  if (!out) return E_POINTER;
  const HRESULT hr = get_item(cursor_, out);
  if (hr == S_OK) ++cursor_;
  return hr;
}

HRESULT NodeList::reset() {
  cursor_ = 0;
  return S_OK;
}

HRESULT NodeList::get__newEnum(IUnknown** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  std::vector<com::Variant> items;
  for (xmlNodePtr c = Children(parent_.node); c; c = c->next) {
    com::ComPtr<IXMLDOMNode> node;
    const HRESULT hr = Wrap(parent_, c, IID_IXMLDOMNode, node.put_void());
    if (FAILED(hr)) return hr;
    if (node) items.push_back(com::Variant::Dispatch(node.get()));
  }
  return com::VariantEnum::Make(std::move(items), out);
}

HRESULT AttributeMap::getNamedItem(BSTR name, IXMLDOMNode** out) {
  if (!out) return E_POINTER;
  xmlAttrPtr a = FindAttribute(element_.node, com::BstrToUtf8(name));
  return Wrap(element_, reinterpret_cast<xmlNodePtr>(a), IID_IXMLDOMNode, reinterpret_cast<void**>(out));
}

HRESULT AttributeMap::get_item(LONG index, IXMLDOMNode** out) {
  if (!out) return E_POINTER;
  xmlAttrPtr a = index < 0 ? nullptr : element_.node->properties;
  for (LONG i = 0; a && i < index; ++i) a = a->next;
  return Wrap(element_, reinterpret_cast<xmlNodePtr>(a), IID_IXMLDOMNode, reinterpret_cast<void**>(out));
}

HRESULT AttributeMap::get_length(LONG* out) {
  if (!out) return E_POINTER;
  LONG n = 0;
  for (xmlAttrPtr a = element_.node->properties; a; a = a->next) ++n;
  *out = n;
  return S_OK;
}

}  // namespace msxml
