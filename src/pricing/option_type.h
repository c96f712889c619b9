// The option type, call or put, and how its text is read. Nothing here knows
// about Python: the binding reads the text and refuses it with the message
// below.
#pragma once

#include <optional>
#include <string_view>

namespace velarix {

enum class OptionType { Call, Put };

// The message of a refused option-type text. It reaches Python unchanged and
// callers match on it: a compatibility text, to be kept as it is.
inline constexpr std::string_view kInvalidOptionTypeMessage = "Invalid option type. Use 'call' or 'put'.";

// Reads "c", "call", "p" or "put" in any mixture of letter case; anything else
// (blanks, prefixes, look-alike letters, the empty text) gives nothing.
std::optional<OptionType> parse_option_type(std::string_view text);

}  // namespace velarix
