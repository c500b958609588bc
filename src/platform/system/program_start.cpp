#include "platform/system/program_start.h"

#include "platform/runtime_error.h"
#include "platform/system/local_path.h"

#include <QFileInfo>
#include <QProcess>
#include <QStringList>

namespace platform {
namespace {

class DetachedProgramStart final : public ProgramStart {
public:
    // Where the new window appears and whether it takes the focus is the
    // window manager's to decide; every style is started alike.
    std::int64_t start(const QString& path, int) override
    {
        if (path.isEmpty())
            throw RuntimeError(error_number::InvalidProcedureCall, QStringLiteral("no program to start was given."));
        const QString program = LocalPath(path);
        qint64 pid = 0;
        // Detached: the program outlives this one and is never waited for,
        // and its failure to start (exec) is reported here.
        if (QProcess::startDetached(program, QStringList(), QString(), &pid))
            return pid;

        const QFileInfo file(program);
        if (!file.exists())
            throw RuntimeError(error_number::FileNotFound,
                               QStringLiteral("the program \"%1\" does not exist.").arg(path));
        throw RuntimeError(error_number::PermissionDenied,
                           QStringLiteral("the program \"%1\" cannot be started.").arg(path));
    }
};

}  // namespace

template <>
ProgramStart& realImplementation<ProgramStart>()
{
    static DetachedProgramStart start;
    return start;
}

}  // namespace platform
