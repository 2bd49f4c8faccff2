#pragma once

// Answers the options every tool shares: "--help" and "-h" (and "/?" on
// Windows) print help, and "--version" the tool's name and version, to
// standard output. Returns -1 when arg is none of them; else the exit status:
// 0 once printed, 1 when standard output would not take the text (said on
// standard error).
int answerInfoOption(const char* arg, const char* tool, const char* help);
