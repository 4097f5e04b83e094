#include "engine/slicefile/PrintParams.h"

#include "base/log/RootPath.h"

#include "engine/slicefile/NumberConversion.h"
#include "engine/slicefile/XmlGuard.h"

#include <QFile>
#include <QFileInfo>

namespace {

float floatAttribute(const QDomElement& e, const char* name, float absent)
{
    if (!e.hasAttribute(name))
        return absent;
    return e.attribute(name).toFloat(); // 0 for text that is not a number
}

uint32_t unsignedAttribute(const QDomElement& e, const char* name, uint32_t absent)
{
    if (!e.hasAttribute(name))
        return absent;
    return e.attribute(name).toUInt();
}

// Seconds in the file, whole milliseconds in the parameters.
uint32_t millisecondsAttribute(const QDomElement& e, const char* name)
{
    return saturatingCast<uint32_t>(floatAttribute(e, name, 0) * 1000.0f);
}

} // namespace

ModelInfo toModelInfo(const SliceParams& p)
{
    ModelInfo m;
    m.materialName = p.materialName;
    m.layerHeight = p.layerHeight;
    m.volume = p.volume;
    m.layerCount = p.layerCount;
    m.attachLayers = p.attachLayers;
    m.transitionLayers = p.transitionLayers;
    m.attachExposure = p.attachExposure;
    m.normalExposure = p.normalExposure;
    m.lightIntensity = p.lightIntensity;
    m.extraValue1 = p.extraValue1;
    m.extraValue2 = p.extraValue2;
    m.adjustX = p.adjustX;
    m.adjustY = p.adjustY;
    m.printMode = p.printMode;
    return m;
}

ParamsDocument::ParamsDocument(const QString& path)
{
    QFile file(QString::fromStdString(rootPath(path.toStdString())));
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxSize)
        return;
    m_dir = QFileInfo(path).absolutePath();
    parse(file.readAll());
}

ParamsDocument::ParamsDocument(const QByteArray& text)
{
    parse(text);
}

void ParamsDocument::parse(const QByteArray& text)
{
    if (text.size() > kMaxSize ||
        !xmlFitsRecursiveParser(text.constData(), static_cast<size_t>(text.size()), kMaxNodes))
        return;
    if (m_document.setContent(text))
        m_root = m_document.documentElement();
}

int parsePrintParams(const QDomElement& root, SliceParams& params)
{
    if (root.isNull())
        return -1;
    const QDomElement e = root.firstChildElement("printparams");
    if (e.isNull())
        return 0;

    params.layerHeight = floatAttribute(e, "layerheight", 0.1f);
    params.volume = floatAttribute(e, "volume", 0);
    params.layerCount = unsignedAttribute(e, "layercount", 0);
    params.materialName = e.attribute("materialname").toUtf8().toStdString();
    params.lightIntensity = saturatingCast<uint32_t>(floatAttribute(e, "lightintensity", 1));
    params.printMode = unsignedAttribute(e, "printmode", 0);

    const QDomElement time = e.firstChildElement("projectiontime");
    if (!time.isNull()) {
        params.attachLayers = unsignedAttribute(time, "attachlayer", 0);
        params.transitionLayers = unsignedAttribute(time, "buildinlayer", 8);
        params.attachExposure = millisecondsAttribute(time, "attachtime");
        params.normalExposure = millisecondsAttribute(time, "basetime");
    }
    const QDomElement adjust = e.firstChildElement("projectionadjust");
    if (!adjust.isNull()) {
        params.adjustX = floatAttribute(adjust, "x", 100);
        params.adjustY = floatAttribute(adjust, "y", 100);
    }
    const QDomElement range = e.firstChildElement("printrange");
    if (!range.isNull()) {
        params.minX = floatAttribute(range, "minx", 0);
        params.minY = floatAttribute(range, "miny", 0);
        params.minZ = floatAttribute(range, "minz", 0);
        params.maxX = floatAttribute(range, "maxx", 0);
        params.maxY = floatAttribute(range, "maxy", 0);
        params.maxZ = floatAttribute(range, "maxz", 0);
    }
    return 0;
}
