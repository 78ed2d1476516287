#include "beacons/http/KSXMLParser.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <climits>
#include <memory>
#include <mutex>

namespace velmora::kestrine {
namespace {

std::string text(const xmlChar* s) { return s ? reinterpret_cast<const char*>(s) : ""; }

KSXMLElement convert(xmlNodePtr node) {
  KSXMLElement element;
  element.name = text(node->name);
  for (xmlAttrPtr attr = node->properties; attr; attr = attr->next) {
    std::string value;
    for (xmlNodePtr v = attr->children; v; v = v->next) {
      if (v->content) value += text(v->content);
    }
    element.attributes.emplace_back(text(attr->name), std::move(value));
  }
  for (xmlNodePtr child = node->children; child; child = child->next) {
    switch (child->type) {
      case XML_ELEMENT_NODE:
        element.children.push_back(convert(child));
        break;
      case XML_TEXT_NODE:
      case XML_CDATA_SECTION_NODE:
        element.text += text(child->content);
        break;
      case XML_ENTITY_REF_NODE:
        element.text += "&" + text(child->name) + ";";
        break;
      default:
        break;
    }
  }
  return element;
}

}  // namespace

const KSXMLElement* KSXMLElement::child(std::string_view childName) const {
  for (const KSXMLElement& c : children) {
    if (c.name == childName) return &c;
  }
  return nullptr;
}

std::optional<KSXMLElement> KSXMLParser::parse(platform::Error* error) const {
  static std::once_flag initialised;
  std::call_once(initialised, [] { xmlInitParser(); });
  const auto fail = [&](int code, std::string message) -> std::optional<KSXMLElement> {
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
    if (error) *error = platform::Error(std::string(KSXMLParserErrorDomain), code, std::move(message));
    return std::nullopt;
  };
  if (data_.size() > static_cast<std::size_t>(INT_MAX)) return fail(XML_ERR_INTERNAL_ERROR, "the document is too large");

  std::unique_ptr<xmlParserCtxt, decltype(&xmlFreeParserCtxt)> ctxt(xmlNewParserCtxt(), &xmlFreeParserCtxt);
  if (!ctxt) return fail(XML_ERR_NO_MEMORY, "out of memory");
  // No entity substitution, no DTD loading, no network; errors are read, not printed.
  const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
  std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> doc(
      xmlCtxtReadMemory(ctxt.get(), data_.data(), static_cast<int>(data_.size()), nullptr, nullptr, options),
      &xmlFreeDoc);
  const xmlError* last = xmlCtxtGetLastError(ctxt.get());
  if (!doc || !ctxt->wellFormed) {
    if (last && last->code != XML_ERR_OK) return fail(last->code, last->message ? last->message : "XML error");
    return fail(XML_ERR_DOCUMENT_EMPTY, "the document is empty");
  }
  xmlNodePtr root = xmlDocGetRootElement(doc.get());
  if (!root) return fail(XML_ERR_DOCUMENT_EMPTY, "the document has no root element");
  return convert(root);
}

}  // namespace velmora::kestrine
