#pragma once

#include <cstdint>
#include <string>

// The memory a run may use when --memory does not say: three quarters of
// what the process is granted (see memoryGranted), the rest left for what
// the tool holds beside the files' needs and for estimates that fall short.
uint64_t defaultMemoryBudget();

// Reads the SIZE of --memory: a number of bytes, whole or with a fraction,
// followed by nothing or by K, M, G or T for powers of 1024, in either case;
// false, with bytes untouched, when text is no such size or it is 0.
bool parseMemorySize(const std::string& text, uint64_t& bytes);
