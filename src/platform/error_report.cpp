#include "platform/error_report.h"

#include "platform/msgbox.h"

#include <QtGlobal>

#include <exception>
#include <new>

namespace platform {

QString ErrorName(int number)
{
    switch (number) {
    case 5: return QStringLiteral("Invalid procedure call or argument");
    case error_number::Overflow: return QStringLiteral("Overflow");
    case 7: return QStringLiteral("Out of memory");
    case 9: return QStringLiteral("Subscript out of range");
    case 11: return QStringLiteral("Division by zero");
    case error_number::TypeMismatch: return QStringLiteral("Type mismatch");
    case 52: return QStringLiteral("Bad file name or number");
    case error_number::FileNotFound: return QStringLiteral("File not found");
    case 54: return QStringLiteral("Bad file mode");
    case 57: return QStringLiteral("Device I/O error");
    case 58: return QStringLiteral("File already exists");
    case 61: return QStringLiteral("Disk full");
    case 62: return QStringLiteral("Input past end of file");
    case error_number::PermissionDenied: return QStringLiteral("Permission denied");
    case 75: return QStringLiteral("Path/File access error");
    case error_number::PathNotFound: return QStringLiteral("Path not found");
    case 380: return QStringLiteral("Invalid property value");
    default: return QStringLiteral("Run-time error %1").arg(number);
    }
}

QString ErrorReportText(const RuntimeError& error)
{
    const QString name = ErrorName(error.number());
    const QString description = error.description().trimmed();
    if (description.isEmpty())
        return name + QLatin1Char('.');
    if (description.startsWith(name, Qt::CaseInsensitive))
        return description;
    return name + QStringLiteral(": ") + description;
}

void ReportCurrentException() noexcept
{
    try {
        QString text;
        try {
            throw;
        } catch (const RuntimeError& error) {
            text = ErrorReportText(error);
        } catch (const std::bad_alloc&) {
            text = ErrorName(7) + QLatin1Char('.');
        } catch (const std::exception& error) {
            text = QStringLiteral("Internal error: ") + QString::fromLocal8Bit(error.what());
        } catch (...) {
            text = QStringLiteral("Internal error: an unknown exception.");
        }
        qWarning("%s", qUtf8Printable(text));
        MsgBox(text, msgbox_style::Critical);
    } catch (...) {
        // The report itself failed (out of memory, a broken message box);
        // there is no one left to tell, and the program must go on.
    }
}

}  // namespace platform
