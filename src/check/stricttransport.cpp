// SPDX-License-Identifier: MIT
// The Strict-Transport-Security header's grammar: directives of tokens or quoted strings, split
// by semicolons.
#include "stricttransport.h"

#include <QByteArray>
#include <QByteArrayList>

#include <limits>

namespace {

constexpr QByteArrayView HeaderName = "strict-transport-security:";

bool isTokenCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
}

class Reader
{
public:
    explicit Reader(QByteArrayView text) : m_text(text) {}

    bool atEnd() const { return m_at == m_text.size(); }
    char next() const { return m_text[m_at]; }
    void skip() { ++m_at; }
    void skipBlanks()
    {
        while (!atEnd() && (next() == ' ' || next() == '\t'))
            ++m_at;
    }
    QByteArray token()
    {
        const qsizetype from = m_at;
        while (!atEnd() && isTokenCharacter(next()))
            ++m_at;
        return m_text.sliced(from, m_at - from).toByteArray();
    }
    // The text of a quoted string, its escapes undone; nothing when it does not end.
    std::optional<QByteArray> quoted()
    {
        QByteArray text;
        for (skip(); !atEnd(); skip()) {
            if (next() == '"') {
                skip();
                return text;
            }
            if (next() == '\\' && ++m_at == m_text.size())
                break;
            text += next();
        }
        return std::nullopt;
    }

private:
    QByteArrayView m_text;
    qsizetype m_at = 0;
};

// Seconds of 1*DIGIT; the largest number held when there are more of them.
std::optional<qint64> deltaSeconds(const QByteArray& digits)
{
    if (digits.isEmpty())
        return std::nullopt;
    qint64 seconds = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        const qint64 limit = std::numeric_limits<qint64>::max();
        seconds = seconds > (limit - (c - '0')) / 10 ? limit : seconds * 10 + (c - '0');
    }
    return seconds;
}

} // namespace

std::optional<StrictTransport> parseStrictTransport(QByteArrayView value)
{
    StrictTransport result;
    bool maxAgeSeen = false;
    QByteArrayList seen;
    Reader reader(value);
    for (;;) {
        reader.skipBlanks();
        if (!reader.atEnd() && reader.next() != ';') {
            const QByteArray name = reader.token().toLower();
            if (name.isEmpty() || seen.contains(name))
                return std::nullopt;
            seen << name;
            reader.skipBlanks();
            std::optional<QByteArray> directiveValue;
            if (!reader.atEnd() && reader.next() == '=') {
                reader.skip();
                reader.skipBlanks();
                directiveValue = !reader.atEnd() && reader.next() == '"'
                                     ? reader.quoted()
                                     : std::optional<QByteArray>(reader.token());
                if (!directiveValue || directiveValue->isEmpty())
                    return std::nullopt;
                reader.skipBlanks();
            }
            if (name == "max-age") {
                const std::optional<qint64> seconds = deltaSeconds(directiveValue.value_or(""));
                if (!seconds)
                    return std::nullopt;
                result.maxAge = *seconds;
                maxAgeSeen = true;
            } else if (name == "includesubdomains") {
                if (directiveValue)
                    return std::nullopt;
                result.includeSubDomains = true;
            }
        }
        if (reader.atEnd())
            break;
        if (reader.next() != ';')
            return std::nullopt;
        reader.skip();
    }
    if (!maxAgeSeen)
        return std::nullopt;
    return result;
}

std::optional<QByteArrayView> StrictTransportHeaders::take(QByteArrayView line)
{
    if (line.startsWith("HTTP/")) {
        m_seen = false;
        return std::nullopt;
    }
    if (line.size() < HeaderName.size() ||
        line.first(HeaderName.size()).compare(HeaderName, Qt::CaseInsensitive) != 0 || m_seen)
        return std::nullopt;
    m_seen = true;
    return line.sliced(HeaderName.size()).trimmed();
}
