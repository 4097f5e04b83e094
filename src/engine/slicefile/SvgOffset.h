#pragma once

#include <polyclipping/clipper.hpp>

#include <QByteArray>
#include <QString>

#include <cstdint>

// Widens (positive offset) or narrows (negative) every outline of an SVG
// layer document by a fixed distance. Path data is read as straight-edged
// polygons in absolute millimetres: "M" starts a polygon, numbers come in x y
// pairs, every other letter and character is passed over. Polygon points are
// in micrometres.

// Coordinates and offsets beyond these are not a layer of this machine: the
// path, or the whole document for an offset, is left as it is.
constexpr double kMaxPathCoordinateMm = 100000;
constexpr double kMaxOffsetMm = 1000;

// Offsets every `path` element's outline by offsetMm, drops points closer
// than 20 um or in line, and removes paths whose outlines vanish. False, with
// the document unchanged, when it is not well-formed XML (or nests too deep,
// declares entities, or the offset is not a finite distance within limits).
bool offsetSvg(QByteArray& svg, float offsetMm);

// Appends the polygons of path data `text` to `polygons`. False, with
// nothing appended, when a coordinate is not finite or out of range.
bool parsePathData(const char* text, ClipperLib::Paths& polygons);
// Reads the number at `text`; returns the position after it and the blanks
// that follow.
const char* readPathNumber(const char* text, float& value);
// Replaces the set by its offset (miter joins). False, with the set
// unchanged, when the offset fails.
bool offsetPolygons(ClipperLib::Paths& polygons, int deltaUm);
// Cleans every polygon, then drops those with fewer than 3 points.
void cleanPolygons(ClipperLib::Paths& polygons, int64_t distUm);
// Removes points closer than distUm to their neighbours, points that add
// almost no area, and points in line with their neighbours.
void cleanPolygon(ClipperLib::Path& polygon, int64_t distUm);
// Path data of the set: "M x y L x y ... Z " per polygon, in millimetres.
QString writePathData(const ClipperLib::Paths& polygons);
