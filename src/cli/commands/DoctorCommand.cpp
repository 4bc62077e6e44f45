// tolvex doctor: looks at this computer and, when given, one peer, and says what it found.
#include <QEventLoop>

#include "commands/Commands.h"
#include "commands/TerminalOutput.h"
#include "doctor/Doctor.h"
#include "platform/Headless.h"
#include "session/Session.h"
#include "texts/DoctorTexts.h"

namespace tvx {

int RunDoctorCommand(CommandContext& context, const CommandRequest& request) {
    QString peer;
    if (!request.peerAddress.isEmpty()) {
        peer = CheckCommandAddress(context, request.peerAddress);
        if (peer.isEmpty())
            return StatusUsage;
    }
    DoctorConfig config = DoctorConfigOf(context.session, peer);
    config.addressGiven = !request.startup.address.isEmpty();

    Doctor doctor;
    QEventLoop loop;
    QObject::connect(&doctor, &Doctor::FindingReady, &loop, [&](const Finding& finding) {
        context.output.Result(DoctorFindingLine(finding));
    });
    QObject::connect(&doctor, &Doctor::Finished, &loop, [&] { loop.exit(0); });
    QObject::connect(&context.stop, &StopSignals::StopRequested, &doctor, &Doctor::Stop);
    doctor.Start(config);
    if (doctor.phase() == Doctor::Phase::Running)
        loop.exec();

    // A problem here comes first: it may be why the peer cannot be reached.
    if (WorstVerdict(doctor.findings(), false) == Finding::Verdict::Error)
        return StatusNetwork;
    if (WorstVerdict(doctor.findings(), true) == Finding::Verdict::Error)
        return StatusRefused;
    return StatusDone;
}

}  // namespace tvx
