// offsetSvg over layer documents. Input: offset byte (tenths of a mm,
// signed), mode byte, then a whole document (mode bit 0 clear) or path data
// that is put into a document here (set), so that the geometry is reached
// without the XML having to be right.
#include "engine/slicefile/SvgOffset.h"

#include <QByteArray>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const float offsetMm = static_cast<int8_t>(data[0]) / 10.0f;
    QByteArray text(reinterpret_cast<const char*>(data + 2), static_cast<int>(size - 2));
    QByteArray svg;
    if (data[1] & 1) {
        text.replace('&', "&amp;").replace('<', "&lt;").replace('"', "&quot;");
        svg = "<svg xmlns=\"http://www.w3.org/2000/svg\"><g id=\"layer-0\"><path d=\"" + text + "\"/></g></svg>";
    } else {
        svg = text;
    }
    offsetSvg(svg, offsetMm);
    return 0;
}
