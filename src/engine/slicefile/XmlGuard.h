#pragma once

#include <cstddef>
#include <cstdint>

// Deepest element nesting a slice-file document may have. The XML and SVG
// parsers build and free their trees recursively on threads with small stacks
// (the image thread has 1 MiB); real layers nest a handful of levels.
constexpr int kMaxXmlDepth = 256;

// A quick scan, before a recursive parser sees outside text: false when
// elements nest deeper than kMaxXmlDepth, the text declares entities (which
// can expand into nesting the scan cannot see), or it holds more than
// `maxNodes` elements, attributes, comments and other markup together (a
// parser that builds a tree spends a few hundred bytes on each). Well-formedness is left to the parser.
bool xmlFitsRecursiveParser(const char* text, size_t size, size_t maxNodes = SIZE_MAX);
