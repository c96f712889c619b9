// The words of a numpy str array, read without the interpreter: each
// element's UCS-4 code units decoded to ASCII, and the words found so far
// kept by their bytes, since a column repeats a few words.
#pragma once

#include <array>
#include <cstddef>
#include <cstring>
#include <optional>

#include "option_type.h"

namespace velarix {

inline constexpr std::size_t kCodeUnitBytes = 4;  // numpy's str arrays hold UCS-4

// One element of a numpy str array: `units` UCS-4 code units, padded with
// NUL. numpy itself strips that padding when it makes the element a str, so
// the element is the text without its trailing NULs; the words are ASCII, so
// any other character refuses it.
std::optional<OptionType> parse_ucs4(const char* element, std::size_t units, bool swapped);

// Whether a buffer format's byte-order prefix is the opposite of this machine's.
bool swapped_byte_order(const char* format);

// The words of a str array found so far, by their bytes: a column repeats a
// few words, and comparing an element's bytes with theirs is faster than
// reading it again (a million words: 17 ms read one by one, 5.6 ms with the
// known words; benchmarks/batch.py). Elements longer than kLongestKey bytes,
// which hold no word but with NUL padding, are read one by one.
class KnownWords {
public:
    static constexpr std::size_t kLongestKey = 32;

    explicit KnownWords(std::size_t key_size) : key_size_(key_size <= kLongestKey ? key_size : 0) {}

    std::optional<OptionType> find(const char* key) const {
        // A length known when compiling turns each comparison into a few
        // loads instead of a call to memcmp: a million "call"/"put" elements
        // read in 1.2 ms instead of 5.6 ms.
        switch (key_size_) {
            case 4: return find_sized<4>(key);
            case 8: return find_sized<8>(key);
            case 12: return find_sized<12>(key);
            case 16: return find_sized<16>(key);
            case 20: return find_sized<20>(key);
            case 24: return find_sized<24>(key);
            case 28: return find_sized<28>(key);
            case 32: return find_sized<32>(key);
            default: return std::nullopt;
        }
    }

    void remember(const char* key, OptionType type) {
        if (key_size_ == 0) {
            return;
        }
        const std::size_t slot = count_ < keys_.size() ? count_++ : next_++ % keys_.size();
        std::memcpy(keys_[slot].data(), key, key_size_);
        types_[slot] = type;
    }

private:
    template <std::size_t Size>
    std::optional<OptionType> find_sized(const char* key) const {
        for (std::size_t i = 0; i < count_; ++i) {
            if (std::memcmp(keys_[i].data(), key, Size) == 0) {
                return types_[i];
            }
        }
        return std::nullopt;
    }

    std::size_t key_size_;
    std::size_t count_ = 0;
    std::size_t next_ = 0;
    std::array<std::array<char, kLongestKey>, 4> keys_{};
    std::array<OptionType, 4> types_{};
};

}  // namespace velarix
