#pragma once

#include <QString>
#include <QStringList>

#include "web/WebServer.h"

namespace tvx {

// Why the page could not start, in a sentence with what to do.
QString WebStartFailureText(WebServer::StartFailure failure, quint16 port, const QString& folder);

// One line of what happened on the page, for the window's list and the command's output.
QString WebEventLine(const WebEvent& event);

// What plain HTTP means for the page: shown beside the address in the window and the command.
QString WebPlainHttpNote();

// How a phone or another computer reaches the page, beside the address and the code.
QString WebScanHint();
// The title of the folder dialog that asks where the page's uploads go.
QString WebReceiveFolderTitle();
// Files the user chose to offer that cannot be offered (folders, unreadable files): how many,
// then the first `shown` of them, one a line.
QString WebShareRefusedText(const QStringList& paths, int shown = 20);
// The desktop notification of a file that arrived through the page: its summary, the body for
// one file, and the body that gathers those that came while the last one was still on screen.
QString WebArrivedSummary();
QString WebArrivedNotice(const WebEvent& event);
QString WebArrivedMoreNotice(int files);

}  // namespace tvx
