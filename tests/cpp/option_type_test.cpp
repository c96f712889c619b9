// Reading the option-type text: the accepted words in any letter case, and
// the texts that only look like them; and the fixed refusal message.
#include "option_type.h"

#include <string>

#include <gtest/gtest.h>

using velarix::OptionType;
using velarix::parse_option_type;

class AcceptedWord : public ::testing::TestWithParam<std::pair<const char*, OptionType>> {};

TEST_P(AcceptedWord, ParsesInAnyLetterCase) {
    const auto [text, expected] = GetParam();
    EXPECT_EQ(parse_option_type(text), expected);
}

INSTANTIATE_TEST_SUITE_P(Words, AcceptedWord,
                         ::testing::Values(std::pair{"call", OptionType::Call}, std::pair{"CALL", OptionType::Call},
                                           std::pair{"Call", OptionType::Call}, std::pair{"cAlL", OptionType::Call},
                                           std::pair{"c", OptionType::Call}, std::pair{"C", OptionType::Call},
                                           std::pair{"put", OptionType::Put}, std::pair{"PUT", OptionType::Put},
                                           std::pair{"pUt", OptionType::Put}, std::pair{"p", OptionType::Put},
                                           std::pair{"P", OptionType::Put}));

class RefusedWord : public ::testing::TestWithParam<std::string> {};

TEST_P(RefusedWord, IsNotAnOptionType) { EXPECT_EQ(parse_option_type(GetParam()), std::nullopt); }

INSTANTIATE_TEST_SUITE_P(
    Texts, RefusedWord,
    ::testing::Values("", " call", "call ", "call\n", "\tput", "ca ll", "calls", "puts", "ca", "cal", "pu", "x",
                      "straddle", "callput", std::string("call\0", 5), "\xEF\xBD\x83" "all" /* full-width c */,
                      "\xC4\x8B" "all" /* c with dot above */, "\xE2\x84\x82" "ALL" /* double-struck C */));

TEST(InvalidOptionTypeMessage, IsFixed) {
    EXPECT_EQ(velarix::kInvalidOptionTypeMessage, "Invalid option type. Use 'call' or 'put'.");
    EXPECT_EQ(velarix::kInvalidOptionTypeMessage.size(), 41u);
}
