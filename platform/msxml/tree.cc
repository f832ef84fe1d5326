#include "platform/msxml/tree.h"

#include <fcntl.h>
#include <libxml/parser.h>
#include <libxml/xmlsave.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace msxml {
namespace {

// NONET: a document never reaches the network. No NOENT and no DTDLOAD: external entities stay
// unexpanded references, so a settings file cannot pull in other files.
constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

// libxml2's global tables, set up once before any thread parses.
void InitLibxml() {
  static const bool done = (xmlInitParser(), true);
  (void)done;
}

bool StartsWithDeclaration(std::string_view bytes) {
  using namespace std::string_view_literals;
  if (bytes.starts_with("\xEF\xBB\xBF"sv)) bytes.remove_prefix(3);
  const auto decl = [&](std::string_view probe) { return bytes.size() > probe.size() && bytes.starts_with(probe); };
  return (decl("<?xml"sv) && (bytes[5] == ' ' || bytes[5] == '\t' || bytes[5] == '\r' || bytes[5] == '\n')) ||
         decl("\xFF\xFE<\0?\0x\0m\0l\0"sv) || decl("\xFE\xFF\0<\0?\0x\0m\0l"sv) || decl("<\0?\0x\0m\0l\0"sv) ||
         decl("\0<\0?\0x\0m\0l"sv);
}

bool IsBlank(const xmlChar* s) {
  if (!s) return true;
  for (; *s; ++s) {
    if (*s != ' ' && *s != '\t' && *s != '\r' && *s != '\n') return false;
  }
  return true;
}

// Drops whitespace-only text below `node`. Depth is bounded by libxml2's nesting limit.
void DropBlankText(xmlNodePtr node) {
  for (xmlNodePtr c = node->children; c;) {
    xmlNodePtr next = c->next;
    if (c->type == XML_TEXT_NODE && IsBlank(c->content) && xmlNodeGetSpacePreserve(node) != 1) {
      xmlUnlinkNode(c);
      xmlFreeNode(c);
    } else if (c->type == XML_ELEMENT_NODE) {
      DropBlankText(c);
    }
    c = next;
  }
}

ParseResult Parse(std::string_view bytes, const char* url, const char* encoding, bool declaration) {
  ParseResult r;
  if (bytes.size() > static_cast<size_t>(INT32_MAX)) {
    r.hr = E_OUTOFMEMORY;
    r.error = "the document is too large";
    return r;
  }
  InitLibxml();
  xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
  if (!ctxt) {
    r.hr = E_OUTOFMEMORY;
    r.error = "out of memory";
    return r;
  }
  xmlDocPtr doc = xmlCtxtReadMemory(ctxt, bytes.data(), static_cast<int>(bytes.size()), url, encoding, kParseOptions);
  if (!doc || !ctxt->wellFormed || !xmlDocGetRootElement(doc)) {
    const xmlError* e = &ctxt->lastError;
    r.hr = E_FAIL;
    r.error = "the document is not well-formed";
    if (e->message) {
      std::string msg = e->message;
      while (!msg.empty() && (msg.back() == '\n' || msg.back() == '\r')) msg.pop_back();
      r.error += ": " + msg + " (line " + std::to_string(e->line) + ", column " + std::to_string(e->int2) + ")";
    }
    if (doc) xmlFreeDoc(doc);
    xmlFreeParserCtxt(ctxt);
    return r;
  }
  xmlFreeParserCtxt(ctxt);
  DropBlankText(reinterpret_cast<xmlNodePtr>(doc));
  r.tree = std::make_shared<Tree>();
  r.tree->doc = doc;
  r.tree->declaration = declaration;
  return r;
}

HRESULT FromErrno(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    case EACCES:
    case EPERM:
    case EROFS:
      return E_ACCESSDENIED;
    case ENOMEM:
      return E_OUTOFMEMORY;
    default:
      return E_FAIL;
  }
}

int WriteCallback(void* context, const char* buffer, int len) {
  static_cast<std::string*>(context)->append(buffer, static_cast<size_t>(len));
  return len;
}

}  // namespace

Tree::~Tree() {
  // Free only the roots of detached subtrees; a floating node that was since attached to
  // another floating node goes with its root. All are found before any is freed.
  std::vector<xmlNodePtr> roots;
  for (xmlNodePtr n : floating) {
    if (!n->parent) roots.push_back(n);
  }
  for (xmlNodePtr n : roots) xmlFreeNode(n);  // before the document: names may live in its dictionary
  if (doc) xmlFreeDoc(doc);
}

TreePtr NewTree() {
  InitLibxml();
  auto tree = std::make_shared<Tree>();
  tree->doc = xmlNewDoc(BAD_CAST "1.0");
  if (!tree->doc) return nullptr;
  return tree;
}

ParseResult ParseFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    ParseResult r;
    r.hr = FromErrno(errno);
    r.error = "cannot open \"" + path + "\": " + std::strerror(errno);
    return r;
  }
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) {
    ParseResult r;
    r.hr = E_FAIL;
    r.error = "cannot read \"" + path + "\"";
    return r;
  }
  return Parse(bytes, path.c_str(), nullptr, StartsWithDeclaration(bytes));
}

ParseResult ParseText(std::string_view utf8) { return Parse(utf8, nullptr, "UTF-8", StartsWithDeclaration(utf8)); }

HRESULT SaveTree(const Tree& tree, const std::string& path, std::string* error) {
  if (!xmlDocGetRootElement(tree.doc)) {
    *error = "the document has no top-level element";
    return E_FAIL;
  }
  std::string out;
  const xmlDocPtr doc = tree.doc;
  const char* encoding = doc->encoding ? reinterpret_cast<const char*>(doc->encoding) : nullptr;
  int options = XML_SAVE_AS_XML | (tree.declaration ? 0 : XML_SAVE_NO_DECL);
  if (!encoding) {
    // Without a declared encoding the file is UTF-8. libxml2 would write such a document as
    // ASCII with character references, so it is told UTF-8 and the declaration, which must not
    // gain an encoding it did not have, is written here.
    encoding = "UTF-8";
    options |= XML_SAVE_NO_DECL;
    if (tree.declaration) {
      out = "<?xml version=\"";
      out += doc->version ? reinterpret_cast<const char*>(doc->version) : "1.0";
      out += '"';
      if (doc->standalone == 1) out += " standalone=\"yes\"";
      if (doc->standalone == 0) out += " standalone=\"no\"";
      out += "?>\n";
    }
  }
  xmlSaveCtxtPtr save = xmlSaveToIO(WriteCallback, nullptr, &out, encoding, options);
  if (!save) {
    *error = std::string("cannot write the encoding ") + encoding;
    return E_FAIL;
  }
  const long written = xmlSaveDoc(save, doc);
  const int closed = xmlSaveClose(save);
  if (written < 0 || closed < 0) {
    *error = "cannot serialise the document";
    return E_FAIL;
  }

  const size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  std::string temp = path + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) {
    const int err = errno;
    *error = "cannot create a file in \"" + folder + "\": " + std::strerror(err);
    return FromErrno(err);
  }
  // The replacement keeps the permissions of the file it replaces; a new file gets the usual ones.
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    fchmod(fd, st.st_mode & 07777);
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
  }
  const auto fail = [&](const char* what) {
    const int err = errno;
    close(fd);
    unlink(temp.c_str());
    *error = std::string(what) + " \"" + path + "\": " + std::strerror(err);
    return FromErrno(err);
  };
  for (size_t done = 0; done < out.size();) {
    const ssize_t n = write(fd, out.data() + done, out.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail("cannot write");
    }
    done += static_cast<size_t>(n);
  }
  if (fsync(fd) != 0) return fail("cannot flush");
  if (close(fd) != 0) {
    const int err = errno;
    unlink(temp.c_str());
    *error = "cannot write \"" + path + "\": " + std::strerror(err);
    return FromErrno(err);
  }
  if (rename(temp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    unlink(temp.c_str());
    *error = "cannot replace \"" + path + "\": " + std::strerror(err);
    return FromErrno(err);
  }
  // The rename itself reaches the disk with the folder.
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return S_OK;
}

void LinkLast(xmlNodePtr parent, xmlNodePtr child) {
  child->parent = parent;
  child->next = nullptr;
  child->prev = parent->last;
  if (parent->last)
    parent->last->next = child;
  else
    parent->children = child;
  parent->last = child;
}

void Detach(Tree& tree, xmlNodePtr child) {
  xmlUnlinkNode(child);
  tree.floating.insert(child);
}

void SetAttributeText(xmlAttrPtr attr, std::string_view utf8) {
  if (attr->children) xmlFreeNodeList(attr->children);
  attr->children = attr->last = nullptr;
  // Copied with its length, so the caller's text needs no terminating NUL.
  xmlNodePtr text = utf8.size() <= static_cast<size_t>(INT_MAX)
                        ? xmlNewDocTextLen(attr->doc, BAD_CAST utf8.data(), static_cast<int>(utf8.size()))
                        : xmlNewDocText(attr->doc, BAD_CAST std::string(utf8).c_str());
  if (text) LinkLast(reinterpret_cast<xmlNodePtr>(attr), text);
}

std::string QualifiedName(xmlNodePtr node) {
  const xmlNs* ns = node->type == XML_ATTRIBUTE_NODE ? reinterpret_cast<xmlAttrPtr>(node)->ns : node->ns;
  std::string name = node->name ? reinterpret_cast<const char*>(node->name) : "";
  if (ns && ns->prefix) return reinterpret_cast<const char*>(ns->prefix) + (":" + name);
  return name;
}

bool HasQualifiedName(xmlNodePtr node, std::string_view name) {
  // Compared in place, without measuring the node's names first: most candidates differ early.
  const auto starts = [](const xmlChar* text, std::string_view part) {
    return std::strncmp(reinterpret_cast<const char*>(text), part.data(), part.size()) == 0;
  };
  const xmlNs* ns = node->type == XML_ATTRIBUTE_NODE ? reinterpret_cast<xmlAttrPtr>(node)->ns : node->ns;
  const xmlChar* local = node->name ? node->name : BAD_CAST "";
  if (ns && ns->prefix) {
    const size_t colon = name.find(':');
    if (colon == std::string_view::npos || !starts(ns->prefix, name.substr(0, colon)) || ns->prefix[colon] != 0)
      return false;
    name.remove_prefix(colon + 1);
  }
  return starts(local, name) && local[name.size()] == 0;
}

bool IsXmlText(std::u16string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
      ++i;
      continue;
    }
    if (c >= 0xDC00 && c <= 0xDFFF) return false;
    if (c < 0x20 && c != 0x9 && c != 0xA && c != 0xD) return false;
    if (c == 0xFFFE || c == 0xFFFF) return false;
  }
  return true;
}

}  // namespace msxml
