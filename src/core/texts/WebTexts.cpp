#include "texts/WebTexts.h"

#include "common/Paths.h"
#include "texts/BatchTexts.h"

namespace tvx {

QString WebStartFailureText(WebServer::StartFailure failure, quint16 port, const QString& folder) {
    switch (failure) {
        case WebServer::StartFailure::None:
            return QString();
        case WebServer::StartFailure::PortInUse:
            return QStringLiteral(
                       "无法打开网页传输:端口 %1 已被其他程序占用。请关闭那个程序,"
                       "或换一个端口。")
                .arg(port);
        case WebServer::StartFailure::AddressUnavailable:
            return QStringLiteral(
                "无法打开网页传输:本机地址已不可用。请检查网络连接后重新启动"
                "本程序。");
        case WebServer::StartFailure::FolderMissing:
            return QStringLiteral("无法打开网页传输:接收文件夹 %1 不存在。请另选一个文件夹。")
                .arg(folder);
        case WebServer::StartFailure::Failed:
            break;
    }
    return QStringLiteral("无法打开网页传输:网页服务未能启动。");
}

QString WebEventLine(const WebEvent& event) {
    switch (event.kind) {
        case WebEvent::Kind::Arrived:
            return QStringLiteral("收到 %1(%2),来自 %3")
                .arg(event.name, BatchSizeText(event.size), event.address);
        case WebEvent::Kind::Fetched:
            return QStringLiteral("%1 下载了 %2(%3)")
                .arg(event.address, event.name, BatchSizeText(event.size));
        case WebEvent::Kind::UploadCut:
            return QStringLiteral("来自 %1 的 %2 未传完,已删除不完整的文件")
                .arg(event.address, event.name);
        case WebEvent::Kind::UploadFailed:
            return QStringLiteral("无法保存来自 %1 的 %2:%3")
                .arg(event.address, event.name, event.systemError);
        case WebEvent::Kind::AddressLockedOut:
            return QStringLiteral("%1 连续输错 5 次代码,一分钟内不再接受它的代码")
                .arg(event.address);
    }
    return QString();
}

QString WebPlainHttpNote() {
    return QStringLiteral(
        "网页传输不加密:同一网络中的其他人可以看到传输的文件内容。"
        "只在信任的网络中使用,传完后请停止。");
}

QString WebScanHint() {
    return QStringLiteral(
        "用手机扫描二维码,或在同一网络中的电脑浏览器里打开上面的地址,然后输入代码。");
}

QString WebReceiveFolderTitle() {
    return QStringLiteral("选择网页传输的接收文件夹");
}

QString WebShareRefusedText(const QStringList& paths, int shown) {
    QString text = QStringLiteral("以下 %1 项无法提供下载(只能提供可读的文件,不能是文件夹):")
                       .arg(paths.size()) +
                   QStringLiteral("\r\n\r\n") + paths.mid(0, shown).join(QStringLiteral("\r\n"));
    if (paths.size() > shown)
        text += QStringLiteral("\r\n...");
    return text;
}

QString WebArrivedSummary() {
    return QStringLiteral("网页传输收到文件");
}

QString WebArrivedNotice(const WebEvent& event) {
    return QStringLiteral("%1(%2)来自 %3,已保存到 %4")
        .arg(event.name, BatchSizeText(event.size), event.address, FolderOf(event.path));
}

QString WebArrivedMoreNotice(int files) {
    return QStringLiteral("又收到 %1 个文件,详见网页传输窗口").arg(files);
}

}  // namespace tvx
