#include "engine/slicefile/XmlGuard.h"

#include <cstring>

namespace {

// Position after the first `pattern` at or after p, or end.
const char* skipPast(const char* p, const char* end, const char* pattern)
{
    const size_t length = strlen(pattern);
    const void* found = memmem(p, static_cast<size_t>(end - p), pattern, length);
    return found ? static_cast<const char*>(found) + length : end;
}

bool startsWith(const char* p, const char* end, const char* prefix)
{
    const size_t length = strlen(prefix);
    return static_cast<size_t>(end - p) >= length && memcmp(p, prefix, length) == 0;
}

// Position of the '>' that closes a tag, quoted '>' passed over, or end;
// adds the tag's attributes (its unquoted '=') to `attributes`.
const char* tagEnd(const char* p, const char* end, size_t& attributes)
{
    char quote = 0;
    for (; p < end; ++p) {
        if (quote) {
            if (*p == quote)
                quote = 0;
        } else if (*p == '"' || *p == '\'') {
            quote = *p;
        } else if (*p == '=') {
            ++attributes;
        } else if (*p == '>') {
            return p;
        }
    }
    return end;
}

} // namespace

bool xmlFitsRecursiveParser(const char* text, size_t size, size_t maxNodes)
{
    const char* p = text;
    const char* const end = text + size;
    if (memmem(text, size, "<!ENTITY", 8))
        return false;
    int depth = 0;
    size_t nodes = 0;
    size_t ignored = 0;
    while (p < end) {
        const void* open = memchr(p, '<', static_cast<size_t>(end - p));
        if (!open)
            break;
        p = static_cast<const char*>(open) + 1;
        if (p == end)
            break;
        if (*p == '/') {
            --depth;
            p = tagEnd(p, end, ignored);
            continue;
        }
        // Every other construct becomes a node of a tree.
        ++nodes;
        if (*p == '?') {
            p = skipPast(p, end, "?>");
        } else if (startsWith(p, end, "!--")) {
            p = skipPast(p + 3, end, "-->");
        } else if (startsWith(p, end, "![CDATA[")) {
            p = skipPast(p, end, "]]>");
        } else if (*p == '!') {
            p = tagEnd(p, end, ignored);
        } else {
            if (++depth > kMaxXmlDepth)
                return false;
            p = tagEnd(p, end, nodes);
            if (p < end && p[-1] == '/')
                --depth;
        }
        if (nodes > maxNodes)
            return false;
    }
    return true;
}
