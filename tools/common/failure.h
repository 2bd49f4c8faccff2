#pragma once

#include <string>

// Why reading, decoding, encoding or writing a file failed. At most one of the
// codes is set; both are zero when nothing failed.
struct Failure {
    int systemError = 0;     // errno of the system call that failed
    unsigned codecError = 0; // LodePNG's error code

    bool failed() const { return systemError != 0 || codecError != 0; }
    std::string reason() const;
};
