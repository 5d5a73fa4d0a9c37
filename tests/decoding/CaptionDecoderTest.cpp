#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "decoding/CaptionDecoder.h"
#include "decoding/SccLines.h"

namespace {

using quillet::decodeCodeField;
using quillet::decodeCodeFieldReference;

// Both decoders must give the caption; the reference is checked too, so a wrong
// expectation cannot hide behind two decoders that agree with each other.
void expectCaption(const std::string& field, const std::string& caption) {
    EXPECT_EQ(decodeCodeFieldReference(field), caption) << "reference, field \"" << field << "\"";
    EXPECT_EQ(decodeCodeField(field), caption) << "decoder, field \"" << field << "\"";
}

void expectAgreement(const std::string& field) {
    const std::string expected = decodeCodeFieldReference(field);
    ASSERT_EQ(decodeCodeField(field), expected) << "field \"" << field << "\" (" << field.size() << " bytes)";
}

// Letters written another way: all upper case, or each one's case chosen at random.
std::string upperCased(std::string text) {
    for (char& c : text) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    return text;
}

std::string caseScrambled(std::string text, std::mt19937& random) {
    for (char& c : text)
        if (std::isalpha(static_cast<unsigned char>(c)) && random() % 2 == 0) c = static_cast<char>(c ^ 0x20);
    return text;
}

TEST(CaptionDecoder, HandDecodedFields) {
    const std::pair<std::string, std::string> cases[] = {
        // Typical caption lines.
        {"", "  "}, {"942c 942c", "  "}, {"9420 9420 942c 942c", "  "},
        {"9420 9420 94ae 94ae 9452 9452 97a2 97a2 c8e5 ecec ef80 942f 942f", "  Hello  "},
        {"9426 9426 94ad 94ad 9470 9470 c7ef ef64 20e5 76e5 6ee9 6e67 ae80", "  Good evening."},
        {"9429 9429 94d0 94d0 4cef ef6b 91a2 91a2 ef75 f4a1", "94)94)  Look----out!"},
        {"91ce 91ce 43ef 6de5", "----Come"}, {"9420 9420 91ae 91ae d3ef", "  So"}, {"4980 91b9 91b9 616d", "I  am"},
        {"9420 9420 9137 9137 ec61 20ec 6180", "\u266A \u266A la la"}, {"9420 43c1 4645 92a1 92a1", "CAFE\u00C9 \u00C9 "},
        {"2020 2020", "    "}, {"8080 8080", "  "}, {"a380 2380 2880 a880", "#23(("}, {"1337 1337", "137137"}, {"7f80", "|"},
        // Odd character counts shift the units; a single character forms none.
        {"9420 9420 1329 1329 6162", "{{ab"}, {"1329 6162", "{616"}, {"c1", "A"}, {"c1c2 c3", "ABc3"},
        {"1329", ""}, {"9420 1329", ""}, {"c", ""},
        // Matches across former groups.
        {"c8e9 2520", "He| 0"},              // "9252" straddles the two groups
        {"13b9 13ba 133b 1329 c1", "\u00E5\u00D8\u00F8{A"}, {"132a 132a", "}}"},  // their spaces go with the others
        {"e945 4c80", "l"},                  // "9454" appears once "80" is gone
        {"4980 1323 1323", "4\u00BD 3\u00CC "},  // "9132" across 49, 13 and 23
        {"c194 20c2", "AB"},                 // "9420" hidden between two text groups
        {"c1c2 97 a1c4 45", "ABDE"},         // "97a1" only forms once the spaces are gone
        // The letter case of hex digits does not matter, to a group row, a joined-field
        // row or a pair row, nor to a special character's code formed across groups.
        {"9420 9420 94AE 94AE 9452 9452 97A2 97A2 C8E5 ECEC EF80 942F 942F", "  Hello  "}, {"C8E5", "He"},
        {"9420 9420 C1C2", "AB"}, {"C1c2 97A1 c445", "ABDE"}, {"C1C2 97 A1C4 45", "ABDE"},
        {"9420 94Ae 91Ae 4980 9137 c8E9", " I\u266A Hi"}, {"9420 9420 eCeC", "ll"}, {"c8e9 9 13B 3", "Hi\u00E2 "},
        // Hex that no row matches keeps its case: neither a code nor two characters, or
        // held back as the start of a joined-field pattern ("94ad", "97A1", "91b0") and then
        // let go by a character that ends the match or by the end of the field.
        {"9429 9429", "94)94)"}, {"94A9 94a9", "94A994a9"}, {"C1FA c1fA", "AFAAfA"},
        {"94 AF", "94AF"}, {"97 aF 97 Af", "97aF97Af"}, {"g 91B", "g91B"}, {"g 91b", "g91b"},
        // Stray characters pass through; bars that end up side by side merge ("| |c1" after
        // the first bar rows, "|c1" after the last ones).
        {"zz c1", "zzA"}, {"c1\tc2", "A\tc"}, {"| | c1c2", "| AB"}, {"|||c1", "|c"},
        // Invalid UTF-8: each stray byte is a character of its own, until a deleted "80"
        // joins two bytes into one well-formed character.
        {"\xFF" "c1c", "\xFF" "c1c"}, {"\xC3" "80\xA9", ""}, {"\xC3" "80\xA9" "c1", "\xC3\xA9" "c"},
    };
    for (const auto& [field, caption] : cases)
        expectCaption(field, caption);
    // The same value written both ways, each remembered on its own once seen.
    for (const std::string group : {"fafa", "FAFA", "fafa", "FAFA", "FaFa"}) {
        expectCaption(group, group);
        expectCaption(group + " 2020", group + "  ");
    }
}

TEST(CaptionDecoder, ConvertsSingleUnits) {
    // Letters in either case; the first row in table order that matches wins.
    const std::pair<const char*, const char*> units[] = {
        {"c1", "A"}, {"20", " "}, {"  ", ""}, {"23", "23"}, {"a8", "("}, {"fe", "\u00F1"}, {"\u266A ", "\u266A "},
        {"C1", "A"}, {"aB", "+"}, {"Fa", "Fa"}, {"5B", "["}, {"7C", "\u00F7"},
    };
    for (const auto& [unit, text] : units)
        EXPECT_EQ(quillet::convertSCC2Letters(unit), text) << unit;
}

std::vector<std::string> sampleFiles() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(QUILLET_TEST_DATA))
        if (entry.path().extension() == ".scc") names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(CaptionDecoder, SampleFilesArePresent) { EXPECT_GE(sampleFiles().size(), 10U); }

// One test per sample file, so that a test runner can spread them over several cores.
// The reference is slow, above all under the sanitizers: the largest samples are checked
// up to 16 KB of code fields (the fuzz target takes them all as seeds).
class CaptionDecoderOnSample : public testing::TestWithParam<std::string> {};

TEST_P(CaptionDecoderOnSample, AgreesWithReference) {
    std::ifstream in(std::filesystem::path(QUILLET_TEST_DATA) / GetParam(), std::ios::binary);
    std::mt19937 random(99);
    std::size_t checked = 0;
    for (std::string line; std::getline(in, line) && checked < (16U << 10);)
        if (const auto split = quillet::splitCaptionLine(line)) {
            const std::string field(split->codeField);
            checked += field.size();
            expectAgreement(field);
            expectAgreement(checked % 2 ? upperCased(field) : caseScrambled(field, random));
        }
}

INSTANTIATE_TEST_SUITE_P(SampleFiles, CaptionDecoderOnSample, testing::ValuesIn(sampleFiles()));

std::vector<std::string> wordsOf(const std::string& text) {
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

TEST(CaptionDecoder, EveryControlCodeBetweenTwoLetters) {
    // The preamble address codes: one of each attribute group, the groups' screen rows
    // going round 1 to 15, so that every screen row and every attribute is here. Of the
    // white ones only those of rows 13 to 15 have a row; "9140" passes through.
    const std::pair<const char*, const char*> controls[] = {
        {"91d0 91f1 92c2 92e3 15c4 15e5 1646 1667 97c8 97e9 104a 13cb 13ec 94cd 94f2 91d3 91f4 92d5 9276 1557 15f8 "
         "16d9 167a 975b 977c 105d 135e 137f 13e0 9440 94e0 942c 942f 91b9 92ce 91ae 916e 946e 94ce", " "},
        {"97a1 97a2 9723 9426 94ad 9420 94ae 9753 97A1 97A2 97A3 80", ""},
        {"9120 91a1 91a2 9123 91a4 9125 9126 91a7 91a8 9129 912a 91ab 912c 91ad 912f 94a8 136e 0100 91ce", "--"},
        {"9140", "91@"},
    };
    for (const auto& [codes, text] : controls)
        for (const std::string& code : wordsOf(codes)) expectCaption("c1c1 " + code + " c1c1", "AA" + std::string(text) + "AA");
    // Codes that only form once the spaces between groups are gone.
    const std::pair<const char*, const char*> formed[] = {
        {"9254 91f2 91f4 9476 9252", "| "}, {"91b9", " "},
        {"13f2 13f4 9154 9152 9454 942c 9723 9753 9426 94d6 94ad 9420 94ae 942f 80", ""}};
    for (const auto& [codes, text] : formed)
        for (const std::string& code : wordsOf(codes))
            expectCaption("c1c1 c1" + code.substr(0, 2) + " " + code.substr(2) + "c1", "AAA" + std::string(text) + "A");
}

TEST(CaptionDecoder, EveryCharacterCodeAlone) {
    // In the order of the CEA-608 charts: the special and extended characters, each with
    // a space after it, and the standard characters, one two-digit unit each.
    const std::string special =
        "9137 1937 91b0 9131 9132 91b3 9134 91b5 91b6 9138 91ba 913b 91bc 913d 913e 91bf 9220 92a1 92a2 9223 92a4 9225 "
        "9226 92a7 92a8 9229 922a 92ab 922c 92ad 92ae 922f 92b0 9231 9232 92b3 9234 92b5 92b6 9237 9238 92b9 92ba 923b "
        "92bc 923d 923e 92bf 1320 13a1 13a2 1323 13a4 1325 1326 13a7 13a8 13ab 132c 13ad 13ae 132f 13b0 1331 1332 13b3 "
        "1334 13b5 13b6 1338";
    const std::string standard =
        "c1 c2 43 c4 45 46 c7 c8 49 4a cb 4c cd ce 4f d0 51 52 d3 54 d5 d6 57 58 d9 da 61 62 e3 64 e5 e6 67 68 e9 ea 6b "
        "ec 6d 6e ef 70 f1 f2 73 f4 75 76 f7 f8 79 7a fe 5b dc 5d 5e df e0 fb 7c fd 7f 20 a1 a2 a3 a4 25 26 a7 28 29 2a "
        "ab 2c ad ae 2f b0 31 32 b3 34 b5 b6 37 38 b9 ba 3b bc 3d 3e bf 40 a8";
    const std::vector<std::string> codes[] = {wordsOf(special), wordsOf(standard)};
    const std::string texts[] = {
        "♪♪®°½¿™¢£àèâêîôûÁÉÓÚÜü‘¡*’—©℠•“”ÀÂÇÈÊËëÎÏïÔÙùÛ«»ÃãÍÌìÒòÕõ\\^_¦~ÄäÖöß¥¤Å",
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyzñ[é]íóúç÷Ñ| !\"#$%&'()á+,-./0123456789:;<=>?@("};
    for (int set = 0; set < 2; ++set) {
        std::size_t at = 0;
        for (const std::string& code : codes[set]) {
            ASSERT_LT(at, texts[set].size()) << code;
            std::size_t length = 1;  // one UTF-8 character
            while (at + length < texts[set].size() && (texts[set][at + length] & 0xC0) == 0x80) ++length;
            expectCaption(code, texts[set].substr(at, length) + (set == 0 ? " " : ""));
            at += length;
        }
        EXPECT_EQ(at, texts[set].size());
    }
}

std::string repeated(const std::string& text, std::size_t times) {
    std::string all;
    while (times-- > 0) all += text;
    return all;
}

TEST(CaptionDecoder, HugeFieldsDecode) {
    // Bytes of every kind, held to the literal reference, then once more on the caches the
    // first call warmed. The reference takes a while, above all under the sanitizers: there
    // a quarter of the field, still four times the 64 KB beyond which a field is huge.
#if defined(__SANITIZE_ADDRESS__)
    constexpr std::size_t kRandomBytes = 1 << 18;
#else
    constexpr std::size_t kRandomBytes = 1 << 20;
#endif
    std::mt19937 random(7);
    std::string bytes(kRandomBytes, '\0');
    for (char& c : bytes) c = static_cast<char>(random() % 256);
    const std::string literal = decodeCodeFieldReference(bytes);
    EXPECT_TRUE(decodeCodeField(bytes) == literal);  // megabytes are not printed
    EXPECT_TRUE(decodeCodeField(bytes) == literal);
    EXPECT_EQ(decodeCodeField(repeated("9420 9420 c8e9 9137 ", 52429)), repeated("Hi\u266A ", 52429));

    // A caption of more than a megabyte is converted where it stands and then copied.
    const std::string piece = "c8e9 91b0 4980 94A9 \xC3\xA9\xC3\xA9 ", one = decodeCodeFieldReference(piece);
    ASSERT_EQ(decodeCodeFieldReference(repeated(piece, 3)), repeated(one, 3));
    EXPECT_EQ(decodeCodeField(repeated(piece, 70000)), repeated(one, 70000));
    EXPECT_EQ(decodeCodeField(piece), one);  // and the buffers it left behind serve again
}

TEST(CaptionDecoder, GivesTheSameResultOnAnotherThread) {
    const std::string field = "9420 9420 94ae 94ae c8e9 2520 9137 4980 1323 1323";
    const std::string here = decodeCodeField(field);
    std::string there;
    std::thread([&] { there = decodeCodeField(field); }).join();
    EXPECT_EQ(here, decodeCodeFieldReference(field));
    EXPECT_EQ(there, here);
}

}  // namespace
