#include "helperkit/Base64.h"

#include <array>

namespace qw::Base64 {
namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::uint8_t invalid = 0xFF;
constexpr std::uint8_t padding = 0xFE;
constexpr std::uint8_t space = 0xFD;

constexpr std::array<std::uint8_t, 256> makeTable() {
    std::array<std::uint8_t, 256> table{};
    for (auto& entry : table) entry = invalid;
    for (std::uint8_t i = 0; i < 64; ++i) table[static_cast<unsigned char>(alphabet[i])] = i;
    table['='] = padding;
    for (char c : {' ', '\t', '\n', '\r', '\f', '\v'}) table[static_cast<unsigned char>(c)] = space;
    return table;
}

constexpr auto table = makeTable();

std::optional<std::vector<std::uint8_t>> decodeImpl(std::string_view text, bool skipSpace) {
    std::vector<std::uint8_t> out;
    out.reserve(text.size() / 4 * 3 + 3);
    std::uint32_t quad = 0;
    int count = 0;     // sextets in the current quantum
    int pad = 0;       // '=' seen; after padding only more '=' (and, when lenient, white space) may follow
    for (unsigned char c : text) {
        std::uint8_t v = table[c];
        if (v == space) {
            if (skipSpace) continue;
            return std::nullopt;
        }
        if (v == invalid) return std::nullopt;
        if (v == padding) {
            // padding only completes a quantum holding two or three sextets
            if (count + pad < 2) return std::nullopt;
            ++pad;
            if (count + pad > 4) return std::nullopt;
            if (count + pad == 4) {
                if (count == 2) {
                    if (!skipSpace && (quad & 0xF)) return std::nullopt;  // stray low bits: not canonical
                    out.push_back(static_cast<std::uint8_t>(quad >> 4));
                } else {
                    if (!skipSpace && (quad & 0x3)) return std::nullopt;
                    out.push_back(static_cast<std::uint8_t>(quad >> 10));
                    out.push_back(static_cast<std::uint8_t>(quad >> 2));
                }
                count = 0;
                quad = 0;
                pad = -1;  // marks "finished"
            }
            continue;
        }
        if (pad != 0) return std::nullopt;  // data after padding
        quad = (quad << 6) | v;
        if (++count == 4) {
            out.push_back(static_cast<std::uint8_t>(quad >> 16));
            out.push_back(static_cast<std::uint8_t>(quad >> 8));
            out.push_back(static_cast<std::uint8_t>(quad));
            quad = 0;
            count = 0;
        }
    }
    if (count != 0 || pad > 0) return std::nullopt;
    return out;
}

}  // namespace

std::string encode(const std::uint8_t* bytes, std::size_t size) {
    std::string out;
    out.resize((size + 2) / 3 * 4);
    char* o = out.data();
    std::size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        std::uint32_t n = (std::uint32_t(bytes[i]) << 16) | (std::uint32_t(bytes[i + 1]) << 8) | bytes[i + 2];
        *o++ = alphabet[(n >> 18) & 63];
        *o++ = alphabet[(n >> 12) & 63];
        *o++ = alphabet[(n >> 6) & 63];
        *o++ = alphabet[n & 63];
    }
    if (std::size_t rest = size - i; rest > 0) {
        std::uint32_t n = std::uint32_t(bytes[i]) << 16;
        if (rest == 2) n |= std::uint32_t(bytes[i + 1]) << 8;
        *o++ = alphabet[(n >> 18) & 63];
        *o++ = alphabet[(n >> 12) & 63];
        *o++ = rest == 2 ? alphabet[(n >> 6) & 63] : '=';
        *o++ = '=';
    }
    return out;
}

std::optional<std::vector<std::uint8_t>> decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    return decodeImpl(text, false);
}

std::optional<std::vector<std::uint8_t>> decodeIgnoringWhitespace(std::string_view text) {
    return decodeImpl(text, true);
}

}  // namespace qw::Base64
