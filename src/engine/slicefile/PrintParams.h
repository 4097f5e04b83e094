#pragma once

#include "engine/slicefile/SliceParams.h"

#include <QByteArray>
#include <QDomDocument>
#include <QDomElement>
#include <QString>

// An XML document holding print parameters. Text that is not well-formed,
// nests too deep, declares entities or holds more than kMaxNodes nodes
// (elements, attributes, comments) gives a null root.
class ParamsDocument
{
public:
    // Reads the file at `path`; also keeps the absolute path of its folder.
    explicit ParamsDocument(const QString& path);
    explicit ParamsDocument(const QByteArray& text);

    const QDomElement& root() const { return m_root; }
    const QString& dir() const { return m_dir; }

    // Largest document taken.
    static constexpr qint64 kMaxSize = 32 << 20;
    // Most nodes taken: parameters are a few dozen; the tree costs a few
    // hundred bytes a node.
    static constexpr size_t kMaxNodes = 4096;

private:
    void parse(const QByteArray& text);

    QDomDocument m_document;
    QDomElement m_root;
    QString m_dir;
};

// Reads the first `printparams` child of `root` and its `projectiontime`,
// `projectionadjust` and `printrange` children into `params`. -1 for a null
// root, else 0 (also when there is no `printparams`: nothing changes).
int parsePrintParams(const QDomElement& root, SliceParams& params);
