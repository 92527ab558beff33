#include "platform/reg_text.h"

#include <cstdio>

#include "platform/text_encoding.h"

namespace duzez::platform {
namespace {

constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::string_view kRoot = "HKEY_CURRENT_USER";
constexpr std::size_t kHexBytesPerLine = 25;

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

class Parser {
  public:
    Parser(std::string_view text, RegDocument& out, RegParseError& error)
        : text_(text), out_(out), error_(error) {}

    bool Run() {
        out_.keys.clear();
        std::string_view line;
        bool sawHeader = false;
        while (NextLine(line)) {
            const std::string_view trimmed = Trim(line);
            if (trimmed.empty() || trimmed.front() == ';') {
                continue;
            }
            if (!sawHeader) {
                if (trimmed != kHeader5 && trimmed != kHeader4) {
                    return Fail("not a registry file: the first line must be \"" +
                                std::string(kHeader5) + "\"");
                }
                sawHeader = true;
                continue;
            }
            if (trimmed.front() == '[') {
                if (!ParseKey(trimmed))
                    return false;
            } else if (!ParseValueLine(trimmed)) {
                return false;
            }
        }
        if (!sawHeader) {
            return Fail("empty file: no registry header");
        }
        return true;
    }

  private:
    bool NextLine(std::string_view& line) {
        if (pos_ >= text_.size()) {
            return false;
        }
        const std::size_t end = text_.find('\n', pos_);
        const std::size_t stop = end == std::string_view::npos ? text_.size() : end;
        line = text_.substr(pos_, stop - pos_);
        pos_ = stop == text_.size() ? stop : stop + 1;
        ++lineNumber_;
        return true;
    }

    bool Fail(std::string message) {
        error_.line = lineNumber_;
        error_.message = std::move(message);
        return false;
    }

    bool ParseKey(std::string_view line) {
        if (line.back() != ']') {
            return Fail("a key line must end with ']'");
        }
        std::string_view path = line.substr(1, line.size() - 2);
        RegKeyEntry key;
        if (!path.empty() && path.front() == '-') {
            key.remove = true;
            path.remove_prefix(1);
        }
        const std::size_t slash = path.find('\\');
        const std::string_view root = path.substr(0, slash);
        if (!EqualsIgnoreCase(root, kRoot) && !EqualsIgnoreCase(root, "HKCU")) {
            return Fail("only keys under HKEY_CURRENT_USER can be stored, not '" +
                        std::string(root) + "'");
        }
        key.path = slash == std::string_view::npos ? "" : std::string(path.substr(slash + 1));
        if (!key.path.empty() && (key.path.front() == '\\' || key.path.back() == '\\' ||
                                  key.path.find("\\\\") != std::string::npos)) {
            return Fail("empty key name in path");
        }
        out_.keys.push_back(std::move(key));
        return true;
    }

    // A quoted text at s[0]; on success s is left after the closing quote.
    bool ParseQuoted(std::string_view& s, std::string& out) {
        out.clear();
        for (std::size_t i = 1; i < s.size(); ++i) {
            const char c = s[i];
            if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
                out.push_back(s[++i]);
            } else if (c == '"') {
                s.remove_prefix(i + 1);
                return true;
            } else {
                out.push_back(c);
            }
        }
        return Fail("missing closing quote");
    }

    bool ParseValueLine(std::string_view line) {
        if (out_.keys.empty()) {
            return Fail("a value before the first key");
        }
        RegValueEntry entry;
        std::string_view rest = line;
        if (rest.front() == '@') {
            rest.remove_prefix(1);
        } else if (rest.front() == '"') {
            if (!ParseQuoted(rest, entry.name))
                return false;
        } else {
            return Fail("expected a key, a quoted value name or '@'");
        }
        rest = Trim(rest);
        if (rest.empty() || rest.front() != '=') {
            return Fail("expected '=' after the value name");
        }
        rest = Trim(rest.substr(1));
        if (!ParseData(rest, entry)) {
            return false;
        }
        out_.keys.back().values.push_back(std::move(entry));
        return true;
    }

    bool ParseData(std::string_view data, RegValueEntry& entry) {
        if (data == "-") {
            entry.remove = true;
            return true;
        }
        if (!data.empty() && data.front() == '"') {
            std::string text;
            if (!ParseQuoted(data, text))
                return false;
            if (!Trim(data).empty()) {
                return Fail("unexpected text after a quoted value");
            }
            entry.value = RegValue::FromString(text);
            return true;
        }
        if (data.starts_with("dword:")) {
            const std::string_view digits = data.substr(6);
            if (digits.empty() || digits.size() > 8) {
                return Fail("a dword needs 1 to 8 hexadecimal digits");
            }
            std::uint32_t value = 0;
            for (const char c : digits) {
                const int d = HexDigit(c);
                if (d < 0)
                    return Fail("bad hexadecimal digit in dword");
                value = (value << 4) | static_cast<std::uint32_t>(d);
            }
            entry.value = RegValue::FromDword(value);
            return true;
        }
        if (data.starts_with("hex")) {
            return ParseHex(data.substr(3), entry);
        }
        return Fail("unknown value data");
    }

    bool ParseHex(std::string_view data, RegValueEntry& entry) {
        std::uint32_t type = static_cast<std::uint32_t>(RegType::Binary);
        if (!data.empty() && data.front() == '(') {
            const std::size_t close = data.find(')');
            if (close == std::string_view::npos || close == 1 || close > 9) {
                return Fail("bad hex(type) prefix");
            }
            type = 0;
            for (const char c : data.substr(1, close - 1)) {
                const int d = HexDigit(c);
                if (d < 0)
                    return Fail("bad hex(type) prefix");
                type = (type << 4) | static_cast<std::uint32_t>(d);
            }
            data.remove_prefix(close + 1);
        }
        if (data.empty() || data.front() != ':') {
            return Fail("expected ':' after hex");
        }
        data.remove_prefix(1);
        entry.value.type = static_cast<RegType>(type);
        while (true) {
            data = Trim(data);
            const bool continued = !data.empty() && data.back() == '\\';
            if (continued) {
                data.remove_suffix(1);
            }
            if (!AppendHexBytes(data, entry.value.data)) {
                return false;
            }
            if (!continued) {
                return true;
            }
            std::string_view next;
            if (!NextLine(next)) {
                return Fail("file ends inside a continued hex value");
            }
            data = next;
        }
    }

    bool AppendHexBytes(std::string_view data, std::vector<std::uint8_t>& out) {
        while (!data.empty()) {
            data = Trim(data);
            if (data.empty())
                break;
            std::size_t i = 0;
            int value = 0;
            while (i < data.size() && i < 3 && HexDigit(data[i]) >= 0) {
                value = value * 16 + HexDigit(data[i]);
                ++i;
            }
            if (i == 0 || i > 2) {
                return Fail("expected a two-digit hexadecimal byte");
            }
            out.push_back(static_cast<std::uint8_t>(value));
            data = Trim(data.substr(i));
            if (!data.empty()) {
                if (data.front() != ',')
                    return Fail("expected ',' between hex bytes");
                data.remove_prefix(1);
            }
        }
        return true;
    }

    std::string_view text_;
    RegDocument& out_;
    RegParseError& error_;
    std::size_t pos_ = 0;
    int lineNumber_ = 0;
};

std::string Quote(std::string_view s) {
    std::string out = "\"";
    for (const char c : s) {
        if (c == '\\' || c == '"')
            out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

// A REG_SZ can be written as a quoted text when that text reads back to the same bytes.
bool WritableAsQuotedText(const RegValue& value) {
    if (value.type != RegType::String)
        return false;
    const auto text = value.AsString();
    if (!text || text->find_first_of("\r\n") != std::string::npos)
        return false;
    return RegValue::FromString(*text) == value;
}

void AppendHexData(std::string& out, const std::vector<std::uint8_t>& bytes) {
    char buffer[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buffer, sizeof buffer, "%02x", bytes[i]);
        out += buffer;
        if (i + 1 < bytes.size()) {
            out += ',';
            if ((i + 1) % kHexBytesPerLine == 0) {
                out += "\\\n  ";
            }
        }
    }
}

}  // namespace

bool ParseRegText(std::string_view text, RegDocument& out, RegParseError& error) {
    return Parser(text, out, error).Run();
}

std::string FormatRegText(const RegDocument& document) {
    std::string out(kHeader5);
    out += "\n\n";
    for (const RegKeyEntry& key : document.keys) {
        out += key.remove ? "[-" : "[";
        out += kRoot;
        if (!key.path.empty()) {
            out += '\\';
            out += key.path;
        }
        out += "]\n";
        for (const RegValueEntry& entry : key.values) {
            std::string line = entry.name.empty() ? std::string("@") : Quote(entry.name);
            line += '=';
            const RegValue& v = entry.value;
            if (entry.remove) {
                line += '-';
            } else if (WritableAsQuotedText(v)) {
                line += Quote(*v.AsString());
            } else if (v.AsDword()) {
                char buffer[16];
                std::snprintf(buffer, sizeof buffer, "dword:%08x", *v.AsDword());
                line += buffer;
            } else {
                if (v.type == RegType::Binary) {
                    line += "hex:";
                } else {
                    char buffer[24];
                    std::snprintf(buffer, sizeof buffer, "hex(%x):", static_cast<unsigned>(v.type));
                    line += buffer;
                }
                AppendHexData(line, v.data);
            }
            out += line;
            out += '\n';
        }
        out += '\n';
    }
    return out;
}

}  // namespace duzez::platform
