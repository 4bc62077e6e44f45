#include "texts/UserMessage.h"

namespace tvx {

QString EmptyNoteText() {
    return QStringLiteral("(无)");
}

QString ConnectionLostReasons() {
    return QStringLiteral(
        ",原因可能是:\r\n\r\n-网络突然断开\r\n-对方中途退出Tolvex\r\n-其它意外原因导致连接中断");
}

}  // namespace tvx
