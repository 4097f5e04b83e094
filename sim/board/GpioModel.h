#pragma once

#include "board/DeviceModel.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

// The board's GPIO lines as the kernel shows them under "/sys/class/gpio":
// writing a number to "export" makes "gpioN" with "direction", "value" and
// "edge"; "unexport" removes it again. Each line has one level, driven by
// the system through "value" while it is an output, or from outside (a
// switch, a key, another chip's model) with drive(). A change on the
// configured edge makes every open "value" file of the line report POLLPRI
// (with POLLERR) until it is read again; a freshly opened one reports it too,
// until its first read, as the kernel does.
class GpioModel : public DeviceModel, public std::enable_shared_from_this<GpioModel>
{
public:
    static constexpr const char* kPath = "/sys/class/gpio";

    // Lines 0 to lineCount - 1 exist, all low inputs, none exported.
    explicit GpioModel(unsigned int lineCount = 512);
    ~GpioModel() override;

    // Sets the level on a line's pin from outside, whether exported or not.
    void drive(unsigned int line, int level);
    int level(unsigned int line) const;
    bool isExported(unsigned int line) const;
    bool isOutput(unsigned int line) const;
    std::string edge(unsigned int line) const;

    // Called after every level change (line, new level), from the thread that
    // made it and outside the model's lock; a listener must not block.
    using Listener = std::function<void(unsigned int line, int level)>;
    int addListener(Listener listener);
    void removeListener(int id);

    // Names what brings a line up to date before anyone looks at it (level(),
    // a read or poll of its value): a model that works the line out from
    // machine time drives it then, whether or not its own thread has run in
    // time. Called outside the model's lock; it may drive() the line. An
    // empty function removes it.
    void setLineSource(unsigned int line, std::function<void()> bringUpToDate);

    int open(const std::string& path, int flags, std::shared_ptr<OpenFile>& file) override;
    int access(const std::string& path, int mode) override;

private:
    enum class Node { Folder, Export, Unexport, LineFolder, Direction, Value, Edge };
    class AttributeFile;
    friend class AttributeFile;

    struct Line
    {
        int level = 0;
        bool exported = false;
        bool output = false;
        std::string edge = "none";
        unsigned int generation = 0; // counts unexports: files of an earlier export go stale
        std::vector<std::weak_ptr<AttributeFile>> valueFiles;
        std::function<void()> source;
    };

    int parse(const std::string& path, Node& node, unsigned int& line) const;
    int show(unsigned int line, unsigned int generation, Node node, std::string& text) const;
    int store(unsigned int line, unsigned int generation, Node node, const std::string& text);
    int exportLine(const std::string& text, bool on);
    // Changes a line's level with the lock held; releases it to tell pollers and listeners.
    void setLevel(std::unique_lock<std::mutex>& lock, unsigned int line, int level);
    bool isCurrent(unsigned int line, unsigned int generation) const;
    // Runs the line's source, if it has one.
    void bringUpToDate(unsigned int line) const;

    mutable std::mutex m_mutex;
    std::vector<Line> m_lines;
    std::map<int, Listener> m_listeners;
    int m_nextListener = 1;
};

} // namespace sim
