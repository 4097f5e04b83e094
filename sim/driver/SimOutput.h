#pragma once

#include <cstdio>
#include <string>

// The simulator's own output (progress, results, summary). The engine writes
// traces to standard output as it would on the board's console; once they
// are diverted, those go to a file and this stays the terminal.
FILE* simOut();

// Sends everything later written to standard output into `path` (made or
// emptied) and keeps simOut() on the old standard output. False, with the
// cause on stderr, when the file cannot be opened; nothing changes then.
bool divertEngineTraces(const std::string& path);
