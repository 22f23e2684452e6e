// SPDX-License-Identifier: MIT
#include "device/registersetfile.h"

#include "device/filenames.h"
#include "device/numbertext.h"
#include "device/regularfile.h"
#include "device/safefilewriter.h"

#include <QBuffer>
#include <QIODevice>
#include <charconv>
#include <cmath>
#include <limits>

namespace device {
namespace {

constexpr int recordCount = 1 + channelCount;

// A register set takes well under a kilobyte; a file far beyond that is something else.
constexpr qint64 maxFileSize = 1 << 20;

// A record is a short number. The cap keeps a runaway line (a wrong file, a binary) from being
// gathered into memory, and bounds the value quoted in a message.
constexpr qsizetype maxValueLength = 64;

// Codes go on to integer conversions (display, data bits); one beyond 32 bits is no code at all.
constexpr double minCode = std::numeric_limits<qint32>::min();
constexpr double maxCode = std::numeric_limits<qint32>::max();

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Sign, digits with an optional fraction (".5" as well as "0.5"), optional exponent; nothing else.
bool isPlainDecimal(const QByteArray &text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    if (i < n && (text[i] == '+' || text[i] == '-'))
        ++i;
    qsizetype digits = 0;
    for (; i < n && isDigit(text[i]); ++i)
        ++digits;
    if (i < n && text[i] == '.') {
        for (++i; i < n && isDigit(text[i]); ++i)
            ++digits;
    }
    if (digits == 0)
        return false;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-'))
            ++i;
        if (i == n || !isDigit(text[i]))
            return false;
        while (i < n && isDigit(text[i]))
            ++i;
    }
    return i == n;
}

// The value of a plain decimal text; nothing when it lies beyond what a double holds.
std::optional<double> valueOf(const QByteArray &text)
{
    // from_chars reads the C locale's form but takes no '+'.
    const char *begin = text.constData() + (text.startsWith('+') ? 1 : 0);
    const char *end = text.constData() + text.size();
    double value = 0;
    const auto [stop, status] = std::from_chars(begin, end, value);
    if (status != std::errc() || stop != end || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// A value's text as it can stand in a message.
QString quoted(const QByteArray &text)
{
    QString shown = QString::fromLatin1(text);
    for (QChar &c : shown) {
        if (!c.isPrint())
            c = QChar::ReplacementCharacter;
    }
    return u'"' + shown + u'"';
}

struct Field
{
    QByteArray text;
    int line = 0;
};

// Splits the input into values, reading a block at a time, so a file of any size costs no more
// memory than its first 25 values. A value ends at a comma or a line end (LF, CR LF or a lone
// CR); blanks around it are dropped; lines holding nothing but blanks do not count.
class FieldScanner
{
public:
    explicit FieldScanner(QIODevice &input) : m_input(input)
    {
        // A byte-order mark is the editor's, not part of the first value.
        if (m_input.peek(3) == "\xEF\xBB\xBF")
            m_input.skip(3);
    }

    // The next value, or nothing at the end of the input or on a fault (then error() is set).
    std::optional<Field> next()
    {
        QByteArray text;
        QByteArray blanks; // blanks after the text so far: inside the value if more follows
        for (;;) {
            char c = 0;
            if (!fetch(c)) {
                if (!m_error.isEmpty())
                    return std::nullopt;
                // The end of the input ends a last line that has no line end.
                if (!text.isEmpty())
                    return Field{text, m_line};
                if (m_commaOnLine)
                    m_error = QStringLiteral("line %1: empty value").arg(m_line);
                return std::nullopt;
            }
            if (c == '\n' && m_afterCr) {
                m_afterCr = false;
                continue;
            }
            m_afterCr = c == '\r';
            if (c == ',' || c == '\r' || c == '\n') {
                const int line = m_line;
                const bool lineEnds = c != ',';
                const bool emptyField = text.isEmpty() && (!lineEnds || m_commaOnLine);
                if (lineEnds) {
                    ++m_line;
                    m_commaOnLine = false;
                } else {
                    m_commaOnLine = true;
                }
                if (emptyField) {
                    m_error = QStringLiteral("line %1: empty value").arg(line);
                    return std::nullopt;
                }
                if (!text.isEmpty())
                    return Field{text, line};
                continue; // a blank line
            }
            if (isBlank(c)) {
                // Kept only as far as the cap: more blanks inside a value make it too long anyway.
                if (!text.isEmpty() && blanks.size() <= maxValueLength)
                    blanks += c;
                continue;
            }
            text += blanks;
            blanks.clear();
            text += c;
            if (text.size() > maxValueLength) {
                m_error = QStringLiteral("line %1: the value starting %2 is longer than %3 "
                                         "characters")
                              .arg(m_line)
                              .arg(quoted(text.left(maxValueLength)))
                              .arg(maxValueLength);
                return std::nullopt;
            }
        }
    }

    QString error() const { return m_error; }

private:
    bool fetch(char &c)
    {
        if (m_next == m_end) {
            const qint64 count = m_input.read(m_block.data(), qint64(m_block.size()));
            if (count < 0) {
                m_error = QStringLiteral("read error: %1").arg(m_input.errorString());
                return false;
            }
            m_next = 0;
            m_end = count;
            if (count == 0)
                return false;
        }
        c = m_block[m_next++];
        return true;
    }

    QIODevice &m_input;
    std::array<char, 4096> m_block{};
    qint64 m_next = 0;
    qint64 m_end = 0;
    int m_line = 1;
    bool m_commaOnLine = false;
    bool m_afterCr = false;
    QString m_error;
};

// The number a field holds, or nothing with the reason in *error.
std::optional<double> recordValue(const Field &field, bool isCode, QString *error)
{
    if (!isPlainDecimal(field.text)) {
        setError(
            error,
            QStringLiteral("line %1: %2 is not a number").arg(field.line).arg(quoted(field.text)));
        return std::nullopt;
    }
    const std::optional<double> value = valueOf(field.text);
    if (!value) {
        setError(
            error,
            QStringLiteral("line %1: %2 is out of range").arg(field.line).arg(quoted(field.text)));
        return std::nullopt;
    }
    if (isCode && !(*value >= minCode && *value <= maxCode)) {
        setError(error, QStringLiteral("line %1: code %2 is outside the range of a 32-bit integer")
                            .arg(field.line)
                            .arg(quoted(field.text)));
        return std::nullopt;
    }
    return value;
}

// Why a value cannot go into a file so that it reads back, or "" when it can.
QString unwritable(double value, bool isCode)
{
    if (!std::isfinite(value))
        return QStringLiteral("is not a finite number");
    if (isCode && !(value >= minCode && value <= maxCode))
        return QStringLiteral("is outside the range of a 32-bit integer");
    if (plainDecimal(value).size() > maxValueLength)
        return QStringLiteral("needs more than %1 characters").arg(maxValueLength);
    return {};
}

} // namespace

std::optional<RegisterSet> parseRegisterSet(QIODevice &input, QString *error)
{
    FieldScanner scanner(input);
    RegisterSet set;
    for (int record = 0; record < recordCount; ++record) {
        const std::optional<Field> field = scanner.next();
        if (!field) {
            if (!scanner.error().isEmpty())
                setError(error, scanner.error());
            else
                setError(error,
                         QStringLiteral("%1 values found, %2 needed").arg(record).arg(recordCount));
            return std::nullopt;
        }
        const bool isCode = record > 0;
        const std::optional<double> value = recordValue(*field, isCode, error);
        if (!value)
            return std::nullopt;
        if (isCode) {
            set.codes[std::size_t(record - 1)] = *value;
        } else if (!(*value > 0)) {
            // Every voltage is a share of Vsup: at 0 or below they would all be nonsense.
            setError(error, QStringLiteral("line %1: Vsup %2 is not a positive number")
                                .arg(field->line)
                                .arg(quoted(field->text)));
            return std::nullopt;
        } else {
            set.vsup = *value;
        }
    }
    // What follows the 25th value is not read at all.
    return set;
}

std::optional<RegisterSet> readRegisterSetFile(const QString &path, QString *error)
{
    std::optional<QByteArray> bytes = readRegularFile(path, maxFileSize, error);
    if (!bytes)
        return std::nullopt;
    QBuffer buffer(&*bytes);
    buffer.open(QIODevice::ReadOnly);
    QString problem;
    std::optional<RegisterSet> set = parseRegisterSet(buffer, &problem);
    if (!set)
        setError(error, QStringLiteral("%1: %2").arg(shownFileName(path), problem));
    return set;
}

QByteArray formatRegisterSet(const RegisterSet &set)
{
    QByteArray bytes;
    const auto appendRecord = [&bytes](double value) {
        bytes += plainDecimal(value).toLatin1();
        bytes += "\r\n";
    };
    appendRecord(set.vsup);
    for (const double code : set.codes)
        appendRecord(code);
    return bytes;
}

bool writeRegisterSetFile(const QString &path, const RegisterSet &set, QString *error)
{
    const QString shownPath = shownFileName(path);
    // Nothing goes to disk that would not read back.
    QString problem = unwritable(set.vsup, false);
    if (!problem.isEmpty()) {
        setError(
            error,
            QStringLiteral("Cannot write %1: the reference voltage %2").arg(shownPath, problem));
        return false;
    }
    for (int index = 1; index <= channelCount; ++index) {
        problem = unwritable(set.codes[std::size_t(index - 1)], true);
        if (!problem.isEmpty()) {
            setError(error, QStringLiteral("Cannot write %1: the code of channel %2 %3")
                                .arg(shownPath, channelLabel(index), problem));
            return false;
        }
    }

    return writeFileSafely(path, formatRegisterSet(set), error);
}

} // namespace device
