#pragma once

// How both tools read their options, so that no mistyped option is ever
// taken for a file, nor a file for an option.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The option that arg spells, written as on POSIX ("--check", "-z", "-j4"),
// or an empty text when arg is an operand. An option starts with "-" and does
// not end in ".png" (as hasPngExtension reads it); "-" alone is one too, which
// no tool knows. Where a slash starts options (Windows), whose own commands
// take them whatever the case, "/" and one character stand for "-" and it
// in lower case ("/Z" for "-z"), as do "/j" and a count joined to it
// ("/J2"), "/" and a longer word for "--" and it ("/CHECK" for "--check"),
// and "/?" for "--help". "--" itself is returned as it is:
// it ends the options, and the caller takes every argument after it as an
// operand.
std::string optionIn(const std::string& arg);

// Answers the options every tool shares, as optionIn spells them: "--help"
// and "-h" print help, and "--version" the tool's name and version, to
// standard output. Returns nothing when option is neither; else the exit
// status: 0 once printed, 1 when standard output would not take the text
// (said on standard error).
std::optional<int> answerInfoOption(const std::string& option, const char* tool, const char* help);

// Says "tool: reason", unless reason is empty, and then the usage line, the
// first line of help, on standard error; returns 2, the status of a usage
// error.
int usageError(const char* tool, const std::string& reason, const char* help);

// Whether option, as optionIn spells it, is the option name, which takes a
// value: name alone, its value then being the next argument, which i moves
// to (empty when there is none); name, "=" and the value; or, for a short
// name ("-j"), the value joined to it ("-j4"). value is set only then.
bool takesValue(const std::string& option, const std::string& name,
                const std::vector<std::string>& args, size_t& i, std::string& value);

// Reads the SIZE of --memory: a number of bytes, whole or with a fraction,
// followed by nothing or by K, M, G or T for powers of 1024, in either case.
// Returns why text is no such size (or 0), a usage error, with bytes
// untouched; or else "".
std::string readMemorySize(const std::string& text, uint64_t& bytes);
