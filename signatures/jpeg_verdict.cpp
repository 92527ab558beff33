#include "signatures/jpeg_verdict.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <memory>
#include <string>

// jpeglib.h needs FILE and size_t declared before it, and jerror.h needs its configuration.
#include <jpeglib.h>

#include <jerror.h>

namespace duzez::signatures::verdict {
namespace {

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

}  // namespace

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

}  // namespace duzez::signatures::verdict
