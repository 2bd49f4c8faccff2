#pragma once

// Answers the options every tool shares: "--help" and "-h" print help, and
// "--version" the tool's name and version, to standard output. Returns true,
// having printed, when arg is one of them.
bool printInfoOption(const char* arg, const char* tool, const char* help);
