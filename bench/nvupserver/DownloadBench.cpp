// A 64 MiB package fetched by the update client from the local HTTPS test
// server, next to the curl tool fetching the same file from the same server.
#include "nvupserver/Http.h"
#include "nvupserver/Md5.h"
#include "nvupserver/UpdateServer.h"
#include "support/BenchMain.h"
#include "support/HttpsTestServer.h"

#include <benchmark/benchmark.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

const size_t kPackageSize = 64u << 20;

struct Peer
{
    std::string dir;
    std::string md5;
    std::unique_ptr<testsupport::HttpsTestServer> server;
    std::unique_ptr<nvupserver::UpdateServer> client;
};

std::string url(const Peer& peer)
{
    return peer.server->baseUrl() + "/p/package.bin";
}

// Started once: the server, its routes, the package and a client that has checked.
Peer* peer()
{
    static Peer* made = [] {
        Peer* p = new Peer;
        p->dir = std::string(getenv("TALVIKS_ROOT")) + "/download-bench";
        mkdir(p->dir.c_str(), 0755);
        mkdir((p->dir + "/ca").c_str(), 0755);
        mkdir((p->dir + "/server").c_str(), 0755);
        const std::string package = p->dir + "/package.bin";
        {
            std::vector<char> block(1 << 20);
            unsigned state = 7;
            FILE* file = fopen(package.c_str(), "wb");
            for (size_t done = 0; file && done < kPackageSize; done += block.size()) {
                for (char& c : block)
                    c = static_cast<char>((state = state * 1103515245u + 12345u) >> 16);
                fwrite(block.data(), 1, block.size(), file);
            }
            if (file)
                fclose(file);
        }
        nvupserver::fileMd5Hex(package, p->md5);
        p->server.reset(new testsupport::HttpsTestServer(p->dir + "/server", p->dir + "/ca"));
        p->server->setRoutes("{\"/update\":{\"body\":\"{\\\"ErrorCode\\\":200}\"},"
                             "\"/download/feedback\":{\"body\":\"{\\\"ErrorCode\\\":200}\"},"
                             "\"/p/package.bin\":{\"file\":\"" + package + "\"}}");
        p->client.reset(new nvupserver::UpdateServer(10, false));
        p->client->setServers({p->server->baseUrl()});
        p->client->setCaFile(p->server->caFile());
        nvupserver::ClientInfo client;
        client.sn = "SN";
        client.vid = "V";
        client.pid = "P";
        client.packageVersions.resize(1);
        nvupserver::PackageUpdateInfo answer;
        p->client->checkUpdateSync(answer, client);
        return p;
    }();
    return made;
}

Peer* readyPeer(benchmark::State& state)
{
    Peer* p = peer();
    if (p->server->running())
        return p;
    state.SkipWithError(p->server->error().c_str());
    return nullptr;
}

void BM_PackageDownload(benchmark::State& state)
{
    Peer* p = readyPeer(state);
    if (!p)
        return;
    nvupserver::DownloadInfo info;
    info.vid = "V";
    info.pid = "P";
    info.sessionId = "bench";
    nvupserver::PackageInfo package;
    package.type = nvupserver::PACKAGE_SOFTWARE;
    package.version = "1.0.0";
    package.url = url(*p);
    package.path = p->dir + "/fetched.bin";
    package.md5 = p->md5;
    info.packages.push_back(package);
    for (auto _ : state) {
        if (p->client->downloadSync(info, nvupserver::ProgressCallback()) != 0)
            state.SkipWithError("download failed");
        unlink(package.path.c_str());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPackageSize));
}

// The transfer alone: no digest, no feedback.
void BM_FileTransfer(benchmark::State& state)
{
    Peer* p = readyPeer(state);
    if (!p)
        return;
    nvupserver::HttpOptions options;
    options.caFile = p->server->caFile();
    options.timeout = 60;
    options.retries = 50;
    const std::string path = p->dir + "/transfer.bin";
    for (auto _ : state) {
        nvupserver::ProgressState progress;
        nvupserver::HttpResult result;
        if (nvupserver::downloadFile(progress, url(*p), path, options, result) != 0)
            state.SkipWithError("transfer failed");
        unlink(path.c_str());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPackageSize));
}

// The curl tool fetching the file; with `verify`, its MD5 read back as well,
// the same work the client does for a package.
void curlFetch(benchmark::State& state, bool verify)
{
    Peer* p = readyPeer(state);
    if (!p)
        return;
    const std::string target = p->dir + "/curl.bin";
    const std::string ca = p->server->caFile();
    const std::string address = url(*p);
    for (auto _ : state) {
        const pid_t child = fork();
        if (child == 0) {
            execlp("curl", "curl", "-s", "-f", "--cacert", ca.c_str(), "-o", target.c_str(), address.c_str(),
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            state.SkipWithError("curl failed");
        std::string md5;
        if (verify && (!nvupserver::fileMd5Hex(target, md5) || md5 != p->md5))
            state.SkipWithError("digest differs");
        unlink(target.c_str());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPackageSize));
}

void BM_CurlTool(benchmark::State& state)
{
    curlFetch(state, false);
}

void BM_CurlToolThenMd5(benchmark::State& state)
{
    curlFetch(state, true);
}

BENCHMARK(BM_PackageDownload)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);
BENCHMARK(BM_FileTransfer)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);
BENCHMARK(BM_CurlTool)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);
BENCHMARK(BM_CurlToolThenMd5)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

const bool registered = (registerRatio("BM_PackageDownload/iterations:20/real_time", "BM_CurlTool/iterations:20/real_time"),
                         registerRatio("BM_PackageDownload/iterations:20/real_time",
                                       "BM_CurlToolThenMd5/iterations:20/real_time"),
                         registerRatio("BM_FileTransfer/iterations:20/real_time", "BM_CurlTool/iterations:20/real_time"),
                         true);

} // namespace
