// The layer renderer: draws the SVG layers of a print for the layer
// projection, in a process of its own so that a layer that exhausts memory
// or time harms nothing but this process. Started by the projection with
// its heap budget in bytes and the projection's process id as arguments;
// talks over the socket it gets as standard input and output (see
// LayerRenderProtocol.h). Ends when the socket closes or the projection's
// process ends.
#include "BoundedMessages.h"
#include "Confinement.h"
#include "MemoryBudget.h"

#include "engine/projection/LayerPainter.h"
#include "engine/projection/LayerRenderProtocol.h"

#include <QGuiApplication>

#include <malloc.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#ifdef TALVIKS_SANITIZER_ALLOCATOR
// The sanitizer's allocator replaces the budget: a resident size past this
// ends the program (and leaks at the end are none of the printer's business).
extern "C" const char* __asan_default_options()
{
    return "hard_rss_limit_mb=1024:detect_leaks=0";
}
extern "C" const char* __tsan_default_options()
{
    return "hard_rss_limit_mb=1024";
}
#endif

using namespace layerrender;

namespace {

constexpr int kSocket = STDIN_FILENO;
// Past the projection's own time limit: a renderer whose printer is gone
// stops by itself.
constexpr unsigned kLonelyRenderSeconds = 120;

// Moves `size` bytes through the socket; false once it closed or failed.
bool transfer(char* bytes, size_t size, bool sending)
{
    while (size > 0) {
        const ssize_t n = sending ? send(kSocket, bytes, size, MSG_NOSIGNAL) : read(kSocket, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        size -= size_t(n);
    }
    return true;
}

bool readAll(void* to, size_t size)
{
    return transfer(static_cast<char*>(to), size, false);
}

bool writeAll(const void* from, size_t size)
{
    return transfer(const_cast<char*>(static_cast<const char*>(from)), size, true);
}

bool sendLayer(const PaintedLayer& layer, const RequestHead& request)
{
    const Geometry& g = request.geometry;
    ReplyHead head;
    head.serial = request.serial;
    head.outcome = layer.outcome;
    head.plane = layer.plane;
    head.x = layer.content.x();
    head.y = layer.content.y();
    head.w = layer.content.width();
    head.h = layer.content.height();
    head.offsetMs = layer.offsetMs;
    const size_t reasonBytes = std::min<size_t>(layer.reason.size(), kMaxReasonBytes);
    head.reasonBytes = static_cast<uint32_t>(reasonBytes);
    if (!writeAll(&head, sizeof head) || !writeAll(layer.reason.data(), reasonBytes))
        return false;
    if (layer.outcome != Outcome::Drawn)
        return true;
    if (layer.plane == Plane::Gray)
        return writeAll(layer.gray.data(), size_t(g.width) * size_t(g.height));
    for (int y = head.y; y < head.y + head.h; ++y)
        if (!writeAll(layer.colour.constScanLine(y) + size_t(head.x) * 4, size_t(head.w) * 4))
            return false;
    return true;
}

bool validRequest(const RequestHead& head)
{
    const Geometry& g = head.geometry;
    return head.magic == kRequestMagic && g.width > 0 && g.height > 0 && g.width <= kMaxSide && g.height <= kMaxSide &&
           head.documentBytes <= kMaxDocumentBytes;
}

// Serves one request; false when the program should end.
bool serveOne()
{
    RequestHead request;
    if (!readAll(&request, sizeof request))
        return false; // the projection closed the socket
    if (!validRequest(request)) {
        fprintf(stderr, "talviks-layer-render: a request it cannot read\n");
        return false;
    }
    memorybudget::clearRefused();
    boundedmessages::newLayer();
    PaintedLayer layer;
    try {
        QByteArray document(static_cast<int>(request.documentBytes), Qt::Uninitialized);
        if (!readAll(document.data(), size_t(document.size())))
            return false;
        alarm(kLonelyRenderSeconds);
        layer = paintLayer(document, request.geometry);
        alarm(0);
    } catch (const std::bad_alloc&) {
        layer = PaintedLayer();
        layer.outcome = Outcome::NoMemory;
    }
    if (memorybudget::refused())
        layer.outcome = Outcome::NoMemory; // whatever was drawn may lack parts
    if (!sendLayer(layer, request))
        return false;
    // After a shortage the heap may hold anything: a fresh renderer follows.
    if (layer.outcome == Outcome::NoMemory)
        return false;
    layer = PaintedLayer();
    malloc_trim(0); // an idle renderer holds little
    return true;
}

// A fault after the budget refused memory is the budget's doing: say so in
// the exit status. Any other fault ends the program as it would have (the
// handler is reset as it runs).
void onFault(int signal)
{
    if (memorybudget::refused())
        _exit(kExitBudgetRanOut);
    raise(signal);
}

void tellBudgetFaults()
{
    struct sigaction action{};
    action.sa_handler = onFault;
    action.sa_flags = SA_RESETHAND | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGSEGV, SIGBUS, SIGABRT, SIGILL, SIGFPE})
        sigaction(signal, &action, nullptr);
}

// Of the board's processes this is the one to end when memory runs short.
void offerToTheOomKiller()
{
    FILE* adjust = fopen("/proc/self/oom_score_adj", "we");
    if (adjust) {
        fputs("1000", adjust);
        fclose(adjust);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: talviks-layer-render HEAP-BUDGET-BYTES PRINTER-PID (started by the printer)\n");
        return 2;
    }
    if (!confinement::followParent(static_cast<pid_t>(strtol(argv[2], nullptr, 10)))) {
        fprintf(stderr, "talviks-layer-render: its parent is not the printer %s, or is gone\n", argv[2]);
        return 2;
    }
    if (!confinement::dropPrivileges()) {
        fprintf(stderr, "talviks-layer-render: cannot give up its privileges: %s\n", strerror(errno));
        return 2;
    }
    boundedmessages::install();
    if (memorybudget::kEnforced) {
        memorybudget::set(strtoull(argv[1], nullptr, 10));
        tellBudgetFaults();
    }
    offerToTheOomKiller();
    // Text in a layer needs the font database; nothing is shown.
    int qtArgc = 3;
    char program[] = "talviks-layer-render", platform[] = "-platform", offscreen[] = "offscreen";
    char* qtArgv[] = {program, platform, offscreen, nullptr};
    QGuiApplication application(qtArgc, qtArgv);
    if (!writeAll(&kReady, 1))
        return 0;
    while (serveOne()) {
    }
    // Without exit handlers: the toolkit's clean-up is of no use to anyone now.
    _exit(0);
}
