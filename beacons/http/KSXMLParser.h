#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/core/Error.h"
#include "platform/core/Value.h"

namespace velmora::kestrine {

// One element of a parsed XML document: its name, attributes in document order, the text
// directly inside it (CDATA included, entity references left as written) and its child
// elements.
struct KSXMLElement {
  std::string name;
  std::vector<std::pair<std::string, std::string>> attributes;
  std::string text;
  std::vector<KSXMLElement> children;

  const KSXMLElement* child(std::string_view childName) const;
};

inline constexpr std::string_view KSXMLParserErrorDomain = "platform.xml";

// An XML parser over body bytes, made by the XML response serializer and run by its user.
// Parsing never loads external entities or DTDs, never reaches the network and does not
// expand entities, so a reply cannot make it read local files or blow up in memory.
class KSXMLParser : public platform::Object {
 public:
  explicit KSXMLParser(std::string data) : data_(std::move(data)) {}

  const std::string& data() const { return data_; }

  // The document's root element, or nullopt with *error (domain KSXMLParserErrorDomain,
  // the parser's error number, its message) for text that is not well-formed XML.
  std::optional<KSXMLElement> parse(platform::Error* error = nullptr) const;

 private:
  std::string data_;
};

}  // namespace velmora::kestrine
