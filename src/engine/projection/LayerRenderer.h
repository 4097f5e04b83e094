#pragma once

#include "base/threads/noncopyable.h"
#include "engine/projection/LayerRenderProtocol.h"

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

// The layer projection's side of the layer renderer, the program that draws
// SVG layers in a process of its own: memory the renderer cannot have, a
// fault in the toolkit or a layer that takes too long ends that process,
// never the printer. The renderer is started on first use, with a heap
// budget for the panel (layerrender::memoryBudget), and kept for the layers
// that follow; after any failure it is stopped, and the next layer starts a
// fresh one.
//
// Found through the environment variable TALVIKS_LAYER_RENDERER (the words
// that start it: an emulator's first in a cross build), else beside this
// program as "talviks-layer-render". It gets its heap budget and this
// process's id (it ends with this process), the socket as its standard input
// and output, and a pipe as its standard error, of which each exchange logs
// a few lines.
//
// One exchange at a time (the projection's lock).
class LayerRenderer : noncopyable
{
public:
    static constexpr const char* kProgramName = "talviks-layer-render";
    static constexpr const char* kEnvironment = "TALVIKS_LAYER_RENDERER";

    LayerRenderer() = default;
    ~LayerRenderer();

    // Sends a document and waits for the head and the reason of the reply;
    // the pixels follow through receive(). A reply is taken only when it
    // answers this request and its pixels fit `geometry`: a drawn layer's
    // plane is Gray (width x height bytes) or Colour with its rectangle
    // inside the panel. A renderer with anything to say between requests
    // is replaced. Within `timeLimitMs` of real time
    // for the whole exchange (after the start of a renderer, which has a
    // limit of its own), and only as long as `cancelFd` (-1: none) is not
    // readable. Results of this and of
    // receive(): 0; -ETIMEDOUT or -ECANCELED, the renderer stopped; -ENOMEM
    // when the kernel ended it for want of memory; -EIO when it ended
    // otherwise or answered what cannot be read; -ENOEXEC when no renderer
    // could be started (or one did not get ready). why() tells the cause.
    int request(const layerrender::Geometry& geometry, const std::string& document, int timeLimitMs, int cancelFd,
                layerrender::ReplyHead& reply, std::string& reason);
    // The next `size` bytes of the reply's pixels.
    int receive(void* to, size_t size);
    // Stops the renderer (a reply that is not read whole must end this way).
    void stop();

    const std::string& why() const { return m_why; }

private:
    int start(const layerrender::Geometry& geometry);
    int fail(int code, const std::string& why);
    // The renderer ended or cannot go on: stop it and say how it ended.
    int ended(const char* what);
    int waitFor(short events);
    // Moves `size` bytes through the socket (send() only reads them).
    int transfer(char* bytes, size_t size, bool sending);
    int sendAll(const void* from, size_t size);
    bool reapIfGone();
    // Stops an idle renderer that has anything waiting on its socket.
    void stopIfNotQuiet();
    // Logs what the renderer wrote to its standard error, a few lines an exchange.
    void drainErrors();
    void logErrorLine();

    pid_t m_pid = -1;
    int m_socket = -1;
    int m_errors = -1; // the read end of the renderer's standard error
    std::string m_errorLine;
    int m_errorLines = 0; // logged in this exchange
    uint32_t m_serial = 0;
    long long m_oomKills = -1; // the kernel's count when the renderer started
    timespec m_deadline{};
    int m_cancelFd = -1;
    std::string m_why;
};

// The words that start the renderer (see LayerRenderer).
std::vector<std::string> layerRendererCommand();
