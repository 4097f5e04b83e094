#include "engine/slicefile/SvgGuard.h"

#include "engine/slicefile/XmlGuard.h"

#include <QBuffer>
#include <QHash>
#include <QImageReader>
#include <QString>
#include <QXmlStreamReader>

#include <algorithm>
#include <climits>
#include <iterator>
#include <vector>

namespace {

// One element of the document; element 0 stands for the document itself.
struct Element
{
    int32_t firstChild = -1;
    int32_t nextSibling = -1;
    uint32_t size = 0;     // characters of its own markup
    int32_t firstRef = 0;  // its references: targets[firstRef, firstRef + refCount)
    int32_t refCount = 0;
    // Filled by the expansion walk.
    enum : uint8_t { Unvisited, OnPath, Done } state = Unvisited;
    uint32_t height = 0;   // longest chain of nesting and references below it
    uint64_t expanded = 0; // characters drawn with every reference expanded
};

// Ids are kept as hashes: two ids of one hash count as one, which can only
// count more drawing than there is.
uint64_t idHash(const QStringRef& id)
{
    uint64_t hash = 14695981039346656037ull;
    for (const QChar c : id)
        hash = (hash ^ c.unicode()) * 1099511628211ull;
    return hash;
}

struct Reference
{
    int32_t element;
    uint64_t id;
};

QStringRef localName(const QStringRef& name)
{
    const int colon = name.lastIndexOf(QLatin1Char(':'));
    return colon < 0 ? name : name.mid(colon + 1);
}

// An embedded picture: its format and size are read from its header only.
std::string embeddedPictureRefusal(const QStringRef& uri, uint64_t& pixels)
{
    const int at = uri.lastIndexOf(QLatin1String("base64,"));
    if (at < 0)
        return "embedded picture not in base64";
    QByteArray bytes = QByteArray::fromBase64(uri.mid(at + 7).toLatin1());
    QBuffer buffer(&bytes);
    QImageReader reader(&buffer);
    const QByteArray format = reader.format();
    static const char* const allowed[] = {"png", "jpeg", "jpg", "bmp", "gif"};
    if (std::none_of(std::begin(allowed), std::end(allowed), [&](const char* f) { return format == f; }))
        return "embedded picture of format '" + format.toStdString() + "'";
    const QSize size = reader.size();
    if (!size.isValid())
        return "embedded picture of unknown size";
    pixels += uint64_t(size.width()) * uint64_t(size.height());
    if (pixels > kMaxEmbeddedPixels)
        return "embedded pictures larger than " + std::to_string(kMaxEmbeddedPixels) + " pixels";
    return std::string();
}

class ReferenceGraph
{
public:
    std::string read(const QByteArray& document);
    std::string expand();

private:
    std::string readAttributes(int32_t element, const QStringRef& name, const QXmlStreamAttributes& attributes);
    void resolve();

    std::vector<Element> m_elements;
    std::vector<Reference> m_references;
    std::vector<std::pair<uint64_t, int32_t>> m_ids; // id hash, element
    std::vector<int32_t> m_targets;
    uint64_t m_pixels = 0;
};

std::string ReferenceGraph::readAttributes(int32_t element, const QStringRef& name,
                                           const QXmlStreamAttributes& attributes)
{
    const bool image = localName(name) == QLatin1String("image");
    for (const QXmlStreamAttribute& attribute : attributes) {
        const QStringRef attributeName = localName(attribute.qualifiedName());
        const QStringRef value = attribute.value();
        if (attributeName == QLatin1String("id")) {
            m_ids.emplace_back(idHash(value), element);
            continue;
        }
        if (attributeName != QLatin1String("href"))
            continue;
        if (image) {
            if (!value.startsWith(QLatin1String("data:")))
                return "image refers to a file: " + value.toString().toStdString();
            const std::string refusal = embeddedPictureRefusal(value, m_pixels);
            if (!refusal.empty())
                return refusal;
        } else if (!value.startsWith(QLatin1Char('#'))) {
            return "reference outside the document: " + value.toString().toStdString();
        } else {
            m_references.push_back({element, idHash(value.mid(1))});
        }
    }
    return std::string();
}

std::string ReferenceGraph::read(const QByteArray& document)
{
    QXmlStreamReader xml(document);
    // As the renderer reads it: prefixes are part of the names.
    xml.setNamespaceProcessing(false);
    m_elements.assign(1, Element());
    std::vector<int32_t> open{0};
    qint64 offset = 0;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        const uint32_t size = static_cast<uint32_t>(std::max<qint64>(xml.characterOffset() - offset, 1));
        offset = xml.characterOffset();
        if (token == QXmlStreamReader::DTD && !xml.entityDeclarations().isEmpty())
            return "entity declarations";
        if (token == QXmlStreamReader::StartElement) {
            if (open.size() > size_t(kMaxXmlDepth))
                return "elements nest deeper than " + std::to_string(kMaxXmlDepth);
            const int32_t index = static_cast<int32_t>(m_elements.size());
            Element element;
            element.size = size;
            Element& parent = m_elements[size_t(open.back())];
            element.nextSibling = parent.firstChild;
            parent.firstChild = index;
            m_elements.push_back(element);
            open.push_back(index);
            const std::string refusal = readAttributes(index, xml.qualifiedName(), xml.attributes());
            if (!refusal.empty())
                return refusal;
        } else {
            m_elements[size_t(open.back())].size += size;
            if (token == QXmlStreamReader::EndElement && open.size() > 1)
                open.pop_back();
        }
    }
    if (xml.hasError())
        return "not well-formed: " + xml.errorString().toStdString();
    resolve();
    return std::string();
}

// Each reference leads to every element that carries its id (none: the
// renderer draws nothing for it).
void ReferenceGraph::resolve()
{
    std::sort(m_ids.begin(), m_ids.end());
    for (const Reference& r : m_references) {
        Element& element = m_elements[size_t(r.element)];
        if (element.refCount == 0)
            element.firstRef = static_cast<int32_t>(m_targets.size());
        auto range = std::equal_range(m_ids.begin(), m_ids.end(), std::make_pair(r.id, INT32_MIN),
                                      [](const std::pair<uint64_t, int32_t>& a,
                                         const std::pair<uint64_t, int32_t>& b) { return a.first < b.first; });
        for (auto it = range.first; it != range.second; ++it) {
            m_targets.push_back(it->second);
            ++element.refCount;
        }
    }
}

// Walks the document from its top, each element once, without recursion
// (the image thread's stack is small): an element's expanded size is its own
// markup plus that of its children and of what it refers to.
std::string ReferenceGraph::expand()
{
    // Each step on the path: the element and the next of its edges to follow
    // (children first, then references).
    struct Step
    {
        int32_t element;
        int32_t nextChild;
        int32_t nextRef;
    };
    std::vector<Step> path;
    auto enter = [&](int32_t index) {
        Element& e = m_elements[size_t(index)];
        e.state = Element::OnPath;
        e.expanded = e.size;
        e.height = 1;
        path.push_back({index, e.firstChild, 0});
    };
    enter(0);
    while (!path.empty()) {
        Step& step = path.back();
        Element& e = m_elements[size_t(step.element)];
        int32_t next = -1;
        if (step.nextChild >= 0) {
            next = step.nextChild;
            step.nextChild = m_elements[size_t(next)].nextSibling;
        } else if (step.nextRef < e.refCount) {
            next = m_targets[size_t(e.firstRef + step.nextRef++)];
        }
        if (next >= 0) {
            const Element& target = m_elements[size_t(next)];
            if (target.state == Element::OnPath)
                return "references form a cycle";
            if (target.state == Element::Unvisited) {
                enter(next);
                continue;
            }
            e.expanded = std::min(e.expanded + target.expanded, kMaxExpandedSize + 1);
            e.height = std::max(e.height, target.height + 1);
            continue;
        }
        // Every edge followed: the element is done, and counts for the one before it.
        if (e.expanded > kMaxExpandedSize)
            return "references expand to more than " + std::to_string(kMaxExpandedSize) + " characters";
        if (e.height > uint32_t(kMaxXmlDepth) + 1)
            return "references chain deeper than " + std::to_string(kMaxXmlDepth);
        e.state = Element::Done;
        path.pop_back();
        if (!path.empty()) {
            Element& before = m_elements[size_t(path.back().element)];
            before.expanded = std::min(before.expanded + e.expanded, kMaxExpandedSize + 1);
            before.height = std::max(before.height, e.height + 1);
        }
    }
    return std::string();
}

} // namespace

std::string svgRenderRefusal(const QByteArray& document)
{
    // Without references only the nesting matters, and a quick scan tells it.
    if (!document.contains("href")) {
        if (!xmlFitsRecursiveParser(document.constData(), size_t(document.size())))
            return "elements nest deeper than " + std::to_string(kMaxXmlDepth) + " or declare entities";
        return std::string();
    }
    ReferenceGraph graph;
    std::string refusal = graph.read(document);
    if (refusal.empty())
        refusal = graph.expand();
    return refusal;
}
