#pragma once

#include <string>
#include <vector>

// A command line read the way "/bin/sh -c" reads it, for the host guard:
// quotes and escapes removed, expansions marked, redirections set apart.

struct ShellWord
{
    std::string text;     // after quote and escape removal
    bool dynamic = false; // holds an expansion the shell works out at run time
    bool pattern = false; // holds an unquoted glob or brace pattern
};

// One simple command (the words between operators such as ; | && ( ).
struct ShellCommand
{
    std::vector<ShellWord> words;
    std::vector<ShellWord> writes; // targets of output redirections
};

// Splits a command line into its commands in order, and collects the text of
// every command substitution ($(...), `...`) for a reading of its own. False,
// with the reason, for what is not read here (here-documents, unbalanced
// quotes or parentheses, a redirection without a target).
bool readShellLine(const std::string& line, std::vector<ShellCommand>* commands,
                   std::vector<std::string>* substitutions, std::string* why);
