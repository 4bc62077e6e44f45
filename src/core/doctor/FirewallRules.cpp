#include "doctor/FirewallRules.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>
#include <algorithm>
#include <functional>

namespace tvx {

namespace {

// Rules and chains looked at, so that a listing of absurd size costs bounded time.
constexpr int kMaxRules = 100000;
constexpr int kMaxChainDepth = 16;
constexpr int kMaxRuleText = 300;

// A set of destination ports: single ports and ranges.
struct PortSet {
    QList<QPair<int, int>> ranges;
    bool Holds(int port) const {
        for (const auto& [low, high] : ranges) {
            if (port >= low && port <= high)
                return true;
        }
        return false;
    }
};

// What a rule says of a port: whether it matches the port's packets at all (a rule without a
// port match is not about our ports).
enum class PortMatch { NoPortMatch, Matches, Misses };

enum class Action { None, Drop, Accept };

QString Shorten(QString text) {
    text = text.simplified();
    if (text.size() > kMaxRuleText)
        text = text.left(kMaxRuleText) + QStringLiteral("...");
    return text;
}

// ---- nftables JSON ----

int PortOfJson(const QJsonValue& value) {
    if (value.isDouble())
        return value.toInt(-1);
    if (value.isString()) {
        bool ok = false;
        const int port = value.toString().toInt(&ok);
        return ok ? port : -1;
    }
    return -1;
}

void AddJsonPorts(const QJsonValue& value, const QHash<QString, QJsonArray>& sets, PortSet& into,
                  int depth = 0) {
    if (depth > 4)
        return;
    if (value.isArray()) {
        for (const QJsonValue& element : value.toArray())
            AddJsonPorts(element, sets, into, depth + 1);
        return;
    }
    if (value.isString() && value.toString().startsWith(QLatin1Char('@'))) {
        AddJsonPorts(sets.value(value.toString().mid(1)), sets, into, depth + 1);
        return;
    }
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        if (object.contains(QLatin1String("set"))) {
            AddJsonPorts(object.value(QLatin1String("set")), sets, into, depth + 1);
        } else if (object.contains(QLatin1String("range"))) {
            const QJsonArray range = object.value(QLatin1String("range")).toArray();
            if (range.size() == 2)
                into.ranges.append({PortOfJson(range[0]), PortOfJson(range[1])});
        } else if (object.contains(QLatin1String("elem"))) {  // a set element with options
            AddJsonPorts(object.value(QLatin1String("elem")).toObject().value(QLatin1String("val")),
                         sets, into, depth + 1);
        }
        return;
    }
    const int port = PortOfJson(value);
    if (port >= 0)
        into.ranges.append({port, port});
}

QString JsonText(const QJsonValue& value, int depth = 0) {
    if (depth > 4)
        return QStringLiteral("...");
    if (value.isDouble())
        return QString::number(value.toInteger());
    if (value.isString())
        return value.toString();
    if (value.isArray()) {
        QStringList parts;
        for (const QJsonValue& element : value.toArray())
            parts << JsonText(element, depth + 1);
        return QStringLiteral("{ ") + parts.join(QStringLiteral(", ")) + QStringLiteral(" }");
    }
    const QJsonObject object = value.toObject();
    if (object.contains(QLatin1String("set")))
        return JsonText(object.value(QLatin1String("set")), depth + 1);
    if (object.contains(QLatin1String("range"))) {
        const QJsonArray range = object.value(QLatin1String("range")).toArray();
        return JsonText(range.at(0), depth + 1) + QLatin1Char('-') +
               JsonText(range.at(1), depth + 1);
    }
    if (object.contains(QLatin1String("payload"))) {
        const QJsonObject payload = object.value(QLatin1String("payload")).toObject();
        return payload.value(QLatin1String("protocol")).toString() + QLatin1Char(' ') +
               payload.value(QLatin1String("field")).toString();
    }
    if (object.contains(QLatin1String("meta")))
        return object.value(QLatin1String("meta"))
            .toObject()
            .value(QLatin1String("key"))
            .toString();
    if (!object.isEmpty())
        return object.begin().key();
    return QStringLiteral("...");
}

// One rule of nft's JSON, rebuilt close to how `nft list ruleset` writes it.
QString NftRuleText(const QJsonObject& rule) {
    QStringList parts{QStringLiteral("table"), rule.value(QLatin1String("family")).toString(),
                      rule.value(QLatin1String("table")).toString(), QStringLiteral("chain"),
                      rule.value(QLatin1String("chain")).toString() + QLatin1Char(':')};
    for (const QJsonValue& value : rule.value(QLatin1String("expr")).toArray()) {
        const QJsonObject expr = value.toObject();
        if (expr.isEmpty())
            continue;
        const QString key = expr.begin().key();
        if (key == QLatin1String("match")) {
            const QJsonObject match = expr.value(key).toObject();
            const QString op = match.value(QLatin1String("op")).toString();
            parts << JsonText(match.value(QLatin1String("left")));
            if (op != QLatin1String("==") && op != QLatin1String("in"))
                parts << op;
            parts << JsonText(match.value(QLatin1String("right")));
        } else if (key == QLatin1String("jump") || key == QLatin1String("goto")) {
            parts << key << expr.value(key).toObject().value(QLatin1String("target")).toString();
        } else {
            parts << key;
        }
    }
    return Shorten(parts.join(QLatin1Char(' ')));
}

struct NftRule {
    QJsonObject json;
    QString chainKey;
};

QString ChainKey(const QJsonObject& object, const QString& nameField) {
    return object.value(QLatin1String("family")).toString() + QLatin1Char(' ') +
           object.value(QLatin1String("table")).toString() + QLatin1Char(' ') +
           object.value(nameField).toString();
}

// What one nft rule does to the port's packets.
PortMatch NftRuleMatch(const QJsonObject& rule, const WatchedPort& port,
                       const QHash<QString, QJsonArray>& sets) {
    bool sawPortMatch = false;
    const QString family = rule.value(QLatin1String("family")).toString();
    for (const QJsonValue& value : rule.value(QLatin1String("expr")).toArray()) {
        const QJsonObject match = value.toObject().value(QLatin1String("match")).toObject();
        const QJsonObject payload = match.value(QLatin1String("left"))
                                        .toObject()
                                        .value(QLatin1String("payload"))
                                        .toObject();
        if (payload.value(QLatin1String("field")).toString() != QLatin1String("dport"))
            continue;
        const QString protocol = payload.value(QLatin1String("protocol")).toString();
        sawPortMatch = true;
        if (protocol != QLatin1String("th") &&
            protocol != (port.udp ? QLatin1String("udp") : QLatin1String("tcp")))
            return PortMatch::Misses;
        PortSet ports;
        const QString setPrefix = family + QLatin1Char(' ') +
                                  rule.value(QLatin1String("table")).toString() + QLatin1Char(' ');
        QHash<QString, QJsonArray> tableSets;
        for (auto it = sets.begin(); it != sets.end(); ++it) {
            if (it.key().startsWith(setPrefix))
                tableSets.insert(it.key().mid(setPrefix.size()), it.value());
        }
        AddJsonPorts(match.value(QLatin1String("right")), tableSets, ports);
        const bool holds = ports.Holds(port.port);
        const bool negated = match.value(QLatin1String("op")).toString() == QLatin1String("!=");
        if (holds == negated)
            return PortMatch::Misses;
    }
    return sawPortMatch ? PortMatch::Matches : PortMatch::NoPortMatch;
}

Action NftRuleAction(const QJsonObject& rule, QString* jumpTarget) {
    for (const QJsonValue& value : rule.value(QLatin1String("expr")).toArray()) {
        const QJsonObject expr = value.toObject();
        if (expr.contains(QLatin1String("drop")) || expr.contains(QLatin1String("reject")))
            return Action::Drop;
        if (expr.contains(QLatin1String("accept")))
            return Action::Accept;
        for (const QLatin1String key : {QLatin1String("jump"), QLatin1String("goto")}) {
            if (expr.contains(key))
                *jumpTarget = expr.value(key).toObject().value(QLatin1String("target")).toString();
        }
    }
    return Action::None;
}

// ---- iptables -S and ufw ----

// Words of one line, keeping a quoted comment as one word.
QStringList SplitWords(const QString& line) {
    QStringList words;
    QString word;
    bool quoted = false;
    bool any = false;
    for (const QChar ch : line) {
        if (ch == QLatin1Char('"')) {
            quoted = !quoted;
            any = true;
        } else if (ch.isSpace() && !quoted) {
            if (any)
                words << word;
            word.clear();
            any = false;
        } else {
            word += ch;
            any = true;
        }
    }
    if (any)
        words << word;
    return words;
}

// "8510", "8510:8512", "8510,8511,9000:9200".
PortSet ReadPortList(const QString& text) {
    PortSet set;
    for (const QString& part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList ends = part.split(QLatin1Char(':'));
        bool okLow = false;
        bool okHigh = false;
        const int low = ends.value(0).toInt(&okLow);
        const int high = ends.size() > 1 ? ends.value(1).toInt(&okHigh) : low;
        if (okLow && (ends.size() == 1 || okHigh))
            set.ranges.append({low, high});
    }
    return set;
}

struct IptablesRule {
    QString chain;
    QString line;
    QStringList words;
};

PortMatch IptablesRuleMatch(const IptablesRule& rule, const WatchedPort& port) {
    bool sawPortMatch = false;
    QString protocol;
    for (int i = 0; i < rule.words.size(); ++i) {
        const QString& word = rule.words[i];
        const bool negated = i > 0 && rule.words[i - 1] == QLatin1String("!");
        if ((word == QLatin1String("-p") || word == QLatin1String("--protocol")) && !negated) {
            protocol = rule.words.value(i + 1).toLower();
        } else if (word == QLatin1String("--dport") || word == QLatin1String("--dports") ||
                   word == QLatin1String("--destination-port") ||
                   word == QLatin1String("--destination-ports")) {
            sawPortMatch = true;
            const bool holds = ReadPortList(rule.words.value(i + 1)).Holds(port.port);
            if (holds == negated)
                return PortMatch::Misses;
        }
    }
    if (!sawPortMatch)
        return PortMatch::NoPortMatch;
    if (!protocol.isEmpty() && protocol != (port.udp ? QLatin1String("udp") : QLatin1String("tcp")))
        return PortMatch::Misses;
    return PortMatch::Matches;
}

}  // namespace

FirewallReading ReadNftRuleset(const QByteArray& json, const QList<WatchedPort>& ports) {
    FirewallReading reading;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return reading;
    const QJsonValue list = document.object().value(QLatin1String("nftables"));
    if (!list.isArray())
        return reading;
    reading.read = true;

    QHash<QString, QJsonArray> sets;  // "family table name"
    QHash<QString, QString> inputPolicies;
    QHash<QString, QList<NftRule>> rules;  // by chain
    int ruleCount = 0;
    for (const QJsonValue& value : list.toArray()) {
        const QJsonObject entry = value.toObject();
        if (entry.contains(QLatin1String("set"))) {
            const QJsonObject set = entry.value(QLatin1String("set")).toObject();
            sets.insert(ChainKey(set, QStringLiteral("name")),
                        set.value(QLatin1String("elem")).toArray());
        } else if (entry.contains(QLatin1String("chain"))) {
            const QJsonObject chain = entry.value(QLatin1String("chain")).toObject();
            const QString family = chain.value(QLatin1String("family")).toString();
            if (chain.value(QLatin1String("hook")).toString() == QLatin1String("input") &&
                (family == QLatin1String("inet") || family == QLatin1String("ip"))) {
                inputPolicies.insert(ChainKey(chain, QStringLiteral("name")),
                                     chain.value(QLatin1String("policy")).toString());
            }
        } else if (entry.contains(QLatin1String("rule")) && ++ruleCount <= kMaxRules) {
            const QJsonObject rule = entry.value(QLatin1String("rule")).toObject();
            const QString key = ChainKey(rule, QStringLiteral("chain"));
            rules[key].append({rule, key});
        }
    }

    for (const WatchedPort& port : ports) {
        for (auto input = inputPolicies.begin(); input != inputPolicies.end(); ++input) {
            // The rules the packet meets in this input chain, following jumps and gotos.
            bool accepted = false;
            bool dropped = false;
            QSet<QString> seen;
            const std::function<void(const QString&, int)> walk = [&](const QString& chain,
                                                                      int depth) {
                if (depth > kMaxChainDepth || seen.contains(chain) || accepted || dropped)
                    return;
                seen.insert(chain);
                for (const NftRule& rule : rules.value(chain)) {
                    QString target;
                    const Action action = NftRuleAction(rule.json, &target);
                    const PortMatch match = NftRuleMatch(rule.json, port, sets);
                    if (!target.isEmpty() && match != PortMatch::Misses) {
                        const QString prefix = chain.section(QLatin1Char(' '), 0, 1);
                        walk(prefix + QLatin1Char(' ') + target, depth + 1);
                    } else if (match == PortMatch::Matches && action == Action::Accept) {
                        accepted = true;
                    } else if (match == PortMatch::Matches && action == Action::Drop) {
                        dropped = true;
                        reading.blocks.append({port.port, port.udp, NftRuleText(rule.json), false});
                    }
                    if (accepted || dropped)
                        return;
                }
            };
            walk(input.key(), 0);
            if (!accepted && !dropped && input.value() == QLatin1String("drop")) {
                reading.blocks.append(
                    {port.port, port.udp,
                     QStringLiteral("table ") + input.key().section(QLatin1Char(' '), 0, 1) +
                         QStringLiteral(" chain ") + input.key().section(QLatin1Char(' '), 2) +
                         QStringLiteral(" policy drop"),
                     true});
            }
        }
    }
    return reading;
}

FirewallReading ReadIptablesRules(const QByteArray& text, const QList<WatchedPort>& ports) {
    FirewallReading reading;
    QHash<QString, QList<IptablesRule>> chains;
    QString inputPolicy;
    int ruleCount = 0;
    for (const QByteArray& raw : text.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        const QStringList words = SplitWords(line);
        if (words.size() >= 3 && words[0] == QLatin1String("-P") &&
            words[1] == QLatin1String("INPUT")) {
            inputPolicy = words[2];
            reading.read = true;
        } else if (words.size() >= 2 && words[0] == QLatin1String("-A") &&
                   ++ruleCount <= kMaxRules) {
            chains[words[1]].append({words[1], line, words});
            reading.read = true;
        }
    }
    for (const WatchedPort& port : ports) {
        bool accepted = false;
        bool dropped = false;
        QSet<QString> seen;
        const std::function<void(const QString&, int)> walk = [&](const QString& chain, int depth) {
            if (depth > kMaxChainDepth || seen.contains(chain) || accepted || dropped)
                return;
            seen.insert(chain);
            for (const IptablesRule& rule : chains.value(chain)) {
                const int jump = std::max(rule.words.indexOf(QLatin1String("-j")),
                                          rule.words.indexOf(QLatin1String("-g")));
                const QString target = jump >= 0 ? rule.words.value(jump + 1) : QString();
                const PortMatch match = IptablesRuleMatch(rule, port);
                if (match == PortMatch::Misses)
                    continue;
                if (target == QLatin1String("DROP") || target == QLatin1String("REJECT")) {
                    if (match == PortMatch::Matches) {
                        dropped = true;
                        reading.blocks.append({port.port, port.udp, Shorten(rule.line), false});
                    }
                } else if (target == QLatin1String("ACCEPT")) {
                    accepted = match == PortMatch::Matches;
                } else if (chains.contains(target)) {
                    walk(target, depth + 1);
                }
                if (accepted || dropped)
                    return;
            }
        };
        walk(QStringLiteral("INPUT"), 0);
        if (!accepted && !dropped && inputPolicy == QLatin1String("DROP"))
            reading.blocks.append({port.port, port.udp, QStringLiteral("-P INPUT DROP"), true});
    }
    return reading;
}

FirewallReading ReadUfwStatus(const QByteArray& text, const QList<WatchedPort>& ports) {
    FirewallReading reading;
    const QStringList lines = QString::fromUtf8(text).split(QLatin1Char('\n'));
    bool active = false;
    bool denyIncoming = false;
    struct UfwRule {
        QString line;
        PortSet ports;
        QString protocol;  // empty: both
        bool blocks = false;
    };
    QList<UfwRule> rules;
    static const QRegularExpression portWord(QStringLiteral("^([0-9,:]+)(?:/(tcp|udp))?$"));
    for (const QString& raw : lines) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1String("Status:"))) {
            reading.read = true;
            active =
                line.contains(QLatin1String("active")) && !line.contains(QLatin1String("inactive"));
            continue;
        }
        if (line.startsWith(QLatin1String("Default:"))) {
            denyIncoming = line.contains(QLatin1String("deny (incoming)")) ||
                           line.contains(QLatin1String("reject (incoming)"));
            continue;
        }
        const QStringList words = SplitWords(line);
        if (words.size() < 2 || rules.size() >= kMaxRules)
            continue;
        const QRegularExpressionMatch match = portWord.match(words[0]);
        if (!match.hasMatch())
            continue;
        if (line.contains(QLatin1String(" OUT")))
            continue;
        // The action follows the port and what names it: an application's profile "(Tolvex)"
        // or "(v6)".
        QString action;
        for (qsizetype i = 1; i < words.size() && action.isEmpty(); ++i) {
            if (!words[i].startsWith(QLatin1Char('(')))
                action = words[i];
        }
        if (action != QLatin1String("DENY") && action != QLatin1String("REJECT") &&
            action != QLatin1String("ALLOW") && action != QLatin1String("LIMIT"))
            continue;
        rules.append({Shorten(line), ReadPortList(match.captured(1)), match.captured(2),
                      action == QLatin1String("DENY") || action == QLatin1String("REJECT")});
    }
    if (!active)
        return reading;
    for (const WatchedPort& port : ports) {
        bool decided = false;
        for (const UfwRule& rule : rules) {
            if (!rule.ports.Holds(port.port) ||
                (!rule.protocol.isEmpty() &&
                 rule.protocol != (port.udp ? QLatin1String("udp") : QLatin1String("tcp"))))
                continue;
            decided = true;
            if (rule.blocks)
                reading.blocks.append({port.port, port.udp, rule.line, false});
            break;
        }
        if (!decided && denyIncoming) {
            reading.blocks.append(
                {port.port, port.udp, QStringLiteral("Default: deny (incoming)"), true});
        }
    }
    return reading;
}

}  // namespace tvx
