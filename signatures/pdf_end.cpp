#include "signatures/pdf_end.h"

#include <array>
#include <string_view>

namespace duzez::signatures {
namespace {

constexpr std::uint64_t kTrailerWindow = 1024;  // how far before %%EOF its startxref may be
constexpr std::uint64_t kLookahead = 1024;      // what may separate sections
constexpr std::uint64_t kDictionaryWindow = 2048;

bool IsSpace(std::uint8_t b) {
    return b == ' ' || b == '\n' || b == '\r' || b == '\t' || b == '\f' || b == '\0';
}
bool IsDigit(std::uint8_t b) {
    return b >= '0' && b <= '9';
}

class PdfWalk {
  public:
    explicit PdfWalk(FileBytes& bytes) : bytes_(bytes), limit_(bytes.Limit()) {}

    std::optional<std::uint64_t> End() {
        if (!Matches(0, "%PDF-"))
            return std::nullopt;
        for (std::uint64_t at = 5; at < kLookahead && !linearized_; ++at)
            linearized_ = Matches(at, "/Linearized");
        std::optional<std::uint64_t> accepted;
        std::uint64_t section = 0;  // where the section that the next %%EOF closes starts
        std::uint64_t from = 0;
        while (const auto eof = FindEof(from)) {
            from = *eof + 5;
            if (!Closes(*eof, section))
                continue;  // e.g. a linearized file's first-page trailer, or embedded bytes
            std::uint64_t end = *eof + 5;
            if (const auto b = bytes_.At(end); b && *b == '\r') {
                ++end;
                if (const auto lf = bytes_.At(end); lf && *lf == '\n')
                    ++end;
            } else if (b && *b == '\n') {
                ++end;
            }
            accepted = end;
            if (!firstEnd_)
                firstEnd_ = end;
            // An incremental update appends a section right after; anything else is not ours.
            if (!SectionStartsAt(end))
                return accepted;
            section = end;
            from = end;
        }
        return accepted;
    }

  private:
    bool Matches(std::uint64_t at, std::string_view text) {
        if (at > limit_ || text.size() > limit_ - at)
            return false;
        for (std::size_t i = 0; i < text.size(); ++i) {
            const auto b = bytes_.At(at + i);
            if (!b || *b != static_cast<std::uint8_t>(text[i]))
                return false;
        }
        return true;
    }

    std::optional<std::uint64_t> FindEof(std::uint64_t from) {
        for (std::uint64_t at = from; at < limit_; ++at) {
            const auto b = bytes_.At(at);
            if (!b)
                return std::nullopt;
            if (*b == '%' && Matches(at, "%%EOF"))
                return at;
        }
        return std::nullopt;
    }

    // The offset after "N G obj" at `at`, or nullopt.
    std::optional<std::uint64_t> ObjectHeader(std::uint64_t at) {
        std::uint64_t p = at;
        for (int part = 0; part < 2; ++part) {
            int digits = 0;
            for (auto b = bytes_.At(p); b && IsDigit(*b) && digits < 10; b = bytes_.At(++p))
                ++digits;
            if (digits == 0)
                return std::nullopt;
            int spaces = 0;
            for (auto b = bytes_.At(p); b && IsSpace(*b) && spaces < 16; b = bytes_.At(++p))
                ++spaces;
            if (spaces == 0)
                return std::nullopt;
        }
        if (!Matches(p, "obj"))
            return std::nullopt;
        return p + 3;
    }

    // A cross-reference table, or a cross-reference stream's object, at `at`.
    bool CrossReferenceAt(std::uint64_t at) {
        // Some writers count the line break before it.
        for (int i = 0; i < 4; ++i) {
            const auto b = bytes_.At(at);
            if (!b || !IsSpace(*b))
                break;
            ++at;
        }
        if (Matches(at, "xref")) {
            const auto after = bytes_.At(at + 4);
            return after && IsSpace(*after);
        }
        const auto body = ObjectHeader(at);
        if (!body)
            return false;
        for (std::uint64_t p = *body; p < *body + kDictionaryWindow && p < limit_; ++p) {
            const auto b = bytes_.At(p);
            if (!b)
                return false;
            if (*b == '/' && Matches(p, "/XRef"))
                return true;
            if (*b == 's' && Matches(p, "stream"))
                return false;
        }
        return false;
    }

    // True when the %%EOF at `eof` ends a trailer whose startxref points into the section
    // from `section` on.
    bool Closes(std::uint64_t eof, std::uint64_t section) {
        const std::uint64_t first = eof > kTrailerWindow ? eof - kTrailerWindow : 0;
        std::array<std::uint8_t, kTrailerWindow> window{};
        const std::size_t n = eof - first;
        for (std::size_t i = 0; i < n; ++i) {
            const auto b = bytes_.At(first + i);
            if (!b)
                return false;
            window[i] = *b;
        }
        static constexpr std::string_view kKeyword = "startxref";
        const auto keywordAt = [&](std::size_t i) {
            for (std::size_t j = 0; j < kKeyword.size(); ++j) {
                if (window[i + j] != static_cast<std::uint8_t>(kKeyword[j]))
                    return false;
            }
            return true;
        };
        std::size_t keyword = n;
        for (std::size_t i = n >= kKeyword.size() ? n - kKeyword.size() + 1 : 0; i-- > 0;) {
            if (keywordAt(i)) {
                keyword = i;
                break;
            }
        }
        if (keyword == n)
            return false;
        std::size_t p = keyword + kKeyword.size();
        const std::size_t spaceStart = p;
        while (p < n && IsSpace(window[p]))
            ++p;
        if (p == spaceStart)
            return false;
        std::uint64_t target = 0;
        int digits = 0;
        for (; p < n && IsDigit(window[p]); ++p) {
            if (++digits > 15)
                return false;
            target = target * 10 + (window[p] - '0');
        }
        if (digits == 0)
            return false;
        while (p < n && IsSpace(window[p]))
            ++p;
        if (p != n)
            return false;
        // A linearized file's last trailer points back at its first-page table.
        const bool ahead = target >= section || (linearized_ && firstEnd_ && target < *firstEnd_);
        return ahead && target < first + keyword && CrossReferenceAt(target);
    }

    // True when, after blank lines and comments, an object or a cross-reference table
    // begins at `at`; a new file's %PDF- header is not such a comment.
    bool SectionStartsAt(std::uint64_t at) {
        const std::uint64_t last = at + kLookahead;
        while (at < last) {
            const auto b = bytes_.At(at);
            if (!b)
                return false;
            if (IsSpace(*b)) {
                ++at;
                continue;
            }
            if (*b != '%')
                break;
            if (Matches(at, "%PDF"))
                return false;
            while (at < last) {
                const auto c = bytes_.At(at);
                if (!c)
                    return false;
                if (*c == '\n' || *c == '\r')
                    break;
                ++at;
            }
        }
        if (at >= last)
            return false;
        return Matches(at, "xref") || ObjectHeader(at).has_value();
    }

    FileBytes& bytes_;
    const std::uint64_t limit_;
    bool linearized_ = false;
    std::optional<std::uint64_t> firstEnd_;
};

}  // namespace

std::optional<std::uint64_t> PdfEnd(FileBytes& bytes) {
    return PdfWalk(bytes).End();
}

}  // namespace duzez::signatures
