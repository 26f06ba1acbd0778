#include "platform/GuiSettingsFile.h"

#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>
#include <QSettings>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Log.h"

namespace {

constexpr int kLockWaitMs = 5000;

// One logical line of the file: [start, end), with its first '=' outside
// quotes (or -1). An open line ran into the end of the data inside quotes or
// on a backslash, so text put after it would join it.
struct Line {
    qsizetype start = 0;
    qsizetype equals = -1;
    qsizetype end = 0;
    bool open = false;
};

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool isBreak(char c)
{
    return c == '\r' || c == '\n';
}

// The next logical line at or after pos, by the rules QSettings reads INI
// text with: blanks before a line and a ';' comment with the blanks after it
// are skipped, quotes may hold line breaks and ';', a backslash takes the
// byte after it (a line break included, as one with its pair), and an
// unquoted ';' or line break ends the line. False at the end of the data.
bool nextLine(const QByteArray& d, qsizetype& pos, Line& line)
{
    const qsizetype size = d.size();
    qsizetype i = pos;
    while (i < size && isBlank(d[i]))
        ++i;
    line = Line{};
    line.start = i;
    bool quoted = false;
    bool escaping = false;
    while (i < size) {
        const char c = d[i++];
        escaping = false;
        if (isBreak(c) || c == ';') {
            if (c == ';' && i == line.start + 1) {
                while (i < size && !isBreak(d[i]))
                    ++i;
                while (i < size && isBlank(d[i]))
                    ++i;
                line.start = i;
            } else if (!quoted) {
                --i;
                break;
            }
        } else if (c == '=') {
            if (!quoted && line.equals < 0)
                line.equals = i - 1;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == '\\') {
            // At the end, a backslash or an escaped line break goes on
            // into whatever is put after it.
            const char e = i < size ? d[i++] : '\n';
            if (i < size && isBreak(e) && isBreak(d[i]) && d[i] != e)
                ++i;
            escaping = i == size && isBreak(e);
        }
    }
    line.end = i;
    line.open = i == size && (quoted || escaping);
    pos = i;
    return line.end > line.start;
}

// Plain bytes of a key are UTF-8 (a leading byte order mark drops out),
// '\\' is '/', %XX and %UXXXX are characters.
QString unescapedKey(const QByteArray& d)
{
    QString key;
    QByteArray plain;
    const auto flush = [&] {
        key += QString::fromUtf8(plain);
        plain.clear();
    };
    for (qsizetype i = 0; i < d.size();) {
        const char c = d[i];
        if (c == '\\') {
            flush();
            key += QLatin1Char('/');
            ++i;
            continue;
        }
        if (c == '%' && i + 1 < d.size()) {
            const bool wide = d[i + 1] == 'U';
            const qsizetype first = i + (wide ? 2 : 1);
            const qsizetype digits = wide ? 4 : 2;
            bool ok = false;
            const uint code = first + digits <= d.size() ? d.mid(first, digits).toUInt(&ok, 16) : 0;
            if (ok) {
                flush();
                key += QChar(char16_t(code));
                i = first + digits;
                continue;
            }
        }
        plain += c;
        ++i;
    }
    flush();
    return key;
}

QByteArray escapedKey(const QString& key)
{
    QByteArray out;
    for (const QChar ch : key) {
        const char16_t u = ch.unicode();
        if (u == '/')
            out += '\\';
        else if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_' || u == '-' ||
                 u == '.')
            out += char(u);
        else if (u <= 0xff)
            out += '%' + QByteArray::number(u, 16).toUpper().rightJustified(2, '0');
        else
            out += "%U" + QByteArray::number(u, 16).toUpper().rightJustified(4, '0');
    }
    return out;
}

bool isTopLevelHeader(const QByteArray& d, const Line& line)
{
    const qsizetype close = d.indexOf(']', line.start);
    const qsizetype stop = close < 0 || close >= line.end ? line.end : close;
    return d.mid(line.start + 1, stop - line.start - 1).trimmed().compare("general", Qt::CaseInsensitive) == 0;
}

struct Entry {
    QString key;
    qsizetype start;
    qsizetype valueStart;
    qsizetype end;
    bool open;
};

// The key lines of the top-level section (lines before any header and
// those of [General] sections), in file order.
struct Layout {
    qsizetype bodyStart = 0;      // after a UTF-8 byte order mark
    std::optional<Line> header;   // the last [General] header
    std::vector<Entry> entries;
    qsizetype firstLine = 0;      // where a line on the mark's line starts
    bool firstLineIsEntry() const { return !entries.empty() && entries.front().start == firstLine; }
};

Layout layoutOf(const QByteArray& d)
{
    Layout layout;
    if (d.startsWith("\xef\xbb\xbf"))
        layout.bodyStart = 3;
    // QSettings finds sections past the byte order mark but reads the first
    // line's key with the mark and the blanks after it.
    qsizetype& firstLine = layout.firstLine = layout.bodyStart;
    while (firstLine < d.size() && (d[firstLine] == ' ' || d[firstLine] == '\t'))
        ++firstLine;
    bool topLevel = true;
    qsizetype pos = layout.bodyStart;
    Line line;
    while (nextLine(d, pos, line)) {
        if (d[line.start] == '[') {
            topLevel = isTopLevelHeader(d, line);
            if (topLevel)
                layout.header = line;
            continue;
        }
        if (!topLevel || line.equals < 0)
            continue;
        const qsizetype from = line.start == firstLine ? 0 : line.start;
        const QByteArray key = d.mid(from, line.equals - from).trimmed();
        layout.entries.push_back({unescapedKey(key), line.start, line.equals + 1, line.end, line.open});
    }
    return layout;
}

// Past the line break that ends the physical line holding pos (a comment
// after a value included); the end of the data when there is none.
qsizetype afterLineBreak(const QByteArray& d, qsizetype pos)
{
    while (pos < d.size() && !isBreak(d[pos]))
        ++pos;
    if (pos < d.size() && d[pos++] == '\r' && pos < d.size() && d[pos] == '\n')
        ++pos;
    return pos;
}

struct Cut {
    qsizetype from;
    qsizetype to;
    QByteArray text;
    bool onNewLine = false;  // the text must start a line
};

// A removed key line goes with its indentation and its line break; a
// comment that follows it on the same line stays, and so does the break
// after a byte order mark's line (the next line would take the mark).
Cut removal(const QByteArray& d, const Layout& layout, const Entry& e)
{
    qsizetype from = e.start;
    while (from > 0 && (d[from - 1] == ' ' || d[from - 1] == '\t'))
        --from;
    qsizetype to = e.end;
    while (to < d.size() && (d[to] == ' ' || d[to] == '\t'))
        ++to;
    const bool markLine = layout.bodyStart > 0 && e.start == layout.firstLine;
    if (!markLine && (to == d.size() || isBreak(d[to])))
        to = afterLineBreak(d, to);
    else
        to = e.end;
    return {from, to, QByteArray()};
}


QString systemError(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

// Makes the folder and those above it; false with errno set.
bool makeFolder(const QByteArray& path)
{
    struct stat st;
    if (::stat(path.constData(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return true;
        errno = ENOTDIR;
        return false;
    }
    const qsizetype slash = path.lastIndexOf('/');
    if (slash > 0 && !makeFolder(path.left(slash)))
        return false;
    return ::mkdir(path.constData(), 0777) == 0 || errno == EEXIST;
}

// The whole file; an absent file reads as empty. False with errno set.
bool readFile(const QByteArray& path, QByteArray& out)
{
    out.clear();
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT;
    char buf[16384];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) != 0) {
        if (n > 0)
            out.append(buf, n);
        else if (errno != EINTR)
            break;
    }
    const int err = errno;
    ::close(fd);
    errno = err;
    return n == 0;
}

bool writeAll(int fd, const QByteArray& data)
{
    const char* p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= n;
    }
    return true;
}

// QSettings takes a file of the size and time (in milliseconds) it last saw
// as unchanged, so a new file's time is past the old one's.
timespec newFileTime(const struct stat* old)
{
    timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    if (!old)
        return now;
    const long long oldMs = old->st_mtim.tv_sec * 1000LL + old->st_mtim.tv_nsec / 1000000;
    const long long nowMs = now.tv_sec * 1000LL + now.tv_nsec / 1000000;
    if (nowMs > oldMs)
        return now;
    const long long ms = oldMs + 1;
    return timespec{time_t(ms / 1000), long(ms % 1000) * 1000000};
}

// Writes data to a new file beside path and renames it over path, so that
// a failure at any step leaves path as it was. False with errno set.
bool replaceFile(const QByteArray& path, const QByteArray& data)
{
    struct stat old;
    const bool exists = ::stat(path.constData(), &old) == 0;
    QByteArray temp = path + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    const timespec times[2] = {{0, UTIME_OMIT}, newFileTime(exists ? &old : nullptr)};
    bool ok = (!exists || !S_ISREG(old.st_mode) || ::fchmod(fd, old.st_mode & 07777) == 0) && writeAll(fd, data) &&
              ::fsync(fd) == 0 && ::futimens(fd, times) == 0;
    int err = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && ::rename(temp.constData(), path.constData()) == 0)
        return true;
    if (ok)
        err = errno;
    ::unlink(temp.constData());
    errno = err;
    return false;
}

QString lockError(QLockFile::LockError e)
{
    switch (e) {
    case QLockFile::LockFailedError:
        return QStringLiteral("locked by another program");
    case QLockFile::PermissionError:
        return systemError(EACCES);
    default:
        return QStringLiteral("its lock file could not be made");
    }
}

}  // namespace

GuiSettingsFile::GuiSettingsFile(QString path)
    : m_path(std::move(path))
{
}

GuiSettingsFile GuiSettingsFile::application()
{
    return GuiSettingsFile(QSettings(QStringLiteral("vesk"), QStringLiteral("vesk")).fileName());
}

bool GuiSettingsFile::read()
{
    const bool ok = readFile(QFile::encodeName(m_path), m_data);
    m_error = ok ? QString() : systemError(errno);
    if (!ok)
        m_data.clear();
    index();
    return ok;
}

void GuiSettingsFile::index()
{
    m_values.clear();
    m_keys.clear();
    for (const Entry& e : layoutOf(m_data).entries) {
        if (!m_values.contains(e.key))
            m_keys.append(e.key);
        m_values.insert(e.key, m_data.mid(e.valueStart, e.end - e.valueStart));
    }
}

QStringList GuiSettingsFile::keys() const
{
    return m_keys;
}

std::optional<QByteArray> GuiSettingsFile::stored(const QString& key) const
{
    const auto found = m_values.constFind(key);
    if (found == m_values.constEnd())
        return std::nullopt;
    return *found;
}

void GuiSettingsFile::setStored(const QString& key, std::optional<QByteArray> text)
{
    m_requests.emplace_back(key, std::move(text));
}

QByteArray GuiSettingsFile::edited(const QByteArray& d) const
{
    QHash<QString, std::optional<QByteArray>> wanted;
    std::vector<QString> order;
    for (const auto& [key, text] : m_requests) {
        if (!wanted.contains(key))
            order.push_back(key);
        wanted[key] = text;
    }
    const Layout layout = layoutOf(d);
    QHash<QString, size_t> last;
    for (size_t i = 0; i < layout.entries.size(); ++i)
        last[layout.entries[i].key] = i;

    std::vector<Cut> cuts;
    for (size_t i = 0; i < layout.entries.size(); ++i) {
        const Entry& e = layout.entries[i];
        const auto want = wanted.constFind(e.key);
        if (want == wanted.constEnd())
            continue;
        if (!*want)
            cuts.push_back(removal(d, layout, e));
        else if (last.value(e.key) == i && d.mid(e.valueStart, e.end - e.valueStart) != **want)
            cuts.push_back({e.valueStart, e.end, **want});
        // An earlier line of a key that is set is not read; it stays.
    }

    // New lines end as the file's first line does.
    const qsizetype lf = d.indexOf('\n');
    const QByteArray nl = lf > 0 && d[lf - 1] == '\r' ? "\r\n" : lf < 0 && d.contains('\r') ? "\r" : "\n";
    QByteArray added;
    for (const QString& key : order) {
        if (wanted[key] && !last.contains(key))
            added += escapedKey(key) + '=' + *wanted[key] + nl;
    }
    if (!added.isEmpty()) {
        // After the last key line, or the header, unless that line is open;
        // else after a first line that is a key line (which keeps the byte
        // order mark before it), else at the top under a header of its own.
        const auto& entries = layout.entries;
        std::optional<qsizetype> anchor;
        if (!entries.empty() && !entries.back().open)
            anchor = entries.back().end;
        else if (entries.empty() && layout.header && !layout.header->open)
            anchor = layout.header->end;
        else if (layout.firstLineIsEntry() && !entries.front().open)
            anchor = entries.front().end;
        if (anchor) {
            const qsizetype at = afterLineBreak(d, *anchor);
            cuts.push_back({at, at, added, true});
        } else {
            // Before a byte order mark when the first line is a key line, so
            // that the mark stays at the start of that line's key.
            const qsizetype top = layout.firstLineIsEntry() ? 0 : layout.bodyStart;
            const bool more = d.size() > top;
            cuts.push_back({top, top, "[General]" + nl + added + (more ? nl : QByteArray())});
        }
    }
    if (cuts.empty())
        return d;
    std::stable_sort(cuts.begin(), cuts.end(), [](const Cut& a, const Cut& b) { return a.from < b.from; });
    QByteArray out;
    qsizetype pos = 0;
    for (const Cut& c : cuts) {
        if (c.from > pos)
            out += d.mid(pos, c.from - pos);
        if (c.onNewLine && !out.isEmpty() && !isBreak(out.back()))
            out += nl;
        out += c.text;
        pos = std::max(pos, c.to);
    }
    out += d.mid(pos);
    return out;
}

bool GuiSettingsFile::write()
{
    if (m_requests.empty())
        return true;
    return update({});
}

bool GuiSettingsFile::update(const std::function<void(GuiSettingsFile&)>& plan)
{
    m_error.clear();
    // A link is followed, as QSettings does, so the file it names changes.
    const QFileInfo info(m_path);
    const QString target = info.isSymLink() && !info.canonicalFilePath().isEmpty() ? info.canonicalFilePath() : m_path;
    if (!makeFolder(QFile::encodeName(QFileInfo(target).absolutePath())))
        return fail("its folder could not be made", systemError(errno));
    QLockFile lock(m_path + QStringLiteral(".lock"));
    if (!lock.tryLock(kLockWaitMs))
        return fail("could not be locked", lockError(lock.error()));
    if (!read())
        return fail("could not be read", m_error);
    if (plan)
        plan(*this);
    const QByteArray out = edited(m_data);
    if (out == m_data) {
        m_requests.clear();
        return true;
    }
    if (!replaceFile(QFile::encodeName(target), out))
        return fail("could not be written", systemError(errno));
    m_data = out;
    index();
    m_requests.clear();
    return true;
}

bool GuiSettingsFile::fail(const char* what, const QString& reason)
{
    m_error = reason;
    vlogFailure("settings file %s: %s: %s", what, m_path.toUtf8().constData(), reason.toUtf8().constData());
    return false;
}

QByteArray GuiSettingsFile::encode(const QString& value)
{
    // A leading '@' marks a typed value; doubled, it reads as itself.
    const QByteArray utf8 = (value.startsWith(QLatin1Char('@')) ? QLatin1Char('@') + value : value).toUtf8();
    QByteArray out;
    bool quote = false;
    bool afterHex = false;
    for (const char ch : utf8) {
        const uchar c = uchar(ch);
        const bool hexDigit = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (afterHex && hexDigit) {
            // A digit after a hex escape would join it.
            out += "\\x" + QByteArray::number(c, 16);
            continue;
        }
        afterHex = false;
        quote = quote || c == ',' || c == ';' || c == '=';
        switch (c) {
        case '\\':
        case '"':
            out += '\\';
            out += ch;
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20 || c == 0x7f) {
                out += "\\x" + QByteArray::number(c, 16);
                afterHex = true;
            } else {
                out += ch;
            }
        }
    }
    if (quote || out.startsWith(' ') || out.endsWith(' '))
        return '"' + out + '"';
    return out;
}

QByteArray GuiSettingsFile::encode(int value)
{
    return QByteArray::number(value);
}

namespace {

int digitValue(char c, int base)
{
    int v = 99;
    if (c >= '0' && c <= '9')
        v = c - '0';
    else if (c >= 'a' && c <= 'f')
        v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        v = c - 'A' + 10;
    return v < base ? v : -1;
}

}  // namespace

// QSettings' reading of an INI value: blanks around unquoted text drop out,
// quotes keep what they hold, backslash escapes (named, \x hex, octal, an
// escaped line break), and unquoted commas between the items of a list,
// which reads as the items joined by ", ".
std::optional<QString> GuiSettingsFile::decode(const QByteArray& text)
{
    static const char kEscapes[][2] = {{'a', '\a'}, {'b', '\b'}, {'f', '\f'}, {'n', '\n'},  {'r', '\r'}, {'t', '\t'},
                                       {'v', '\v'}, {'"', '"'},  {'?', '?'},  {'\'', '\''}, {'\\', '\\'}};
    QStringList items;
    QString item;
    QByteArray plain;  // UTF-8 bytes not yet added to item
    qsizetype chopLimit = 0;
    bool quoted = false;
    bool itemQuoted = false;
    const auto flush = [&] {
        item += QString::fromUtf8(plain);
        plain.clear();
    };
    const auto endItem = [&] {
        flush();
        if (!itemQuoted) {
            qsizetype n = item.size();
            while (n > chopLimit && (item[n - 1] == ' ' || item[n - 1] == '\t'))
                --n;
            item.truncate(n);
        }
        items.append(item);
        item.clear();
        chopLimit = 0;
        itemQuoted = false;
    };
    const qsizetype size = text.size();
    qsizetype i = 0;
    const auto skipBlanks = [&] {
        while (i < size && (text[i] == ' ' || text[i] == '\t'))
            ++i;
    };
    skipBlanks();
    while (i < size) {
        const char c = text[i++];
        if (c == '\\') {
            if (i >= size)
                break;
            flush();
            const char e = text[i++];
            bool named = false;
            for (const auto& pair : kEscapes) {
                if (e == pair[0]) {
                    item += QLatin1Char(pair[1]);
                    named = true;
                }
            }
            const int base = e == 'x' ? 16 : digitValue(e, 8) >= 0 ? 8 : 0;
            if (!named && base) {
                uint code = base == 8 ? uint(digitValue(e, 8)) : 0;
                const qsizetype first = i;
                while (i < size && digitValue(text[i], base) >= 0)
                    code = code * uint(base) + uint(digitValue(text[i++], base));
                if (base == 8 || i > first)
                    item += QChar(char16_t(code));
            } else if (!named && (e == '\n' || e == '\r') && i < size && (text[i] == '\n' || text[i] == '\r') &&
                       text[i] != e) {
                ++i;
            }
            chopLimit = item.size();
        } else if (c == '"') {
            itemQuoted = true;
            quoted = !quoted;
            if (!quoted)
                skipBlanks();
        } else if (c == ',' && !quoted) {
            endItem();
            skipBlanks();
        } else {
            plain += c;
        }
    }
    endItem();
    if (items.size() > 1)
        return items.join(QStringLiteral(", "));
    const QString value = items.value(0);
    // A typed value ("@Variant(...)" and the like) is not a string.
    static const QRegularExpression typed(
        QStringLiteral("^@(ByteArray|String|Variant|DateTime|Rect|Size|Point|Invalid)\\(.*\\)$"),
        QRegularExpression::DotMatchesEverythingOption);
    if (typed.match(value).hasMatch())
        return std::nullopt;
    return value.startsWith(QStringLiteral("@@")) ? value.mid(1) : value;
}

bool GuiSettingsFile::isWholeValue(const QByteArray& text)
{
    const QByteArray line = "k=" + text;
    qsizetype pos = 0;
    Line l;
    return nextLine(line, pos, l) && l.start == 0 && l.end == line.size() && !l.open;
}

bool GuiSettingsFile::storeString(const QString& key, const QString& value)
{
    GuiSettingsFile file = application();
    file.setStored(key, encode(value));
    return file.write();
}
