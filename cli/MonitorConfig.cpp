#include "MonitorConfig.h"

#include "NetworkPort.h"
#include "OptionValues.h"
#include "PortLocator.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringDecoder>

#include <algorithm>

namespace {

// Far beyond a file of a few hundred lines; a log or a disk image given by
// mistake is refused before it is read.
constexpr qint64 kLargestFile = 1024 * 1024;

// The keys of a line, in the order the help gives them.
const QStringList kKeys = {
    QStringLiteral("port"),    QStringLiteral("text"),      QStringLiteral("interval"),
    QStringLiteral("timeout"), QStringLiteral("baud"),      QStringLiteral("data-bits"),
    QStringLiteral("parity"),  QStringLiteral("stop-bits"), QStringLiteral("flow"),
    QStringLiteral("precise"), QStringLiteral("log")};
const QStringList kRequired = {QStringLiteral("port"), QStringLiteral("text"),
                               QStringLiteral("timeout")};

QString quoted(const QString &text)
{
    return u'"' + text + u'"';
}

// A section as the file writes it: QSettings gives its sections sorted and
// forgets the lines they were on, keys written twice and lines it cannot
// read; what the file says is taken from here, what its values are from
// QSettings.
struct WrittenSection {
    QString name;
    int line = 0;
    QStringList keys; // lower case, as written
    QList<int> keyLines;
};

struct WrittenFile {
    QList<WrittenSection> sections;
    QString error; // "line 3: ..." or "[name] key: ..."
};

// Why QSettings would not read `value` as written, or an empty string. It
// reads a backslash as the start of an escape, dropping one it does not
// know and continuing the value on the next line at the end of one; a
// double quote as the start or end of a quoted part; a semicolon outside
// quotes as the start of a comment. A value may have \\ and \", quotes that
// close, and a comment after a space.
QString valueProblem(const QString &value)
{
    bool quoted = false;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c == u'\\') {
            if (i + 1 == value.size())
                return QStringLiteral("ends in a backslash, which would join the next line to "
                                      "it; write \\\\ for a backslash");
            const QChar escaped = value.at(i + 1);
            if (escaped != u'\\' && escaped != u'"')
                return QStringLiteral("has \\%1, which the file format reads as an escape; "
                                      "write \\\\ for a backslash, and control codes as [13]")
                    .arg(escaped);
            ++i;
        } else if (c == u'"') {
            quoted = !quoted;
        } else if (c == u';' && !quoted) {
            if (i > 0 && !value.at(i - 1).isSpace())
                return QStringLiteral("has a ; that would begin a comment and end the value "
                                      "before it; write the value in double quotes, or a "
                                      "space before a comment");
            break;
        }
    }
    if (quoted)
        return QStringLiteral("has a double quote that is not closed on its line");
    return {};
}

WrittenFile scan(const QString &text)
{
    WrittenFile file;
    const QStringList lines = text.split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const int number = int(i + 1);
        QString line = lines.at(i);
        if (line.endsWith(u'\r'))
            line.chop(1);
        const QString written = line.trimmed();
        if (written.isEmpty() || written.startsWith(u';'))
            continue;
        if (written.startsWith(u'[')) {
            const qsizetype end = written.indexOf(u']');
            if (end < 0) {
                file.error =
                    QStringLiteral("line %1: %2 has no closing ]").arg(number).arg(quoted(written));
                return file;
            }
            const QString name = written.mid(1, end - 1).trimmed();
            if (name.isEmpty()) {
                file.error = QStringLiteral("line %1: %2 names no line; a section's name is "
                                            "the line's name in the metrics")
                                 .arg(number)
                                 .arg(written.left(end + 1));
                return file;
            }
            if (name.compare(u"General", Qt::CaseInsensitive) == 0) {
                file.error = QStringLiteral("[%1]: is where the file format keeps keys outside "
                                            "any section; give the line another name")
                                 .arg(name);
                return file;
            }
            for (QChar c : {u'%', u'/', u'\\', u'"', u';'}) {
                if (name.contains(c)) {
                    file.error = QStringLiteral("[%1]: a line's name cannot have %, /, \\, \" or ; "
                                                "in it, which the file format reads otherwise")
                                     .arg(name);
                    return file;
                }
            }
            if (const QString after = written.mid(end + 1).trimmed();
                !after.isEmpty() && !after.startsWith(u';')) {
                file.error = QStringLiteral("line %1: %2 follows the section's ]")
                                 .arg(number)
                                 .arg(quoted(after));
                return file;
            }
            for (const WrittenSection &earlier : std::as_const(file.sections)) {
                if (earlier.name.compare(name, Qt::CaseInsensitive) == 0) {
                    file.error = QStringLiteral("[%1]: is on line %2 and again on line %3; "
                                                "each line needs a name of its own")
                                     .arg(name)
                                     .arg(earlier.line)
                                     .arg(number);
                    return file;
                }
            }
            file.sections.append({name, number, {}, {}});
            continue;
        }
        const qsizetype equals = written.indexOf(u'=');
        if (equals < 0 && written.startsWith(u'#')) {
            file.error = QStringLiteral("line %1: a comment starts with ;, not #").arg(number);
            return file;
        }
        if (equals < 0) {
            file.error = QStringLiteral("line %1: %2 is neither a [section] nor key = value")
                             .arg(number)
                             .arg(quoted(written));
            return file;
        }
        const QString key = written.left(equals).trimmed();
        if (key.isEmpty()) {
            file.error = QStringLiteral("line %1: a value without a key").arg(number);
            return file;
        }
        if (file.sections.isEmpty()) {
            file.error = QStringLiteral("line %1: %2 is outside any section; each key belongs "
                                        "to a line's [section]")
                             .arg(number)
                             .arg(key);
            return file;
        }
        WrittenSection &section = file.sections.last();
        const QString at = QStringLiteral("[%1] %2: ").arg(section.name, key);
        if (!kKeys.contains(key.toLower())) {
            file.error = at + QStringLiteral("unknown key (line %1); the keys are %2")
                                  .arg(number)
                                  .arg(kKeys.join(QStringLiteral(", ")));
            if (key.startsWith(u'#'))
                file.error += QStringLiteral("; a comment starts with ;, not #");
            return file;
        }
        if (const qsizetype earlier = section.keys.indexOf(key.toLower()); earlier >= 0) {
            file.error = at + QStringLiteral("is given on line %1 and again on line %2")
                                  .arg(section.keyLines.at(earlier))
                                  .arg(number);
            return file;
        }
        section.keys.append(key.toLower());
        section.keyLines.append(number);
        if (const QString problem = valueProblem(written.mid(equals + 1).trimmed());
            !problem.isEmpty()) {
            file.error = at + problem + QStringLiteral(" (line %1)").arg(number);
            return file;
        }
    }
    return file;
}

// The text of the file at `path`, or why it cannot be had. Only a regular
// file is opened: a FIFO would wait for a writer, a folder has no text.
std::optional<QString> fileText(const QString &path, QString &why)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        why = QStringLiteral("no such file");
        return std::nullopt;
    }
    if (info.isDir()) {
        why = QStringLiteral("is a folder, not a file");
        return std::nullopt;
    }
    if (!info.isFile()) {
        why = QStringLiteral("is not a regular file");
        return std::nullopt;
    }
    if (info.size() > kLargestFile) {
        why = QStringLiteral("is larger than %1 KiB, too large for a list of lines")
                  .arg(kLargestFile / 1024);
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        why = QStringLiteral("cannot be read: %1").arg(file.errorString());
        return std::nullopt;
    }
    // Read past the limit, for a file grown since the look.
    const QByteArray bytes = file.read(kLargestFile + 1);
    if (bytes.size() > kLargestFile) {
        why = QStringLiteral("is larger than %1 KiB, too large for a list of lines")
                  .arg(kLargestFile / 1024);
        return std::nullopt;
    }
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(bytes);
    if (utf8.hasError()) {
        // QSettings would read such bytes as U+FFFD and the text with them.
        const qsizetype at = text.indexOf(QChar(QChar::ReplacementCharacter));
        why = QStringLiteral("line %1 is not UTF-8; save the file as UTF-8")
                  .arg(text.left(at).count(u'\n') + 1);
        return std::nullopt;
    }
    return text;
}

std::optional<int> portNumberIn(const QString &port)
{
    CliOptions options;
    options.port = port;
    return options.portNumber();
}

// What names the same port twice, by number and by device, or through a
// link: the device itself, or the server's host and TCP port.
QString portIdentity(const QString &port)
{
    if (const auto number = portNumberIn(port)) {
        const QString device = PortLocator::deviceFor(*number);
        return device.isEmpty() ? port : portIdentity(device);
    }
    if (NetworkPort::looksLikeAddress(port)) {
        const auto address = NetworkPort::parseAddress(port);
        return address ? QStringLiteral("%1:%2").arg(address->host.toLower()).arg(address->port)
                       : port;
    }
    QString why;
    const QString device = PortLocator::deviceForPath(port, &why);
    return device.isEmpty() ? port : device;
}

// Why `port` cannot name a port; empty when it can.
QString portProblem(const QString &port)
{
    if (port.isEmpty())
        return QStringLiteral("must not be empty");
    if (const auto number = portNumberIn(port)) {
        if (!PortLocator::isPortNumber(*number))
            return QStringLiteral("must be a port number from %1 to %2, a device or an "
                                  "rfc2217:// or socket:// address, not %3")
                .arg(PortLocator::kFirstPort)
                .arg(PortLocator::kLastPort)
                .arg(quoted(port));
        return {};
    }
    if (NetworkPort::looksLikeAddress(port)) {
        QString why;
        if (!NetworkPort::parseAddress(port, &why))
            return why;
    }
    return {};
}

} // namespace

MonitorConfig::Result MonitorConfig::read(const QString &path)
{
    Result result;
    auto refuse = [&](const QString &reason) {
        result.lines.clear();
        result.error = QStringLiteral("%1: %2").arg(path, reason);
        return result;
    };
    QString why;
    const std::optional<QString> text = fileText(path, why);
    if (!text)
        return refuse(why);
    const WrittenFile written = scan(*text);
    if (!written.error.isEmpty())
        return refuse(written.error);
    if (written.sections.isEmpty())
        return refuse(QStringLiteral("names no lines; give each line a section, such as "
                                     "[press-3], with port, text and timeout"));

    QSettings settings(path, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        return refuse(QStringLiteral("cannot be read as an INI file"));
    // The file as QSettings reads it must be the file as written.
    if (const QStringList outside = settings.childKeys(); !outside.isEmpty())
        return refuse(QStringLiteral("%1: is outside any section; each key belongs to a "
                                     "line's [section]")
                          .arg(outside.constFirst()));
    for (const QString &group : settings.childGroups()) {
        const bool asWritten =
            std::any_of(written.sections.begin(), written.sections.end(),
                        [&group](const WrittenSection &section) { return section.name == group; });
        if (!asWritten)
            return refuse(QStringLiteral("[%1]: a section not read as written").arg(group));
    }

    const QDir folder = QFileInfo(path).absoluteDir();
    QStringList ports; // identities, in the order of result.lines
    for (const WrittenSection &section : written.sections) {
        Line line{section.name, CliOptions{}};
        CliOptions &options = line.options;
        options.command = CliOptions::Command::Check;
        for (const QString &key : kRequired) {
            if (!section.keys.contains(key))
                return refuse(QStringLiteral("[%1] %2: is missing; each line needs %3")
                                  .arg(section.name, key, kRequired.join(QStringLiteral(", "))));
        }
        settings.beginGroup(section.name);
        const QStringList keys = settings.childKeys();
        settings.endGroup();
        QStringList read;
        for (const QString &key : keys)
            read.append(key.toLower());
        QStringList meant = section.keys;
        read.sort();
        meant.sort();
        if (read != meant)
            return refuse(QStringLiteral("[%1]: is read with the keys %2, not %3 as written")
                              .arg(section.name, read.join(QStringLiteral(", ")),
                                   meant.join(QStringLiteral(", "))));
        for (const QString &key : keys) {
            const QString name = key.toLower();
            const QString at = QStringLiteral("[%1] %2: ").arg(section.name, key);
            const QVariant stored = settings.value(section.name + u'/' + key);
            if (stored.typeId() == QMetaType::QStringList)
                return refuse(at + QStringLiteral("has a comma outside double quotes, where the "
                                                  "value would be cut; write it in double "
                                                  "quotes: %1 = \"%2\"")
                                       .arg(key, stored.toStringList().join(u',')));
            if (stored.typeId() != QMetaType::QString)
                return refuse(at + QStringLiteral("is read as a value of another kind (a value "
                                                  "starting with @); write @@ for a leading @"));
            const QString value = stored.toString();
            if (name == u"port") {
                if (const QString problem = portProblem(value); !problem.isEmpty())
                    return refuse(at + problem);
                options.port = value;
                continue;
            }
            if (const QString reason = OptionValues::set(options, name, value); !reason.isEmpty())
                return refuse(at + reason);
        }

        const QString port = portIdentity(options.port);
        if (const qsizetype other = ports.indexOf(port); other >= 0)
            return refuse(
                QStringLiteral("[%1] port: %2 is the port of [%3] too")
                    .arg(section.name, quoted(options.port), result.lines.at(other).name));
        ports.append(port);
        if (!options.logPath.isEmpty()) {
            // Taken from the file's folder, wherever the program is started.
            options.logPath = QDir::cleanPath(folder.absoluteFilePath(options.logPath));
            for (qsizetype i = 0; i < result.lines.size(); ++i) {
                if (result.lines.at(i).options.logPath == options.logPath)
                    return refuse(
                        QStringLiteral("[%1] log: %2 is the log of [%3] too")
                            .arg(section.name, quoted(options.logPath), result.lines.at(i).name));
            }
        }
        result.lines.append(line);
    }
    return result;
}
