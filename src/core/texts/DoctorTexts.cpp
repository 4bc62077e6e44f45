#include "texts/DoctorTexts.h"

#include "protocol/Codes.h"

namespace tvx {

namespace {

using Kind = Finding::Kind;
using Verdict = Finding::Verdict;
using PortState = Finding::PortState;
using HandshakeResult = Finding::HandshakeResult;

QString PortName(const Finding& finding) {
    return (finding.udp ? QStringLiteral("UDP端口 ") : QStringLiteral("TCP端口 ")) +
           QString::number(finding.port);
}

// What the port is for, as the end of "Tolvex 无法..." .
QString PortPurpose(const Finding& finding) {
    if (finding.udp)
        return QStringLiteral("被其他电脑发现");
    if (finding.port == kChatPort)
        return QStringLiteral("接收聊天邀请");
    return QStringLiteral("接收文件");
}

QString Holder(const Finding& finding) {
    return QStringLiteral("%1(进程 %2)").arg(finding.program).arg(finding.pid);
}

QString PortUseText(const Finding& finding) {
    switch (finding.portState) {
        case PortState::HeldByTolvex:
            return QStringLiteral("%1 由正在运行的 Tolvex %2使用,这是正常的。")
                .arg(PortName(finding), QStringLiteral("(进程 %1)").arg(finding.pid));
        case PortState::HeldByOther:
            return QStringLiteral(
                       "%1 被程序 %2 占用,Tolvex 无法在这个端口%3。请关闭那个程序,"
                       "或让它改用其他端口。")
                .arg(PortName(finding), Holder(finding), PortPurpose(finding));
        case PortState::HeldUnseen:
            return QStringLiteral(
                       "%1 已被占用,但系统没有说明是哪个程序(可能属于其他用户)。请用 sudo "
                       "tolvex doctor 查看,并关闭占用它的程序。")
                .arg(PortName(finding));
        default:
            return QStringLiteral("%1 空闲,Tolvex 可以使用。").arg(PortName(finding));
    }
}

QString FirewallDropsText(const Finding& finding) {
    const QString what = finding.tool == QLatin1String("ufw")
                             ? QStringLiteral("例如运行 sudo ufw allow %1/%2。")
                                   .arg(finding.port)
                                   .arg(finding.udp ? QStringLiteral("udp") : QStringLiteral("tcp"))
                             : QStringLiteral("请删除这条规则,或在它之前加一条允许该端口的规则。");
    if (finding.policyDrop) {
        return QStringLiteral(
                   "防火墙(%1)默认丢弃进入本机的数据,而没有规则允许%2(%3)。请加一条允许该端口的"
                   "规则。")
            .arg(finding.tool, PortName(finding), finding.rule);
    }
    return QStringLiteral("防火墙(%1)会丢弃发往本机%2的数据:%3。%4")
        .arg(finding.tool, PortName(finding), finding.rule, what);
}

QString PeerPortText(const Finding& finding) {
    const QString port = QString::number(finding.port);
    switch (finding.portState) {
        case PortState::Accepted:
            return QStringLiteral("对方 %1 的端口 %2 接受连接(用时 %3 毫秒)。")
                .arg(finding.peer, port)
                .arg(finding.rttMs);
        case PortState::Refused:
            if (finding.port == kFileDataPort) {
                return QStringLiteral(
                           "对方 %1 的端口 %2 现在拒绝连接,这是正常的:它只在传送文件时接受"
                           "连接。")
                    .arg(finding.peer, port);
            }
            return QStringLiteral(
                       "对方 %1 的端口 %2 拒绝连接:那里没有程序在等待连接。请让对方启动 "
                       "Tolvex;对方已在运行时,可能是另一个程序占用了它的端口。")
                .arg(finding.peer, port);
        case PortState::NotTried:
            return QStringLiteral(
                       "对方 %1 的端口 %2 没有检查:没能确认对方是 Tolvex,检查可能打断它正在接收的"
                       "文件。这个端口只在传送文件时接受连接。")
                .arg(finding.peer, port);
        case PortState::TimedOut:
            return QStringLiteral(
                       "连接对方 %1 的端口 %2 超时:有防火墙或路由器丢弃了数据包。请检查双方的"
                       "防火墙是否允许端口 %2,以及无线网络是否隔离了各台电脑。")
                .arg(finding.peer, port);
        default:
            return QStringLiteral(
                       "连接对方 %1 的端口 %2 失败:网络不通。请检查网线或无线网络,"
                       "以及两台电脑之间的路由。")
                .arg(finding.peer, port);
    }
}

QString HandshakeText(const Finding& finding) {
    switch (finding.handshake) {
        case HandshakeResult::Completed:
            return QStringLiteral("与对方 %1 握手成功,对方使用协议版本 %2(用时 %3 毫秒)。")
                .arg(finding.peer, finding.version)
                .arg(finding.rttMs);
        case HandshakeResult::VersionDiffers:
            return QStringLiteral(
                       "与对方 %1 握手时发现版本不同:对方 %2,本机 %3。请让版本较低的一方升级 "
                       "Tolvex。")
                .arg(finding.peer, finding.version, finding.ownVersion);
        case HandshakeResult::TimedOut:
            return QStringLiteral("与对方 %1 的握手超时:对方正忙,或数据在途中被丢弃。请稍后再试。")
                .arg(finding.peer);
        default:
            return QStringLiteral(
                       "对方 %1 的端口 %2 没有按协议完成握手:那里运行的可能不是 Tolvex。请确认"
                       "对方运行的是 Tolvex。")
                .arg(finding.peer)
                .arg(finding.port);
    }
}

}  // namespace

QString DoctorVerdictWord(Finding::Verdict verdict) {
    switch (verdict) {
        case Verdict::Warning:
            return QStringLiteral("警告");
        case Verdict::Error:
            return QStringLiteral("错误");
        default:
            return QStringLiteral("正常");
    }
}

QString DoctorFindingText(const Finding& finding) {
    switch (finding.kind) {
        case Kind::LocalAddress:
            if (finding.verdict != Verdict::Ok) {
                return QStringLiteral(
                           "本机地址 %1 不在本机任何一块已启用的网卡上。请用 --address 选择本机"
                           "的一个地址,或检查网络连接。")
                    .arg(finding.address);
            }
            return QStringLiteral("本机地址 %1:网卡 %2,子网掩码 %3,广播地址 %4。")
                .arg(finding.address, finding.interfaceName, finding.netmask,
                     finding.broadcast.isEmpty() ? QStringLiteral("无") : finding.broadcast);
        case Kind::SeveralAddresses:
            if (finding.addressGiven) {
                return QStringLiteral("本机有多个可用地址(%1),按您的选择使用 %2。")
                    .arg(finding.addresses.join(QStringLiteral(", ")), finding.address);
            }
            return QStringLiteral(
                       "本机有多个可用地址(%1),正在使用 %2。对方在另一个网络中时,请用 "
                       "--address 选择与对方同一网络的地址。")
                .arg(finding.addresses.join(QStringLiteral(", ")), finding.address);
        case Kind::PortUse:
            return PortUseText(finding);
        case Kind::FirewallDrops:
            return FirewallDropsText(finding);
        case Kind::FirewallUnreadable:
            if (finding.needsRoot) {
                return QStringLiteral(
                           "没有 root 权限,读不到 %1 的防火墙规则。请用 sudo tolvex doctor "
                           "再检查一次。")
                    .arg(finding.tool);
            }
            return QStringLiteral("读不到 %1 的防火墙规则(%2)。请检查这个工具是否正常。")
                .arg(finding.tool,
                     finding.rule.isEmpty() ? QStringLiteral("没有输出") : finding.rule);
        case Kind::FirewallClear:
            if (finding.tools.isEmpty()) {
                return QStringLiteral(
                    "本机没有找到防火墙工具(nft、iptables、ufw),没有规则阻止 Tolvex 的"
                    "端口。");
            }
            return QStringLiteral("防火墙(%1)没有阻止 Tolvex 使用的端口。")
                .arg(finding.tools.join(QStringLiteral(", ")));
        case Kind::PresenceAnswers:
            if (finding.answers < 0) {
                return QStringLiteral(
                    "无法发出在线查询:本机地址上没有可用的 UDP 端口。请检查网络连接。");
            }
            if (finding.answers == 0) {
                return QStringLiteral(
                    "在线查询没有得到回答:网络中没有其他正在运行的 Tolvex,或者查询被防火墙、"
                    "路由器或无线网络的隔离挡住了。仍可以直接输入对方的地址连接。");
            }
            return QStringLiteral("在线查询得到 %1 台电脑的回答。").arg(finding.answers);
        case Kind::PeerPresence:
            if (finding.answered) {
                return QStringLiteral("对方 %1(%2,%3)回答了在线查询。")
                    .arg(finding.peer, finding.nickName, finding.addressCode);
            }
            return QStringLiteral(
                       "对方 %1 没有回答在线查询:对方可能没有运行 Tolvex、关闭了“在局域网中"
                       "显示本机”,或者防火墙挡住了 UDP。直接连接仍可能成功。")
                .arg(finding.peer);
        case Kind::PeerPort:
            return PeerPortText(finding);
        case Kind::Handshake:
            return HandshakeText(finding);
        case Kind::RoundTrip:
            if (finding.verdict != Verdict::Ok) {
                return QStringLiteral(
                           "到对方 %1 的往返时间约 %2 毫秒,网络较慢:传送会比较慢。请尽量使用"
                           "同一个网络。")
                    .arg(finding.peer)
                    .arg(finding.rttMs);
            }
            return QStringLiteral("到对方 %1 的往返时间约 %2 毫秒。")
                .arg(finding.peer)
                .arg(finding.rttMs);
        case Kind::Subnet:
            if (finding.sameSubnet) {
                return QStringLiteral("本机 %1 和对方 %2 在同一子网中(子网掩码 %3)。")
                    .arg(finding.address, finding.peer, finding.netmask);
            }
            return QStringLiteral(
                       "本机 %1 和对方 %2 不在同一子网中(子网掩码 %3):在线查询找不到对方,请直接"
                       "输入对方的地址;仍连不上时,请检查两个网络之间的路由器是否放行 Tolvex 的"
                       "端口。")
                .arg(finding.address, finding.peer, finding.netmask);
    }
    return QString();
}

QString DoctorFindingLine(const Finding& finding) {
    return QLatin1Char('[') + DoctorVerdictWord(finding.verdict) + QStringLiteral("] ") +
           DoctorFindingText(finding);
}

QString DoctorWindowTitle() {
    return QStringLiteral("诊断");
}

QString DoctorButtonText() {
    return QStringLiteral("诊断...");
}

QString DoctorRunningText(const QString& peer) {
    if (peer.isEmpty())
        return QStringLiteral("正在检查本机的网络...");
    return QStringLiteral("正在检查本机和对方 %1 的网络...").arg(peer);
}

QString DoctorDoneText(const QList<Finding>& findings) {
    int problems = 0;
    for (const Finding& finding : findings) {
        if (finding.verdict == Verdict::Error)
            ++problems;
    }
    if (problems == 0)
        return QStringLiteral("检查完毕:没有发现错误。");
    return QStringLiteral("检查完毕:发现 %1 个错误,请按说明处理。").arg(problems);
}

}  // namespace tvx
