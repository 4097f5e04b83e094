// A stand-in for the layer renderer that answers as a broken or hostile one
// would. The printer starts it with its budget and process id after the
// words of the mode:
//   claim PLANE X Y W H   every layer drawn on PLANE (its number) in the
//                         rectangle claimed, followed by bytes without end
//   twice                 every layer drawn in colour, 4 x 4 pixels at the
//                         origin in the gray of its document's size modulo
//                         256, and the answer sent twice at once
//   behind                the first layer answered as by twice, once; every
//                         later one with the answer to the one before
#include "engine/projection/LayerRenderProtocol.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace layerrender;

namespace {

bool readAll(void* to, size_t size)
{
    char* bytes = static_cast<char*>(to);
    while (size > 0) {
        const ssize_t n = read(STDIN_FILENO, bytes, size);
        if (n <= 0)
            return false;
        bytes += n;
        size -= size_t(n);
    }
    return true;
}

bool writeAll(const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = send(STDIN_FILENO, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

// The next request's head, its document skipped.
bool nextRequest(RequestHead& head)
{
    if (!readAll(&head, sizeof head))
        return false;
    std::vector<char> document(head.documentBytes);
    return readAll(document.data(), document.size());
}

std::string bytesOf(const ReplyHead& head)
{
    return std::string(reinterpret_cast<const char*>(&head), sizeof head);
}

// A small colour layer in one gray.
std::string smallLayer(const RequestHead& request)
{
    ReplyHead head;
    head.serial = request.serial;
    head.outcome = Outcome::Drawn;
    head.plane = Plane::Colour;
    head.w = 4;
    head.h = 4;
    const uint32_t gray = request.documentBytes % 256;
    const uint32_t pixel = 0xff000000u | gray << 16 | gray << 8 | gray;
    std::string answer = bytesOf(head);
    for (int i = 0; i < head.w * head.h; ++i)
        answer.append(reinterpret_cast<const char*>(&pixel), sizeof pixel);
    return answer;
}

int claim(char** words)
{
    ReplyHead head;
    head.outcome = Outcome::Drawn;
    head.plane = static_cast<Plane>(atoi(words[0]));
    head.x = atoi(words[1]);
    head.y = atoi(words[2]);
    head.w = atoi(words[3]);
    head.h = atoi(words[4]);
    const std::string endless(1 << 16, '\xff');
    RequestHead request;
    if (!nextRequest(request))
        return 0;
    head.serial = request.serial;
    if (!writeAll(bytesOf(head)))
        return 0;
    while (writeAll(endless)) {
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (!writeAll(std::string(1, kReady)) || argc < 2)
        return 2;
    const std::string mode = argv[1];
    if (mode == "claim" && argc >= 7)
        return claim(argv + 2);
    std::string last;
    for (RequestHead request; nextRequest(request);) {
        const std::string answer = smallLayer(request);
        if (mode == "twice" && !writeAll(answer + answer))
            return 0;
        if (mode == "behind" && !writeAll(last.empty() ? answer : last))
            return 0;
        last = answer;
    }
    return 0;
}
