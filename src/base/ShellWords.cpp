#include "base/ShellWords.h"

#include <cctype>
#include <cstring>

namespace {

// Reads a command line as the shell does: quotes and escapes removed,
// expansions marked, command substitutions collected for their own check.
class Reader
{
public:
    explicit Reader(const std::string& text) : m_text(text) {}

    bool read(std::vector<ShellCommand>* commands, std::vector<std::string>* substitutions, std::string* why)
    {
        m_commands = commands;
        m_substitutions = substitutions;
        for (m_at = 0; m_at < m_text.size(); ++m_at) {
            const char c = m_text[m_at];
            if (c == '#' && !m_inWord) {
                while (m_at + 1 < m_text.size() && m_text[m_at + 1] != '\n')
                    ++m_at;
            } else if (c == ' ' || c == '\t') {
                finishWord();
            } else if (c == '&' && next() == '>') {
                finishWord();
                ++m_at;
                if (next() == '>')
                    ++m_at;
                m_redirect = Write;
            } else if (strchr("\n;&|()", c)) {
                if (!finishCommand(why))
                    return false;
            } else if (c == '<' || c == '>') {
                if (!redirection(c, why))
                    return false;
            } else if (c == '\\') {
                if (m_at + 1 < m_text.size()) {
                    ++m_at;
                    if (m_text[m_at] != '\n')
                        append(m_text[m_at]);
                }
            } else if (c == '\'') {
                const size_t end = m_text.find('\'', m_at + 1);
                if (end == std::string::npos)
                    return fail(why, "an unbalanced quote");
                m_word.text += m_text.substr(m_at + 1, end - m_at - 1);
                m_inWord = true;
                m_at = end;
            } else if (c == '"') {
                if (!doubleQuoted(why))
                    return false;
            } else if (c == '$' || c == '`') {
                if (!expansion(why))
                    return false;
            } else {
                if (strchr("*?[{", c))
                    m_word.pattern = true;
                append(c);
            }
        }
        return finishCommand(why);
    }

private:
    enum Redirect { None, Read, Write, Duplicate };

    char next() const { return m_at + 1 < m_text.size() ? m_text[m_at + 1] : '\0'; }

    static bool fail(std::string* why, const char* what)
    {
        *why = what;
        return false;
    }

    void append(char c)
    {
        m_word.text += c;
        m_inWord = true;
    }

    void finishWord()
    {
        if (!m_inWord)
            return;
        if (m_redirect == Write || (m_redirect == Duplicate && m_word.text != "-" &&
                                    m_word.text.find_first_not_of("0123456789") != std::string::npos))
            m_command.writes.push_back(m_word);
        else if (m_redirect == None)
            m_command.words.push_back(m_word);
        m_redirect = None;
        m_word = ShellWord();
        m_inWord = false;
    }

    bool finishCommand(std::string* why)
    {
        finishWord();
        if (m_redirect != None)
            return fail(why, "a redirection without a target");
        if (!m_command.words.empty() || !m_command.writes.empty())
            m_commands->push_back(m_command);
        m_command = ShellCommand();
        return true;
    }

    bool redirection(char c, std::string* why)
    {
        // "2>" names a descriptor, not a word.
        if (m_inWord && !m_word.dynamic && m_word.text.find_first_not_of("0123456789") == std::string::npos) {
            m_word = ShellWord();
            m_inWord = false;
        }
        finishWord();
        if (c == '<') {
            if (next() == '<')
                return fail(why, "a here-document");
            m_redirect = Read;
            if (next() == '&') {
                ++m_at;
                m_redirect = Duplicate;
            } else if (next() == '>') {
                ++m_at;
                m_redirect = Write;
            }
            return true;
        }
        m_redirect = Write;
        if (next() == '>' || next() == '|')
            ++m_at;
        if (next() == '&') {
            ++m_at;
            m_redirect = Duplicate;
        }
        return true;
    }

    bool doubleQuoted(std::string* why)
    {
        m_inWord = true;
        for (++m_at; m_at < m_text.size(); ++m_at) {
            const char c = m_text[m_at];
            if (c == '"')
                return true;
            if (c == '\\' && m_at + 1 < m_text.size() && strchr("$`\"\\\n", m_text[m_at + 1])) {
                ++m_at;
                if (m_text[m_at] != '\n')
                    m_word.text += m_text[m_at];
            } else if (c == '$' || c == '`') {
                if (!expansion(why))
                    return false;
            } else {
                m_word.text += c;
            }
        }
        return fail(why, "an unbalanced quote");
    }

    // At a '$' or a '`': variables, arithmetic and command substitutions.
    bool expansion(std::string* why)
    {
        const char c = m_text[m_at];
        if (c == '`') {
            std::string inner;
            for (++m_at; m_at < m_text.size() && m_text[m_at] != '`'; ++m_at) {
                if (m_text[m_at] == '\\' && m_at + 1 < m_text.size())
                    ++m_at;
                inner += m_text[m_at];
            }
            if (m_at >= m_text.size())
                return fail(why, "an unbalanced back quote");
            return substituted(inner);
        }
        const char n = next();
        if (n == '(') {
            const size_t open = m_at + 1;
            const size_t close = matchingParen(open);
            if (close == std::string::npos)
                return fail(why, "an unbalanced parenthesis");
            m_at = close;
            if (m_text[open + 1] == '(') { // arithmetic
                m_word.dynamic = m_inWord = true;
                return true;
            }
            return substituted(m_text.substr(open + 1, close - open - 1));
        }
        if (n == '{') {
            const size_t close = m_text.find('}', m_at);
            if (close == std::string::npos)
                return fail(why, "an unbalanced brace");
            m_at = close;
        } else if (isalpha(static_cast<unsigned char>(n)) || n == '_') {
            while (isalnum(static_cast<unsigned char>(next())) || next() == '_')
                ++m_at;
        } else if (n != '\0' && strchr("?#@*!$-0123456789", n)) {
            ++m_at;
        } else if (n == '\'' || n == '"') {
            // Quoting with escapes or translation in some shells: the word is theirs to work out.
        } else {
            append('$');
            return true;
        }
        m_word.dynamic = m_inWord = true;
        return true;
    }

    bool substituted(const std::string& inner)
    {
        m_substitutions->push_back(inner);
        m_word.dynamic = m_inWord = true;
        return true;
    }

    size_t matchingParen(size_t open) const
    {
        int depth = 0;
        for (size_t i = open; i < m_text.size(); ++i) {
            const char c = m_text[i];
            if (c == '\\') {
                ++i;
            } else if (c == '\'') {
                i = m_text.find('\'', i + 1);
                if (i == std::string::npos)
                    return i;
            } else if (c == '(') {
                ++depth;
            } else if (c == ')' && --depth == 0) {
                return i;
            }
        }
        return std::string::npos;
    }

    const std::string& m_text;
    size_t m_at = 0;
    std::vector<ShellCommand>* m_commands = nullptr;
    std::vector<std::string>* m_substitutions = nullptr;
    ShellCommand m_command;
    ShellWord m_word;
    bool m_inWord = false;
    Redirect m_redirect = None;
};

} // namespace

bool readShellLine(const std::string& line, std::vector<ShellCommand>* commands,
                   std::vector<std::string>* substitutions, std::string* why)
{
    return Reader(line).read(commands, substitutions, why);
}
