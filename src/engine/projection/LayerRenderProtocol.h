#pragma once

#include <cstddef>
#include <cstdint>

// The exchange between the layer projection and its renderer program over
// one socket. The projection sends a request head and the layer document;
// the renderer answers with a reply head, a reason text and the pixels. Both
// ends come from one build, so the heads travel in the machine's own layout.
// The renderer draws hostile documents: the projection takes nothing of a
// reply that it has not checked against its own request.
namespace layerrender {

// How a layer is drawn: millimetres around the panel centre.
struct Geometry
{
    int32_t width = 0; // panel pixels
    int32_t height = 0;
    float scaleX = 1; // pixels per millimetre, negative for a mirror
    float scaleY = 1;
    float rotationDegrees = 0;
    int32_t offsetUm = 0; // outline offset; 0 for none
};

constexpr uint32_t kRequestMagic = 0x5152594cu;
constexpr uint32_t kReplyMagic = 0x5052594cu;
// The renderer writes this byte once it is ready for requests.
constexpr char kReady = 'R';

struct RequestHead
{
    uint32_t magic = kRequestMagic;
    uint32_t serial = 0; // the request's number, which its reply carries back
    Geometry geometry;
    uint32_t documentBytes = 0;
};

enum class Outcome : int32_t {
    Drawn = 0,
    Refused = 1,  // the check before rendering refused it; the reason says why
    NotSvg = 2,   // the renderer could not load it
    NoMemory = 3, // the renderer's memory budget ran out
};

// Where a drawn layer lies: on the gray plane (layers in grays, the common
// case), or in colour.
enum class Plane : int32_t { Gray = 0, Colour = 1 };

// Followed by `reasonBytes` of text, then for a drawn layer its pixels:
// Gray: width x height bytes, row by row. Colour: the rows of the content
// rectangle (x, y, w, h), w 32-bit pixels (0xffRRGGBB) each; the rest of the
// panel is black.
struct ReplyHead
{
    uint32_t magic = kReplyMagic;
    uint32_t serial = 0; // that of the request answered
    Outcome outcome = Outcome::NotSvg;
    Plane plane = Plane::Gray;
    int32_t x = 0, y = 0, w = 0, h = 0;
    int32_t offsetMs = -1; // time of the outline offset; -1 without one
    uint32_t reasonBytes = 0;
};

// The renderer's exit status when a fault followed a refusal of its memory
// budget: the toolkit does not check every allocation, so running out may
// end in a fault rather than in a NoMemory reply.
constexpr int kExitBudgetRanOut = 3;

constexpr uint32_t kMaxReasonBytes = 4096;
// Larger than any layer the slice-file reader hands out.
constexpr uint32_t kMaxDocumentBytes = 64u << 20;
// The largest side of a panel, in pixels.
constexpr int32_t kMaxSide = 32768;

// The heap the renderer may use for one panel: 64 MiB for the document and
// the renderer's tree, and the images of one layer (a colour image of 4
// bytes a pixel, a gray plane). A large sound layer fits: half a million
// outline points (8 MiB of text) take about 60 MiB in the renderer, which
// spends about 4 KiB on each element. So does the board: its hardware
// versions are told apart at about 100 MiB of memory, the control program
// keeps its own planes, and of all the board's processes the renderer is
// the first the kernel ends when memory runs short.
inline uint64_t memoryBudget(int width, int height)
{
    return (uint64_t{64} << 20) + uint64_t{5} * uint64_t(width > 0 ? width : 0) * uint64_t(height > 0 ? height : 0);
}

} // namespace layerrender
