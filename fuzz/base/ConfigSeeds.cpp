// Writes the fuzz seeds of the configuration reader: the default text of
// every configuration file, and one with a filled light table, each behind
// the byte that selects its file.
#include "base/config/ConfigStore.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    ConfigStore store;
    store.m_lightTable.Duty = {"10", "20", "30"};
    store.m_lightTable.Lux = {"100", "300", "600"};
    for (int f = 0; f < ConfigStore::FILE_COUNT; ++f) {
        const std::string path = std::string(argv[1]) + "/" + ConfigStore::fileName(ConfigStore::File(f));
        FILE* out = fopen(path.c_str(), "wb");
        if (!out)
            return 1;
        fputc(f, out);
        const std::string text = store.fileText(ConfigStore::File(f));
        fwrite(text.data(), 1, text.size(), out);
        fclose(out);
    }
    return 0;
}
