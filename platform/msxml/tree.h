// The libxml2 side of the DOM: one parsed document (a Tree), its parsing, saving and the node
// surgery the DOM members need. Nothing here knows COM beyond HRESULTs.
#pragma once

#include <libxml/tree.h>

#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>

#include "platform/com/types.h"

namespace msxml {

// One libxml2 document and every node ever made or detached in it. Nodes are never freed while
// the tree lives, so a wrapper may hold a raw node pointer as long as it holds the tree:
// created-but-unattached and removed nodes wait in `floating` and are freed with the tree.
struct Tree {
  Tree() = default;
  Tree(const Tree&) = delete;
  Tree& operator=(const Tree&) = delete;
  ~Tree();

  xmlDocPtr doc = nullptr;
  bool declaration = false;  // the source began with an XML declaration; save writes one only then
  std::unordered_set<xmlNodePtr> floating;
};
using TreePtr = std::shared_ptr<Tree>;

// An empty document (no declaration, no root). Null when out of memory.
TreePtr NewTree();

struct ParseResult {
  TreePtr tree;       // null on failure
  HRESULT hr = S_OK;  // the failure
  std::string error;  // UTF-8 description of the failure
};

// Parses a file, in whatever encoding its declaration names. Whitespace-only text nodes are
// dropped (except under xml:space="preserve"), as MSXML does by default. Never loads anything
// from the network and never expands external entities.
ParseResult ParseFile(const std::string& path);
// Parses text already decoded (UTF-8); an encoding in its declaration is ignored for reading.
ParseResult ParseText(std::string_view utf8);

// Writes the document as it stands (no reformatting) to `path`, in the encoding its declaration
// names, atomically: a temporary file in the same folder, flushed, then renamed over the target.
// On failure the target is untouched and `error` tells why.
HRESULT SaveTree(const Tree& tree, const std::string& path, std::string* error);

// Appends `child` (unattached, same document) as the last child of `parent`. Unlike
// xmlAddChild it never merges adjacent text nodes: a merge would free a node a wrapper holds.
void LinkLast(xmlNodePtr parent, xmlNodePtr child);
// Takes `child` out of its parent (if any) and keeps it in the tree's floating set.
void Detach(Tree& tree, xmlNodePtr child);
// Replaces the value of an attribute by one text child holding `utf8` verbatim (no NUL inside).
void SetAttributeText(xmlAttrPtr attr, std::string_view utf8);
// Qualified name of an element or attribute: "prefix:local" or "local".
std::string QualifiedName(xmlNodePtr node);
// QualifiedName(node) == name, without building the name.
bool HasQualifiedName(xmlNodePtr node, std::string_view name);

// True when every character may stand in XML 1.0 text: no NUL, no C0 control but tab, CR, LF,
// no unpaired surrogate, no U+FFFE/U+FFFF. Text that fails would make a file that cannot be read.
bool IsXmlText(std::u16string_view text);

}  // namespace msxml
