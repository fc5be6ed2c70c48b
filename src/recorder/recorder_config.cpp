#include "recorder/recorder_config.h"

#include "reader/password.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <map>

namespace {

QString Quoted(const QString& text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// A password file named with ~ or relative to the configuration's folder,
// as a unit file or a user would write it.
QString ResolvedPath(const QString& value, const QString& configPath)
{
    if (value.startsWith(QLatin1String("~/")))
        return QDir::home().filePath(value.mid(2));
    return QFileInfo(configPath).dir().filePath(value);
}

// The password, or why it cannot be used. A file that its group or others
// can read is refused: the password opens the router to whoever reads it.
std::optional<QByteArray> ReadPasswordFile(const QString& path, QString& error)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        error = QStringLiteral("password file %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return std::nullopt;
    }
    if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        error = QStringLiteral("password file %1 can be read by others (mode %2): chmod 600 it")
                    .arg(path)
                    .arg(info.st_mode & 0777, 3, 8, QLatin1Char('0'));
        return std::nullopt;
    }
    const TPasswordResult read = ReadPassword(path);
    if (!read.Password) {
        error = read.Error;
        return std::nullopt;
    }
    return read.Password;
}

struct TParser {
    QString Path;
    QString Error;
    bool ReadPasswords = true;

    bool Fail(int lineNumber, const QString& text)
    {
        Error = QStringLiteral("%1:%2: %3").arg(Path).arg(lineNumber).arg(text);
        return false;
    }

    // One key of a line's section.
    bool Set(TRecorderLine& line, const QString& key, const QString& value, int n)
    {
        const QString where = QStringLiteral("line %1: ").arg(Quoted(line.Name));
        bool ok = false;
        if (key == QLatin1String("host")) {
            line.Host = value;
        } else if (key == QLatin1String("port")) {
            line.Port = value.toInt(&ok);
            if (!ok || line.Port < 1 || line.Port > 65535)
                return Fail(n, where + QStringLiteral("port %1 is not a number from 1 to 65535").arg(Quoted(value)));
        } else if (key == QLatin1String("router")) {
            const std::optional<TRouterFamily> family = RouterFamilyFromName(value);
            if (!family)
                return Fail(n, where + QStringLiteral("unknown router %1 (%2)").arg(Quoted(value), RouterFamilyNames()));
            line.Router = *family;
        } else if (key == QLatin1String("username")) {
            line.Username = value;
        } else if (key == QLatin1String("password_file")) {
            line.PasswordFile = ResolvedPath(value, Path);
        } else if (key == QLatin1String("prompt")) {
            line.Prompt = value;
        } else if (key == QLatin1String("interval")) {
            line.IntervalSeconds = value.toInt(&ok);
            if (!ok || line.IntervalSeconds < 1 || line.IntervalSeconds > 86400)
                return Fail(n, where + QStringLiteral("interval %1 is not a number of seconds from 1 to 86400").arg(Quoted(value)));
        } else if (key == QLatin1String("figures")) {
            if (value != QLatin1String("true") && value != QLatin1String("false"))
                return Fail(n, where + QStringLiteral("figures %1 is neither true nor false").arg(Quoted(value)));
            line.Figures = value == QLatin1String("true");
        } else {
            return Fail(n, where + QStringLiteral("unknown key %1").arg(Quoted(key)));
        }
        return true;
    }

    // What a complete section must hold; the password is read here so a
    // file that cannot serve stops the start, not a reading months later.
    bool Check(TRecorderLine& line, int n)
    {
        const QString where = QStringLiteral("line %1: ").arg(Quoted(line.Name));
        if (line.Host.isEmpty())
            return Fail(n, where + QStringLiteral("no host"));
        if (line.PasswordFile.isEmpty())
            return Fail(n, where + QStringLiteral("no password_file"));
        if (!ReadPasswords)
            return true;
        QString error;
        const std::optional<QByteArray> password = ReadPasswordFile(line.PasswordFile, error);
        if (!password)
            return Fail(n, where + error);
        line.Password = *password;
        return true;
    }
};

} // namespace

QString DefaultRecorderConfigPath()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation))
        .filePath(QStringLiteral("recorder.conf"));
}

TRecorderConfigResult ParseRecorderConfig(const QByteArray& text, const QString& path, bool readPasswords)
{
    TParser parser{path, {}, readPasswords};
    TRecorderConfig config;
    config.Path = path;
    std::map<QString, int> names;        // line name -> where its section starts
    std::map<QString, QString> routers;  // host:port -> the line polling it
    std::vector<int> starts;
    const QList<QByteArray> rows = text.split('\n');
    const auto finish = [&] { return config.Lines.empty() || parser.Check(config.Lines.back(), starts.back()); };
    const auto refuse = [&](int n, const QString& text) {
        parser.Fail(n, text);
        return TRecorderConfigResult{std::nullopt, parser.Error};
    };
    for (int i = 0; i < rows.size(); ++i) {
        const int n = i + 1;
        const QString row = QString::fromUtf8(rows[i]).trimmed();
        if (row.isEmpty() || row.startsWith(QLatin1Char('#')) || row.startsWith(QLatin1Char(';')))
            continue;
        if (row.startsWith(QLatin1Char('['))) {
            if (!row.endsWith(QLatin1Char(']')) || row.size() < 3)
                return refuse(n, QStringLiteral("a section is [name]"));
            if (!finish())
                return {std::nullopt, parser.Error};
            const QString name = row.mid(1, row.size() - 2).trimmed();
            if (const auto earlier = names.find(name); earlier != names.end())
                return refuse(n, QStringLiteral("line %1 is named twice (first on line %2)").arg(Quoted(name)).arg(earlier->second));
            names[name] = n;
            TRecorderLine line;
            line.Name = name;
            config.Lines.push_back(line);
            starts.push_back(n);
            continue;
        }
        const qsizetype equals = row.indexOf(QLatin1Char('='));
        if (equals <= 0)
            return refuse(n, QStringLiteral("expected key = value"));
        if (config.Lines.empty())
            return refuse(n, QStringLiteral("a key before the first [line]"));
        if (!parser.Set(config.Lines.back(), row.left(equals).trimmed(), row.mid(equals + 1).trimmed(), n))
            return {std::nullopt, parser.Error};
    }
    if (!finish())
        return {std::nullopt, parser.Error};
    if (config.Lines.empty())
        return {std::nullopt, QStringLiteral("%1: no line to record (a section [name] with host, router and password_file)").arg(path)};
    // One poller per router: two lines on one router would be two sessions.
    for (std::size_t i = 0; i < config.Lines.size(); ++i) {
        const TRecorderLine& line = config.Lines[i];
        const QString router = QStringLiteral("%1:%2").arg(line.Host).arg(line.Port);
        if (const auto other = routers.find(router); other != routers.end())
            return refuse(starts[i], QStringLiteral("lines %1 and %2 both poll %3").arg(Quoted(other->second), Quoted(line.Name), router));
        routers[router] = line.Name;
    }
    return {config, {}};
}

TRecorderConfigResult LoadRecorderConfig(const QString& path, bool readPasswords)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {std::nullopt, QStringLiteral("cannot read %1: %2").arg(path, file.errorString())};
    return ParseRecorderConfig(file.readAll(), path, readPasswords);
}

std::optional<QString> ConfiguredLineHost(const QString& name, const QString& path, QString& error)
{
    const TRecorderConfigResult config = LoadRecorderConfig(path, false);
    if (!config.Config) {
        error = QStringLiteral("--line %1: %2").arg(name, config.Error);
        return std::nullopt;
    }
    for (const TRecorderLine& line : config.Config->Lines)
        if (line.Name == name)
            return line.Host;
    error = QStringLiteral("--line %1: no such line in %2").arg(name, config.Config->Path);
    return std::nullopt;
}

std::map<QString, QString> ConfiguredLineNames(const QString& path)
{
    std::map<QString, QString> names;
    if (!QFileInfo::exists(path))
        return names;
    const TRecorderConfigResult config = LoadRecorderConfig(path, false);
    if (!config.Config)
        return names;
    for (const TRecorderLine& line : config.Config->Lines) {
        QString& named = names[line.Host];
        named += (named.isEmpty() ? QString() : QStringLiteral(", ")) + line.Name;
    }
    return names;
}
