#include "board/GpioModel.h"

#include <fcntl.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace sim {

namespace {

// A sysfs store takes its text with or without one trailing newline.
std::string trimmed(const std::string& text)
{
    if (!text.empty() && text.back() == '\n')
        return text.substr(0, text.size() - 1);
    return text;
}

bool parseNumber(const std::string& text, long& value)
{
    const std::string digits = trimmed(text);
    if (digits.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    value = strtol(digits.c_str(), &end, 10);
    return errno == 0 && *end == '\0';
}

bool edgeMatches(const std::string& edge, int from, int to)
{
    if (edge == "both")
        return true;
    if (edge == "rising")
        return from == 0 && to != 0;
    if (edge == "falling")
        return from != 0 && to == 0;
    return false;
}

} // namespace

// One open attribute: reads show the attribute from the file's position, each
// write is one store.
class GpioModel::AttributeFile : public OpenFile
{
public:
    AttributeFile(std::shared_ptr<GpioModel> model, Node node, unsigned int line, unsigned int generation)
        : m_model(std::move(model)), m_node(node), m_line(line), m_generation(generation),
          m_pending(node == Node::Value)
    {
    }

    ssize_t read(void* buffer, size_t count) override
    {
        if (m_node == Node::Value)
            m_model->bringUpToDate(m_line);
        // Cleared before the level is taken, so an edge after this read is never lost.
        m_pending.store(false);
        std::string text;
        const int rc = m_model->show(m_line, m_generation, m_node, text);
        if (rc < 0)
            return rc;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_position >= static_cast<off_t>(text.size()))
            return 0;
        const size_t n = std::min(count, text.size() - static_cast<size_t>(m_position));
        memcpy(buffer, text.data() + m_position, n);
        m_position += static_cast<off_t>(n);
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const void* buffer, size_t count) override
    {
        const int rc = m_model->store(m_line, m_generation, m_node,
                                      std::string(static_cast<const char*>(buffer), count));
        return rc < 0 ? rc : static_cast<ssize_t>(count);
    }

    off_t lseek(off_t offset, int whence) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        off_t base = 0;
        if (whence == SEEK_CUR) {
            base = m_position;
        } else if (whence == SEEK_END) {
            std::string text;
            const int rc = m_model->show(m_line, m_generation, m_node, text);
            if (rc < 0)
                return rc;
            base = static_cast<off_t>(text.size());
        } else if (whence != SEEK_SET) {
            return -EINVAL;
        }
        if (base + offset < 0)
            return -EINVAL;
        m_position = base + offset;
        return m_position;
    }

    short pollEvents() override
    {
        if (m_node == Node::Value)
            m_model->bringUpToDate(m_line);
        const short always = POLLIN | POLLRDNORM | POLLOUT | POLLWRNORM;
        return m_pending.load() ? always | POLLPRI | POLLERR : always;
    }

    void raiseEdge()
    {
        m_pending.store(true);
        notifyPollers();
    }

private:
    const std::shared_ptr<GpioModel> m_model;
    const Node m_node;
    const unsigned int m_line;
    const unsigned int m_generation;
    std::atomic<bool> m_pending;
    std::mutex m_mutex;
    off_t m_position = 0;
};

GpioModel::GpioModel(unsigned int lineCount) : m_lines(lineCount) {}

GpioModel::~GpioModel() = default;

void GpioModel::drive(unsigned int line, int level)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (line < m_lines.size())
        setLevel(lock, line, level ? 1 : 0);
}

int GpioModel::level(unsigned int line) const
{
    bringUpToDate(line);
    std::lock_guard<std::mutex> lock(m_mutex);
    return line < m_lines.size() ? m_lines[line].level : 0;
}

bool GpioModel::isExported(unsigned int line) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return line < m_lines.size() && m_lines[line].exported;
}

bool GpioModel::isOutput(unsigned int line) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return line < m_lines.size() && m_lines[line].output;
}

std::string GpioModel::edge(unsigned int line) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return line < m_lines.size() ? m_lines[line].edge : "none";
}

int GpioModel::addListener(Listener listener)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_listeners[m_nextListener] = std::move(listener);
    return m_nextListener++;
}

void GpioModel::removeListener(int id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_listeners.erase(id);
}

void GpioModel::setLineSource(unsigned int line, std::function<void()> bringUpToDate)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (line < m_lines.size())
        m_lines[line].source = std::move(bringUpToDate);
}

void GpioModel::bringUpToDate(unsigned int line) const
{
    std::function<void()> source;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (line < m_lines.size())
            source = m_lines[line].source;
    }
    if (source)
        source();
}

int GpioModel::parse(const std::string& path, Node& node, unsigned int& line) const
{
    const std::string base = kPath;
    if (path == base) {
        node = Node::Folder;
        return 0;
    }
    if (path.compare(0, base.size() + 1, base + "/") != 0)
        return -ENOENT;
    const std::string rest = path.substr(base.size() + 1);
    if (rest == "export" || rest == "unexport") {
        node = rest == "export" ? Node::Export : Node::Unexport;
        return 0;
    }
    if (rest.compare(0, 4, "gpio") != 0)
        return -ENOENT;
    const size_t slash = rest.find('/');
    const std::string digits = rest.substr(4, slash == std::string::npos ? std::string::npos : slash - 4);
    long number = 0;
    if (!parseNumber(digits, number) || number < 0 || static_cast<unsigned long>(number) >= m_lines.size() ||
        std::to_string(number) != digits)
        return -ENOENT;
    line = static_cast<unsigned int>(number);
    const std::string attribute = slash == std::string::npos ? "" : rest.substr(slash + 1);
    if (attribute.empty())
        node = Node::LineFolder;
    else if (attribute == "direction")
        node = Node::Direction;
    else if (attribute == "value")
        node = Node::Value;
    else if (attribute == "edge")
        node = Node::Edge;
    else
        return -ENOENT;
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines[line].exported ? 0 : -ENOENT;
}

int GpioModel::access(const std::string& path, int)
{
    Node node;
    unsigned int line = 0;
    return parse(path, node, line);
}

int GpioModel::open(const std::string& path, int, std::shared_ptr<OpenFile>& file)
{
    Node node;
    unsigned int line = 0;
    const int rc = parse(path, node, line);
    if (rc < 0)
        return rc;
    if (node == Node::Folder || node == Node::LineFolder)
        return -EISDIR;
    std::lock_guard<std::mutex> lock(m_mutex);
    const unsigned int generation = node == Node::Export || node == Node::Unexport ? 0 : m_lines[line].generation;
    auto attribute = std::make_shared<AttributeFile>(shared_from_this(), node, line, generation);
    if (node == Node::Value) {
        auto& files = m_lines[line].valueFiles;
        files.erase(std::remove_if(files.begin(), files.end(), [](const auto& f) { return f.expired(); }), files.end());
        files.push_back(attribute);
    }
    file = attribute;
    return 0;
}

bool GpioModel::isCurrent(unsigned int line, unsigned int generation) const
{
    return m_lines[line].exported && m_lines[line].generation == generation;
}

int GpioModel::show(unsigned int line, unsigned int generation, Node node, std::string& text) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (node == Node::Export || node == Node::Unexport)
        return -EIO;
    if (!isCurrent(line, generation))
        return -ENODEV;
    const Line& state = m_lines[line];
    if (node == Node::Direction)
        text = state.output ? "out\n" : "in\n";
    else if (node == Node::Value)
        text = state.level ? "1\n" : "0\n";
    else
        text = state.edge + "\n";
    return 0;
}

int GpioModel::store(unsigned int line, unsigned int generation, Node node, const std::string& text)
{
    if (node == Node::Export || node == Node::Unexport)
        return exportLine(text, node == Node::Export);
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!isCurrent(line, generation))
        return -ENODEV;
    Line& state = m_lines[line];
    const std::string word = trimmed(text);
    if (node == Node::Direction) {
        if (word != "in" && word != "out" && word != "high" && word != "low")
            return -EINVAL;
        const bool output = word != "in";
        // A line that reports edges is tied to its interrupt and cannot drive.
        if (output && state.edge != "none")
            return -EIO;
        state.output = output;
        if (output)
            setLevel(lock, line, word == "high" ? 1 : 0);
        return 0;
    }
    if (node == Node::Value) {
        long value = 0;
        if (!state.output)
            return -EPERM;
        if (!parseNumber(text, value))
            return -EINVAL;
        setLevel(lock, line, value != 0);
        return 0;
    }
    if (word != "none" && word != "rising" && word != "falling" && word != "both")
        return -EINVAL;
    if (state.output && word != "none")
        return -EIO;
    state.edge = word;
    return 0;
}

int GpioModel::exportLine(const std::string& text, bool on)
{
    long number = 0;
    if (!parseNumber(text, number) || number < 0 || static_cast<unsigned long>(number) >= m_lines.size())
        return -EINVAL;
    std::lock_guard<std::mutex> lock(m_mutex);
    Line& state = m_lines[static_cast<size_t>(number)];
    if (on) {
        if (state.exported)
            return -EBUSY;
        state.exported = true;
        return 0;
    }
    if (!state.exported)
        return -EINVAL;
    state.exported = false;
    state.edge = "none";
    ++state.generation;
    state.valueFiles.clear();
    return 0;
}

void GpioModel::setLevel(std::unique_lock<std::mutex>& lock, unsigned int line, int level)
{
    Line& state = m_lines[line];
    const int previous = state.level;
    if (previous == level)
        return;
    state.level = level;
    std::vector<std::shared_ptr<AttributeFile>> woken;
    if (state.exported && edgeMatches(state.edge, previous, level)) {
        for (auto it = state.valueFiles.begin(); it != state.valueFiles.end();) {
            if (auto file = it->lock()) {
                woken.push_back(std::move(file));
                ++it;
            } else {
                it = state.valueFiles.erase(it);
            }
        }
    }
    std::vector<Listener> listeners;
    for (const auto& entry : m_listeners)
        listeners.push_back(entry.second);
    lock.unlock();
    for (const auto& file : woken)
        file->raiseEdge();
    for (const auto& listener : listeners)
        listener(line, level);
}

} // namespace sim
