#include "cli/list_table.h"

#include <algorithm>

#include "cli/human_units.h"
#include "cli/terminal_text.h"
#include "cli/terminal_width.h"
#include "cli/time_text.h"

namespace duzez::cli {
namespace {

std::string PadLeft(const std::string& text, std::size_t width) {
    const std::size_t length = ColumnsOf(text);
    return length >= width ? text : std::string(width - length, ' ') + text;
}

std::string PadRight(const std::string& text, std::size_t width) {
    const std::size_t length = ColumnsOf(text);
    return length >= width ? text : text + std::string(width - length, ' ');
}

struct Cells {
    std::string size, modified, state, check, start, path;
};

}  // namespace

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
        sizeWidth = std::max(sizeWidth, ColumnsOf(c.size));
        modifiedWidth = std::max(modifiedWidth, ColumnsOf(c.modified));
        stateWidth = std::max(stateWidth, ColumnsOf(c.state));
        checkWidth = std::max(checkWidth, ColumnsOf(c.check));
        startWidth = std::max(startWidth, ColumnsOf(c.start));
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
