#include "wayland/SwayConfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <wordexp.h>

#include <algorithm>
#include <map>

namespace glimra::wayland {

namespace {

// sway's modifier names; "Super" and "Logo" are not among them in sway 1.7, but cost nothing.
const std::map<QString, uint32_t> kModifiers = {
    {QStringLiteral("shift"), 1},   {QStringLiteral("lock"), 2},  {QStringLiteral("ctrl"), 4},
    {QStringLiteral("control"), 4}, {QStringLiteral("mod1"), 8},  {QStringLiteral("alt"), 8},
    {QStringLiteral("mod2"), 16},   {QStringLiteral("mod3"), 32}, {QStringLiteral("mod4"), 64},
    {QStringLiteral("super"), 64},  {QStringLiteral("logo"), 64}, {QStringLiteral("mod5"), 128},
};

// Words as sway splits a line: at white space, with quoted parts kept together and unquoted.
QStringList words(const QString& line) {
    QStringList out;
    QString word;
    QChar quote;
    bool inWord = false;
    for (const QChar c : line) {
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
            else
                word += c;
        } else if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
            quote = c;
            inWord = true;
        } else if (c.isSpace()) {
            if (inWord)
                out << word;
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        out << word;
    return out;
}

bool isBinding(const QString& command) {
    return command == QLatin1String("bindsym") || command == QLatin1String("bindcode");
}

struct Parser {
    enum class Block { DefaultMode, Skipped, Bindings };
    struct Open {
        Block kind;
        QStringList prefix; // for a `bindsym { ... }` block: bindsym and its flags
    };

    const SwayIncludeReader& readIncludes;
    std::map<QString, QString> variables;
    std::vector<SwayKeys> bound;
    int depth = 0;

    QString substituted(const QString& line) const {
        // Longest names first, so $mod does not eat the start of $modkey.
        std::vector<std::pair<QString, QString>> byLength(variables.begin(), variables.end());
        std::sort(byLength.begin(), byLength.end(),
                  [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
        QString out = line;
        for (const auto& [name, value] : byLength)
            out.replace(name, value);
        return out;
    }

    void bind(QStringList args) {
        const bool byCode = args.takeFirst() == QLatin1String("bindcode");
        while (!args.isEmpty() && args.first().startsWith(QLatin1String("--")))
            args.removeFirst();
        if (!args.isEmpty())
            if (std::optional<SwayKeys> keys = parseSwayKeys(args.first(), byCode))
                bound.push_back(*keys);
    }

    void read(const QString& text) {
        if (++depth > 16) { // includes that include each other
            --depth;
            return;
        }
        QString joined = text;
        joined.replace(QRegularExpression(QStringLiteral("\\\\\\n")), QString());
        std::vector<Open> open;
        for (const QString& raw : joined.split(QLatin1Char('\n'))) {
            const QString line = raw.trimmed();
            if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
                continue;
            if (line == QLatin1String("}")) {
                if (!open.empty())
                    open.pop_back();
                continue;
            }
            const Block within = open.empty() ? Block::DefaultMode : open.back().kind;
            QStringList args = words(line.startsWith(QLatin1String("set ")) ? line : substituted(line));
            if (within == Block::Bindings)
                args = open.back().prefix + args;
            if (args.last() == QLatin1String("{")) {
                args.removeLast();
                const QString command = args.value(0);
                if (within == Block::Skipped)
                    open.push_back({Block::Skipped, {}});
                else if (isBinding(command))
                    open.push_back({Block::Bindings, args});
                else if (command == QLatin1String("mode") &&
                         args.value(args.size() - 1) == QLatin1String("default"))
                    open.push_back({Block::DefaultMode, {}});
                else
                    open.push_back({Block::Skipped, {}});
                continue;
            }
            if (within == Block::Skipped)
                continue;
            const QString command = args.first();
            if (command == QLatin1String("set") && args.size() >= 2 && args[1].startsWith(QLatin1Char('$')))
                variables[args[1]] = QStringList(args.mid(2)).join(QLatin1Char(' '));
            else if (command == QLatin1String("include") && args.size() >= 2)
                for (const QString& included : readIncludes(QStringList(args.mid(1)).join(QLatin1Char(' '))))
                    read(included);
            else if (isBinding(command))
                bind(args);
        }
        --depth;
    }
};

} // namespace

std::optional<SwayKeys> parseSwayKeys(const QString& combination, bool byCode) {
    SwayKeys keys;
    keys.byCode = byCode;
    for (const QString& part : combination.split(QLatin1Char('+'), Qt::SkipEmptyParts)) {
        const QString name = part.toLower();
        if (const auto modifier = kModifiers.find(name); modifier != kModifiers.end())
            keys.modifiers |= modifier->second;
        else
            keys.keys << name;
    }
    if (keys.keys.isEmpty())
        return std::nullopt;
    keys.keys.sort();
    return keys;
}

std::vector<SwayKeys> swayConfigBindings(const QString& config, const SwayIncludeReader& readIncludes) {
    Parser parser{readIncludes, {}, {}, 0};
    parser.read(config);
    return parser.bound;
}

QStringList readSwayIncludes(const QString& argument) {
    // The folder relative includes start from: that of the first configuration file sway looks for.
    const QString home = QDir::homePath();
    const QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME", home + QStringLiteral("/.config"));
    QString base = QStringLiteral("/etc/sway");
    for (const QString& candidate :
         {home + QStringLiteral("/.sway/config"), configHome + QStringLiteral("/sway/config"),
          home + QStringLiteral("/.i3/config"), configHome + QStringLiteral("/i3/config")})
        if (QFileInfo::exists(candidate)) {
            base = QFileInfo(candidate).absolutePath();
            break;
        }
    QStringList texts;
    wordexp_t expanded{};
    // WRDE_NOCMD: a configuration's $(...) is not run here.
    if (wordexp(argument.toLocal8Bit().constData(), &expanded, WRDE_NOCMD) != 0)
        return texts;
    for (size_t i = 0; i < expanded.we_wordc; ++i) {
        const QString path = QDir(base).absoluteFilePath(QString::fromLocal8Bit(expanded.we_wordv[i]));
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            texts << QString::fromUtf8(file.readAll());
    }
    wordfree(&expanded);
    return texts;
}

} // namespace glimra::wayland
