#include "web/WebServer.h"

#include "session/Session.h"

namespace tvx {

class WebServerCore {};

WebServer::WebServer(Session& session, QObject* parent) : QObject(parent), m_session(session) {}
WebServer::~WebServer() {
    Stop();
}

WebServer::StartFailure WebServer::Start(const QString&, quint16) {
    return StartFailure::Failed;
}
void WebServer::Stop() {}
QString WebServer::Url() const {
    return {};
}
QString WebServer::ReceiveFolder() const {
    return {};
}
bool WebServer::SetReceiveFolder(const QString&) {
    return false;
}
quint32 WebServer::Share(const QString&) {
    return 0;
}
void WebServer::Unshare(quint32) {}
QVector<WebShare> WebServer::Shares() const {
    return {};
}
void WebServer::SetServedNetwork(const QString& base, int prefixLength) {
    m_servedBase = base;
    m_servedPrefix = prefixLength;
}
void WebServer::SetTimeouts(int idleSeconds, int headerDeadlineMs) {
    m_idleSeconds = idleSeconds;
    m_headerDeadlineMs = headerDeadlineMs;
}

}  // namespace tvx
