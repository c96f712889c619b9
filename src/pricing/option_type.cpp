// Reading the option-type text.
#include "option_type.h"

#include <array>
#include <cstddef>

namespace velarix {

std::optional<OptionType> parse_option_type(std::string_view text) {
    // No character outside ASCII lower-cases to one of the letters of the
    // accepted words, so folding A-Z alone accepts exactly what the full
    // Unicode lower-case mapping would. Longer texts can never match, which
    // keeps the folded copy in a small buffer on the stack.
    constexpr std::size_t kLongestWord = 4;
    if (text.size() > kLongestWord) {
        return std::nullopt;
    }
    std::array<char, kLongestWord> folded{};
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        folded[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    const std::string_view lowered(folded.data(), text.size());
    if (lowered == "c" || lowered == "call") {
        return OptionType::Call;
    }
    if (lowered == "p" || lowered == "put") {
        return OptionType::Put;
    }
    return std::nullopt;
}

}  // namespace velarix
