#include "memory_option.h"

#include <cctype>
#include <cmath>

#include "machine.h"

uint64_t defaultMemoryBudget() { return memoryGranted() / 4 * 3; }

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
    const double value = std::stod(number) * std::pow(1024.0, double(unit));
    if (value < 1 || value >= 1.8e19)
        return false;
    bytes = uint64_t(value);
    return true;
}
