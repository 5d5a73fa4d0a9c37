#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "decoding/CaptionDecoder.h"
#include "decoding/CodeTables.h"
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
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
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

std::vector<std::string> codeFieldsOf(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> fields;
    std::string line;
    bool header = true;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        if (std::exchange(header, false)) continue;
        if (const auto split = quillet::splitCaptionLine(line)) fields.emplace_back(split->codeField);
    }
    return fields;
}

std::vector<std::string> sampleFiles() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(QUILLET_TEST_DATA))
        if (entry.path().extension() == ".scc") names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(CaptionDecoder, SampleFilesArePresent) { EXPECT_GE(sampleFiles().size(), 10U); }

// One test per sample file, so that a test runner can spread them over several cores:
// the reference is slow, above all under the sanitizers.
class CaptionDecoderOnSample : public testing::TestWithParam<std::string> {};

TEST_P(CaptionDecoderOnSample, AgreesWithReference) {
    SCOPED_TRACE(GetParam());
    const auto fields = codeFieldsOf(std::filesystem::path(QUILLET_TEST_DATA) / GetParam());
    std::mt19937 random(99);
    for (const std::string& field : fields) {
        expectAgreement(field);
        expectAgreement(upperCased(field));
        expectAgreement(caseScrambled(field, random));
    }
}

INSTANTIATE_TEST_SUITE_P(SampleFiles, CaptionDecoderOnSample, testing::ValuesIn(sampleFiles()));

// Pieces that random fields are made of: the tables' own patterns and their fragments,
// text bytes, the characters rows insert, bars, spaces and invalid UTF-8; the random
// fields also write letters in upper or mixed case.
std::vector<std::string> fieldPieces() {
    std::vector<std::string> pieces;
    for (const auto& row : quillet::codeSubstitutionTable()) {
        pieces.emplace_back(row.pattern);
        if (row.pattern.size() == 4) {
            pieces.emplace_back(row.pattern.substr(0, 2));
            pieces.emplace_back(row.pattern.substr(2));
            pieces.emplace_back(row.pattern.substr(1, 3));
        }
    }
    for (const auto& row : quillet::pairCharacterTable()) pieces.emplace_back(row.pattern);
    for (const char* extra : {"80", "8080", "20", "|", "||", "| |", " ", "  ", "9", "1", "4", "8", "c8e9", "2520",
                              "C1", "97A", "\u266A", "\u00C9 ", "\xC3", "\xA9", "\xFF", "\xE2\x99", "{", "--", "\t"})
        pieces.emplace_back(extra);
    return pieces;
}

TEST(CaptionDecoder, AgreesWithReferenceOnRandomFields) {
    const std::vector<std::string> pieces = fieldPieces();
#if defined(__SANITIZE_ADDRESS__)
    const int fields = 1000;  // the reference is many times slower under the sanitizers
#else
    const int fields = 5000;
#endif
    std::mt19937 random(20240601);
    for (int i = 0; i < fields; ++i) {
        std::string field;
        const int count = static_cast<int>(random() % 24);
        for (int k = 0; k < count; ++k) {
            switch (random() % 9) {
                case 0: field += static_cast<char>(random() % 256); break;  // any byte
                case 1: {  // a random group, in lower, upper or mixed case
                    static const char* const digits[] = {"0123456789abcdef", "0123456789ABCDEF",
                                                         "0123456789abcdefABCDEF"};
                    const std::string_view set = digits[random() % 3];
                    for (int d = 0; d < 4; ++d) field += set[random() % set.size()];
                    break;
                }
                case 2: field += upperCased(pieces[random() % pieces.size()]); break;
                case 3: field += caseScrambled(pieces[random() % pieces.size()], random); break;
                default: field += pieces[random() % pieces.size()];
            }
            if (random() % 3 != 0) field += ' ';  // usually, but not always, a space between groups
        }
        expectAgreement(field);
    }
}

// Groups written without spaces make runs of hex digits longer than a group, which the
// decoder works as one stream through all the group rows: they must come out exactly as
// the row-by-row passes leave them, also when rows half-match across many groups.
TEST(CaptionDecoder, AgreesWithReferenceOnGluedRuns) {
    std::vector<std::string> groups;
    for (const auto& row : quillet::codeSubstitutionTable())
        if (row.pattern.size() == 4) groups.emplace_back(row.pattern);
    for (const char* text : {"c8e9", "2520", "6162", "9", "1", "94", "20", "d0", "2"}) groups.emplace_back(text);
    std::mt19937 random(4242);
    for (int i = 0; i < 300; ++i) {
        std::string run;
        const std::size_t length = 257 + random() % 700;
        while (run.size() < length) {
            std::string piece = groups[random() % groups.size()];
            if (random() % 4 == 0) piece = caseScrambled(piece, random);
            run += piece;
        }
        if (random() % 5 == 0) run += " 9420 " + run.substr(0, 300);  // a second run after a wall
        expectAgreement(run);
    }
    // Runs of a few digits in endless combinations, which the decoder rewrites row by row
    // (only the rows that can match) rather than as a stream.
    for (const std::string_view digits : {"914", "9Ae4c"}) {
        std::string soup(1 << 16, '0');
        for (char& c : soup) c = digits[random() % digits.size()];
        expectAgreement(soup);
    }
}

TEST(CaptionDecoder, HugeFieldsDecode) {
    std::mt19937 random(7);

    std::string bytes(1 << 20, '\0');
    for (char& c : bytes) c = static_cast<char>(random() % 256);
    const std::string fromBytes = decodeCodeField(bytes);
    EXPECT_LE(fromBytes.size(), bytes.size());
    EXPECT_EQ(decodeCodeField(bytes), fromBytes);  // same again once the caches are warm

    std::string groups, expected;
    for (std::size_t i = 0; i < (1U << 20) / 20; ++i) {
        groups += "9420 9420 c8e9 9137 ";
        expected += "Hi\u266A ";
    }
    EXPECT_EQ(decodeCodeField(groups), expected);

    // A caption of more than a megabyte is converted where it stands and then copied.
    const std::string piece = "c8e9 91b0 4980 94A9 \xC3\xA9\xC3\xA9 ";
    const std::string one = decodeCodeFieldReference(piece);
    ASSERT_EQ(decodeCodeFieldReference(piece + piece + piece), one + one + one);
    std::string longField, longCaption;
    for (int i = 0; i < 70000; ++i) {
        longField += piece;
        longCaption += one;
    }
    EXPECT_EQ(decodeCodeField(longField), longCaption);
    EXPECT_EQ(decodeCodeField(piece), one);  // and the buffers it left behind serve again

    // Hex soup that keeps many rows half-matched.
    std::string soup(1 << 17, '\0');
    for (char& c : soup) c = "9412| "[random() % 6];
    EXPECT_EQ(decodeCodeField(soup), decodeCodeField(soup));
    expectAgreement(soup.substr(0, 8192));
}

TEST(CaptionDecoder, GivesTheSameResultOnAnotherThread) {
    const std::string field = "9420 9420 94ae 94ae c8e9 2520 9137 4980 1323 1323";
    const std::string here = decodeCodeField(field);
    std::string there;
    std::thread([&] { there = decodeCodeField(field); }).join();
    EXPECT_EQ(there, here);
}

}  // namespace
