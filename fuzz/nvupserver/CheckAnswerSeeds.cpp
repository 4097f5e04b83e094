// Writes check answers of every shape the service gives as fuzz seeds.
#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    const std::string package = "{\"Version\":\"1.2.3\",\"BuildTime\":\"2026-01-02 03:04:05\","
                                "\"MD5\":\"0123456789abcdef0123456789abcdef\",\"URL\":\"https://h:1/p/a.tar.xz?x=1\"}";
    const std::string seeds[] = {
        "{\"ErrorCode\":200,\"Message\":\"ok\",\"SessionID\":\"s\",\"KernelPackage\":" + package
            + ",\"ControlPackage\":" + package + ",\"LibraryPackage\":" + package + ",\"SoftwarePackage\":"
            + package + "}",
        "{\"ErrorCode\":200,\"SessionID\":\"s\"}",
        "{\"ErrorCode\":403,\"Message\":\"denied\"}",
        "{\"ErrorCode\":200,\"KernelPackage\":{\"Version\":\"1\",\"URL\":\"https://h/..\"}}",
    };
    int index = 0;
    for (const std::string& seed : seeds) {
        const std::string path = std::string(argv[1]) + "/answer" + std::to_string(index++) + ".json";
        FILE* file = fopen(path.c_str(), "w");
        if (!file)
            return 1;
        fwrite(seed.data(), 1, seed.size(), file);
        fclose(file);
    }
    return 0;
}
