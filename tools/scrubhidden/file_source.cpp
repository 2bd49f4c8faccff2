#include "file_source.h"

#include <algorithm>

#include "command_line.h"
#include "quote.h"

bool FileSource::nextName(std::string& name, FoundFile& found)
{
    found = FoundFile();
    found.path = list;
    Failure failure;
    if (!listOpen) {
        listOpen = true;
        failure = list == "-" ? openStandardInput(listFile.handle) : openToRead(list, listFile);
        if (failure.failed()) {
            listFile = OpenFile();
            found.failure = failure.reason();
            return true;
        }
    }
    if (!listFile.handle.valid())
        return false;
    for (;;) {
        const auto start = pending.begin() + ptrdiff_t(used);
        const auto end = std::find(start, pending.end(), '\0');
        if (end != pending.end()) {
            name.assign(start, end);
            used = size_t(end - pending.begin()) + 1;
            ++entries;
            if (!name.empty())
                return true;
            found.path.clear();
            found.failure =
                "empty name at entry " + std::to_string(entries) + " of " + quotedName(list);
            return true;
        }
        pending.erase(pending.begin(), start);
        used = 0;
        const size_t held = pending.size();
        size_t done = 0;
        pending.resize(held + readBlock);
        failure = readSome(listFile.handle, pending.data() + held, readBlock, done);
        pending.resize(held + done);
        if (!failure.failed() && done > 0)
            continue;
        listFile = OpenFile();
        if (failure.failed())
            found.failure = failure.reason();
        else if (!pending.empty())
            found.failure =
                "entry " + std::to_string(entries + 1) + " is not ended by NUL, and is left alone";
        std::vector<unsigned char>().swap(pending);
        return !found.failure.empty();
    }
}

bool FileSource::take(const std::string& text, FoundFile& found)
{
    found = FoundFile();
    found.path = text;
    if (recursive) {
        walk.wanted = isPngName;
        walk.depthLimit = depthLimit;
        const Failure failure = walk.start(text);
        if (!failure.failed())
            return walking = true, false;
        // A name that is no PNG file's could only have meant a folder.
        if (failure.kind != Failure::Kind::notFolder && !hasPngExtension(text.c_str()))
            return found.failure = failure.reason(), true;
    }
    // Operands alone were kept or dropped before the run.
    if ((!recursive && list.empty()) || hasPngExtension(text.c_str()))
        return true;
    ++skipped;
    return false;
}

size_t FileSource::keepPngOperands()
{
    const auto dropped =
        std::remove_if(operands.begin(), operands.end(),
                       [](const std::string& arg) { return !hasPngExtension(arg.c_str()); });
    skipped += size_t(operands.end() - dropped);
    operands.erase(dropped, operands.end());
    return operands.size();
}

bool FileSource::next(FoundFile& found)
{
    for (;;) {
        if (walking && walk.next(found))
            return true;
        walking = false;
        std::string text;
        if (list.empty() && at == operands.size())
            return false;
        if (list.empty())
            text = operands[at++];
        else if (!nextName(text, found))
            return false;
        else if (!found.failure.empty())
            return true;
        if (take(text, found))
            return true;
    }
}
