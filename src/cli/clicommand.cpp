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

constexpr CommandInfo commandTable[] = {
    {"ports", Kind::Ports, "", 0},         {"read", Kind::Read, "", 0},
    {"get", Kind::Get, "CH", 1},           {"code", Kind::Code, "CH N", 2},
    {"set", Kind::Set, "CH VOLTS", 2},     {"load", Kind::Load, "FILE", 1},
    {"save", Kind::Save, "FILE", 1},       {"reset", Kind::Reset, "", 0},
    {"otp", Kind::Otp, "CH --yes", 1},     {"otp-all", Kind::OtpAll, "--yes", 0},
    {"script", Kind::Script, "FILE|-", 1}, {"scan", Kind::Scan, "", 0},
    {"selftest", Kind::SelfTest, "", 0},
};

const QString confirmFlag = QStringLiteral("--yes");

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

std::optional<int> wholeCode(const QString &text)
{
    static const QRegularExpression digits(QStringLiteral("^0*[0-9]{1,4}$"));
    if (!digits.match(text).hasMatch())
        return std::nullopt;
    const int value = text.toInt();
    if (value > 1024)
        return std::nullopt;
    return value;
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
                                        "c1 and c2")
                             .arg(arguments.first()));
        }
        command.channel = *channel;
        break;
    }
    case Kind::Load:
    case Kind::Save:
    case Kind::Script:
        command.path = arguments.first();
        if (command.path.isEmpty())
            return usage(QStringLiteral("usage: %1").arg(usageOf(info)));
        break;
    case Kind::Ports:
    case Kind::Read:
    case Kind::Reset:
    case Kind::OtpAll:
    case Kind::Scan:
    case Kind::SelfTest:
        break;
    }

    if (info.kind == Kind::Code) {
        const std::optional<int> code = wholeCode(arguments.at(1));
        if (!code) {
            return usage(QStringLiteral("\"%1\" is not a code: give a whole number from 0 to "
                                        "1024 (1024 = full scale)")
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
    for (int index = 1; index <= device::channelCount; ++index) {
        if (name.compare(device::channelLabel(index), Qt::CaseInsensitive) == 0)
            return index;
    }
    return std::nullopt;
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

    // Burning asks for --yes anywhere after the command's name; nothing else takes options.
    QStringList arguments;
    bool confirmed = false;
    for (const QString &word : words.mid(1)) {
        if (word == confirmFlag && (info->kind == Kind::Otp || info->kind == Kind::OtpAll))
            confirmed = true;
        else
            arguments.append(word);
    }

    if (arguments.size() != info->argumentCount) {
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
    if (std::optional<ParsedCommand> refusal = takeArguments(*info, arguments, command))
        return *refusal;
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
