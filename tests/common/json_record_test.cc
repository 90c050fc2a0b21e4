// The record parser's handling of optional fields and lists, which the
// synthesis request does not use.
#include "common/json_record.h"

#include <gtest/gtest.h>

#include <array>

namespace velmora_corvane_tts {
namespace {

constexpr std::array<JsonField, 4> kFields = {{
    {"text", JsonFieldType::kString},
    {"tokens", JsonFieldType::kStringList},
    {"times", JsonFieldType::kF32List, true},
    {"final", JsonFieldType::kBool},
}};
constexpr JsonRecordShape kShape{"Sample", kFields};

std::string parse(std::string_view text) {
  auto r = parse_json_record(text, kShape);
  if (!r.ok()) return r.error().message();
  return "ok " + std::get<std::string>(r.value()[0]);
}

TEST(JsonRecord, OptionalFieldsMayBeAbsentOrNull) {
  EXPECT_EQ(parse(R"({"text":"a","tokens":[],"final":false})"), "ok a");
  EXPECT_EQ(parse(R"({"text":"b","tokens":["x","y"],"times":null,"final":true})"), "ok b");
  EXPECT_EQ(parse(R"({ "text": "c", "tokens": ["x"], "times": [0.5, 1], "extra": {"k": [1]}, "final": false})"),
            "ok c");
  EXPECT_EQ(parse(R"(["d",[],null,true])"), "ok d");
}

TEST(JsonRecord, ListElementsAndRequiredFieldsAreChecked) {
  EXPECT_EQ(parse(R"({"text":"a","tokens":[1],"final":false})"),
            "invalid type: integer `1`, expected a string at line 1 column 23");
  EXPECT_EQ(parse(R"({"text":"a","tokens":"x","final":false})"),
            "invalid type: string \"x\", expected a sequence at line 1 column 24");
  EXPECT_EQ(parse(R"({"text":"a","tokens":[["x"]],"final":false})"),
            "invalid type: sequence, expected a string at line 1 column 23");
  EXPECT_EQ(parse(R"({"text":"a","tokens":[],"times":["1"],"final":false})"),
            "invalid type: string \"1\", expected f32 at line 1 column 36");
  EXPECT_EQ(parse(R"({"text":"a","tokens":[]})"), "missing field `final` at line 1 column 24");
  EXPECT_EQ(parse(R"({"text":"a","tokens":[],"final":0})"),
            "invalid type: integer `0`, expected a boolean at line 1 column 33");
  EXPECT_EQ(parse(R"({"text":"a","tokens":[],"final":true,"text":"b"})"),
            "duplicate field `text` at line 1 column 43");
}

TEST(JsonRecord, NumbersInListsAndSkippedValuesAreCheckedNotKept) {
  // They are not converted, but they must still be numbers within the range
  // of a double.
  EXPECT_EQ(parse(R"({"text":"a","tokens":[],"times":[1e5,-0.25,3],"x":[2.5e-3,{"y":7}],)"
                  R"("final":true})"),
            "ok a");
  EXPECT_EQ(parse(R"({"text":"a","tokens":[],"times":[1e-999,123456789012345678901234567890],)"
                  R"("final":true})"),
            "ok a");
  EXPECT_EQ(parse(R"({"text":"a","tokens":[],"times":[1e999],"final":true})"),
            "number out of range at line 1 column 34");
  EXPECT_EQ(parse(R"({"text":"a","tokens":[],"x":[1e999],"final":true})"),
            "number out of range at line 1 column 30");
}

TEST(JsonRecord, InputThatEndsInsideACharacterIsAFaultNotAnOverrun) {
  // The parser works in place on a copy of the text; a UTF-8 sequence cut
  // off by the end must neither read nor write beyond it (checked under the
  // address sanitizer).
  EXPECT_EQ(parse("{\"text\":\"a\xF0"), "invalid unicode code point at line 1 column 11");
  EXPECT_EQ(parse("{\"text\":\"\xF0\x9F"), "invalid unicode code point at line 1 column 10");
  EXPECT_EQ(parse("{\"x\":{\"c\":\"\xF1"), "invalid unicode code point at line 1 column 12");
  EXPECT_EQ(parse("{\"text\":\"a"), "EOF while parsing a string at line 1 column 10");
}

TEST(JsonRecord, LoneSurrogateEscapesAreRefusedWhereverTheyStand) {
  // A leading surrogate without its trailing partner, and a trailing one
  // without a leading one before it, are the same fault, placed at the
  // escape's backslash.
  const std::string lone = "lone leading surrogate in hex escape at line ";
  EXPECT_EQ(parse(R"({"text":"a\ud800b","tokens":[],"final":false})"), lone + "1 column 11");
  EXPECT_EQ(parse(R"({"text":"a\udc00b","tokens":[],"final":false})"), lone + "1 column 11");
  EXPECT_EQ(parse(R"({"text":"\uDFFF","tokens":[],"final":false})"), lone + "1 column 10");
  EXPECT_EQ(parse(R"({"text":"\udc00\ud800\udc00","tokens":[],"final":false})"),
            lone + "1 column 10");
  // In a key, and in a value that is skipped.
  EXPECT_EQ(parse(R"({"te\udc00xt":"a","tokens":[],"final":false})"), lone + "1 column 5");
  EXPECT_EQ(parse("{\"x\":\n [{\"y\":\"\\ude00\"}],\"text\":\"a\",\"tokens\":[],\"final\":false}"),
            lone + "2 column 9");
  // It is the first fault of its string, whatever follows in it.
  EXPECT_EQ(parse(R"({"text":"\udc00\q")"), lone + "1 column 10");
  EXPECT_EQ(parse(R"({"text":"\udc00)"), lone + "1 column 10");
  // Pairs and the code points around the surrogates are text.
  EXPECT_EQ(parse(R"({"text":"\ud83d\ude00\ud7ff\ue000\u00ed","tokens":[],"final":false})"),
            "ok \xF0\x9F\x98\x80\xED\x9F\xBF\xEE\x80\x80\xC3\xAD");
}

TEST(JsonObjectWithString, EscapesTheValue) {
  EXPECT_EQ(json_object_with_string("lang", "en"), R"({"lang":"en"})");
  EXPECT_EQ(json_object_with_string("lang", "a\"b"), R"({"lang":"a\"b"})");
}

}  // namespace
}  // namespace velmora_corvane_tts
