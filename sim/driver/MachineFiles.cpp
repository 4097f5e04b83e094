#include "driver/MachineFiles.h"

#include "base/config/ConfigRecords.h"
#include "base/config/MaskImage.h"
#include "base/config/PathManager.h"
#include "base/log/RootPath.h"
#include "driver/OutFiles.h"
#include "writers/CorrectionWriter.h"

#include <QImage>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace {

namespace fs = std::filesystem;

bool correctionFits(const std::string& path, const PrinterConfig& machine)
{
    std::error_code failed;
    const uintmax_t bytes = fs::file_size(path, failed);
    const uintmax_t needed = uintmax_t{machine.XRes} * machine.YRes * 8;
    if (failed) {
        fprintf(stderr, "talviks-sim: cannot read %s: %s\n", path.c_str(), failed.message().c_str());
        return false;
    }
    // The engine leaves a longer file, one made for another panel, unused.
    if (bytes != needed) {
        fprintf(stderr,
                "talviks-sim: %s holds %ju bytes; a correction for %u x %u pixels holds two arrays of %u x %u "
                "u32 (%ju bytes)\n",
                path.c_str(), bytes, machine.XRes, machine.YRes, machine.XRes, machine.YRes, needed);
        return false;
    }
    return true;
}

bool maskFits(const std::string& path, const PrinterConfig& machine)
{
    const QImage mask(QString::fromStdString(path), "PNG");
    if (mask.isNull()) {
        fprintf(stderr, "talviks-sim: %s is no PNG image\n", path.c_str());
        return false;
    }
    if (mask.depth() != 8 || !mask.allGray() || mask.width() != int(machine.XRes) ||
        mask.height() != int(machine.YRes)) {
        fprintf(stderr, "talviks-sim: %s is %d x %d at %d bits a pixel; the mask is an 8-bit gray image of %u x %u\n",
                path.c_str(), mask.width(), mask.height(), mask.depth(), machine.XRes, machine.YRes);
        return false;
    }
    return true;
}

} // namespace

bool copyIntoRoot(const std::string& hostPath, const std::string& boardPath)
{
    const int error = copyWholeFile(hostPath, rootPath(boardPath));
    if (error)
        fprintf(stderr, "talviks-sim: cannot copy %s into the scratch root: %s\n", hostPath.c_str(), strerror(error));
    return error == 0;
}

void applyResolution(const SimOptions& options, PrinterConfig& machine)
{
    if (options.resolutionX > 0) {
        machine.XRes = uint32_t(options.resolutionX);
        machine.YRes = uint32_t(options.resolutionY);
    }
}

bool stageMachineFiles(const SimOptions& options, PrinterConfig& machine, QString& maskPath, QString& correctionPath)
{
    const QString folder = PathManager::instance()->get(PATH_CONFIG);
    std::error_code made;
    fs::create_directories(rootPath(folder.toStdString()), made);
    if (!options.correction.empty()) {
        const std::string board = folder.toStdString() + "/" + fs::path(options.correction).filename().string();
        if (!correctionFits(options.correction, machine) || !copyIntoRoot(options.correction, board))
            return false;
        correctionPath = QString::fromStdString(board);
        machine.CorrectFlag = true;
    }
    if (!options.mask.empty()) {
        // Where the machine keeps the mask that its service tool saves.
        const QString board = Utils::maskImagePath(folder);
        if (!maskFits(options.mask, machine) || !copyIntoRoot(options.mask, board.toStdString()))
            return false;
        maskPath = board;
        machine.MaskFlag = true;
    }
    return true;
}

int writeCorrectionSample(const std::string& path, int width, int height)
{
    return writeWholeFile(path, testwriters::projectorCorrection(width, height));
}
