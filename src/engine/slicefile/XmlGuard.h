#pragma once

#include <cstddef>

// Deepest element nesting a slice-file document may have. The XML and SVG
// parsers build and free their trees recursively on threads with small stacks
// (the image thread has 1 MiB); real layers nest a handful of levels.
constexpr int kMaxXmlDepth = 256;

// A quick scan, before a recursive parser sees outside text: false when
// elements nest deeper than kMaxXmlDepth or the text declares entities (which
// can expand into nesting the scan cannot see). Well-formedness is left to
// the parser.
bool xmlFitsRecursiveParser(const char* text, size_t size);
