// The MSXML DOM stand-in: DOMDocument and its nodes as COM objects over libxml2.
//
// What it does like MSXML: load is synchronous whatever `async` says; whitespace-only text is
// not kept on load; a document that fails to load stays as it was (load answers VARIANT_FALSE
// and S_FALSE); save writes the document as it stands, with the declaration and encoding it was
// read with. Every node object holds a reference on its document, so nodes outlive the client's
// reference to the document.
//
// Where it differs: selectSingleNode takes relative or absolute element paths only ("a/b",
// "/a/*", "."); an attribute's value is not exposed as child nodes; namespace declarations are
// not listed among an element's attributes; a node moves only within its own document. Names
// and text that would make a file no parser can read back are refused with E_INVALIDARG.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "msxml_idl.h"
#include "platform/com/com_ptr.h"
#include "platform/com/object.h"

namespace msxml {

// A new, empty DOMDocument (the object CLSID_DOMDocument makes). Error information is set on
// failure.
HRESULT CreateDocument(IXMLDOMDocument** out);

// The value of attribute `name` (UTF-8) of `element` when `element` is one of this DOM's nodes,
// read without making node objects: true, with *value empty when the node has no such attribute
// (or is no element). False when `element` is not ours: ask through its interfaces then.
bool ReadAttribute(IXMLDOMNode* element, std::string_view name, std::optional<std::string>* value);

// The element children of `parent`, in document order, as node objects (what walking its
// children and keeping the elements gives), when `parent` is one of this DOM's nodes; no object
// is made for the other children. E_NOINTERFACE when `parent` is not ours: walk its interfaces
// then.
HRESULT ChildElements(IXMLDOMNode* parent, std::vector<com::ComPtr<IXMLDOMNode>>* out);

// Receives the value of attribute names[index] (UTF-8, valid during the call only).
using AttributeSink = void (*)(void* context, size_t index, std::string_view value);
// The values of several attributes of `element`, when it is one of this DOM's nodes, in one walk
// over its attributes: found(context, i, value) is called once for each names[i] (distinct
// qualified names) the element has, with the value ReadAttribute would give, in the order the
// element holds them. True then (nothing is called for a node that is no element). False when
// `element` is not ours: ask through its interfaces then.
bool ReadAttributes(IXMLDOMNode* element, std::span<const std::string_view> names, AttributeSink found, void* context);

// Sets attribute `name` (UTF-8) of `element` to `value` or to `text` (UTF-8), exactly as
// IXMLDOMElement::setAttribute would, when `element` is one of this DOM's elements and the name
// (and the text) are ASCII: true, with setAttribute's result in *hr. False for anything else (not
// ours, no element, other characters): set it through the interfaces then. Writers of many
// attributes per element (a collection's SaveXML) go without a BSTR name and value per attribute.
bool WriteAttribute(IXMLDOMNode* element, std::string_view name, const VARIANT& value, HRESULT* hr);
bool WriteAttribute(IXMLDOMNode* element, std::string_view name, std::string_view text, HRESULT* hr);

// Appends a text node holding `indent` (none when empty), then a new element `name` (UTF-8), to
// `parent`, as createTextNode, createElement and appendChild would, when `parent` is an element of
// this DOM in the current content of `document` (one of this DOM's documents) and the name and
// text are ASCII: true, with the new element in *out and the result in *hr. False for anything
// else, and for a name those members would refuse: do it through the interfaces then. Exports
// append thousands of elements, without a BSTR or a node object for each layout text.
bool AppendElement(IXMLDOMDocument* document, IXMLDOMNode* parent, std::string_view indent, std::string_view name,
                   IXMLDOMNode** out, HRESULT* hr);

// The class object of DOMDocument, for a module's class catalogue.
HRESULT MakeDocumentClassObject(REFIID riid, void** ppv);

}  // namespace msxml
