#pragma once

#include <string>
#include <vector>

// The microcontroller's reply lines carry each answer between a pair of
// identical tags: "<reply>ok<reply>", "<value>5<value>", "<config>...<config>".

// The text between the first `tag` and its next occurrence; false when either is missing.
bool m0Field(const char* reply, const char* tag, std::string* text);

// The text cut at every ","; an empty piece between two commas counts, an
// empty last piece (text ending in a comma, or no text) does not.
std::vector<std::string> m0Pieces(const std::string& text);
