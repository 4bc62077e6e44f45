#pragma once

#include <QList>
#include <QString>

#include "doctor/Finding.h"

namespace tvx {

// The verdict as a word: "正常", "警告", "错误".
QString DoctorVerdictWord(Finding::Verdict verdict);

// What a finding means, in a sentence with what to do about it.
QString DoctorFindingText(const Finding& finding);

// One finding as the command prints it: "[正常] " and the sentence.
QString DoctorFindingLine(const Finding& finding);

// The window: its caption, the button that opens it from a failure message, and the line
// above the list while the doctor runs and when it is done.
QString DoctorWindowTitle();
QString DoctorButtonText();
QString DoctorRunningText(const QString& peer);
QString DoctorDoneText(const QList<Finding>& findings);

}  // namespace tvx
