// The few DOM operations every settings object is made of, over the DOM interfaces: finding a
// section under the document element, walking children, reading and writing attribute texts,
// and appending elements after their indentation text.
//
// Layout conventions of the settings file: before an element the writer appends a text node
// holding a line feed and one tab per level ("\n\t" before a child of the document element,
// "\n\t\t" one level deeper, and so on). Whitespace-only text is not kept when a file is loaded,
// so a document read from disk holds only elements; code that walks children of a loaded
// document sees elements only, while a document built in memory may hold the indentation text.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "msxml_idl.h"
#include "platform/com/bstr.h"
#include "platform/com/com_ptr.h"
#include "platform/com/result.h"
#include "platform/com/variant.h"

namespace qva::dom {

using Node = com::ComPtr<IXMLDOMNode>;
using Document = com::ComPtr<IXMLDOMDocument>;

// Indentation texts by level of the element that follows.
inline constexpr std::string_view kIndent1 = "\n\t";
inline constexpr std::string_view kIndent2 = "\n\t\t";
inline constexpr std::string_view kIndent3 = "\n\t\t\t";

// The DOM document held by a document wrapper (an object answering IQVAXMLDoc), as every
// settings object's `pDocument` is. E_POINTER for a null wrapper or a wrapper with no document.
com::Expected<Document> DocumentOfWrapper(IUnknown* wrapper);
// An object given as a DOM document (the export and import members' `pDocument`).
com::Expected<Document> AsDocument(IUnknown* document);
// An object given as a DOM node (a list's `pDocNode`).
com::Expected<Node> AsNode(IUnknown* node);

// The document element. E_FAIL when the document has none.
com::Expected<Node> Root(IXMLDOMDocument* document);
// The first child element of `parent` named `path` (a relative element path such as
// "Configure" or "Configure/Database"), or a null node when there is none.
com::Expected<Node> Select(IXMLDOMNode* parent, std::string_view path);
// The document element's first child named `name` ("ElementSet", "Configure", ...); null when
// absent.
com::Expected<Node> Section(IXMLDOMDocument* document, std::string_view name);

// The child nodes of `parent` in document order (elements and any text nodes).
com::Expected<std::vector<Node>> Children(IXMLDOMNode* parent);
// Only the element children.
com::Expected<std::vector<Node>> ChildElements(IXMLDOMNode* parent);
// The node's name ("Element", "#text", ...).
std::string Name(IXMLDOMNode* node);
bool IsElement(IXMLDOMNode* node);

// The text of attribute `name`, or nullopt when the node has no such attribute (or is not an
// element).
com::Expected<std::optional<com::Bstr>> Attribute(IXMLDOMNode* node, std::string_view name);
// The same as UTF-8; reads our own DOM's nodes directly, without node objects (many attributes
// are read per element when a collection is imported).
com::Expected<std::optional<std::string>> AttributeUtf8(IXMLDOMNode* node, std::string_view name);
// Several attributes of one element, as AttributeUtf8 reads each: found(i, utf8) is called once
// for each names[i] (distinct names) the node has, the text valid during the call only. Our own
// DOM's nodes are read in one walk over the element's attributes (an import reads dozens per
// element); other nodes name by name. Fails as AttributeUtf8 does; found may have been called.
template <class Found>
HRESULT ReadAttributesUtf8(IXMLDOMNode* node, std::span<const std::string_view> names, Found&& found);
// The attribute's text; E_POINTER when it is absent: a required attribute.
com::Expected<com::Bstr> RequiredAttribute(IXMLDOMNode* node, std::string_view name);
// Sets attribute `name`; the value is written as the DOM writes a VARIANT (a number by the
// platform's variant-to-text conversion).
HRESULT SetAttribute(IXMLDOMNode* element, std::string_view name, const VARIANT& value);
HRESULT SetAttribute(IXMLDOMNode* element, std::string_view name, std::string_view utf8);
HRESULT SetAttribute(IXMLDOMNode* element, std::string_view name, BSTR value);
// Sets attribute `name` to a number, with the text the DOM writes for it as a VT_I4 / VT_R8
// VARIANT; our own DOM's elements take the text without a VARIANT or a BSTR being made.
HRESULT SetIntegerAttribute(IXMLDOMNode* element, std::string_view name, LONG value);
HRESULT SetRealAttribute(IXMLDOMNode* element, std::string_view name, double value);

// Appends a text node holding `text` to `parent`.
HRESULT AppendText(IXMLDOMDocument* document, IXMLDOMNode* parent, std::string_view text);
// Appends the indentation text `indent`, then a new element `name`, to `parent`; the new
// element is returned. An empty `indent` appends the element alone (for writers that put their
// layout text after the element instead).
com::Expected<Node> AppendElement(IXMLDOMDocument* document, IXMLDOMNode* parent, std::string_view indent,
                                  std::string_view name);
// Removes `child` from `parent`.
HRESULT Remove(IXMLDOMNode* parent, IXMLDOMNode* child);
// Removes every child node of `parent`.
HRESULT RemoveChildren(IXMLDOMNode* parent);

// ---- implementation ----

using AttributeSink = void (*)(void* context, size_t index, std::string_view value);
HRESULT ReadAttributesUtf8(IXMLDOMNode* node, std::span<const std::string_view> names, AttributeSink found,
                           void* context);

template <class Found>
HRESULT ReadAttributesUtf8(IXMLDOMNode* node, std::span<const std::string_view> names, Found&& found) {
  using F = std::remove_reference_t<Found>;
  return ReadAttributesUtf8(
      node, names,
      [](void* context, size_t index, std::string_view value) { (*static_cast<F*>(context))(index, value); },
      const_cast<void*>(static_cast<const void*>(&found)));
}

}  // namespace qva::dom
