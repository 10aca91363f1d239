#include "tools/dcconfig/DcConfig.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlsave.h>

#include <climits>
#include <memory>
#include <optional>
#include <vector>

#include "support/KofText.h"

namespace kof {
namespace {

// Far beyond any real configuration; a bigger file is not one.
constexpr std::size_t kMaxDocumentBytes = 64u << 20;

struct TDocFree {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using TDocPtr = std::unique_ptr<xmlDoc, TDocFree>;

struct TBufferFree {
  void operator()(xmlBuffer* buffer) const { xmlBufferFree(buffer); }
};

struct TXmlFree {
  void operator()(xmlChar* text) const { xmlFree(text); }
};

const xmlChar* X(const char* text) { return reinterpret_cast<const xmlChar*>(text); }

std::string Str(const xmlChar* text) { return text ? reinterpret_cast<const char*>(text) : std::string(); }

std::string ParseError() {
  const xmlError* error = xmlGetLastError();
  if (!error || !error->message) return "not an XML document";
  return "line " + std::to_string(error->line) + ": " + Trim(error->message);
}

TDocPtr Parse(std::string_view text, std::string& error) {
  if (text.size() > kMaxDocumentBytes || text.size() > static_cast<std::size_t>(INT_MAX)) {
    error = "the file is too large to be a configuration";
    return nullptr;
  }
  xmlResetLastError();
  // Whitespace is kept: it is the user's layout. No network, no entity expansion.
  TDocPtr doc(xmlReadMemory(text.data(), static_cast<int>(text.size()), "doublecmd.xml", nullptr,
                            XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
  if (!doc) error = ParseError();
  return doc;
}

bool HasDeclaration(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  return text.substr(0, 5) == "<?xml";
}

std::optional<std::string> Serialize(xmlDoc* doc, bool declaration) {
  std::unique_ptr<xmlBuffer, TBufferFree> buffer(xmlBufferCreate());
  if (!buffer) return std::nullopt;
  const char* encoding = doc->encoding ? reinterpret_cast<const char*>(doc->encoding) : "UTF-8";
  xmlSaveCtxt* save = xmlSaveToBuffer(buffer.get(), encoding, declaration ? 0 : XML_SAVE_NO_DECL);
  if (!save) return std::nullopt;
  const long written = xmlSaveDoc(save, doc);
  xmlSaveClose(save);
  if (written < 0) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(xmlBufferContent(buffer.get())),
                     static_cast<std::size_t>(xmlBufferLength(buffer.get())));
}

// --- the tree ---------------------------------------------------------------

bool IsElement(const xmlNode* node, const char* name) {
  return node && node->type == XML_ELEMENT_NODE && xmlStrEqual(node->name, X(name));
}

std::vector<xmlNode*> Elements(xmlNode* parent, const char* name) {
  std::vector<xmlNode*> found;
  for (xmlNode* child = parent ? parent->children : nullptr; child; child = child->next)
    if (IsElement(child, name)) found.push_back(child);
  return found;
}

xmlNode* FirstElement(xmlNode* parent, const char* name) {
  const std::vector<xmlNode*> found = Elements(parent, name);
  return found.empty() ? nullptr : found.front();
}

std::string Content(xmlNode* node) {
  std::unique_ptr<xmlChar, TXmlFree> text(node ? xmlNodeGetContent(node) : nullptr);
  return Str(text.get());
}

bool IsBlank(const xmlNode* node) { return node && node->type == XML_TEXT_NODE && xmlIsBlankNode(node); }

// The indentation of the line a node starts on, when a line break comes before it.
std::optional<std::string> LineIndent(const xmlNode* node) {
  if (node->parent && node->parent->type == XML_DOCUMENT_NODE) return std::string();
  if (!IsBlank(node->prev)) return std::nullopt;
  const std::string space = Str(node->prev->content);
  const std::size_t lineBreak = space.rfind('\n');
  if (lineBreak == std::string::npos) return std::nullopt;
  return space.substr(lineBreak + 1);
}

// How a document is laid out: one element a line with this step of
// indentation, or all on one line (no step).
std::optional<std::string> IndentStep(xmlNode* root) {
  for (xmlNode* child = root->children; child; child = child->next)
    if (child->type == XML_ELEMENT_NODE) {
      const std::optional<std::string> indent = LineIndent(child);
      return indent;
    }
  return std::nullopt;
}

xmlNode* NewBlank(xmlDoc* doc, const std::string& text) { return xmlNewDocText(doc, X(text.c_str())); }

// Adds CHILD as the last element of PARENT, on a line of its own when the
// document is laid out that way.
xmlNode* Append(xmlNode* parent, xmlNode* child, const std::optional<std::string>& step) {
  const std::optional<std::string> parentIndent = step ? LineIndent(parent) : std::nullopt;
  if (!parentIndent) return xmlAddChild(parent, child);
  const std::string lineStart = "\n" + *parentIndent + *step;
  xmlNode* closing = IsBlank(parent->last) ? parent->last : nullptr;
  if (!closing) {
    xmlAddChild(parent, NewBlank(parent->doc, lineStart));
    xmlNode* added = xmlAddChild(parent, child);
    xmlAddChild(parent, NewBlank(parent->doc, "\n" + *parentIndent));
    return added;
  }
  // Blank text nodes may merge when they meet, so the closing line is put back
  // after the child rather than the child slipped in before it.
  xmlNodeSetContent(closing, X(lineStart.c_str()));
  xmlNode* added = xmlAddChild(parent, child);
  xmlAddChild(parent, NewBlank(parent->doc, "\n" + *parentIndent));
  return added;
}

xmlNode* AppendElement(xmlNode* parent, const char* name, const std::optional<std::string>& step) {
  return Append(parent, xmlNewDocNode(parent->doc, nullptr, X(name), nullptr), step);
}

void SetText(xmlNode* element, const std::string& text) {
  xmlNodeSetContent(element, nullptr);
  xmlAddChild(element, xmlNewDocText(element->doc, X(text.c_str())));
}

// Unlinks an element with the line break before it; a parent left with
// nothing but blanks is written empty, as the host writes an empty list.
void Remove(xmlNode* element) {
  xmlNode* parent = element->parent;
  if (IsBlank(element->prev)) {
    xmlNode* blank = element->prev;
    xmlUnlinkNode(blank);
    xmlFreeNode(blank);
  }
  xmlUnlinkNode(element);
  xmlFreeNode(element);
  for (xmlNode* child = parent->children; child; child = child->next)
    if (!IsBlank(child)) return;
  xmlNodeSetContent(parent, nullptr);
}

std::string FileNameOf(std::string_view path) {
  const std::size_t slash = path.find_last_of('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

bool NamesPlugin(xmlNode* element, const TDcPlugin& plugin) {
  if (SameText(Content(FirstElement(element, "Name")), plugin.Name)) return true;
  xmlNode* path = FirstElement(element, "Path");
  return path && FileNameOf(Content(path)) == FileNameOf(plugin.Path);
}

// The elements of the plugin, in document order.
std::vector<xmlNode*> PluginElements(xmlNode* list, const TDcPlugin& plugin) {
  std::vector<xmlNode*> found;
  for (xmlNode* element : Elements(list, "WfxPlugin"))
    if (NamesPlugin(element, plugin)) found.push_back(element);
  return found;
}

xmlNode* FindOrAppend(xmlNode* parent, const char* name, const std::optional<std::string>& step) {
  if (xmlNode* found = FirstElement(parent, name)) return found;
  return AppendElement(parent, name, step);
}

// Sets one field of the element; true when it changed.
bool SetField(xmlNode* element, const char* name, const std::string& value, const std::optional<std::string>& step) {
  xmlNode* field = FirstElement(element, name);
  if (field && Content(field) == value) return false;
  if (!field) field = AppendElement(element, name, step);
  SetText(field, value);
  return true;
}

bool Enable(xmlNode* element) {
  const std::unique_ptr<xmlChar, TXmlFree> enabled(xmlGetProp(element, X("Enabled")));
  if (Str(enabled.get()) == "True") return false;
  xmlSetProp(element, X("Enabled"), X("True"));
  return true;
}

// --- the edit ---------------------------------------------------------------

struct TOpened {
  TDocPtr Doc;
  xmlNode* Root = nullptr;
  std::optional<std::string> Step;
};

TDcEdit Failure(std::string error) {
  TDcEdit edit;
  edit.Error = std::move(error);
  return edit;
}

bool CheckPlugin(const TDcPlugin& plugin, std::string& error) {
  if (plugin.Name.empty() || FileNameOf(plugin.Path).empty()) error = "a plugin needs a name and a file name";
  return error.empty();
}

std::optional<TOpened> Open(std::string_view document, std::string& error) {
  TOpened opened;
  opened.Doc = Parse(document, error);
  if (!opened.Doc) return std::nullopt;
  opened.Root = xmlDocGetRootElement(opened.Doc.get());
  if (!IsElement(opened.Root, "doublecmd")) {
    error = "the root element is not <doublecmd>: this is not a Double Commander configuration";
    return std::nullopt;
  }
  opened.Step = IndentStep(opened.Root);
  return opened;
}

TDcEdit Finish(std::string_view document, TOpened& opened, TDcChange change) {
  TDcEdit edit;
  edit.Ok = true;
  edit.Change = change;
  if (change == TDcChange::Unchanged || change == TDcChange::Absent) {
    edit.Document = std::string(document);
    return edit;
  }
  const bool declaration = HasDeclaration(document);
  std::optional<std::string> text = Serialize(opened.Doc.get(), declaration);
  if (!text) return Failure("the edited configuration could not be written out");
  edit.Document = std::move(*text);
  std::string error;
  if (TDocPtr original = Parse(document, error)) {
    const std::optional<std::string> again = Serialize(original.get(), declaration);
    edit.KeptOtherBytes = again && *again == document;
  }
  return edit;
}

}  // namespace

std::string MinimalDcConfig() {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<doublecmd DCVersion=\"1.0.10\" ConfigVersion=\"13\">\n"
         "  <Plugins>\n"
         "    <WfxPlugins/>\n"
         "  </Plugins>\n"
         "</doublecmd>\n";
}

TDcEdit RegisterWfxPlugin(std::string_view document, const TDcPlugin& plugin) {
  std::string error;
  if (!CheckPlugin(plugin, error)) return Failure(error);
  std::optional<TOpened> opened = Open(document, error);
  if (!opened) return Failure(error);
  const std::optional<std::string>& step = opened->Step;
  xmlNode* list = FindOrAppend(FindOrAppend(opened->Root, "Plugins", step), "WfxPlugins", step);
  std::vector<xmlNode*> elements = PluginElements(list, plugin);
  TDcChange change = TDcChange::Unchanged;
  xmlNode* element = elements.empty() ? nullptr : elements.front();
  if (!element) {
    element = AppendElement(list, "WfxPlugin", step);
    change = TDcChange::Added;
  }
  // Each step runs: an element may need more than one mended.
  bool changed = Enable(element);
  changed = SetField(element, "Name", plugin.Name, step) || changed;
  changed = SetField(element, "Path", plugin.Path, step) || changed;
  if (changed && change == TDcChange::Unchanged) change = TDcChange::Updated;
  for (std::size_t i = 1; i < elements.size(); ++i) {
    Remove(elements[i]);
    change = change == TDcChange::Added ? change : TDcChange::Updated;
  }
  return Finish(document, *opened, change);
}

TDcEdit UnregisterWfxPlugin(std::string_view document, const TDcPlugin& plugin) {
  std::string error;
  if (!CheckPlugin(plugin, error)) return Failure(error);
  std::optional<TOpened> opened = Open(document, error);
  if (!opened) return Failure(error);
  xmlNode* list = FirstElement(FirstElement(opened->Root, "Plugins"), "WfxPlugins");
  const std::vector<xmlNode*> elements = PluginElements(list, plugin);
  for (xmlNode* element : elements) Remove(element);
  return Finish(document, *opened, elements.empty() ? TDcChange::Absent : TDcChange::Removed);
}

const char* DcChangeName(TDcChange change) {
  switch (change) {
    case TDcChange::Added: return "added";
    case TDcChange::Updated: return "updated";
    case TDcChange::Unchanged: return "unchanged";
    case TDcChange::Removed: return "removed";
    case TDcChange::Absent: return "absent";
  }
  return "unknown";
}

}  // namespace kof
