#include "scrub_file.h"

#include <new>

#include "hidden_colour_possible.h"
#include "scrub_hidden_colour.h"

namespace {
// Finds the file as it was given, or where the walk found it.
Failure find(const FoundFile& given, SourceFile& source)
{
    return given.folder ? findForRewrite(*given.folder, given.name, source)
                        : findForRewrite(given.path, source);
}

// Opens and reads the planned file, which must be a regular one; for a
// rewrite, holds its name and then the file itself, so that another job that
// rewrites it, by this name or another, is done with it first, and opens it
// again where that job changed it. A file that needs more than limit is
// refused before it is read, as far as its plan tells, or decoded.
Failure readToScrub(const FoundFile& given, FilePlan& plan, std::vector<unsigned char>& png,
                    FilesInRewrite& inRewrite, std::vector<FileKey>& held, uint64_t limit)
{
    SourceFile& source = plan.source;
    OpenFile& file = plan.file;
    Failure failure = plan.failure;
    if (failure.failed()) {
        failure = find(given, source);
        if (!failure.failed())
            failure = openForRewrite(source, file);
    }
    if (!failure.failed() && plan.rewriting) {
        inRewrite.hold(held.emplace_back(source.place()));
        failure = reopenIfChanged(source, file);
    }
    // What the file is shows only once it is open.
    if (!failure.failed() && plan.rewriting) {
        inRewrite.hold(held.emplace_back(source.identity()));
        failure = reopenIfChanged(source, file);
    }
    if (!failure.failed() && plan.need > limit)
        failure = Failure::tooLarge(plan.need, limit);
    if (!failure.failed() && plan.need > plan.left)
        failure = Failure::groupFull(plan.need, plan.left);
    if (!failure.failed())
        failure = readPng(file, png, limit);
    if (const uint64_t need = failure.failed() ? 0 : pngNeed(png, plan.rewriting); need > limit)
        failure = Failure::tooLarge(need, limit);
    return failure;
}

// Reads, judges and scrubs the file, and begins its rewrite when planned.
Outcome scrubAndBeginRewrite(Image& image, const FoundFile& given, FilePlan& plan,
                             FilesInRewrite& inRewrite, uint64_t limit, FileResult& result)
{
    std::vector<unsigned char> png;
    Failure failure = readToScrub(given, plan, png, inRewrite, result.held, limit);
    if (!failure.failed() && !mayHoldHiddenColour(png))
        return Outcome::clean;
    if (!failure.failed())
        failure = image.decode(png);
    // The file bytes go before anything is encoded, so that they never add
    // to the peak.
    std::vector<unsigned char>().swap(png);
    if (!failure.failed() && !scrubHiddenColour(image))
        return Outcome::clean;
    if (!failure.failed() && plan.rewriting)
        failure = image.encode(png);
    if (!failure.failed() && plan.rewriting)
        failure = result.replacement.beginRewrite(plan.source, png);
    if (!failure.failed())
        return Outcome::hidesColour;
    result.reason = failure.reason();
    return Outcome::failed;
}
} // namespace

FilePlan planFile(const FoundFile& given, bool rewriting)
{
    FilePlan plan;
    plan.rewriting = rewriting;
    if (!given.failure.empty())
        return plan;
    plan.failure = find(given, plan.source);
    if (!plan.failure.failed())
        plan.failure = openForRewrite(plan.source, plan.file);
    if (!plan.failure.failed())
        plan.failure = measurePng(plan.file, rewriting, plan.need);
    return plan;
}

FileResult scrubFile(Image& image, const FoundFile& given, FilePlan& plan,
                     FilesInRewrite& inRewrite, uint64_t limit)
{
    FileResult result;
    if (!given.failure.empty()) {
        result.outcome = Outcome::failed, result.reason = given.failure;
        return result;
    }
    try {
        result.outcome = scrubAndBeginRewrite(image, given, plan, inRewrite, limit, result);
    } catch (const std::bad_alloc&) {
        result.outcome = Outcome::failed, result.reason = "out of memory";
    }
    // Nothing large is kept for the next file, whose need leaves no room
    // for it: neither a large buffer nor this file's text.
    image.release(size_t(1) << 22);
    plan = FilePlan();
    if (!result.replacement.pending()) {
        for (const FileKey& key : result.held)
            inRewrite.release(key);
        result.held.clear();
    }
    return result;
}

void finishFile(FileResult& result, FilesInRewrite& inRewrite)
{
    const Failure failure = result.replacement.commit();
    if (failure.failed())
        result.outcome = Outcome::failed, result.reason = failure.reason();
    for (const FileKey& key : result.held)
        inRewrite.release(key);
}
