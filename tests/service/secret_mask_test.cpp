#include "service/SecretMask.h"

#include <gtest/gtest.h>

#include <string>

namespace {

simdjson::dom::element Parse(simdjson::dom::parser& parser, const std::string& json) {
  simdjson::dom::element element;
  EXPECT_EQ(parser.parse(json).get(element), simdjson::SUCCESS) << json;
  return element;
}

// Without a secret key the masked text is exactly the JSON library's own minified text.
TEST(SecretMask, WithoutSecretsMatchesTheLibraryMinifier) {
  const char* documents[] = {
      R"({"a": 1, "b": [true, false, null, -0, 1e300, 18446744073709551615, -9223372036854775808, 2.5]})",
      R"({"esc": "q\"\\\/\b\f\n\r\t\u0001\u001f", "utf8": "\u00e9\u4e2d\ud83d\ude00", "": {}})",
      R"([[], [[{}]], "x", 0.1, 123456789012])",
      R"("plain")",
      R"({"password": "lower case is not the key", "PASSWORDS": 1})",
  };
  simdjson::dom::parser parser;
  for (const char* json : documents) {
    simdjson::dom::element element = Parse(parser, json);
    EXPECT_EQ(MaskedJson(element), simdjson::minify(element)) << json;
  }
}

TEST(SecretMask, SecretValuesAreMaskedAtAnyDepth) {
  simdjson::dom::parser parser;
  simdjson::dom::element element = Parse(
      parser, R"({"PASSWORD": "s3cret", "list": [{"PASSWORD": ["s3cret"]}, {"k": {"PASSWORD": 7}}]})");
  EXPECT_EQ(MaskedJson(element),
            R"({"PASSWORD":"********","list":[{"PASSWORD":"********"},{"k":{"PASSWORD":"********"}}]})");
  EXPECT_TRUE(IsSecretKey("PASSWORD"));
  EXPECT_FALSE(IsSecretKey("Password"));
}

}  // namespace
