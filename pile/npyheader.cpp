#include "npyheader.h"

#include <cctype>
#include <map>
#include <optional>

namespace {

// Python's parser refuses deeper nesting than this anyway.
constexpr int MAX_DEPTH = 100;

// A Python literal, as far as the header needs it.
struct Value {
    enum Kind { String, Integer, Boolean, Tuple, Other };
    explicit Value(Kind kind = Other, bool flag = false) : kind(kind), flag(flag) {}
    Kind kind;
    std::string text;                 // String
    std::optional<std::uint64_t> number;   // Integer: its value when it is from 0 to 2^64 - 1
    bool flag;                        // Boolean
    std::vector<Value> items;         // Tuple
    std::map<std::string, Value> entries;   // a dict's string keys, the last value of each
    bool isDict = false, otherKeys = false;
};

class Parser
{
public:
    Parser(const std::string &text, bool longSuffix) : text(text), longSuffix(longSuffix) {}

    Value document()
    {
        Value value = literal(0);
        skipSpace();
        if (at < text.size())
            fail();
        return value;
    }

private:
    const std::string &text;
    const bool longSuffix;
    std::size_t at = 0;

    [[noreturn]] static void fail() { throw NpyHeader::Malformed("its header is not a Python literal"); }

    char peek() const { return at < text.size() ? text[at] : '\0'; }

    void skipSpace()
    {
        while (at < text.size()) {
            const char c = text[at];
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f')
                ++at;
            else if (c == '\\' && at + 1 < text.size() && text[at + 1] == '\n')
                at += 2;
            else if (c == '#')
                while (at < text.size() && text[at] != '\n')
                    ++at;
            else
                break;
        }
    }

    Value literal(int depth)
    {
        if (depth > MAX_DEPTH)
            throw NpyHeader::Malformed("its header nests too deeply");
        skipSpace();
        const char c = peek();
        if (c == '{')
            return dict(depth);
        if (c == '(' || c == '[')
            return sequence(depth);
        if (c == '\'' || c == '"') {
            Value value(Value::String);
            while (peek() == '\'' || peek() == '"') {   // adjacent strings join
                value.text += string();
                skipSpace();
            }
            return value;
        }
        if (c == '+' || c == '-') {
            ++at;
            Value value = literal(depth + 1);
            if (value.kind != Value::Integer)
                fail();
            if (c == '-' && value.number != std::uint64_t(0))
                value.number.reset();   // below 0: no shape
            return value;
        }
        if (c >= '0' && c <= '9')
            return integer();
        const std::string name = word();
        if (name == "True" || name == "False")
            return Value(Value::Boolean, name == "True");
        if (name == "None")
            return Value();
        fail();
    }

    std::string word()
    {
        const std::size_t start = at;
        while (std::isalnum(static_cast<unsigned char>(peek())) || peek() == '_' || peek() == '.')
            ++at;
        return text.substr(start, at - start);
    }

    Value integer()
    {
        std::string token = word();
        if (longSuffix && !token.empty() && (token.back() == 'L' || token.back() == 'l'))
            token.pop_back();
        int base = 10;
        std::size_t first = 0;
        if (token.size() > 1 && token[0] == '0' && std::isalpha(static_cast<unsigned char>(token[1]))) {
            const char prefix = char(std::tolower(static_cast<unsigned char>(token[1])));
            base = prefix == 'x' ? 16 : prefix == 'o' ? 8 : prefix == 'b' ? 2 : 0;
            first = 2;
            if (base == 0)
                fail();
        }
        Value value(Value::Integer);
        std::uint64_t number = 0;
        bool fits = true, digitBefore = first == 0;
        for (std::size_t i = first; i < token.size(); ++i) {
            const char c = token[i];
            if (c == '_' && digitBefore && i + 1 < token.size() && token[i + 1] != '_') {
                digitBefore = false;
                continue;
            }
            const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                              : std::isxdigit(static_cast<unsigned char>(c)) ? std::tolower(c) - 'a' + 10
                                                                              : base;
            if (digit >= base)
                fail();   // a float, a name, a stray letter
            digitBefore = true;
            if (number > (UINT64_MAX - std::uint64_t(digit)) / std::uint64_t(base))
                fits = false;
            number = number * std::uint64_t(base) + std::uint64_t(digit);
        }
        // Python 3 writes no leading zeros but for zero itself.
        if (!digitBefore || (base == 10 && token.size() > 1 && token[0] == '0' && number != 0))
            fail();
        if (fits)
            value.number = number;
        return value;
    }

    std::string string()
    {
        const char quote = text[at++];
        std::string value;
        for (;;) {
            if (at >= text.size() || text[at] == '\n')
                fail();
            char c = text[at++];
            if (c == quote)
                return value;
            if (c == '\\') {
                if (at >= text.size())
                    fail();
                c = text[at++];
                switch (c) {
                case 'n': c = '\n'; break;
                case 't': c = '\t'; break;
                case 'r': c = '\r'; break;
                case '0': c = '\0'; break;
                case '\\': case '\'': case '"': break;
                case 'x': {
                    if (at + 2 > text.size() || !std::isxdigit(static_cast<unsigned char>(text[at]))
                        || !std::isxdigit(static_cast<unsigned char>(text[at + 1])))
                        fail();
                    c = char(std::stoi(text.substr(at, 2), nullptr, 16));
                    at += 2;
                    break;
                }
                default: fail();
                }
            }
            value += c;
        }
    }

    // A tuple or a list; a parenthesised single value without a comma is
    // that value.
    Value sequence(int depth)
    {
        const char close = text[at++] == '(' ? ')' : ']';
        Value value(close == ')' ? Value::Tuple : Value::Other);
        bool comma = false;
        for (;;) {
            skipSpace();
            if (peek() == close) {
                ++at;
                break;
            }
            value.items.push_back(literal(depth + 1));
            skipSpace();
            if (peek() == ',') {
                ++at;
                comma = true;
            } else if (peek() != close) {
                fail();
            }
        }
        if (close == ')' && value.items.size() == 1 && !comma)
            return value.items.front();
        return value;
    }

    Value dict(int depth)
    {
        ++at;
        Value value;
        value.isDict = true;
        for (;;) {
            skipSpace();
            if (peek() == '}') {
                ++at;
                return value;
            }
            Value key = literal(depth + 1);
            skipSpace();
            if (peek() != ':')
                fail();
            ++at;
            Value item = literal(depth + 1);
            if (key.kind == Value::String)
                value.entries[key.text] = std::move(item);
            else
                value.otherKeys = true;
            skipSpace();
            if (peek() == ',')
                ++at;
            else if (peek() != '}')
                fail();
        }
    }
};

// The integer types NumPy's names and codes stand for, on Linux.
void readType(const std::string &descr, NpyHeader &header)
{
    static const std::map<std::string, std::pair<char, std::size_t>> types{
        {"i1", {'i', 1}}, {"i2", {'i', 2}}, {"i4", {'i', 4}}, {"i8", {'i', 8}},
        {"u1", {'u', 1}}, {"u2", {'u', 2}}, {"u4", {'u', 4}}, {"u8", {'u', 8}},
        {"b1", {'b', 1}}, {"?", {'b', 1}},
        {"b", {'i', 1}}, {"h", {'i', 2}}, {"i", {'i', 4}}, {"l", {'i', 8}}, {"q", {'i', 8}}, {"p", {'i', 8}},
        {"B", {'u', 1}}, {"H", {'u', 2}}, {"I", {'u', 4}}, {"L", {'u', 8}}, {"Q", {'u', 8}}, {"P", {'u', 8}},
        {"int8", {'i', 1}}, {"int16", {'i', 2}}, {"int32", {'i', 4}}, {"int64", {'i', 8}},
        {"uint8", {'u', 1}}, {"uint16", {'u', 2}}, {"uint32", {'u', 4}}, {"uint64", {'u', 8}},
        {"bool", {'b', 1}},
    };
    std::string code = descr;
    char order = '=';
    if (!code.empty() && std::string("<>|=").find(code.front()) != std::string::npos) {
        order = code.front();
        code.erase(0, 1);
    }
    const auto found = types.find(code);
    // NumPy takes a byte order before a code, not before a name.
    const bool name = code.size() > 2;
    if (found == types.end() || (name && code.size() != descr.size()))
        throw NpyHeader::Malformed("its elements are not integers");
    header.kind = found->second.first;
    header.itemBytes = found->second.second;
    header.bigEndian = order == '>' && header.itemBytes > 1;
}

} // namespace

NpyHeader NpyHeader::parse(const std::string &text, int major)
{
    if (text.size() > MAX_LENGTH)
        throw Malformed("its header is longer than the " + std::to_string(MAX_LENGTH) + " bytes NumPy reads");
    const Value value = Parser(text, major <= 2).document();
    if (!value.isDict)
        throw Malformed("its header is not a dictionary");
    if (value.otherKeys || value.entries.size() != 3 || !value.entries.count("descr")
        || !value.entries.count("fortran_order") || !value.entries.count("shape"))
        throw Malformed("its header's keys are not exactly 'descr', 'fortran_order' and 'shape'");
    NpyHeader header;
    const Value &shape = value.entries.at("shape");
    if (shape.kind != Value::Tuple)
        throw Malformed("its shape is not a tuple of whole numbers");
    for (const Value &side : shape.items) {
        if (side.kind != Value::Integer)
            throw Malformed("its shape is not a tuple of whole numbers");
        if (!side.number)
            throw Malformed("its shape is below 0 or too large");
        header.shape.push_back(*side.number);
    }
    const Value &fortran = value.entries.at("fortran_order");
    if (fortran.kind != Value::Boolean)
        throw Malformed("its 'fortran_order' is neither True nor False");
    header.fortranOrder = fortran.flag;
    const Value &descr = value.entries.at("descr");
    if (descr.kind != Value::String)
        throw Malformed("its elements are not integers");
    readType(descr.text, header);
    return header;
}
