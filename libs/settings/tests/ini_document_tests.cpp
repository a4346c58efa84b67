#include "ini_document.h"

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>
#include <vector>

namespace {

using settings::IniDocument;

TEST(IniDocument, SerialisesSectionsAndKeysInTheOrderSet) {
    IniDocument doc;
    doc.SetInt("task_list_cfg", "loglst_1", 120);
    doc.SetInt("task_list_cfg", "loglst_2", -5);
    doc.SetInt("其他", "键", 7);
    doc.SetInt("task_list_cfg", "loglst_1", 130);  // replaced in place
    EXPECT_EQ(doc.Serialize(),
              "[task_list_cfg]\r\nloglst_1=130\r\nloglst_2=-5\r\n"
              "\r\n[其他]\r\n键=7\r\n");
}

TEST(IniDocument, ReadsBackWhatItWrites) {
    IniDocument doc;
    doc.SetInt("a", "min", INT_MIN);
    doc.SetInt("a", "max", INT_MAX);
    doc.SetInt("a", "zero", 0);
    doc.SetInt("中文节", "中文键", 42);
    const IniDocument back = IniDocument::Parse(doc.Serialize());
    EXPECT_EQ(back.GetInt("a", "min"), INT_MIN);
    EXPECT_EQ(back.GetInt("a", "max"), INT_MAX);
    EXPECT_EQ(back.GetInt("a", "zero"), 0);
    EXPECT_EQ(back.GetInt("中文节", "中文键"), 42);
    EXPECT_EQ(back.Serialize(), doc.Serialize());
    EXPECT_EQ(back.SkippedLineCount(), 0u);
}

TEST(IniDocument, ComparesNamesIgnoringAsciiCaseOnly) {
    const IniDocument doc = IniDocument::Parse("[Task_List_CFG]\nLogLst_1=99\n[\x81\x41]\nk=1\n");
    EXPECT_EQ(doc.GetInt("task_list_cfg", "loglst_1"), 99);
    EXPECT_EQ(doc.GetInt("TASK_LIST_CFG", "LOGLST_1"), 99);
    // 0x81 0x41 and 0x81 0x61 are two different GBK characters, though 0x41/0x61 look like A/a.
    EXPECT_EQ(doc.GetInt("\x81\x41", "K"), 1);
    EXPECT_EQ(doc.GetInt("\x81\x61", "k"), std::nullopt);

    IniDocument changed = doc;
    changed.SetInt("TASK_LIST_CFG", "LOGLST_1", 5);  // keeps the spelling already in the file
    EXPECT_EQ(changed.Serialize(), "[Task_List_CFG]\r\nLogLst_1=5\r\n\r\n[\x81\x41]\r\nk=1\r\n");
}

TEST(IniDocument, SkipsDamagedLinesAndKeepsTheRest) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::pair<const char*, std::optional<int>>> expected;  // key in section "s"
        size_t skipped;
        const char* rewritten;
    };
    const std::vector<Case> cases = {
        {"a line without '='", "[s]\ngarbage\na=1\n", {{"a", 1}}, 1, "[s]\r\na=1\r\n"},
        {"keys before any section", "a=1\n[s]\nb=2\n", {{"a", std::nullopt}, {"b", 2}}, 1, "[s]\r\nb=2\r\n"},
        // The keys under a broken header must not land in the section before it.
        {"unterminated header",
         "[s]\na=1\n[t\nb=2\n[u]\nc=3\n",
         {{"a", 1}, {"b", std::nullopt}},
         2,
         "[s]\r\na=1\r\n\r\n[u]\r\nc=3\r\n"},
        {"empty header", "[s]\na=1\n[]\nb=2\n", {{"a", 1}, {"b", std::nullopt}}, 2, "[s]\r\na=1\r\n"},
        {"empty key", "[s]\n=5\na=1\n", {{"a", 1}}, 1, "[s]\r\na=1\r\n"},
        {"duplicate key: the first counts", "[s]\na=1\nA=2\n", {{"a", 1}}, 1, "[s]\r\na=1\r\n"},
        {"section given twice",
         "[s]\na=1\n[S]\na=2\nb=3\n",
         {{"a", 1}, {"b", 3}},
         1,
         "[s]\r\na=1\r\nb=3\r\n"},
        {"CRLF, blanks and tabs", "  [ s ]  \r\n\t a \t=\t 7 \r\n", {{"a", 7}}, 0, "[s]\r\na=7\r\n"},
        {"no final line end", "[s]\na=3", {{"a", 3}}, 0, "[s]\r\na=3\r\n"},
        {"comments are kept",
         "; top\n[s]\n# note\na=1\n",
         {{"a", 1}},
         0,
         "; top\r\n\r\n[s]\r\n# note\r\na=1\r\n"},
        {"text after the header", "[s] trailing\na=1\n", {{"a", 1}}, 0, "[s]\r\na=1\r\n"},
        {"']' as a GBK trail byte",
         "[\x81]]\na=1\n[s]\nb=2\n",
         {{"b", 2}},
         0,
         "[\x81]]\r\na=1\r\n\r\n[s]\r\nb=2\r\n"},
        {"stray NUL and high bytes",
         std::string("[s]\n\xFF\xFE\x00junk\na=1\n", 16),
         {{"a", 1}},
         1,
         "[s]\r\na=1\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const IniDocument doc = IniDocument::Parse(c.text);
        for (const auto& [key, value] : c.expected) EXPECT_EQ(doc.GetInt("s", key), value) << key;
        EXPECT_EQ(doc.SkippedLineCount(), c.skipped);
        EXPECT_EQ(doc.Serialize(), c.rewritten);
    }
}

TEST(IniDocument, ReadsOnlyWholeDecimalNumbersAsIntegers) {
    const IniDocument doc = IniDocument::Parse(
        "[s]\nplain=120\nplus=+8\nminus=-3\nempty=\nword=abc\ntail=12px\nspace=1 2\n"
        "big=2147483648\nsmall=-2147483649\nhex=0x10\ndouble=+-1\nlead=007\n");
    const std::vector<std::pair<const char*, std::optional<int>>> expected = {
        {"plain", 120},
        {"plus", 8},
        {"minus", -3},
        {"empty", std::nullopt},
        {"word", std::nullopt},
        {"tail", std::nullopt},
        {"space", std::nullopt},
        {"big", std::nullopt},
        {"small", std::nullopt},
        {"hex", std::nullopt},
        {"double", std::nullopt},
        {"lead", 7},
        {"missing", std::nullopt},
    };
    for (const auto& [key, value] : expected) EXPECT_EQ(doc.GetInt("s", key), value) << key;
}

TEST(IniDocument, RefusesNamesThatWouldNotReadBack) {
    struct Case {
        std::string section, key;
        bool storable;
    };
    const std::vector<Case> cases = {
        {"task_list_cfg", "loglst_1", true},
        {"任务", "宽度", true},
        {"\x81]", "k", true},  // ']' inside a double-byte character is fine
        {"s", "\x81[", true},
        {"", "k", false},
        {"s", "", false},
        {"a]b", "k", false},
        {"s", "a=b", false},
        {"s", "[k", false},
        {"s", ";k", false},
        {"s", "#k", false},
        {" s", "k", false},
        {"s", "k ", false},
        {"s", "a\nb", false},
        {"s\r", "k", false},
        {"s", "tab\there", false},
        {"s\x81", "k", false},  // a lone lead byte would swallow the closing ']'
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IniDocument::CanStore(c.section, c.key), c.storable) << "[" << c.section << "] " << c.key;
    }
}

}  // namespace
