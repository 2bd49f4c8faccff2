#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The memory a run of threads threads beside the first may use when
// --memory does not say: three quarters of what the process is granted (see
// memoryGranted), the rest left for what the tool holds beside the files'
// needs and for estimates that fall short.
uint64_t defaultMemoryBudget(size_t threads = 0);

// What a run may use of what its memory control groups leave it now (see
// memoryLeftInGroups): three quarters, as of what they grant by default, so
// that memory that other processes or files on tmpfs take from the group as
// the run goes on never gets it killed. UINT64_MAX where no group has a
// limit.
uint64_t memoryRoomInGroups();

// Reads the SIZE of --memory: a number of bytes, whole or with a fraction,
// followed by nothing or by K, M, G or T for powers of 1024, in either case;
// false, with bytes untouched, when text is no such size or it is 0.
bool parseMemorySize(const std::string& text, uint64_t& bytes);

// Whether option, as optionIn gives it, is --memory or --memory=SIZE.
bool isMemoryOption(const std::string& option);

// Takes the SIZE of the --memory option at args[i], given as option: after
// its "=", or else the next argument, which i then moves to. Returns why
// SIZE is none, a usage error, with bytes untouched; or else "".
std::string takeMemorySize(const std::string& option, const std::vector<std::string>& args,
                           size_t& i, uint64_t& bytes);
