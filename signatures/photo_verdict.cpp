#include "signatures/photo_verdict.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

// jpeglib.h needs FILE and size_t declared before it, and jerror.h needs its configuration.
#include <jpeglib.h>

#include <jerror.h>

#include "signatures/iso_media_verdict.h"
#include "signatures/signature.h"

namespace duzez::signatures {
namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::span<const std::uint8_t>;

// Larger images are refused before anything is allocated for them: a recovered header can
// claim any size.
constexpr std::uint64_t kMaxPixels = 100'000'000;
constexpr std::uint64_t kMaxSide = 16384;

bool TooLarge(std::uint64_t width, std::uint64_t height) {
    return width > kMaxSide || height > kMaxSide || width * height > kMaxPixels;
}

VerdictDetail Make(PhotoVerdict verdict, std::uint64_t goodBytes, std::string reason,
                   std::uint32_t goodRows = 0) {
    VerdictDetail detail;
    detail.verdict = verdict;
    detail.goodBytes = goodBytes;
    detail.goodRows = goodRows;
    detail.reason = std::move(reason);
    return detail;
}

VerdictDetail OutOfTime(std::uint64_t at) {
    return Make(PhotoVerdict::Unchecked, at, "took longer than the time allowed");
}

std::string Sized(std::uint64_t width, std::uint64_t height) {
    return "too large to check (" + std::to_string(width) + "x" + std::to_string(height) + ")";
}

std::uint32_t Big32(Bytes b, std::size_t at) {
    return (std::uint32_t{b[at]} << 24) | (std::uint32_t{b[at + 1]} << 16) |
           (std::uint32_t{b[at + 2]} << 8) | b[at + 3];
}

std::uint16_t Little16(Bytes b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

// ---- JPEG ----------------------------------------------------------------------------------
//
// libjpeg reports errors by calling back, and the only way out of its frames is longjmp. So
// everything it can jump over is plain C state in one heap block (JpegRun), and the function
// holding setjmp (RunJpeg) owns no C++ object.

enum class JpegEvent : int { None = 0, Ended, Corrupt, Failed, Unsupported, Large, Late };

struct JpegRun {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr errors;
    jpeg_source_mgr source;
    jpeg_progress_mgr progress;
    std::jmp_buf jump;
    const JOCTET* base;
    std::size_t size;
    Clock::time_point deadline;
    bool ended;       // the data ran out
    JpegEvent event;  // the first problem; the decode stops at it
    std::uint64_t eventAt;
    std::uint32_t eventRows;
    bool finished;
    char message[JMSG_LENGTH_MAX];
};

JpegRun* RunOf(j_common_ptr common) {
    return static_cast<JpegRun*>(common->client_data);
}

// Image rows whose compressed data the current scan has read.
std::uint32_t RowsRead(const jpeg_decompress_struct& cinfo) {
    const std::uint64_t rows = std::uint64_t{cinfo.input_iMCU_row} *
                               static_cast<std::uint64_t>(cinfo.max_v_samp_factor) * DCTSIZE;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(rows, cinfo.image_height));
}

// Where libjpeg is in the file. Its entropy decoder copies the pointer while it works, so
// this lags by up to one block group plus a few bytes of read-ahead.
std::uint64_t Position(const JpegRun* run) {
    const JOCTET* at = run->source.next_input_byte;
    if (at != nullptr && at >= run->base && at <= run->base + run->size)
        return static_cast<std::uint64_t>(at - run->base);
    return run->size;  // in the end marker made up past the data
}

[[noreturn]] void Stop(JpegRun* run, JpegEvent event) {
    // Once the data has run out, whatever fails next is the cut showing.
    if (run->ended && event != JpegEvent::Late)
        event = JpegEvent::Ended;
    run->event = event;
    run->eventAt = event == JpegEvent::Ended ? run->size : Position(run);
    run->eventRows = RowsRead(run->cinfo);
    (*run->errors.format_message)(reinterpret_cast<j_common_ptr>(&run->cinfo), run->message);
    std::longjmp(run->jump, 1);
}

void OnError(j_common_ptr common) {
    JpegRun* run = RunOf(common);
    switch (common->err->msg_code) {
        case JERR_OUT_OF_MEMORY:
        case JERR_NO_BACKING_STORE:
        case JERR_IMAGE_TOO_BIG:
        case JERR_WIDTH_OVERFLOW:
            Stop(run, JpegEvent::Large);
        case JERR_BAD_PRECISION:
        case JERR_NOT_COMPILED:
        case JERR_SOF_UNSUPPORTED:
        case JERR_CONVERSION_NOTIMPL:
            Stop(run, JpegEvent::Unsupported);
        default:
            Stop(run, JpegEvent::Failed);
    }
}

void OnMessage(j_common_ptr common, int level) {
    if (level != -1)
        return;  // trace output, not a warning
    switch (common->err->msg_code) {
        case JWRN_HIT_MARKER:
        case JWRN_EXTRANEOUS_DATA:
        case JWRN_HUFF_BAD_CODE:
        case JWRN_ARITH_BAD_CODE:
        case JWRN_MUST_RESYNC:
        case JWRN_BOGUS_PROGRESSION:
            Stop(RunOf(common), JpegEvent::Corrupt);
        default:
            return;  // harmless oddities such as an unknown JFIF revision
    }
}

void Quiet(j_common_ptr) {}

void NoSourceWork(j_decompress_ptr) {}

// The data ran out: hand over an end marker, as libjpeg's own sources do, so that a file
// missing only its end marker still decodes whole and a cut one fails where rows go missing.
boolean OnSourceEmpty(j_decompress_ptr cinfo) {
    static const JOCTET kEnd[2] = {0xFF, JPEG_EOI};
    RunOf(reinterpret_cast<j_common_ptr>(cinfo))->ended = true;
    cinfo->src->next_input_byte = kEnd;
    cinfo->src->bytes_in_buffer = sizeof kEnd;
    return TRUE;
}

void OnSkip(j_decompress_ptr cinfo, long count) {
    if (count <= 0)
        return;
    jpeg_source_mgr* source = cinfo->src;
    if (static_cast<unsigned long>(count) > source->bytes_in_buffer) {
        OnSourceEmpty(cinfo);
        return;
    }
    source->next_input_byte += count;
    source->bytes_in_buffer -= static_cast<std::size_t>(count);
}

// Called for every row band read or decoded: the place to give up on a slow file.
void OnProgress(j_common_ptr common) {
    JpegRun* run = RunOf(common);
    if (Clock::now() > run->deadline)
        Stop(run, JpegEvent::Late);
}

void RunJpeg(JpegRun* run) {
    j_decompress_ptr cinfo = &run->cinfo;
    cinfo->err = jpeg_std_error(&run->errors);
    run->errors.error_exit = OnError;
    run->errors.emit_message = OnMessage;
    run->errors.output_message = Quiet;
    cinfo->client_data = run;
    if (setjmp(run->jump) != 0) {
        jpeg_destroy_decompress(cinfo);
        return;
    }
    jpeg_create_decompress(cinfo);
    cinfo->client_data = run;  // creation clears the struct
    cinfo->mem->max_memory_to_use = 512L * 1024 * 1024;

    run->source.next_input_byte = run->base;
    run->source.bytes_in_buffer = run->size;
    run->source.init_source = NoSourceWork;
    run->source.fill_input_buffer = OnSourceEmpty;
    run->source.skip_input_data = OnSkip;
    run->source.resync_to_restart = jpeg_resync_to_restart;
    run->source.term_source = NoSourceWork;
    cinfo->src = &run->source;
    run->progress.progress_monitor = OnProgress;
    cinfo->progress = &run->progress;

    jpeg_read_header(cinfo, TRUE);
    if (TooLarge(cinfo->image_width, cinfo->image_height)) {
        run->event = JpegEvent::Large;
        jpeg_destroy_decompress(cinfo);
        return;
    }
    // An eighth of the size still reads every coefficient of the compressed data (so every
    // fault in it shows), but spares most of the inverse transform and colour work.
    cinfo->scale_num = 1;
    cinfo->scale_denom = 8;
    cinfo->dct_method = JDCT_IFAST;
    cinfo->do_fancy_upsampling = FALSE;
    cinfo->do_block_smoothing = FALSE;
    if (cinfo->jpeg_color_space == JCS_YCbCr || cinfo->jpeg_color_space == JCS_GRAYSCALE)
        cinfo->out_color_space = JCS_GRAYSCALE;
    jpeg_start_decompress(cinfo);
    JSAMPARRAY row = (*cinfo->mem->alloc_sarray)(
        reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
        cinfo->output_width * static_cast<JDIMENSION>(cinfo->output_components), 1);
    while (cinfo->output_scanline < cinfo->output_height)
        jpeg_read_scanlines(cinfo, row, 1);
    jpeg_finish_decompress(cinfo);
    run->finished = true;
    jpeg_destroy_decompress(cinfo);
}

VerdictDetail JudgeJpeg(Bytes file, Clock::time_point deadline) {
    auto run = std::make_unique<JpegRun>();  // value-initialised: all zero
    run->base = file.data();
    run->size = file.size();
    run->deadline = deadline;
    RunJpeg(run.get());

    const std::uint64_t at = run->eventAt;
    const std::uint32_t rows = run->eventRows;
    const std::uint32_t height = run->cinfo.image_height;
    switch (run->event) {
        case JpegEvent::None:
            if (!run->finished)
                break;
            if (run->ended)
                return Make(PhotoVerdict::Truncated, file.size(), "ends before its end marker",
                            height);
            return Make(PhotoVerdict::Intact, file.size(), "decodes cleanly to its end marker",
                        height);
        case JpegEvent::Ended:
            if (rows == 0)
                return Make(PhotoVerdict::Truncated, at, "ends before its first image row", 0);
            return Make(PhotoVerdict::Truncated, at,
                        "ends after row " + std::to_string(rows) + " of " + std::to_string(height),
                        rows);
        case JpegEvent::Corrupt:
            return Make(PhotoVerdict::Damaged, at, "corrupt data after row " + std::to_string(rows),
                        rows);
        case JpegEvent::Failed:
            return Make(PhotoVerdict::Damaged, at, std::string("unreadable: ") + run->message,
                        rows);
        case JpegEvent::Unsupported:
            return Make(PhotoVerdict::Unchecked, at,
                        std::string("a kind of JPEG not checked: ") + run->message);
        case JpegEvent::Large:
            return Make(PhotoVerdict::Unchecked, 0,
                        Sized(run->cinfo.image_width, run->cinfo.image_height));
        case JpegEvent::Late:
            return OutOfTime(at);
    }
    return Make(PhotoVerdict::Unchecked, 0, "not decoded");
}

// ---- PNG -----------------------------------------------------------------------------------

constexpr std::array<std::uint8_t, 8> kPngSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

struct PngHeader {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint8_t depth = 0;
    std::uint8_t colour = 0;
    bool interlaced = false;
};

// Bits per pixel; 0 for a combination no PNG may have.
unsigned PngBitsPerPixel(const PngHeader& h) {
    const auto depthIn = [&h](std::initializer_list<unsigned> allowed) {
        return std::find(allowed.begin(), allowed.end(), h.depth) != allowed.end();
    };
    switch (h.colour) {
        case 0:
            return depthIn({1, 2, 4, 8, 16}) ? h.depth : 0;
        case 2:
            return depthIn({8, 16}) ? 3u * h.depth : 0;
        case 3:
            return depthIn({1, 2, 4, 8}) ? h.depth : 0;
        case 4:
            return depthIn({8, 16}) ? 2u * h.depth : 0;
        case 6:
            return depthIn({8, 16}) ? 4u * h.depth : 0;
        default:
            return 0;
    }
}

// Bytes the image data inflates to: each row's filter byte and its packed pixels, per
// interlace pass where the image is interlaced.
std::uint64_t PngRawSize(const PngHeader& h) {
    const std::uint64_t bits = PngBitsPerPixel(h);
    const auto passBytes = [bits](std::uint64_t width, std::uint64_t height) -> std::uint64_t {
        if (width == 0 || height == 0)
            return 0;
        return height * (1 + (width * bits + 7) / 8);
    };
    if (!h.interlaced)
        return passBytes(h.width, h.height);
    struct Pass {
        unsigned x0, dx, y0, dy;
    };
    constexpr Pass kPasses[] = {{0, 8, 0, 8}, {4, 8, 0, 8}, {0, 4, 4, 8}, {2, 4, 0, 4},
                                {0, 2, 2, 4}, {1, 2, 0, 2}, {0, 1, 1, 2}};
    std::uint64_t total = 0;
    for (const Pass& p : kPasses) {
        const std::uint64_t w = h.width > p.x0 ? (h.width - p.x0 + p.dx - 1) / p.dx : 0;
        const std::uint64_t rows = h.height > p.y0 ? (h.height - p.y0 + p.dy - 1) / p.dy : 0;
        total += passBytes(w, rows);
    }
    return total;
}

class Inflater {
  public:
    Inflater() { ready_ = inflateInit(&stream_) == Z_OK; }
    ~Inflater() {
        if (ready_)
            inflateEnd(&stream_);
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    enum class Result { More, Ended, Corrupt, TooMuch, Late };

    // Feeds `data`, counting (and dropping) what it inflates to, never more than `limit`.
    Result Feed(Bytes data, std::uint64_t limit, Clock::time_point deadline) {
        if (!ready_)
            return Result::Corrupt;
        if (ended_)
            return Result::Ended;  // compressed bytes after the stream's end are ignored
        stream_.next_in = const_cast<Bytef*>(data.data());
        stream_.avail_in = static_cast<uInt>(data.size());
        while (true) {
            stream_.next_out = sink_.data();
            stream_.avail_out = static_cast<uInt>(sink_.size());
            const int status = inflate(&stream_, Z_NO_FLUSH);
            produced_ += sink_.size() - stream_.avail_out;
            if (produced_ > limit)
                return Result::TooMuch;
            if (status == Z_STREAM_END) {
                ended_ = true;
                return Result::Ended;
            }
            if (status == Z_BUF_ERROR ||
                (status == Z_OK && stream_.avail_in == 0 && stream_.avail_out != 0))
                return Result::More;
            if (status != Z_OK)
                return Result::Corrupt;
            if (Clock::now() > deadline)
                return Result::Late;
        }
    }
    bool Ended() const { return ended_; }
    std::uint64_t Produced() const { return produced_; }

  private:
    z_stream stream_{};
    bool ready_ = false;
    bool ended_ = false;
    std::uint64_t produced_ = 0;
    std::array<Bytef, 65536> sink_{};
};

bool IsChunkLetter(std::uint8_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

VerdictDetail JudgePng(Bytes file, Clock::time_point deadline) {
    const std::size_t size = file.size();
    const std::size_t signature = std::min(size, kPngSignature.size());
    if (!std::equal(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(signature),
                    kPngSignature.begin()))
        return Make(PhotoVerdict::Damaged, 0, "does not start with the PNG signature");
    if (size < kPngSignature.size())
        return Make(PhotoVerdict::Truncated, size, "ends inside its signature");
    PngHeader header;
    std::uint64_t expected = 0;
    bool sawHeader = false;
    bool sawPalette = false;
    bool inData = false;    // the last chunk was image data
    bool dataDone = false;  // image data was followed by another chunk
    auto inflater = std::make_unique<Inflater>();
    std::size_t pos = kPngSignature.size();
    while (true) {
        if (pos == size)
            return Make(PhotoVerdict::Truncated, size, "ends before its end chunk");
        if (size - pos < 12)
            return Make(PhotoVerdict::Truncated, size, "ends inside a chunk");
        const std::uint32_t length = Big32(file, pos);
        const auto type = file.subspan(pos + 4, 4);
        const std::string name(type.begin(), type.end());
        if (length > 0x7FFFFFFFu)
            return Make(PhotoVerdict::Damaged, pos, "chunk length out of range");
        if (!std::all_of(type.begin(), type.end(), IsChunkLetter))
            return Make(PhotoVerdict::Damaged, pos, "chunk with an invalid name");
        if (length > size - pos - 12)
            return Make(PhotoVerdict::Truncated, size, "ends inside its " + name + " chunk");
        const auto data = file.subspan(pos + 8, length);
        const std::uint32_t crc = static_cast<std::uint32_t>(
            crc32(crc32(0, type.data(), 4), data.data(), static_cast<uInt>(data.size())));
        if (crc != Big32(file, pos + 8 + length))
            return Make(PhotoVerdict::Damaged, pos, name + " chunk fails its checksum");

        if (!sawHeader) {
            if (name == "CgBI")
                return Make(PhotoVerdict::Unchecked, 0, "an Apple-optimised PNG");
            if (name != "IHDR" || length != 13)
                return Make(PhotoVerdict::Damaged, pos, "does not start with its header chunk");
            header.width = Big32(data, 0);
            header.height = Big32(data, 4);
            header.depth = data[8];
            header.colour = data[9];
            header.interlaced = data[12] == 1;
            if (header.width == 0 || header.height == 0 || header.width > 0x7FFFFFFFu ||
                header.height > 0x7FFFFFFFu || PngBitsPerPixel(header) == 0 || data[10] != 0 ||
                data[11] != 0 || data[12] > 1)
                return Make(PhotoVerdict::Damaged, pos, "header chunk holds impossible values");
            if (TooLarge(header.width, header.height))
                return Make(PhotoVerdict::Unchecked, 0, Sized(header.width, header.height));
            expected = PngRawSize(header);
            sawHeader = true;
        } else if (name == "IHDR") {
            return Make(PhotoVerdict::Damaged, pos, "a second header chunk");
        } else if (name == "PLTE") {
            sawPalette = true;
        } else if (name == "IDAT") {
            if (dataDone)
                return Make(PhotoVerdict::Damaged, pos, "image data split by other chunks");
            if (header.colour == 3 && !sawPalette)
                return Make(PhotoVerdict::Damaged, pos, "image data before its palette");
            inData = true;
            switch (inflater->Feed(data, expected, deadline)) {
                case Inflater::Result::Corrupt:
                    return Make(PhotoVerdict::Damaged, pos, "compressed image data is corrupt");
                case Inflater::Result::TooMuch:
                    return Make(PhotoVerdict::Damaged, pos, "more image data than its size holds");
                case Inflater::Result::Late:
                    return OutOfTime(pos);
                case Inflater::Result::More:
                case Inflater::Result::Ended:
                    break;
            }
        } else if (name == "IEND") {
            if (!inData && !dataDone)
                return Make(PhotoVerdict::Damaged, pos, "no image data");
            if (!inflater->Ended())
                return Make(PhotoVerdict::Damaged, pos, "compressed image data ends early");
            if (inflater->Produced() != expected)
                return Make(PhotoVerdict::Damaged, pos,
                            "image data holds " + std::to_string(inflater->Produced()) +
                                " bytes, its size needs " + std::to_string(expected));
            return Make(PhotoVerdict::Intact, size, "every chunk checks out");
        }
        if (name != "IDAT" && inData) {
            inData = false;
            dataDone = true;
        }
        pos += 12 + std::size_t{length};
        if (Clock::now() > deadline)
            return OutOfTime(pos);
    }
}

// ---- GIF -----------------------------------------------------------------------------------

// Follows the LZW codes of one image, counting the pixels they stand for.
class LzwWalk {
  public:
    explicit LzwWalk(unsigned minimumCodeSize)
        : clear_(1u << minimumCodeSize), minimum_(minimumCodeSize) {
        for (std::uint32_t code = 0; code < clear_; ++code)
            length_[code] = 1;
        Reset();
    }
    // False at a code the table cannot hold yet.
    bool Feed(std::uint8_t byte) {
        if (ended_)
            return true;
        bits_ |= std::uint32_t{byte} << count_;
        count_ += 8;
        while (count_ >= codeSize_) {
            const std::uint32_t code = bits_ & ((1u << codeSize_) - 1);
            bits_ >>= codeSize_;
            count_ -= codeSize_;
            if (!Code(code))
                return false;
            if (ended_)
                return true;
        }
        return true;
    }
    std::uint64_t Pixels() const { return pixels_; }

  private:
    void Reset() {
        codeSize_ = minimum_ + 1;
        next_ = clear_ + 2;
        previous_ = -1;
    }
    bool Code(std::uint32_t code) {
        if (code == clear_) {
            Reset();
            return true;
        }
        if (code == clear_ + 1) {
            ended_ = true;
            return true;
        }
        if (previous_ < 0) {
            if (code > clear_)
                return false;
            pixels_ += 1;
            previous_ = static_cast<int>(code);
            return true;
        }
        std::uint32_t length = 0;
        if (code < next_)
            length = length_[code];
        else if (code == next_ && next_ < kCodes)
            length = length_[previous_] + 1;
        else
            return false;
        if (next_ < kCodes) {
            length_[next_] = length_[previous_] + 1;
            ++next_;
            if (next_ == (1u << codeSize_) && codeSize_ < 12)
                ++codeSize_;
        }
        pixels_ += length;
        previous_ = static_cast<int>(code);
        return true;
    }

    static constexpr std::uint32_t kCodes = 4096;
    std::uint32_t clear_;
    unsigned minimum_;
    unsigned codeSize_ = 0;
    std::uint32_t next_ = 0;
    int previous_ = -1;
    std::uint32_t bits_ = 0;
    unsigned count_ = 0;
    bool ended_ = false;
    std::uint64_t pixels_ = 0;
    std::array<std::uint32_t, kCodes> length_{};
};

VerdictDetail JudgeGif(Bytes file, Clock::time_point deadline) {
    const std::size_t size = file.size();
    constexpr std::string_view k87("GIF87a"), k89("GIF89a");
    const std::size_t lead = std::min<std::size_t>(size, 6);
    const std::string_view start(reinterpret_cast<const char*>(file.data()), lead);
    if (start != k87.substr(0, lead) && start != k89.substr(0, lead))
        return Make(PhotoVerdict::Damaged, 0, "does not start with a GIF header");
    const auto truncated = [size] {
        return Make(PhotoVerdict::Truncated, size, "ends before its trailer");
    };
    if (size < 13)
        return truncated();
    std::size_t pos = 13;
    if (file[10] & 0x80)
        pos += 3u * (2u << (file[10] & 7));
    unsigned images = 0;
    unsigned blocks = 0;
    while (true) {
        if (pos >= size)
            return truncated();
        const std::size_t blockAt = pos;
        const std::uint8_t introducer = file[pos];
        if (introducer == 0x3B) {
            if (images == 0)
                return Make(PhotoVerdict::Damaged, pos, "trailer before any image");
            return Make(PhotoVerdict::Intact, size, "every block checks out");
        }
        std::unique_ptr<LzwWalk> lzw;
        std::uint64_t framePixels = 0;
        if (introducer == 0x21) {
            pos += 2;  // introducer and label
        } else if (introducer == 0x2C) {
            if (size - pos < 11)
                return truncated();
            framePixels = std::uint64_t{Little16(file, pos + 5)} * Little16(file, pos + 7);
            const std::uint8_t flags = file[pos + 9];
            pos += 10;
            if (flags & 0x80)
                pos += 3u * (2u << (flags & 7));
            if (pos >= size)
                return truncated();
            const unsigned minimum = file[pos];
            if (minimum < 1 || minimum > 11)
                return Make(PhotoVerdict::Damaged, pos, "image with an impossible code size");
            lzw = std::make_unique<LzwWalk>(minimum);
            ++pos;
            ++images;
        } else {
            return Make(PhotoVerdict::Damaged, pos, "unknown block where a block should start");
        }
        // Sub-blocks, each led by its length, to an empty one.
        while (true) {
            if (pos >= size)
                return truncated();
            const std::size_t length = file[pos];
            if (length == 0) {
                ++pos;
                break;
            }
            if (size - pos - 1 < length)
                return truncated();
            if (lzw) {
                for (std::size_t i = 1; i <= length; ++i) {
                    if (!lzw->Feed(file[pos + i]))
                        return Make(PhotoVerdict::Damaged, pos, "corrupt image data");
                }
            }
            pos += 1 + length;
            if (++blocks % 256 == 0 && Clock::now() > deadline)
                return OutOfTime(pos);
        }
        if (lzw && lzw->Pixels() < framePixels)
            return Make(PhotoVerdict::Damaged, blockAt, "image data ends before its last pixel");
    }
}

// ---- TIFF and the RAW formats built on it --------------------------------------------------

class TiffCheck {
  public:
    TiffCheck(Bytes file, Clock::time_point deadline) : file_(file), deadline_(deadline) {}

    VerdictDetail Run() {
        const std::size_t size = file_.size();
        if (size < 8) {
            if ((size >= 1 && file_[0] != 'I' && file_[0] != 'M') ||
                (size >= 2 && file_[0] != file_[1]))
                return Damaged(0, "does not start with a TIFF header");
            return Truncated("ends inside its header");
        }
        if ((file_[0] != 'I' || file_[1] != 'I') && (file_[0] != 'M' || file_[1] != 'M'))
            return Damaged(0, "does not start with a TIFF header");
        little_ = file_[0] == 'I';
        const std::uint16_t magic = U16(2);
        if (magic == 43)
            return Make(PhotoVerdict::Unchecked, 0, "BigTIFF is not checked");
        // TIFF, ORF ("RO", "RS") and RW2 ("U").
        if (magic != 42 && magic != 0x4F52 && magic != 0x5352 && magic != 0x55)
            return Damaged(0, "does not start with a TIFF header");
        std::vector<std::uint64_t> pending{U32(4)};
        std::vector<std::uint64_t> visited;
        while (!pending.empty()) {
            const std::uint64_t ifd = pending.front();
            pending.erase(pending.begin());
            if (std::find(visited.begin(), visited.end(), ifd) != visited.end())
                continue;  // the chain loops back
            if (visited.size() == kMaxIfds)
                break;
            visited.push_back(ifd);
            if (auto problem = ReadIfd(ifd, pending))
                return *problem;
        }
        if (!sawImageData_)
            return Damaged(visited.empty() ? 4 : visited.front(), "no image data");
        return Make(PhotoVerdict::Intact, size, "every strip and tile lies within the file");
    }

  private:
    static constexpr std::size_t kMaxIfds = 64;
    static constexpr std::uint16_t kMaxEntries = 4096;

    struct Entry {
        std::uint16_t tag = 0;
        std::uint16_t type = 0;
        std::uint32_t count = 0;
        std::uint64_t values = 0;  // where the values lie
    };

    std::uint16_t U16(std::uint64_t at) const {
        const auto a = file_[at];
        const auto b = file_[at + 1];
        return static_cast<std::uint16_t>(little_ ? (b << 8) | a : (a << 8) | b);
    }
    std::uint32_t U32(std::uint64_t at) const {
        const std::uint32_t hi = U16(at + (little_ ? 2 : 0));
        const std::uint32_t lo = U16(at + (little_ ? 0 : 2));
        return (hi << 16) | lo;
    }
    static std::uint32_t TypeSize(std::uint16_t type) {
        static constexpr std::uint32_t kSizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
        return type < std::size(kSizes) ? kSizes[type] : 0;
    }
    VerdictDetail Damaged(std::uint64_t at, std::string reason) const {
        return Make(PhotoVerdict::Damaged, at, std::move(reason));
    }
    VerdictDetail Truncated(std::string reason) const {
        return Make(PhotoVerdict::Truncated, file_.size(), std::move(reason));
    }
    // Value `i` of a SHORT, LONG or IFD array.
    std::uint32_t Value(const Entry& e, std::uint32_t i) const {
        return e.type == 3 ? U16(e.values + 2ull * i) : U32(e.values + 4ull * i);
    }
    // Every IFD may point at the same huge array; the clock is read now and then.
    bool Late(std::uint32_t i) const { return i % 65536 == 65535 && Clock::now() > deadline_; }
    static bool IsOffsetType(std::uint16_t type) { return type == 3 || type == 4 || type == 13; }

    // Checks that every piece the offsets and lengths entries point at lies within the file.
    std::optional<VerdictDetail> CheckPieces(std::uint64_t ifd, const Entry* offsets,
                                             const Entry* lengths, const char* what) {
        if (offsets == nullptr)
            return std::nullopt;
        if (!IsOffsetType(offsets->type) || offsets->count == 0)
            return Damaged(ifd, std::string("unreadable ") + what + " offsets");
        sawImageData_ = true;
        if (lengths == nullptr) {  // some RAW files give only where the data starts
            for (std::uint32_t i = 0; i < offsets->count; ++i) {
                if (Late(i))
                    return OutOfTime(ifd);
                if (Value(*offsets, i) >= file_.size())
                    return Truncated(std::string(what) + " beyond the end of the file");
            }
            return std::nullopt;
        }
        if (!IsOffsetType(lengths->type) || lengths->count != offsets->count)
            return Damaged(ifd, std::string(what) + " offsets and sizes do not match");
        for (std::uint32_t i = 0; i < offsets->count; ++i) {
            if (Late(i))
                return OutOfTime(ifd);
            const std::uint64_t end = std::uint64_t{Value(*offsets, i)} + Value(*lengths, i);
            if (end > file_.size())
                return Truncated(std::string(what) + " beyond the end of the file");
        }
        return std::nullopt;
    }

    std::optional<VerdictDetail> ReadIfd(std::uint64_t at, std::vector<std::uint64_t>& pending) {
        const std::uint64_t size = file_.size();
        if (at >= size)
            return Truncated("a directory lies beyond the end of the file");
        if (at < 8)
            return Damaged(at, "a directory inside the header");
        if (size - at < 2)
            return Truncated("ends inside a directory");
        const std::uint16_t count = U16(at);
        if (count == 0 || count > kMaxEntries)
            return Damaged(at, "unreadable directory");
        if (size - at - 2 < 12ull * count + 4)
            return Truncated("ends inside a directory");
        std::optional<Entry> stripOffsets, stripLengths, tileOffsets, tileLengths, jpegAt,
            jpegLength, subIfds;
        for (std::uint16_t i = 0; i < count; ++i) {
            const std::uint64_t entryAt = at + 2 + 12ull * i;
            Entry e{U16(entryAt), U16(entryAt + 2), U32(entryAt + 4), entryAt + 8};
            const std::uint32_t unit = TypeSize(e.type);
            if (unit == 0)
                continue;  // a type this check does not know; its value is not needed
            const std::uint64_t bytes = std::uint64_t{unit} * e.count;
            if (bytes > 4) {
                e.values = U32(entryAt + 8);
                if (e.values > size || bytes > size - e.values)
                    return Truncated("a directory's values lie beyond the end of the file");
            }
            switch (e.tag) {
                case 273:
                    stripOffsets = e;
                    break;
                case 279:
                    stripLengths = e;
                    break;
                case 324:
                    tileOffsets = e;
                    break;
                case 325:
                    tileLengths = e;
                    break;
                case 330:
                    subIfds = e;
                    break;
                case 513:
                    jpegAt = e;
                    break;
                case 514:
                    jpegLength = e;
                    break;
                default:
                    break;
            }
        }
        const auto pointer = [](const std::optional<Entry>& e) { return e ? &*e : nullptr; };
        if (auto problem = CheckPieces(at, pointer(stripOffsets), pointer(stripLengths), "strips"))
            return problem;
        if (auto problem = CheckPieces(at, pointer(tileOffsets), pointer(tileLengths), "tiles"))
            return problem;
        if (jpegAt && jpegLength) {
            if (auto problem = CheckPieces(at, pointer(jpegAt), pointer(jpegLength), "preview"))
                return problem;
        }
        if (subIfds && (subIfds->type == 4 || subIfds->type == 13)) {
            for (std::uint32_t i = 0; i < subIfds->count && pending.size() < kMaxIfds; ++i)
                pending.push_back(Value(*subIfds, i));
        }
        const std::uint32_t next = U32(at + 2 + 12ull * count);
        if (next != 0)
            pending.push_back(next);
        return std::nullopt;
    }

    Bytes file_;
    Clock::time_point deadline_;
    bool little_ = true;
    bool sawImageData_ = false;
};

}  // namespace

const char* VerdictName(PhotoVerdict verdict) {
    switch (verdict) {
        case PhotoVerdict::Intact:
            return "intact";
        case PhotoVerdict::Truncated:
            return "truncated";
        case PhotoVerdict::Damaged:
            return "damaged";
        case PhotoVerdict::Unchecked:
            break;
    }
    return "unchecked";
}

VerdictDetail JudgePhoto(std::int32_t format, std::span<const std::uint8_t> file,
                         std::chrono::milliseconds budget) {
    const Clock::time_point deadline = Clock::now() + budget;
    if (format == FormatIds::Jpeg)
        return JudgeJpeg(file, deadline);
    if (format == FormatIds::Png)
        return JudgePng(file, deadline);
    if (format == FormatIds::Gif)
        return JudgeGif(file, deadline);
    if (FormatIds::IsTiffPhoto(format))
        return TiffCheck(file, deadline).Run();
    if (FormatIds::IsIsoMedia(format))
        return JudgeIsoMedia(file);
    return Make(PhotoVerdict::Unchecked, 0, "a format that is not checked");
}

}  // namespace duzez::signatures
