#include "memory_option.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

#include "machine.h"
#include "quote.h"

namespace {
// What a run may use of memory that it may have: the rest is for what the
// tool holds beside the files' needs and for estimates that fall short.
uint64_t usable(uint64_t memory) { return memory == UINT64_MAX ? memory : memory / 4 * 3; }
} // namespace

uint64_t defaultMemoryBudget(size_t threads) { return usable(memoryGranted(threads)); }

uint64_t memoryRoomInGroups() { return usable(memoryLeftInGroups()); }

bool parseMemorySize(const std::string& text, uint64_t& bytes)
{
    size_t end = 0;
    while (end < text.size() &&
           (std::isdigit(static_cast<unsigned char>(text[end])) || text[end] == '.'))
        ++end;
    const std::string number = text.substr(0, end);
    if (number.empty() || number == "." || number.find('.') != number.rfind('.') ||
        end + 1 < text.size())
        return false;
    const std::string units = "KMGT";
    const size_t unit =
        end == text.size()
            ? 0
            : units.find(char(std::toupper(static_cast<unsigned char>(text[end])))) + 1;
    if (unit == 0 && end < text.size())
        return false;
    // Digits of any length: past what a double holds they read as infinity
    // or 0, and are refused below, never thrown.
    const double value = std::strtod(number.c_str(), nullptr) * std::pow(1024.0, double(unit));
    if (value < 1 || value >= 1.8e19)
        return false;
    bytes = uint64_t(value);
    return true;
}

namespace {
const std::string memoryOption = "--memory";
}

bool isMemoryOption(const std::string& option)
{
    return option == memoryOption || option.rfind(memoryOption + "=", 0) == 0;
}

std::string takeMemorySize(const std::string& option, const std::vector<std::string>& args,
                           size_t& i, uint64_t& bytes)
{
    const std::string size = option != memoryOption ? option.substr(memoryOption.size() + 1)
                             : i + 1 < args.size()  ? args[++i]
                                                    : "";
    return parseMemorySize(size, bytes) ? std::string()
                                        : "the memory size must be a number of bytes, with K, M, "
                                          "G or T after it for powers of 1024: " +
                                              quotedName(size);
}
