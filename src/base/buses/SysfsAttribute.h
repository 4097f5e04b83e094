#pragma once

#include <cstddef>
#include <string>

// Attribute files of the kernel's sysfs classes (GPIO lines, PWM channels):
// each access opens the one file, moves a few bytes and closes it again.

// Whether the file or folder is there.
bool sysfsExists(const char* path);

// Writes the text in one write: 0 or a negative errno. When the open fails
// and `openTag` is given, the failure is printed with perror under that tag.
int sysfsWrite(const char* path, const std::string& text, const char* openTag = nullptr);

// As sysfsWrite, after checking the attribute is there: -EEXIST when it is not.
int sysfsWriteAttribute(const char* path, const std::string& text);

// Reads up to `size` bytes from an existing attribute: the count (0 for an
// empty file), -EEXIST when it is not there, or a negative errno.
int sysfsReadAttribute(const char* path, char* buffer, size_t size);
