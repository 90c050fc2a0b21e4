#include "tts/corvane_tts_protocol.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace velmora_corvane_tts {
namespace {

// A request body with one field's JSON text replaced.
std::string body(const std::string& field = "", const std::string& json = "") {
  std::vector<std::pair<std::string, std::string>> f = {
      {"model_id", "\"kokoro-82m-v1.1-int8\""}, {"model_dir", "\"/m\""}, {"sid", "2"},
      {"language", "\"en\""}, {"speed", "1.0"}, {"text", "\"Hi\""}};
  std::string out = "{";
  for (auto& [k, v] : f) {
    if (k == field) {
      if (json.empty()) continue;  // drop the field
      v = json;
    }
    if (out.size() > 1) out += ",";
    out += "\"" + k + "\":" + v;
  }
  return out + "}";
}

std::string check(const std::string& text) {
  auto r = parse_request(text);
  if (!r.ok()) return "parse: " + r.error().message();
  Status s = validate_request(r.value());
  return s.ok() ? "ok" : s.error().message();
}

TEST(ParseRequest, ObjectAndArrayFormsGiveTheSameRecord) {
  auto r = parse_request(body());
  ASSERT_TRUE(r.ok()) << r.error().message();
  EXPECT_EQ(r.value().model_id, "kokoro-82m-v1.1-int8");
  EXPECT_EQ(r.value().model_dir, "/m");
  EXPECT_EQ(r.value().sid, 2);
  EXPECT_EQ(r.value().language, "en");
  EXPECT_EQ(r.value().speed, 1.0f);
  EXPECT_EQ(r.value().text, "Hi");
  auto a = parse_request(R"(["kokoro-82m-v1.1-int8","/m",2,"en",1.0,"Hi"])");
  ASSERT_TRUE(a.ok()) << a.error().message();
  EXPECT_EQ(a.value().model_dir, "/m");
  EXPECT_EQ(a.value().text, "Hi");
  EXPECT_EQ(check(R"( {"text":"Hi","speed":1,"language":"en","sid":0,"model_dir":"","model_id":"supertonic-3-int8","voice":[{"x":null}]} )" "\n"),
            "ok");
}

TEST(ParseRequest, StructuralFaultsNameTheFieldAndPlace) {
  EXPECT_EQ(check(body("text")), "parse: missing field `text` at line 1 column 88");
  EXPECT_EQ(check(R"({"text":"x"})"), "parse: missing field `model_id` at line 1 column 12");
  EXPECT_EQ(check(R"({"sid":2,"sid":2})"), "parse: duplicate field `sid` at line 1 column 14");
  EXPECT_EQ(check(R"(["kokoro-82m-v1.1-int8","/m",2,"en",1.0])"),
            "parse: invalid length 5, expected struct LocalTtsRequest with 6 elements at line 1 "
            "column 40");
  EXPECT_EQ(check(R"(["kokoro-82m-v1.1-int8","/m",2,"en",1.0,"Hi", 7])"),
            "parse: trailing characters at line 1 column 47");
  EXPECT_EQ(check(body() + "x"), "parse: trailing characters at line 1 column 101");
  EXPECT_EQ(check(body() + std::string("\0", 1)), "parse: trailing characters at line 1 column 101");
  EXPECT_EQ(check("\"hello\""),
            "parse: invalid type: string \"hello\", expected struct LocalTtsRequest at line 1 "
            "column 7");
  EXPECT_EQ(check(""), "parse: EOF while parsing a value at line 1 column 0");
  EXPECT_EQ(check("{\n\"sid\" 1}"), "parse: expected `:` at line 2 column 7");
  EXPECT_EQ(check("{\"sid\":1,"), "parse: EOF while parsing an object at line 1 column 9");
}

TEST(ParseRequest, FieldTypesFollowTheRecord) {
  EXPECT_EQ(check(body("sid", "1.0")),
            "parse: invalid type: floating point `1.0`, expected i32 at line 1 column 61");
  EXPECT_EQ(check(body("sid", "\"1\"")),
            "parse: invalid type: string \"1\", expected i32 at line 1 column 61");
  EXPECT_EQ(check(body("sid", "2147483648")),
            "parse: invalid value: integer `2147483648`, expected i32 at line 1 column 68");
  EXPECT_EQ(check(body("sid", "-2147483649")),
            "parse: invalid value: integer `-2147483649`, expected i32 at line 1 column 69");
  // Integers beyond 64 bits are integers too, shown as written.
  EXPECT_EQ(check(body("sid", "18446744073709551616")),
            "parse: invalid value: integer `18446744073709551616`, expected i32 at line 1 column "
            "78");
  EXPECT_EQ(check(body("sid", "-9223372036854775809")),
            "parse: invalid value: integer `-9223372036854775809`, expected i32 at line 1 column "
            "78");
  EXPECT_EQ(check(R"(["kokoro-82m-v1.1-int8","/m",100000000000000000000,"en",1.0,"Hi"])"),
            "parse: invalid value: integer `100000000000000000000`, expected i32 at line 1 "
            "column 50");
  EXPECT_EQ(check(body("text", "-18446744073709551616")),
            "parse: invalid type: integer `-18446744073709551616`, expected a string at line 1 "
            "column 116");
  EXPECT_EQ(parse_request(body("speed", "100000000000000000000")).value().speed, 1e20f);
  EXPECT_EQ(check(body("sid", "1e2")),
            "parse: invalid type: floating point `100.0`, expected i32 at line 1 column 61");
  EXPECT_EQ(check(body("sid", "-2147483648")), "The selected local voice is invalid");
  EXPECT_EQ(check(body("model_dir", "5")),
            "parse: invalid type: integer `5`, expected path string at line 1 column 48");
  EXPECT_EQ(check(body("text", "null")),
            "parse: invalid type: null, expected a string at line 1 column 99");
  EXPECT_EQ(check(body("speed", "\"fast\"")),
            "parse: invalid type: string \"fast\", expected f32 at line 1 column 90");
  EXPECT_EQ(check(body("language", "[]")),
            "parse: invalid type: sequence, expected a string at line 1 column 72");
  EXPECT_EQ(check(body("speed", "1e400")), "parse: number out of range at line 1 column 85");
}

TEST(ParseRequest, NestingIsLimitedAlsoInSkippedValues) {
  auto nested = [](int levels) {
    return R"({"x":)" + std::string(static_cast<size_t>(levels - 1), '[') +
           std::string(static_cast<size_t>(levels - 1), ']') + "," + body().substr(1);
  };
  EXPECT_EQ(check(nested(127)), "ok");
  EXPECT_EQ(check(nested(128)), "parse: recursion limit exceeded at line 1 column 132");
  std::string deep = R"({"x":)" + std::string(100000, '[');
  EXPECT_EQ(check(deep), "parse: recursion limit exceeded at line 1 column 132");
}

TEST(ParseRequest, StringsMustBeValidUtf8WithValidEscapes) {
  EXPECT_EQ(check(body("text", "\"\xFF\"")),
            "parse: invalid unicode code point at line 1 column 97");
  EXPECT_EQ(check(body("text", "\"a\\qb\"")), "parse: invalid escape at line 1 column 98");
  EXPECT_EQ(check(body("text", "\"a\nb\"")),
            "parse: control character (\\u0000-\\u001F) found while parsing a string at line 1 "
            "column 98");
  auto r = parse_request(body("text", R"("a\u0000b\u00e9\ud83d\ude00")"));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.value().text, std::string("a\0b\xC3\xA9\xF0\x9F\x98\x80", 9));
}

TEST(ParseRequest, SpeedBecomesTheNearestFloat) {
  auto big = parse_request(body("speed", "1e39"));
  ASSERT_TRUE(big.ok());
  EXPECT_TRUE(std::isinf(big.value().speed));
  EXPECT_EQ(parse_request(body("speed", "3.4028234663852886e38")).value().speed,
            std::numeric_limits<float>::max());
  EXPECT_EQ(parse_request(body("speed", "-5")).value().speed, -5.0f);
  EXPECT_EQ(parse_request(body("speed", "0.1")).value().speed, 0.1f);
}

TEST(ValidateRequest, ChecksRunInOrder) {
  EXPECT_EQ(check(body()), "ok");
  EXPECT_EQ(check(body("sid", "3")), "The selected local voice is invalid");
  EXPECT_EQ(check(body("model_id", "\"supertonic-3-int8\"")), "ok");
  EXPECT_EQ(check(R"({"model_id":"supertonic-3-int8","model_dir":"/m","sid":9,"language":"en","speed":1,"text":"Hi"})"),
            "ok");
  EXPECT_EQ(check(R"({"model_id":"supertonic-3-int8","model_dir":"/m","sid":10,"language":"en","speed":1,"text":"Hi"})"),
            "The selected local voice is invalid");
  EXPECT_EQ(check(body("sid", "-1")), "The selected local voice is invalid");
  for (const char* lang : {"\"EN\"", "\"en-US\"", "\"\"", "\" en\""}) {
    EXPECT_EQ(check(body("language", lang)), "The selected local voice is invalid") << lang;
  }
  EXPECT_EQ(check(body("model_id", "\"Kokoro-82m-v1.1-int8\"")),
            "The requested local model is not supported");
  for (const char* text : {"\" \\t\\r\\n \"", "\"\\u3000\"", "\"\\u00a0\""}) {
    EXPECT_EQ(check(body("text", text)), "Speech text is empty") << text;
  }
  EXPECT_EQ(check(body("text", "\"\\u200b\"")), "ok");
  EXPECT_EQ(check(body("speed", "1e39")), "Speech speed is invalid");
  EXPECT_EQ(check(body("speed", "0")), "ok");
  EXPECT_EQ(check(body("speed", "-5")), "ok");
  // The first failing check decides.
  EXPECT_EQ(check(body("text", "\" \"").replace(13, 6, "nope!!")), "Speech text is empty");
  EXPECT_EQ(check(body("speed", "1e39").replace(13, 6, "nope!!")), "Speech speed is invalid");
  EXPECT_EQ(check(body("sid", "99").replace(13, 6, "nope!!")),
            "The requested local model is not supported");
}

TEST(ValidateRequest, TextLengthCountsCharactersBeforeTrimming) {
  std::string e_acute;
  for (int i = 0; i < 10000; ++i) e_acute += "\xC3\xA9";
  EXPECT_EQ(check(body("text", "\"" + e_acute + "\"")), "ok");
  EXPECT_EQ(check(body("text", "\"" + std::string(9999, 'a') + "  \"")),
            "Local speech is limited to 10000 characters per response");
}

}  // namespace
}  // namespace velmora_corvane_tts
