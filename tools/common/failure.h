#pragma once

#include <cstdint>
#include <string>

// Why reading, decoding, encoding or writing a file failed: one value from the
// call that failed to the message that says so. The kind says whose words
// apply; the code is the system's error number (errno, or a Windows error) or
// the codec's, and means nothing with the kinds that are this system's own.
struct Failure {
    enum class Kind {
        none,
        system, // the system refused a call
        codec, // LodePNG refused to decode or encode
        notPng, // the bytes do not begin as a PNG file does
        truncated, // a PNG file that ends too early; code is LodePNG's
        folder, // a folder where a file is needed
        notRegular, // a device, pipe or the like where a plain file is needed
        exists, // a new name is taken already
        denied, // the caller may not write the file, or should not
        changed, // the file is no longer the one read, or its name means another
        notReplaceable, // the folder or the file is append-only or immutable
        metadataLost, // the replacement could not take the original's ACL or attributes
        ownerLost, // the replacement could not take the original's owner and group
        animated, // only the first frame of an animated PNG would survive
        inUse, // another program holds the file (Windows: shares it with nobody, or deletes it)
        tooLarge, // handling it needs code bytes of memory (0: more than limit), more than limit
        groupFull, // the same, more than the limit bytes that the memory control groups leave
        device, // a name that the system takes for a device (Windows: "aux.png", "CON.png")
        notFolder, // a file where a folder is needed
    };
    Kind kind = Kind::none;
    uint64_t code = 0;
    uint64_t limit = 0;

    static Failure system(unsigned long code) { return {Kind::system, code}; }
    static Failure codec(unsigned code) { return {code == 0 ? Kind::none : Kind::codec, code}; }
    static Failure of(Kind kind, unsigned long code = 0) { return {kind, code}; }
    static Failure tooLarge(uint64_t need, uint64_t limit) { return {Kind::tooLarge, need, limit}; }
    static Failure groupFull(uint64_t need, uint64_t left) { return {Kind::groupFull, need, left}; }

    bool failed() const { return kind != Kind::none; }
    // One line saying what went wrong, "no error" when nothing did.
    std::string reason() const;
};

// An amount of memory as people read it: "512 MiB", "2.1 GiB".
std::string sizeText(uint64_t bytes);

// The system's own words for one of its error codes, on one line; each kind of
// system has its own.
std::string systemReason(unsigned long code);
