// How outside texts are written into records: escapes that keep every byte recoverable, and
// cuts that never split a character.
#include <gtest/gtest.h>

#include <string>

#include "escape.h"

namespace {

using sonara_archive::escape_control;
using sonara_archive::json_string;
using sonara_archive::valid_utf8;
using sonara_archive::without_partial_character;

struct EscapeCase {
    std::string input;
    std::string line;  // text and CSV
    std::string json;
};

TEST(Escape, LineAndJsonFormsOfTheSameBytes) {
    const EscapeCase cases[] = {
        {"plain.wav", "plain.wav", "\"plain.wav\""},
        {"a\nb\tc", "a\\x0ab\\x09c", "\"a\\nb\\tc\""},
        {"back\\slash \"q\"", "back\\\\slash \"q\"", "\"back\\\\slash \\\"q\\\"\""},
        {"caf\xc3\xa9", "caf\xc3\xa9", "\"caf\\u00e9\""},
        {"caf\xe9", "caf\\xe9", "\"caf\\udce9\""},                 // Latin-1, not UTF-8
        {"\xed\xa0\x80", "\\xed\\xa0\\x80", "\"\\udced\\udca0\\udc80\""},  // an encoded surrogate
        {"\xc0\xaf", "\\xc0\\xaf", "\"\\udcc0\\udcaf\""},           // an overlong '/'
        {"\xf0\x9f\x8e\x99", "\xf0\x9f\x8e\x99", "\"\\ud83c\\udf99\""},  // outside the BMP
        {std::string("nul\0x", 5), "nul\\x00x", "\"nul\\u0000x\""},
    };
    for (const EscapeCase &c : cases) {
        EXPECT_EQ(escape_control(c.input), c.line) << c.input;
        EXPECT_EQ(json_string(c.input), c.json) << c.input;
    }
}

TEST(Escape, CutsNeverEndInsideACharacter) {
    const struct {
        std::string text;
        std::string kept;
    } cases[] = {
        {"version-1.\xc3\xa9", "version-1.\xc3\xa9"},  // whole: kept
        {"version-1.\xc3", "version-1."},            // a two-byte character cut after its lead
        {"v\xe2\x82", "v"},                          // a three-byte one cut after two
        {"v\xe2\x82\xac", "v\xe2\x82\xac"},
        {"", ""},
    };
    for (const auto &c : cases) EXPECT_EQ(without_partial_character(c.text), c.kept) << c.text;
    EXPECT_EQ(valid_utf8("a\xff\xe2\x82\xac"), "a\xef\xbf\xbd\xe2\x82\xac");
}

}  // namespace
