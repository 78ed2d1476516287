#include "beacons/http/KSHTTPResponseSerializer.h"

#include <gtest/gtest.h>

#include "beacons/http/KSXMLParser.h"
#include "platform/core/Json.h"
#include "platform/defaults/BinaryPropertyList.h"

namespace velmora::kestrine {
namespace {

using platform::Value;
using platform::net::HTTPURLResponse;

HTTPURLResponse reply(int status, std::optional<std::string> contentType, std::string url = "http://h/api/x") {
  HTTPURLResponse r;
  r.statusCode = status;
  r.url = std::move(url);
  if (contentType) r.headers.emplace_back("Content-Type", *contentType);
  return r;
}

Value parse(const char* json) { return *platform::json::parse(json); }

platform::Bytes bytes(std::string_view s) { return platform::Bytes(s.begin(), s.end()); }

TEST(KSHTTPResponseSerializer, JSONValidationAndDecodingTable) {
  struct Case {
    const char* name;
    int status;
    std::optional<std::string> contentType;
    std::optional<std::string> body;
    Value object;                    // Absent: no object
    std::optional<std::int64_t> code;  // error code, if any
    std::optional<std::int64_t> underlyingCode;
  };
  const Case cases[] = {
      {"200 json", 200, "application/json; charset=utf-8", R"({"a":1})", parse(R"({"a":1})"), {}, {}},
      {"text/json", 201, "text/json", "[1]", parse("[1]"), {}, {}},
      {"text/javascript upper case", 200, "Text/JavaScript", "[2]", parse("[2]"), {}, {}},
      {"200 html", 200, "text/html", "<html></html>", Value(), -1016, {}},
      {"204 no body no type", 204, std::nullopt, std::nullopt, Value(), {}, {}},
      {"200 wrong type empty body", 200, "text/html", "", Value(), {}, {}},
      {"404 json", 404, "application/json", R"({"error":"nope"})", parse(R"({"error":"nope"})"), -1011, {}},
      {"500 html", 500, "text/html", "<h1>oops</h1>", Value(), -1011, -1016},
      {"one blank", 200, "application/json", " ", Value(), {}, {}},
      {"garbage", 200, "application/json", "{nope", Value(), platform::coding::kReadCorrupt, {}},
      {"garbage after 503", 503, "application/json", "{nope", Value(), platform::coding::kReadCorrupt, -1011},
      {"invalid utf-8", 200, "application/json", "[\"\xff\"]", Value(), {}, {}},
  };
  KSJSONResponseSerializer s;
  for (const Case& c : cases) {
    const HTTPURLResponse r = reply(c.status, c.contentType);
    std::optional<platform::Error> error;
    Value object = s.responseObjectForResponse(&r, c.body, &error);
    EXPECT_EQ(object, c.object) << c.name;
    ASSERT_EQ(error.has_value(), c.code.has_value()) << c.name << ": " << (error ? error->localizedDescription : "");
    if (!error) continue;
    EXPECT_EQ(error->code, *c.code) << c.name;
    auto underlying = KSUnderlyingError(*error);
    ASSERT_EQ(underlying.has_value(), c.underlyingCode.has_value()) << c.name;
    if (underlying) {
      EXPECT_EQ(underlying->code, *c.underlyingCode) << c.name;
    }
  }
}

TEST(KSHTTPResponseSerializer, ErrorsCarryTextResponseAndBody) {
  KSJSONResponseSerializer s;
  const HTTPURLResponse html = reply(200, "text/html");
  std::optional<platform::Error> error;
  s.responseObjectForResponse(&html, std::string("<p>"), &error);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain, KSURLResponseSerializationErrorDomain);
  EXPECT_EQ(error->localizedDescription, "Request failed: unacceptable content-type: text/html");
  EXPECT_EQ(error->userInfo.at(std::string(KSNetworkingOperationFailingURLResponseDataErrorKey)), Value(bytes("<p>")));
  EXPECT_EQ(error->userInfo.at(std::string(platform::kFailingURLKey)), Value("http://h/api/x"));
  ASSERT_TRUE(KSFailingResponse(*error));
  EXPECT_EQ(KSFailingResponse(*error)->statusCode, 200);
  EXPECT_TRUE(KSErrorOrUnderlyingErrorHasCodeInDomain(error));

  const HTTPURLResponse missing = reply(404, "application/json");
  error.reset();
  s.responseObjectForResponse(&missing, std::string("{}"), &error);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->localizedDescription, "Request failed: not found (404)");
  EXPECT_FALSE(KSErrorOrUnderlyingErrorHasCodeInDomain(error));

  // Without a URL the status check passes; without an out-argument a failure gives nothing.
  const HTTPURLResponse noURL = reply(500, "application/json", "");
  error.reset();
  EXPECT_EQ(s.responseObjectForResponse(&noURL, std::string("[1]"), &error), parse("[1]"));
  EXPECT_FALSE(error);
  EXPECT_TRUE(s.responseObjectForResponse(&missing, std::string("{}"), nullptr).isAbsent());
  // No response at all is valid.
  EXPECT_EQ(s.responseObjectForResponse(nullptr, std::string("[3]"), &error), parse("[3]"));
}

TEST(KSHTTPResponseSerializer, CharsetsAndNullRemoval) {
  KSJSONResponseSerializer s;
  const std::string latin1 = "{\"name\":\"caf\xE9\"}";  // é as one ISO-8859-1 byte
  struct Case {
    std::string contentType;
    std::string body;
    Value object;
  };
  const Case cases[] = {
      {"application/json; charset=ISO-8859-1", latin1, parse(R"({"name":"café"})")},
      {"application/json; charset=\"iso-8859-1\"", latin1, parse(R"({"name":"café"})")},
      {"application/json; charset=utf-16le", std::string("[\0001\0]\0", 6), parse("[1]")},
      {"application/json; charset=no-such-charset", "[\"\xC3\xA9\"]", parse(R"(["é"])")},
      {"application/json; charset=utf-8//IGNORE", "[1]", parse("[1]")},
      {"application/json", latin1, Value()},  // not UTF-8: no text, no error
  };
  for (const Case& c : cases) {
    const HTTPURLResponse r = reply(200, c.contentType);
    std::optional<platform::Error> error;
    EXPECT_EQ(s.responseObjectForResponse(&r, c.body, &error), c.object) << c.contentType;
    EXPECT_FALSE(error) << c.contentType;
  }

  EXPECT_EQ(KSJSONObjectByRemovingKeysWithNullValues(parse(R"({"a": null, "b": [null, {"c": null}]})")),
            parse(R"({"b": [null, {}]})"));
  s.removesKeysWithNullValues = true;
  const HTTPURLResponse r = reply(200, "application/json");
  EXPECT_EQ(s.responseObjectForResponse(&r, std::string(R"({"a":null,"d":{"e":null,"f":1}})"), nullptr),
            parse(R"({"d":{"f":1}})"));
}

TEST(KSHTTPResponseSerializer, BaseXMLPropertyListAndCompound) {
  // Base: any content type, the bytes whatever the outcome.
  KSHTTPResponseSerializer base;
  const HTTPURLResponse gone = reply(410, "text/plain");
  std::optional<platform::Error> error;
  EXPECT_EQ(base.responseObjectForResponse(&gone, std::string("bye"), &error), Value(bytes("bye")));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, -1011);

  // XML: a parser, not yet run; it refuses external entities.
  KSXMLParserResponseSerializer xml;
  const HTTPURLResponse xmlReply = reply(200, "text/xml");
  error.reset();
  Value parserValue = xml.responseObjectForResponse(
      &xmlReply, std::string(R"(<?xml version="1.0"?><r a="1"><b>hi<![CDATA[ there]]></b><c/></r>)"), &error);
  EXPECT_FALSE(error);
  ASSERT_TRUE(parserValue.object());
  auto* parser = dynamic_cast<KSXMLParser*>(parserValue.object()->get());
  ASSERT_TRUE(parser);
  auto root = parser->parse();
  ASSERT_TRUE(root);
  EXPECT_EQ(root->name, "r");
  EXPECT_EQ(root->attributes, (std::vector<std::pair<std::string, std::string>>{{"a", "1"}}));
  ASSERT_TRUE(root->child("b"));
  EXPECT_EQ(root->child("b")->text, "hi there");
  EXPECT_EQ(root->children.size(), 2u);

  platform::Error parseError;
  EXPECT_FALSE(KSXMLParser("<r><b></r>").parse(&parseError));
  EXPECT_EQ(parseError.domain, KSXMLParserErrorDomain);
  EXPECT_NE(parseError.code, 0);
  auto external = KSXMLParser(R"(<!DOCTYPE r [<!ENTITY x SYSTEM "file:///etc/passwd">]><r>&x;</r>)").parse();
  ASSERT_TRUE(external);
  EXPECT_EQ(external->text.find("root:"), std::string::npos);
  EXPECT_TRUE(xml.responseObjectForResponse(&gone, std::string("<r/>"), &error).isAbsent());  // text/plain

  // Property list: XML and binary bodies; a corrupt one is a read error.
  KSPropertyListResponseSerializer plist;
  const HTTPURLResponse plistReply = reply(200, "application/x-plist");
  const Value doc = parse(R"({"ids": [1, 2], "name": "café", "ok": true})");
  using Plist = platform::defaults::BinaryPropertyList;
  for (auto format : {Plist::Format::Xml, Plist::Format::Binary}) {
    error.reset();
    EXPECT_EQ(plist.responseObjectForResponse(&plistReply, Plist::encodeValue(doc, format), &error), doc);
    EXPECT_FALSE(error);
  }
  error.reset();
  EXPECT_TRUE(plist.responseObjectForResponse(&plistReply, std::string("<plist><dict><key>a"), &error).isAbsent());
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, platform::coding::kReadCorrupt);

  // Compound: the first serializer that yields an object wins, else the base behaviour.
  auto compound = KSCompoundResponseSerializer::compoundSerializerWithResponseSerializers(
      {nullptr, KSJSONResponseSerializer::serializer(), KSPropertyListResponseSerializer::serializer()});
  error.reset();
  EXPECT_EQ(compound->responseObjectForResponse(&plistReply, Plist::encodeValue(doc, Plist::Format::Xml), &error), doc);
  EXPECT_FALSE(error);
  const HTTPURLResponse json = reply(200, "application/json");
  EXPECT_EQ(compound->responseObjectForResponse(&json, std::string("[1]"), &error), parse("[1]"));
  const HTTPURLResponse html = reply(502, "text/html");
  error.reset();
  EXPECT_EQ(compound->responseObjectForResponse(&html, std::string("<p>"), &error), Value(bytes("<p>")));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, -1011);

  auto copy = compound->copy();
  EXPECT_EQ(dynamic_cast<KSCompoundResponseSerializer&>(*copy).responseSerializers.size(), 3u);
}

TEST(KSHTTPResponseSerializer, ErrorChainHelpers) {
  EXPECT_FALSE(KSErrorWithUnderlyingError(std::nullopt, std::nullopt));
  const platform::Error inner("d", 1, "inner");
  const platform::Error outer("d", 2, "outer");
  EXPECT_EQ(KSErrorWithUnderlyingError(std::nullopt, inner), inner);
  auto chained = KSErrorWithUnderlyingError(outer, inner);
  ASSERT_TRUE(chained);
  EXPECT_EQ(KSUnderlyingError(*chained), inner);
  // An error that already has an underlying error keeps it.
  auto again = KSErrorWithUnderlyingError(chained, platform::Error("d", 3, "other"));
  EXPECT_EQ(KSUnderlyingError(*again), inner);
  EXPECT_FALSE(KSErrorOrUnderlyingErrorHasCodeInDomain(std::nullopt));
  EXPECT_TRUE(KSErrorOrUnderlyingErrorHasCodeInDomain(
      KSErrorWithUnderlyingError(outer, platform::Error(std::string(KSURLResponseSerializationErrorDomain), -1016, ""))));
}

}  // namespace
}  // namespace velmora::kestrine
