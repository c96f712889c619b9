// Decoding the elements of a numpy str array. See option_type_words.h.
#include "option_type_words.h"

#include <bit>
#include <cstdint>
#include <string_view>

namespace velarix {

std::optional<OptionType> parse_ucs4(const char* element, std::size_t units, bool swapped) {
    std::array<char, 4> ascii{};
    std::size_t length = 0;
    for (std::size_t i = 0; i < units; ++i) {
        std::uint32_t unit = 0;
        std::memcpy(&unit, element + i * kCodeUnitBytes, kCodeUnitBytes);
        if (unit == 0) {
            // Padding only if nothing but NUL follows; a NUL inside is text.
            for (std::size_t rest = i + 1; rest < units; ++rest) {
                std::memcpy(&unit, element + rest * kCodeUnitBytes, kCodeUnitBytes);
                if (unit != 0) {
                    return std::nullopt;
                }
            }
            break;
        }
        if (swapped) {
            unit = (unit >> 24) | ((unit >> 8) & 0xFF00U) | ((unit << 8) & 0xFF0000U) | (unit << 24);
        }
        if (unit > 0x7F || length == ascii.size()) {
            return std::nullopt;
        }
        ascii[length++] = static_cast<char>(unit);
    }
    return parse_option_type(std::string_view(ascii.data(), length));
}

bool swapped_byte_order(const char* format) {
    const bool little = std::endian::native == std::endian::little;
    return (format[0] == '>' || format[0] == '!') ? little : (format[0] == '<' && !little);
}

}  // namespace velarix
