#include "engine/slicefile/SvgxHead.h"

#include "engine/slicefile/SvgParser.h"

std::optional<SliceParams> readSvgxParams(const std::string& path)
{
    SvgParser parser(path, 0); // the reader keeps its own buffer
    if (parser.open() != 0)
        return std::nullopt;
    return parser.sliceParams();
}
