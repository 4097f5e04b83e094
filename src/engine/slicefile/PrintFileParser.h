#pragma once

#include "engine/slicefile/ModelInfo.h"
#include "engine/slicefile/QdsFormat.h"

#include "base/threads/noncopyable.h"

#include <QByteArray>

#include <cstdint>
#include <cstdio>
#include <string>

// Reads a "qds" slice file: the print pages check a file with it (magic,
// resolution, version, thumbnails); during a print the layer loop asks it,
// layer after layer, for the layer's parameters and its compressed raster.
// The file is outside input: every offset and size is checked against the
// file's length before it is used. One thread at a time.
class PrintFileParser : noncopyable
{
public:
    PrintFileParser();
    ~PrintFileParser();

    // Opens the file if not yet open, reads and checks the header, and with
    // readGeneral the general data. 0; the errno value when the open fails
    // (EINVAL for a FIFO, a directory or a device: only regular files are read);
    // -1 when the header cannot be read; -ENOENT for a wrong magic or
    // unreadable general data.
    int checkFile(const std::string& path, bool readGeneral);
    // 0 when the file's resolution equals xres x yres; -1 when either file
    // value is 0; -ENOENT otherwise.
    int checkResolution(int xres, int yres);
    // 1 when the file's version is at most 1.1.0, 0 when it is newer.
    int checkVersion();

    // Applies the layer's special data, if any, to the model information.
    // The layer number; -1 (record unreadable), -ENOENT (serial mismatch) or
    // -ESRCH (special data unreadable).
    int getPrintParam(unsigned layer);
    // Advances the current layer (also on failure) and reads its parameters.
    int getNextPrintParam();
    // The layer's compressed raster block; empty on failure. The reference
    // stays valid until the next call on this parser.
    const std::string& getLayerData(unsigned layer);

    // The thumbnails' image bytes: 0, -1 (no table), -ENOENT (table
    // unreadable), -ESRCH (short read or a size past the file's end).
    int getSmallThumbnail(QByteArray& image);
    int getNormalThumbnail(QByteArray& image);

    int readHead();
    int readGeneralData();

    const QdsHeader& header() const { return m_header; }
    const QdsGeneralData& generalData() const { return m_general; }
    int currentLayer() const { return m_currentLayer; }

    // The model information of the file followed by its printing set: the
    // general values, changed by every layer whose special data applied.
    // The printer reads it directly.
    PrintWorkPara m_workPara;

    // Largest thumbnail the reader takes; they are small previews.
    static constexpr uint32_t kMaxThumbnailSize = 16u << 20;

private:
    enum class ReadResult { Ok, PastEnd, Failed };

    ReadResult readAt(uint64_t offset, void* buffer, size_t size);
    ReadResult readLayerRecord(unsigned layer, QdsLayerRecord& record);
    int readThumbnail(bool small, QByteArray& image);
    void applyMachineValues();
    void fillWorkPara();
    uint64_t maxRasterSize() const;

    FILE* m_file = nullptr;
    uint64_t m_fileSize = 0;
    QdsHeader m_header;
    QdsGeneralData m_general;
    bool m_haveGeneral = false;
    int m_currentLayer = -1;
    std::string m_layerData;
};
