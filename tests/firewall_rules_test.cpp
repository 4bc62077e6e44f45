// What the firewall tools print, read for the ports this program needs: each reader with the
// forms real rule sets take (lists, ranges, sets, negations, jumps, policies, profiles).
#include <gtest/gtest.h>

#include "doctor/FirewallRules.h"

namespace tvx {
namespace {

const QList<WatchedPort> kPorts{{8510, false}, {8511, false}, {9170, false}, {9171, true}};

// "port/udp-or-tcp policy?" for each block, in order.
QStringList Blocks(const FirewallReading& reading) {
    QStringList blocks;
    for (const PortBlock& block : reading.blocks) {
        blocks << QString::number(block.port) + (block.udp ? QStringLiteral("/udp") : QString()) +
                      (block.policyDrop ? QStringLiteral(" policy") : QString());
    }
    return blocks;
}

TEST(FirewallRules, NftFollowsSetsRangesNegationsAndJumpsFromInputChainsOnly) {
    const QByteArray json = R"({"nftables": [
      {"table": {"family": "inet", "name": "t"}},
      {"set": {"family": "inet", "name": "ps", "table": "t", "type": "inet_service",
               "elem": [{"range": [9100, 9200]}]}},
      {"chain": {"family": "inet", "table": "t", "name": "in", "hook": "input", "policy": "drop"}},
      {"chain": {"family": "inet", "table": "t", "name": "more"}},
      {"chain": {"family": "inet", "table": "t", "name": "out", "hook": "output", "policy": "accept"}},
      {"rule": {"family": "inet", "table": "t", "chain": "in", "expr": [
        {"match": {"op": "==", "left": {"ct": {"key": "state"}}, "right": "invalid"}}, {"drop": null}]}},
      {"rule": {"family": "inet", "table": "t", "chain": "in", "expr": [
        {"match": {"op": "==", "left": {"payload": {"protocol": "tcp", "field": "dport"}},
                   "right": {"set": [8510, {"range": [8600, 8700]}]}}}, {"accept": null}]}},
      {"rule": {"family": "inet", "table": "t", "chain": "in", "expr": [{"jump": {"target": "more"}}]}},
      {"rule": {"family": "inet", "table": "t", "chain": "more", "expr": [
        {"match": {"op": "==", "left": {"payload": {"protocol": "tcp", "field": "dport"}},
                   "right": "@ps"}}, {"counter": null}, {"reject": null}]}},
      {"rule": {"family": "inet", "table": "t", "chain": "more", "expr": [
        {"match": {"op": "!=", "left": {"payload": {"protocol": "th", "field": "dport"}},
                   "right": 22}}, {"accept": null}]}},
      {"rule": {"family": "inet", "table": "t", "chain": "out", "expr": [
        {"match": {"op": "==", "left": {"payload": {"protocol": "tcp", "field": "dport"}},
                   "right": 8511}}, {"drop": null}]}}
    ]})";
    const FirewallReading reading = ReadNftRuleset(json, kPorts);
    ASSERT_TRUE(reading.read);
    // 8510 accepted; 9170 rejected through the named set in the jumped-to chain; 8511 and the
    // UDP port accepted by "th dport != 22" there; the output chain's drop is no matter.
    EXPECT_EQ(Blocks(reading), QStringList{QStringLiteral("9170")});
    EXPECT_EQ(reading.blocks.value(0).rule,
              QStringLiteral("table inet t chain more: tcp dport @ps counter reject"));

    EXPECT_FALSE(ReadNftRuleset("{\"nftables\": 5}", kPorts).read);
    EXPECT_FALSE(ReadNftRuleset("not json", kPorts).read);
}

TEST(FirewallRules, IptablesReadsMultiportNegationsUserChainsAndTheDropPolicy) {
    const QByteArray text =
        "-P INPUT DROP\n"
        "-P OUTPUT ACCEPT\n"
        "-N mine\n"
        "-A INPUT -m conntrack --ctstate INVALID -j DROP\n"
        "-A INPUT -p udp -m udp --dport 9171 -j ACCEPT\n"
        "-A INPUT -j mine\n"
        "-A mine -p tcp -m multiport --dports 8500:8510,9170 -m comment --comment \"no share\" "
        "-j REJECT --reject-with tcp-reset\n"
        "-A mine -p tcp -m tcp ! --dport 8511 -j ACCEPT\n"
        "-A OUTPUT -p tcp --dport 8511 -j DROP\n";
    const FirewallReading reading = ReadIptablesRules(text, kPorts);
    ASSERT_TRUE(reading.read);
    EXPECT_EQ(Blocks(reading), (QStringList{QStringLiteral("8510"), QStringLiteral("8511 policy"),
                                            QStringLiteral("9170")}));
    EXPECT_TRUE(reading.blocks.value(0).rule.contains(QStringLiteral("\"no share\"")));
    EXPECT_EQ(reading.blocks.value(1).rule, QStringLiteral("-P INPUT DROP"));
}

TEST(FirewallRules, UfwReadsProfilesDenialsAndTheDefaultWhenActive) {
    const QByteArray text =
        "Status: active\n"
        "Logging: on (low)\n"
        "Default: deny (incoming), allow (outgoing), disabled (routed)\n"
        "\n"
        "To                         Action      From\n"
        "--                         ------      ----\n"
        "8510,9170/tcp (Tolvex)     ALLOW IN    Anywhere\n"
        "8511/tcp                   DENY IN     Anywhere\n"
        "8511/tcp (v6)              DENY IN     Anywhere (v6)\n";
    EXPECT_EQ(Blocks(ReadUfwStatus(text, kPorts)),
              (QStringList{QStringLiteral("8511"), QStringLiteral("9171/udp policy")}));
    QByteArray inactive = text;
    inactive.replace("Status: active", "Status: inactive");
    const FirewallReading off = ReadUfwStatus(inactive, kPorts);
    EXPECT_TRUE(off.read);
    EXPECT_TRUE(off.blocks.isEmpty());
}

}  // namespace
}  // namespace tvx
