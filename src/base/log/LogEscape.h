#pragma once

#include <cstddef>
#include <string>

// Log lines often carry text of peers: an update server's message, the output
// of a scan tool or a daemon. A line break in such text would start a second
// line that looks like one of ours, and terminal controls would act on
// whoever reads the log on a console. The log writers therefore escape every
// control character of a message except the tab: a line feed becomes "\n", a
// carriage return "\r", any other "\x" and two hex digits. Line feeds that
// end the message are kept: they only end the line.
namespace logescape {

// Whether text[0, length) holds anything to escape.
bool needsEscape(const char* text, size_t length);

// Writes the escaped text[0, length) to `out`, at most `room` bytes; an
// escape that does not fit whole is left out, with the rest. The bytes written.
size_t escape(const char* text, size_t length, char* out, size_t room);

// Escapes text[0, length) where it lies, within `room` bytes; its new length.
size_t escapeInPlace(char* text, size_t length, size_t room);

// Appends the escaped text[0, length) to `out`.
void appendEscaped(std::string& out, const char* text, size_t length);

} // namespace logescape
