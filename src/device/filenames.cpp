// SPDX-License-Identifier: MIT
#include "device/filenames.h"

#include <QDir>
#include <QStringDecoder>

namespace device {
namespace {

// Lone surrogates stand for the bytes 0x80..0xFF that are not part of valid UTF-8; ASCII is
// always valid, so the byte never needs the lower half.
constexpr char16_t keptByteBase = 0xDC00;

bool isContinuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

// The length of the valid UTF-8 sequence at bytes[i], or 0 when the byte there starts none
// (stray continuation, overlong form, surrogate, beyond U+10FFFF, cut short).
qsizetype validSequenceAt(const QByteArray &bytes, qsizetype i)
{
    const auto at = [&](qsizetype k) { return static_cast<unsigned char>(bytes[k]); };
    const unsigned char lead = at(i);
    if (lead < 0x80)
        return 1;
    qsizetype length = 0;
    unsigned char low = 0x80; // bounds of the second byte
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (i + length > bytes.size() || at(i + 1) < low || at(i + 1) > high)
        return 0;
    for (qsizetype k = 2; k < length; ++k) {
        if (!isContinuation(at(i + k)))
            return 0;
    }
    return length;
}

// Valid text as Qt decodes file names on Linux (UTF-8), except that a byte-order mark stays in
// the name: it is part of it, and also starts every run that follows a kept byte.
QString decodedRun(const QByteArray &bytes, qsizetype from, qsizetype to)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                     QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(QByteArrayView(bytes).sliced(from, to - from));
}

bool isKeptByte(QChar c)
{
    return c.unicode() >= keptByteBase + 0x80 && c.unicode() <= keptByteBase + 0xFF;
}

} // namespace

QString decodeFileName(const QByteArray &bytes)
{
    QString name;
    qsizetype runStart = 0; // start of the valid text not yet decoded
    qsizetype i = 0;
    while (i < bytes.size()) {
        const qsizetype length = validSequenceAt(bytes, i);
        if (length > 0) {
            i += length;
            continue;
        }
        name += decodedRun(bytes, runStart, i);
        name += QChar(char16_t(keptByteBase + static_cast<unsigned char>(bytes[i])));
        runStart = ++i;
    }
    return name + decodedRun(bytes, runStart, bytes.size());
}

QByteArray encodeFileName(const QString &name)
{
    QByteArray bytes;
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        // A low surrogate after a high one is half of a real character, not a kept byte.
        if (!isKeptByte(name[i]) || (i > 0 && name[i - 1].isHighSurrogate()))
            continue;
        bytes += QStringView(name).sliced(runStart, i - runStart).toUtf8();
        bytes += char(name[i].unicode() - keptByteBase);
        runStart = i + 1;
    }
    return bytes + QStringView(name).sliced(runStart).toUtf8();
}

QString shownFileName(const QString &name)
{
    QString shown = QDir::toNativeSeparators(name);
    for (qsizetype i = 0; i < shown.size(); ++i) {
        if (isKeptByte(shown[i]) && !(i > 0 && shown[i - 1].isHighSurrogate()))
            shown[i] = QChar::ReplacementCharacter;
    }
    return shown;
}

} // namespace device
