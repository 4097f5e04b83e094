#include "driver/ServiceImages.h"

#include "base/config/ConfigStore.h"
#include "base/config/MaskImage.h"
#include "base/config/PathManager.h"
#include "base/log/RootPath.h"
#include "driver/FrameSnapshot.h"
#include "driver/FrameWriter.h"
#include "driver/SimOutput.h"
#include "engine/print/MaskGrid.h"
#include "engine/print/Printer.h"
#include "engine/projection/ProjectView.h"
#include "engine/projection/TestImages.h"

#include <QImage>
#include <QString>

#include <cstdio>
#include <cstring>

namespace {

// Patterns without a printer operation of their own are drawn straight on the panel.
int drawPattern(Printer& printer, const QImage& image)
{
    return image.isNull() ? -1 : printer.projectView()->drawImage(image);
}

int showPattern(Printer& printer, const std::string& name)
{
    if (name == "gridline")
        return printer.showBlackImage();
    // The projector page's first press: white on black.
    if (name == "abc")
        return printer.showGridImage(false);
    if (name == "abc-inverse")
        return printer.showGridImage(true);
    if (name == "stripe")
        return printer.showTestImage();
    if (name == "midpoint")
        return printer.showRectImage();
    if (name == "blocks")
        return printer.showBlockImage();
    QImage image;
    if (name == "dots") {
        // White dots of 3 mm every 200 pixels.
        makeDotImage(image, 9, 5, 3.0f, 160, 140, 200, 200, 255);
        return drawPattern(printer, image);
    }
    if (name == "gray") {
        makeGrayImage(image, 128);
        return drawPattern(printer, image);
    }
    return -1;
}

int showMaskGrid(const SimOptions& options, const PrinterConfig& machine, std::string& maskFile, bool& maskSaved)
{
    MaskGrid grid(static_cast<int>(machine.XRes), static_cast<int>(machine.YRes), 24);
    if (grid.setGridSize(options.maskColumns, options.maskRows) != 0)
        return -1;
    const int rc = options.maskBlocks ? grid.drawBlocks() : grid.showOnPanel();
    fprintf(simOut(), "Cell levels:\n%s", grid.cellsToText().toUtf8().constData());
    if (rc != 0)
        return rc;
    maskFile = rootPath(Utils::maskImagePath(PathManager::instance()->get(PATH_CONFIG)).toStdString());
    // The grid reports a save that failed as done: the file read back tells.
    maskSaved = grid.saveMaskImage(false) == 0 && !QImage(QString::fromStdString(maskFile), "PNG").isNull();
    return 0;
}

} // namespace

int showServiceImage(const SimOptions& options, Printer& printer, sim::SimMachine& machine, const std::string& outDir)
{
    const PrinterConfig& config = ConfigStore::instance()->m_printerConfig;
    std::string maskFile;
    bool maskSaved = false;
    std::string name;
    int rc;
    if (!options.pattern.empty()) {
        name = "pattern-" + options.pattern;
        rc = showPattern(printer, options.pattern);
    } else {
        name = "mask-" + std::to_string(options.maskColumns) + "x" + std::to_string(options.maskRows);
        rc = showMaskGrid(options, config, maskFile, maskSaved);
    }
    if (rc != 0) {
        fprintf(stderr, "talviks-sim: the printer did not show %s (%d); see %s\n", name.c_str(), rc,
                rootPath("/data/var/TalvikS.log").c_str());
        return 1;
    }
    const std::string framePath = outDir + "/" + name + ".png";
    if (const int error = FrameWriter::savePng(FrameSnapshot().take(machine.board().frameBuffer()), framePath)) {
        fprintf(stderr, "talviks-sim: cannot write %s: %s\n", framePath.c_str(), strerror(error));
        return 1;
    }
    fprintf(simOut(), "Frame (%u x %u): %s\n", config.XRes, config.YRes, framePath.c_str());
    if (maskFile.empty())
        return 0;
    if (!maskSaved) {
        fprintf(stderr, "talviks-sim: the mask image %s could not be written whole\n", maskFile.c_str());
        return 1;
    }
    fprintf(simOut(), "Mask image: %s\n", maskFile.c_str());
    return 0;
}
