// Binary property lists (bplist00). Every offset, count, length and reference is checked against the
// file before it is used; references may be shared but not circular, and the total work is bounded by
// the input's size so that shared containers cannot multiply into an exponential tree.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <optional>
#include <tuple>

#include "helperkit/detail/PlistFormats.h"

namespace qw::detail {
namespace {

[[noreturn]] void fail(const std::string& message) { throw PlistParseError(message); }

class BinaryReader {
public:
    explicit BinaryReader(std::string_view bytes) : b_(bytes) {}

    PlistCodec::Parsed read() {
        constexpr std::size_t headerSize = 8, trailerSize = 32;
        if (b_.size() < headerSize + 1 + trailerSize) fail("The binary property list is truncated.");
        const std::size_t trailer = b_.size() - trailerSize;
        offsetSize_ = byte(trailer + 6);
        refSize_ = byte(trailer + 7);
        objectCount_ = uint(trailer + 8, 8);
        const std::uint64_t top = uint(trailer + 16, 8);
        tableOffset_ = uint(trailer + 24, 8);
        if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8)
            fail("The binary property list's trailer is damaged.");
        if (objectCount_ < 1 || top >= objectCount_) fail("The binary property list has no top object.");
        if (refSize_ < 8 && objectCount_ > (std::uint64_t(1) << (8 * refSize_)))
            fail("The binary property list has more objects than its references can reach.");
        if (tableOffset_ < headerSize + 1 || tableOffset_ > trailer ||
            objectCount_ > (trailer - tableOffset_) / offsetSize_)
            fail("The binary property list's offset table lies outside the file.");
        // Job files have a few dozen objects: their marks fit on the stack.
        if (objectCount_ <= smallActive_.size()) {
            active_ = smallActive_.data();
            std::fill_n(active_, objectCount_, std::uint8_t(0));
        } else {
            largeActive_.assign(objectCount_, 0);
            active_ = largeActive_.data();
        }
        // Readers of ordinary files stay far below these; shared containers in a hostile file do not.
        objectBudget_ = 2 * std::uint64_t(b_.size()) + 64;
        byteBudget_ = 16 * std::uint64_t(b_.size()) + (16u << 20);
        std::optional<PlistValue> value;
        if (!object(top, 0, [&](auto&&... args) { value.emplace(std::forward<decltype(args)>(args)...); }))
            return {PlistValue(), PlistFormat::binary, true};
        return {std::move(*value), PlistFormat::binary};
    }

private:
    std::uint8_t byte(std::uint64_t pos) const { return static_cast<std::uint8_t>(b_[pos]); }

    template <unsigned N>
    std::uint64_t uintOf(std::uint64_t pos) const {
        const auto* p = reinterpret_cast<const unsigned char*>(b_.data() + pos);
        std::uint64_t v = 0;
        for (unsigned i = 0; i < N; ++i) v = (v << 8) | p[i];
        return v;
    }

    // Big-endian unsigned of n bytes; the caller has checked the bounds. The usual widths unrolled.
    std::uint64_t uint(std::uint64_t pos, unsigned n) const {
        switch (n) {
            case 1: return byte(pos);
            case 2: return uintOf<2>(pos);
            case 4: return uintOf<4>(pos);
            case 8: return uintOf<8>(pos);
        }
        std::uint64_t v = 0;
        for (unsigned i = 0; i < n; ++i) v = (v << 8) | byte(pos + i);
        return v;
    }

    // Room for `count` items of `size` bytes at `pos`, inside the object area.
    void need(std::uint64_t pos, std::uint64_t count, std::uint64_t size = 1) const {
        if (pos > tableOffset_ || count > (tableOffset_ - pos) / size)
            fail("An object of the binary property list runs past its end.");
    }

    void spend(std::uint64_t bytes) {
        if (--objectBudget_ == 0 || bytes > byteBudget_)
            fail("The binary property list expands to more objects than its size allows.");
        byteBudget_ -= bytes;
    }

    // The count in a marker's low nibble, or in the integer that follows it; advances pos past it.
    std::uint64_t count(std::uint64_t& pos, unsigned info) const {
        if (info != 0xF) return info;
        need(pos, 1);
        const std::uint8_t marker = byte(pos++);
        if ((marker & 0xF0) != 0x10 || (marker & 0x0F) > 3) fail("A count in the binary property list is damaged.");
        const unsigned n = 1u << (marker & 0x0F);
        need(pos, n);
        const std::uint64_t c = uint(pos, n);
        pos += n;
        return c;
    }

    std::uint64_t offsetOf(std::uint64_t ref) const {
        if (ref >= objectCount_) fail("A reference in the binary property list points at no object.");
        const std::uint64_t offset = uint(tableOffset_ + ref * offsetSize_, offsetSize_);
        if (offset < 8 || offset >= tableOffset_) fail("An object offset of the binary property list lies outside it.");
        return offset;
    }

    static bool isAscii(const char* p, std::uint64_t n) {
        std::uint64_t i = 0;
        for (; i + 8 <= n; i += 8) {
            std::uint64_t word;
            std::memcpy(&word, p + i, 8);
            if (word & 0x8080808080808080ull) return false;
        }
        for (; i < n; ++i)
            if (static_cast<unsigned char>(p[i]) >= 0x80) return false;
        return true;
    }

    // The text of a string object at `pos` (past its marker): a view into the file when it is ASCII,
    // else converted into `storage`.
    std::string_view text(std::uint64_t pos, unsigned type, unsigned info, std::string& storage) {
        const std::uint64_t n = count(pos, info);
        const char* p = b_.data() + pos;
        if (type == 0x5) {
            need(pos, n);
            spend(n);
            if (isAscii(p, n)) return std::string_view(p, n);
            // Not ASCII after all: read the bytes as Latin-1.
            storage.reserve(2 * n);
            for (std::uint64_t i = 0; i < n; ++i) appendUtf8(storage, static_cast<unsigned char>(p[i]));
            return storage;
        }
        need(pos, n, 2);
        spend(3 * n);
        std::u16string units(n, u'\0');
        for (std::uint64_t i = 0; i < n; ++i) units[i] = static_cast<char16_t>(uintOf<2>(pos + 2 * i));
        storage.reserve(n);
        appendUtf16(storage, units.data(), units.size());
        return storage;
    }

    // Builds the value of object `ref` in its container's place through `place(args...)`, which
    // constructs a PlistValue from the arguments; false, with nothing placed, for objects of no
    // property-list kind (null, UID).
    template <typename Place>
    bool object(std::uint64_t ref, int depth, Place&& place) {
        std::uint64_t pos = offsetOf(ref);
        const std::uint8_t marker = byte(pos++);
        const unsigned info = marker & 0x0F;
        spend(0);
        switch (marker >> 4) {
            case 0x0:
                if (marker == 0x08 || marker == 0x09) {
                    place(marker == 0x09);
                    return true;
                }
                if (marker == 0x00) return false;
                break;
            case 0x1: place(integer(pos, info)); return true;
            case 0x2:
                if (info == 2) {
                    need(pos, 4);
                    place(double(std::bit_cast<float>(std::uint32_t(uintOf<4>(pos)))));
                    return true;
                }
                if (info == 3) {
                    need(pos, 8);
                    place(std::bit_cast<double>(uintOf<8>(pos)));
                    return true;
                }
                break;
            case 0x3:
                if (info == 3) {
                    need(pos, 8);
                    place(PlistDate{std::bit_cast<double>(uintOf<8>(pos))});
                    return true;
                }
                break;
            case 0x4: {
                const std::uint64_t n = count(pos, info);
                need(pos, n);
                spend(n);
                const auto* p = reinterpret_cast<const std::uint8_t*>(b_.data() + pos);
                place(PlistData(p, p + n));
                return true;
            }
            case 0x5:
            case 0x6: {
                std::string storage;
                const std::string_view s = text(pos, marker >> 4, info, storage);
                if (s.data() == storage.data()) place(std::move(storage));
                else place(s);
                return true;
            }
            case 0x8: need(pos, info + 1); return false;
            case 0xA: place(array(ref, pos, info, depth + 1)); return true;
            case 0xC:
                // Not one of our kinds, and leaving it out would lose its members without a word.
                fail("The binary property list holds a set, which is not one of the property-list kinds.");
            case 0xD: place(dictionary(ref, pos, info, depth + 1)); return true;
        }
        fail("The binary property list holds an object of unknown type.");
    }

    PlistValue integer(std::uint64_t pos, unsigned info) const {
        if (info > 4) fail("An integer of the binary property list has an unknown size.");
        const unsigned n = 1u << info;
        need(pos, n);
        if (n < 16) return PlistValue(static_cast<std::int64_t>(uint(pos, n)));  // 8 bytes are signed
        // Sixteen bytes: unsigned up to 2^64-1 as the platform reads them, or a sign-extended negative
        // value; what lies beyond those we cannot keep without changing it.
        const std::uint64_t high = uintOf<8>(pos), low = uintOf<8>(pos + 8);
        if (high == 0) return PlistValue(low);
        if (high == ~std::uint64_t(0) && low >= (std::uint64_t(1) << 63)) return PlistValue(static_cast<std::int64_t>(low));
        fail("An integer of the binary property list lies outside the 64-bit range.");
    }

    void enter(std::uint64_t ref, int depth) {
        if (depth > PlistCodec::maxDepth) fail("The binary property list is nested too deeply.");
        if (active_[ref]) fail("The binary property list contains itself.");
        active_[ref] = 1;
    }

    PlistValue array(std::uint64_t ref, std::uint64_t pos, unsigned info, int depth) {
        const std::uint64_t n = count(pos, info);
        need(pos, n, refSize_);
        enter(ref, depth);
        PlistArray items;
        items.reserve(n);
        for (std::uint64_t i = 0; i < n; ++i)
            object(uint(pos + i * refSize_, refSize_), depth,
                   [&](auto&&... args) { items.emplace_back(std::forward<decltype(args)>(args)...); });
        active_[ref] = 0;
        return PlistValue(std::move(items));
    }

    PlistValue dictionary(std::uint64_t ref, std::uint64_t pos, unsigned info, int depth) {
        const std::uint64_t n = count(pos, info);
        if (n > std::numeric_limits<std::uint64_t>::max() / 2) fail("A dictionary of the binary property list is damaged.");
        need(pos, 2 * n, refSize_);
        enter(ref, depth);
        std::vector<PlistDictionary::Entry> entries;
        entries.reserve(n);
        std::string storage;
        for (std::uint64_t i = 0; i < n; ++i) {
            // Checked before decoding, so that a container in a key's place is never descended into.
            std::uint64_t keyPos = offsetOf(uint(pos + i * refSize_, refSize_));
            const std::uint8_t keyMarker = byte(keyPos++);
            const unsigned keyType = keyMarker >> 4;
            if (keyType != 0x5 && keyType != 0x6) fail("A dictionary key of the binary property list is not a string.");
            spend(0);
            storage.clear();
            const std::string_view key = text(keyPos, keyType, keyMarker & 0x0F, storage);
            object(uint(pos + (n + i) * refSize_, refSize_), depth, [&](auto&&... args) {
                entries.emplace_back(std::piecewise_construct, std::forward_as_tuple(key),
                                     std::forward_as_tuple(std::forward<decltype(args)>(args)...));
            });
        }
        active_[ref] = 0;
        return PlistValue(PlistDictionary::fromEntries(std::move(entries)));
    }

    std::string_view b_;
    unsigned offsetSize_ = 0, refSize_ = 0;
    std::uint64_t objectCount_ = 0, tableOffset_ = 0;
    std::uint64_t objectBudget_ = 0, byteBudget_ = 0;
    // Marks of the containers being read, against cycles.
    std::uint8_t* active_ = nullptr;
    std::array<std::uint8_t, 512> smallActive_;  // only the first objectCount_ are set
    std::vector<std::uint8_t> largeActive_;
};

}  // namespace

PlistCodec::Parsed readBinaryPlist(std::string_view bytes) { return BinaryReader(bytes).read(); }

}  // namespace qw::detail
