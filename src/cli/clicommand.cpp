// SPDX-License-Identifier: MIT
#include "cli/clicommand.h"

#include "device/devicemodel.h"

#include <QRegularExpression>
#include <algorithm>
#include <cmath>

namespace cli {

namespace {

using Kind = Command::Kind;

struct CommandInfo
{
    const char *name;
    Kind kind;
    const char *arguments; // as the usage shows them
    qsizetype argumentCount;
};

// An argument count of -1: one or more; -2: none or one.
constexpr CommandInfo commandTable[] = {
    {"ports", Kind::Ports, "", 0},
    {"read", Kind::Read, "", 0},
    {"get", Kind::Get, "CH", 1},
    {"code", Kind::Code, "CH N [--verify]", 2},
    {"set", Kind::Set, "CH VOLTS [--verify]", 2},
    {"load", Kind::Load, "FILE [--verify]", 1},
    {"save", Kind::Save, "FILE", 1},
    {"verify", Kind::Verify, "FILE", 1},
    {"reset", Kind::Reset, "", 0},
    {"otp", Kind::Otp, "CH --yes", 1},
    {"otp-all", Kind::OtpAll, "--yes", 0},
    {"play", Kind::Play, "[--delay SECONDS] [--loop N|forever] FILE...|FOLDER", -1},
    {"sleep", Kind::Sleep, "SECONDS", 1},
    {"marker", Kind::Marker, "", 0},
    {"script", Kind::Script, "FILE|-", 1},
    {"scan", Kind::Scan, "", 0},
    {"selftest", Kind::SelfTest, "", 0},
    {"burns", Kind::Burns, "", 0},
    {"diagnose", Kind::Diagnose, "[--bus-checks] [FILE]", -2},
    {"help", Kind::Help, "", 0},
};

const QString confirmFlag = QStringLiteral("--yes");
const QString verifyFlag = QStringLiteral("--verify");
const QString busChecksFlag = QStringLiteral("--bus-checks");

ParsedCommand refused(ExitStatus status, const QString &error)
{
    return {std::nullopt, status, error};
}

ParsedCommand usage(const QString &error)
{
    return refused(ExitStatus::Usage, error);
}

QString usageOf(const CommandInfo &info)
{
    const QString arguments = QString::fromLatin1(info.arguments);
    const QString name = QString::fromLatin1(info.name);
    return arguments.isEmpty() ? name : name + u' ' + arguments;
}

std::optional<double> plainNumber(const QString &text)
{
    static const QRegularExpression number(
        QStringLiteral("^[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?$"));
    if (!number.match(text).hasMatch())
        return std::nullopt;
    bool ok = false;
    const double value = text.toDouble(&ok); // always "." as the decimal point
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// The command's arguments, checked, into the command; the refusal when one does not fit.
std::optional<ParsedCommand> takeArguments(const CommandInfo &info, const QStringList &arguments,
                                           Command &command)
{
    switch (info.kind) {
    case Kind::Get:
    case Kind::Code:
    case Kind::Set:
    case Kind::Otp: {
        const std::optional<int> channel = channelOfName(arguments.first());
        if (!channel) {
            return usage(QStringLiteral("there is no channel \"%1\": the channels are 1 to 22, "
                                        "c1 and c2, or registers 0x00 to 0x17")
                             .arg(arguments.first()));
        }
        command.channel = *channel;
        break;
    }
    case Kind::Load:
    case Kind::Save:
    case Kind::Verify:
    case Kind::Script:
        command.path = arguments.first();
        if (command.path.isEmpty())
            return usage(QStringLiteral("usage: %1").arg(usageOf(info)));
        break;
    case Kind::Diagnose:
        command.path = arguments.value(0);
        if (arguments.size() == 1 && command.path.isEmpty())
            return usage(QStringLiteral("usage: %1").arg(usageOf(info)));
        // A mistyped --bus-checks would otherwise become the file's name.
        if (command.path.startsWith(u'-')) {
            return usage(QStringLiteral("diagnose: unknown option \"%1\" (a file whose name "
                                        "starts with - is ./%1)")
                             .arg(command.path));
        }
        break;
    case Kind::Play:
        command.paths = arguments;
        if (command.paths.contains(QString()))
            return usage(QStringLiteral("usage: %1").arg(usageOf(info)));
        break;
    case Kind::Sleep: {
        const std::optional<double> seconds = secondsOfText(arguments.first());
        if (!seconds) {
            return usage(QStringLiteral("\"%1\" is not a time: give seconds, 0 to 86400")
                             .arg(arguments.first()));
        }
        command.seconds = *seconds;
        break;
    }
    case Kind::Ports:
    case Kind::Read:
    case Kind::Reset:
    case Kind::OtpAll:
    case Kind::Scan:
    case Kind::SelfTest:
    case Kind::Marker:
    case Kind::Burns:
    case Kind::Help:
        break;
    }

    if (info.kind == Kind::Code) {
        const std::optional<int> code = codeOfText(arguments.at(1));
        if (!code) {
            return usage(QStringLiteral("\"%1\" is not a code: give a whole number from 0 to "
                                        "1024 (1024 = full scale), or 0x0 to 0x400")
                             .arg(arguments.at(1)));
        }
        command.code = *code;
    }
    if (info.kind == Kind::Set) {
        const std::optional<double> volts = plainNumber(arguments.at(1));
        if (!volts) {
            return usage(QStringLiteral("\"%1\" is not a voltage: give a number in volts, with "
                                        "\".\" as the decimal point")
                             .arg(arguments.at(1)));
        }
        command.volts = *volts;
    }
    return std::nullopt;
}

} // namespace

std::optional<int> channelOfName(const QString &name)
{
    static const QRegularExpression registerName(QStringLiteral("^0x0*([0-9a-f]{1,2})$"),
                                                 QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = registerName.match(name);
    for (int index = 1; index <= device::channelCount; ++index) {
        if (match.hasMatch()
                ? match.captured(1).toInt(nullptr, 16) == device::registerOfChannel(index)
                : name.compare(device::channelLabel(index), Qt::CaseInsensitive) == 0)
            return index;
    }
    return std::nullopt;
}

std::optional<int> codeOfText(const QString &text)
{
    static const QRegularExpression decimal(QStringLiteral("^0*[0-9]{1,4}$"));
    static const QRegularExpression hex(QStringLiteral("^0x0*([0-9a-f]{1,3})$"),
                                        QRegularExpression::CaseInsensitiveOption);
    int value = 0;
    if (decimal.match(text).hasMatch())
        value = text.toInt();
    else if (const QRegularExpressionMatch match = hex.match(text); match.hasMatch())
        value = match.captured(1).toInt(nullptr, 16);
    else
        return std::nullopt;
    if (value > 1024)
        return std::nullopt;
    return value;
}

std::optional<double> secondsOfText(const QString &text)
{
    static const QRegularExpression number(QStringLiteral("^([0-9]+\\.?[0-9]*|\\.[0-9]+)$"));
    if (!number.match(text).hasMatch())
        return std::nullopt;
    const double seconds = text.toDouble();
    if (!(seconds <= 86400))
        return std::nullopt;
    return seconds;
}

QString commandName(Command::Kind kind)
{
    for (const CommandInfo &info : commandTable) {
        if (info.kind == kind)
            return QString::fromLatin1(info.name);
    }
    return {};
}

ParsedCommand parseCommand(const QStringList &words)
{
    if (words.isEmpty())
        return usage(QStringLiteral("no command given"));

    const CommandInfo *info = nullptr;
    for (const CommandInfo &candidate : commandTable) {
        if (words.first().compare(QLatin1String(candidate.name), Qt::CaseInsensitive) == 0)
            info = &candidate;
    }
    if (!info)
        return usage(QStringLiteral("unknown command \"%1\"").arg(words.first()));

    // Burning asks for --yes anywhere after the command's name, writes take --verify, diagnose
    // --bus-checks, and play takes its delay and passes; nothing else takes options.
    QStringList arguments;
    bool confirmed = false;
    bool verify = false;
    bool busChecks = false;
    std::optional<QString> delayText;
    std::optional<QString> loopText;
    const QStringList rest = words.mid(1);
    for (qsizetype i = 0; i < rest.size(); ++i) {
        const QString &word = rest.at(i);
        const bool isPlay = info->kind == Kind::Play;
        std::optional<QString> *value = !isPlay                       ? nullptr
                                        : word.startsWith(u"--delay") ? &delayText
                                        : word.startsWith(u"--loop")  ? &loopText
                                                                      : nullptr;
        if (word == confirmFlag && (info->kind == Kind::Otp || info->kind == Kind::OtpAll)) {
            confirmed = true;
        } else if (word == verifyFlag && (info->kind == Kind::Code || info->kind == Kind::Set ||
                                          info->kind == Kind::Load)) {
            verify = true;
        } else if (word == busChecksFlag && info->kind == Kind::Diagnose) {
            busChecks = true;
        } else if (value) {
            const QString name = word.section(u'=', 0, 0);
            if (name != QLatin1String("--delay") && name != QLatin1String("--loop")) {
                arguments.append(word);
                continue;
            }
            if (value->has_value())
                return usage(QStringLiteral("play: %1 is given twice").arg(name));
            if (word.contains(u'='))
                *value = word.section(u'=', 1);
            else if (i + 1 < rest.size())
                *value = rest.at(++i);
            else
                return usage(QStringLiteral("play: %1 needs a value").arg(name));
        } else {
            arguments.append(word);
        }
    }

    const bool countFits = info->argumentCount == -2 ? arguments.size() <= 1
                           : info->argumentCount < 0 ? !arguments.isEmpty()
                                                     : arguments.size() == info->argumentCount;
    if (!countFits) {
        const bool optionLate = std::any_of(arguments.cbegin(), arguments.cend(),
                                            [](const QString &a) { return a.startsWith(u'-'); });
        return usage(QStringLiteral("usage: %1%2")
                         .arg(usageOf(*info), optionLate ? QStringLiteral(" (options such as "
                                                                          "--json go before "
                                                                          "the command)")
                                                         : QString()));
    }

    Command command;
    command.kind = info->kind;
    command.verify = verify;
    command.busChecks = busChecks;
    if (std::optional<ParsedCommand> refusal = takeArguments(*info, arguments, command))
        return *refusal;
    if (delayText) {
        const std::optional<double> delay = secondsOfText(*delayText);
        if (!delay) {
            return usage(QStringLiteral("play: --delay \"%1\" is not a time: give seconds, 0 to "
                                        "86400")
                             .arg(*delayText));
        }
        command.seconds = *delay;
    }
    if (loopText) {
        static const QRegularExpression passes(QStringLiteral("^0*[1-9][0-9]{0,8}$"));
        if (loopText->compare(QLatin1String("forever"), Qt::CaseInsensitive) == 0)
            command.passes = std::nullopt;
        else if (passes.match(*loopText).hasMatch())
            command.passes = loopText->toInt();
        else
            return usage(QStringLiteral("play: --loop \"%1\" is neither a count of passes (1 or "
                                        "more) nor forever")
                             .arg(*loopText));
    }
    if ((info->kind == Kind::Otp || info->kind == Kind::OtpAll) && !confirmed) {
        return refused(ExitStatus::BurnRefused,
                       QStringLiteral("%1 burns one-time-programmable memory, which cannot be "
                                      "undone: add --yes to go ahead")
                           .arg(QString::fromLatin1(info->name)));
    }
    return {command, ExitStatus::Ok, {}};
}

std::optional<QStringList> splitScriptLine(const QString &line, QString *error)
{
    QStringList words;
    QString word;
    bool inWord = false;
    bool quoted = false;
    for (const QChar c : line) {
        if (quoted) {
            if (c == u'"')
                quoted = false;
            else
                word += c;
            continue;
        }
        if (c == u'"') {
            quoted = true;
            inWord = true;
        } else if (c.isSpace()) {
            if (inWord)
                words.append(word);
            word.clear();
            inWord = false;
        } else if (c == u'#' && !inWord) {
            break;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (quoted) {
        if (error)
            *error = QStringLiteral("a quote is not closed");
        return std::nullopt;
    }
    if (inWord)
        words.append(word);
    return words;
}

} // namespace cli
