#include "cli/list_table.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "cli/human_units.h"
#include "cli/terminal_text.h"
#include "cli/time_text.h"

namespace duzez::cli {
namespace {

bool IsContinuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

std::size_t Characters(const std::string& text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return !IsContinuation(c); }));
}

// The byte where character `n` starts (or the end).
std::size_t ByteOfCharacter(const std::string& text, std::size_t n) {
    std::size_t at = 0;
    for (std::size_t seen = 0; at < text.size(); ++at) {
        if (!IsContinuation(text[at]) && seen++ == n)
            return at;
    }
    return text.size();
}

std::string PadLeft(const std::string& text, std::size_t width) {
    const std::size_t length = Characters(text);
    return length >= width ? text : std::string(width - length, ' ') + text;
}

std::string PadRight(const std::string& text, std::size_t width) {
    const std::size_t length = Characters(text);
    return length >= width ? text : text + std::string(width - length, ' ');
}

struct Cells {
    std::string size, modified, state, check, start, path;
};

}  // namespace

std::string ShortenMiddle(const std::string& text, std::size_t width) {
    const std::size_t length = Characters(text);
    if (length <= width)
        return text;
    if (width == 0)
        return {};
    // The end of a path names the file: it keeps the larger half.
    const std::size_t keep = width - 1;
    const std::size_t head = keep / 2;
    const std::size_t tail = keep - head;
    return text.substr(0, ByteOfCharacter(text, head)) + "\u2026" +
           text.substr(ByteOfCharacter(text, length - tail));
}

std::optional<int> TerminalColumns(int fd) {
    if (::isatty(fd) == 0)
        return std::nullopt;
    winsize size{};
    if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    if (const char* columns = std::getenv("COLUMNS")) {
        const int value = std::atoi(columns);
        if (value > 0)
            return value;
    }
    return 80;
}

std::string FormatTable(const std::vector<ListRow>& rows, const TableStyle& style) {
    const bool human = style.columns && !style.bytes;
    std::vector<Cells> cells;
    cells.reserve(rows.size());
    Cells widths{"Size", "Modified", "State", "Check", "Offset", "Path"};
    std::size_t sizeWidth = 4, modifiedWidth = 8, stateWidth = 5, checkWidth = 0, startWidth = 6;
    for (const ListRow& row : rows) {
        Cells c;
        if (row.folder)
            c.size = "-";
        else if (!row.size)
            c.size = "?";
        else
            c.size = human ? HumanSize(*row.size) : std::to_string(*row.size);
        c.modified = ShortTime(row.modified, row.utcTimes);
        c.state = row.state;
        c.check = row.check;
        c.start = std::to_string(row.start);
        c.path = TerminalText(row.path) + (row.folder ? "/" : "");
        sizeWidth = std::max(sizeWidth, Characters(c.size));
        modifiedWidth = std::max(modifiedWidth, Characters(c.modified));
        stateWidth = std::max(stateWidth, Characters(c.state));
        checkWidth = std::max(checkWidth, Characters(c.check));
        startWidth = std::max(startWidth, Characters(c.start));
        cells.push_back(std::move(c));
    }
    // The check column appears only when some photo was judged.
    if (checkWidth != 0)
        checkWidth = std::max<std::size_t>(checkWidth, 5);
    const std::size_t fixed = sizeWidth + 2 + modifiedWidth + 2 + stateWidth + 2 +
                              (checkWidth != 0 ? checkWidth + 2 : 0) + startWidth + 2;
    // A path always keeps some room, even on a narrow terminal.
    const std::size_t pathWidth =
        style.columns
            ? std::max<std::size_t>(20, static_cast<std::size_t>(*style.columns) > fixed
                                            ? static_cast<std::size_t>(*style.columns) - fixed
                                            : 0)
            : std::string::npos;
    const auto line = [&](const Cells& c) {
        std::string text = PadLeft(c.size, sizeWidth) + "  " + PadRight(c.modified, modifiedWidth) +
                           "  " + PadRight(c.state, stateWidth) + "  ";
        if (checkWidth != 0)
            text += PadRight(c.check, checkWidth) + "  ";
        text += PadLeft(c.start, startWidth) + "  " +
                (pathWidth == std::string::npos ? c.path : ShortenMiddle(c.path, pathWidth));
        while (!text.empty() && text.back() == ' ')
            text.pop_back();
        return text + "\n";
    };
    std::string table = line(widths);
    for (const Cells& c : cells)
        table += line(c);
    return table;
}

}  // namespace duzez::cli
