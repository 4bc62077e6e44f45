#pragma once

#include <QString>

#include "web/WebServer.h"

namespace tvx {

// Why the page could not start, in a sentence with what to do.
QString WebStartFailureText(WebServer::StartFailure failure, quint16 port, const QString& folder);

// One line of what happened on the page, for the window's list and the command's output.
QString WebEventLine(const WebEvent& event);

// What plain HTTP means for the page: shown beside the address in the window and the command.
QString WebPlainHttpNote();

}  // namespace tvx
