#include "Quillwick/launchd/LaunchctlOutput.h"

#include "helperkit/Text.h"

#include <charconv>

namespace qw::LaunchctlOutput {

namespace {

std::string_view trimBlanks(std::string_view s) { return Text::trimmed(s); }

std::string cleanKey(std::string_view key) {
    key = trimBlanks(key);
    if (key.size() >= 2 && key.front() == '"' && key.back() == '"') key = key.substr(1, key.size() - 2);
    return std::string(key);
}

void combine(std::size_t& seed, std::size_t value) {
    seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

// One trimmed, non-empty line that is not "}", split the way the parser reads it.
struct SplitLine {
    bool isEntry = false;
    std::string_view key;
    Separator separator = Separator::equals;
    std::string_view value;
};

SplitLine split(std::string_view line) {
    SplitLine result;
    auto at = line.find(" => ");
    std::size_t width = 4;
    result.separator = Separator::arrow;
    if (at == std::string_view::npos) {
        at = line.find(" = ");
        width = 3;
        result.separator = Separator::equals;
    }
    if (at != std::string_view::npos) {
        result.isEntry = true;
        result.key = line.substr(0, at);
        result.value = line.substr(at + width);
        return result;
    }
    if (line.ends_with(" =")) {
        result.isEntry = true;
        result.key = line.substr(0, line.size() - 2);
        result.separator = Separator::equals;
    } else if (line.ends_with(" =>")) {
        result.isEntry = true;
        result.key = line.substr(0, line.size() - 3);
        result.separator = Separator::arrow;
    }
    return result;
}

// The lines of a parse, with the rest of a line that held more than one entry (see splitDataValue)
// waiting to be read as the next line.
struct Reader {
    const std::vector<std::string_view>& lines;
    std::size_t& index;
    std::optional<std::string_view> pending;

    bool next(std::string_view& line) {
        if (pending) {
            line = *pending;
            pending.reset();
            return true;
        }
        if (index >= lines.size()) return false;
        line = lines[index++];
        return true;
    }
};

std::size_t leadingTabs(std::string_view line) {
    const auto end = line.find_first_not_of('\t');
    return end == std::string_view::npos ? line.size() : end;
}

// launchd prints a data value as nothing and goes straight on with the next line's indentation, so
// one line can hold an entry, its siblings and its block's closing "}". A value that is exactly the
// line's own indentation and then an entry, or one tab less and then "}", is that; the entry keeps an
// empty value and the rest is the next line.
std::optional<std::string_view> splitDataValue(std::string_view value, std::size_t indentation) {
    const auto tabs = leadingTabs(value);
    if (tabs == 0 || tabs == value.size()) return std::nullopt;
    const auto rest = value.substr(tabs);
    if (tabs + 1 == indentation && trimBlanks(rest) == "}") return value;
    if (tabs == indentation && split(trimBlanks(rest)).isEntry) return value;
    return std::nullopt;
}

// The arguments block holds each argument raw, one a line, one level deeper than the block: read by
// that indentation, an argument may hold anything, "}" and " = " included.
Block readArguments(Reader& reader, std::string_view opening, int depth) {
    const auto indent = opening.substr(0, opening.find_first_not_of(" \t"));
    std::string prefix(indent);
    if (indent.find(' ') == std::string_view::npos)
        prefix += '\t';
    else
        prefix.append(depth > 0 ? indent.size() / static_cast<std::size_t>(depth) : indent.size(), ' ');

    Block block;
    std::string_view line;
    while (reader.next(line)) {
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.starts_with(prefix)) {
            block.items.emplace_back(line.substr(prefix.size()));
            continue;
        }
        // Less indented: the closing brace, or text not laid out as launchd lays it, read as before.
        const auto trimmed = trimBlanks(line);
        if (trimmed == "}") return block;
        if (!trimmed.empty()) block.items.emplace_back(trimmed);
    }
    return block;
}

// Reads past a block nested too deeply to keep, iteratively, consuming its closing "}".
void skipBlock(Reader& reader) {
    std::size_t open = 1;
    std::string_view raw;
    while (reader.next(raw)) {
        const auto line = trimBlanks(raw);
        if (line.empty()) continue;
        if (line == "}") {
            if (--open == 0) return;
            continue;
        }
        const auto parts = split(line);
        if (!parts.isEntry) continue;
        if (parts.value == "{") {
            ++open;
        } else if (const auto rest = splitDataValue(parts.value, leadingTabs(raw))) {
            reader.pending = rest;
        }
    }
}

Block readBlock(Reader& reader, int depth) {
    Block block;
    std::string_view raw;
    while (reader.next(raw)) {
        const auto line = trimBlanks(raw);
        if (line.empty()) continue;
        if (line == "}") return block;
        const auto parts = split(line);
        if (!parts.isEntry) {
            block.items.emplace_back(line);
            continue;
        }
        Entry entry;
        entry.key = cleanKey(parts.key);
        entry.separator = parts.separator;
        if (parts.value == "{") {
            if (depth >= kMaxDepth) {
                skipBlock(reader);
                entry.value = Value::block(Block());
            } else if (entry.key == "arguments" && parts.separator == Separator::equals) {
                entry.value = Value::block(readArguments(reader, raw, depth));
            } else {
                entry.value = Value::block(readBlock(reader, depth + 1));
            }
        } else if (const auto rest = splitDataValue(parts.value, leadingTabs(raw))) {
            reader.pending = rest;
            entry.value = Value::scalar(std::string());
        } else {
            entry.value = Value::scalar(std::string(parts.value));
        }
        block.entries.push_back(std::move(entry));
    }
    return block;
}

}  // namespace

Block parseBlock(const std::vector<std::string_view>& lines, std::size_t& index, int depth) {
    Reader reader{lines, index, std::nullopt};
    return readBlock(reader, depth);
}

Block parse(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (true) {
        const auto end = text.find('\n', start);
        if (end == std::string_view::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    std::size_t index = 0;
    return parseBlock(lines, index, 0);
}

std::optional<Block> parseService(std::string_view text) {
    auto top = parse(text);
    if (top.entries.empty()) return std::nullopt;
    auto& first = top.entries.front();
    if (const auto* inner = first.value.blockValue()) return *inner;
    return std::nullopt;
}

std::optional<std::int64_t> integerPrefix(std::string_view text) {
    std::size_t length = 0;
    while (length < text.size() && ((text[length] >= '0' && text[length] <= '9') || text[length] == '-')) ++length;
    if (length == 0) return std::nullopt;
    const char* begin = text.data();
    const char* end = begin + length;
    std::int64_t value = 0;
    const auto [ptr, ec] = std::from_chars(begin, end, value);
    if (ec != std::errc() || ptr != end) return std::nullopt;
    return value;
}

const Value* Block::value(std::string_view key) const {
    for (const auto& entry : entries)
        if (entry.key == key) return &entry.value;
    return nullptr;
}

std::optional<std::string> Block::string(std::string_view key) const {
    const auto* v = value(key);
    if (!v || !v->isScalar()) return std::nullopt;
    return *v->scalarText();
}

const Block* Block::block(std::string_view key) const {
    const auto* v = value(key);
    return v ? v->blockValue() : nullptr;
}

std::vector<std::string> Block::itemList(std::string_view key) const {
    const auto* b = block(key);
    return b ? b->items : std::vector<std::string>();
}

std::map<std::string, std::string> Block::dictionary(std::string_view key) const {
    std::map<std::string, std::string> result;
    const auto* b = block(key);
    if (!b) return result;
    for (const auto& entry : b->entries)
        if (const auto* text = entry.value.scalarText()) result[entry.key] = *text;
    return result;
}

std::optional<std::int64_t> Block::integer(std::string_view key) const {
    const auto* v = value(key);
    if (!v || !v->isScalar()) return std::nullopt;
    return integerPrefix(*v->scalarText());
}

Value::Value() = default;
Value::Value(const Value& other)
    : text_(other.text_), block_(other.block_ ? std::make_unique<Block>(*other.block_) : nullptr) {}
Value::Value(Value&& other) noexcept = default;
Value& Value::operator=(const Value& other) {
    if (this != &other) *this = Value(other);
    return *this;
}
Value& Value::operator=(Value&& other) noexcept = default;
Value::~Value() = default;

Value Value::scalar(std::string text) {
    Value v;
    v.text_ = std::move(text);
    return v;
}

Value Value::block(Block block) {
    Value v;
    v.block_ = std::make_unique<Block>(std::move(block));
    return v;
}

bool Value::operator==(const Value& other) const {
    if (isBlock() != other.isBlock()) return false;
    return block_ ? *block_ == *other.block_ : text_ == other.text_;
}

std::size_t Block::hash() const {
    std::size_t seed = entries.size();
    for (const auto& entry : entries) combine(seed, entry.hash());
    combine(seed, items.size());
    for (const auto& item : items) combine(seed, std::hash<std::string>()(item));
    return seed;
}

std::size_t Value::hash() const {
    std::size_t seed = isBlock() ? 1 : 0;
    if (const auto* text = scalarText())
        combine(seed, std::hash<std::string>()(*text));
    else
        combine(seed, blockValue()->hash());
    return seed;
}

std::size_t Entry::hash() const {
    std::size_t seed = std::hash<std::string>()(key);
    combine(seed, static_cast<std::size_t>(separator));
    combine(seed, value.hash());
    return seed;
}

}  // namespace qw::LaunchctlOutput
