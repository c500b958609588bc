// Once the main window is up: what privilege can code loaded into the
// program find? Its capabilities, whether it can open a raw or packet
// socket, and, after a manual ping of 127.0.0.1 in the window, whether any
// descriptor of the process is a raw socket. The report goes to the file
// that QUORVEX_PROBE_REPORT names; then the program is told to quit.

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextStream>
#include <QTimer>
#include <QtGui/qgenericplugin.h>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <linux/if_ether.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QString tryOpen(int domain, int protocol)
{
    const int fd = ::socket(domain, SOCK_RAW, protocol);
    if (fd < 0)
        return QStringLiteral("refused (%1)").arg(QString::fromLocal8Bit(std::strerror(errno)));
    ::close(fd);
    return QStringLiteral("OPENED");
}

int rawDescriptors()
{
    int count = 0;
    DIR* fds = ::opendir("/proc/self/fd");
    while (dirent* entry = fds ? ::readdir(fds) : nullptr) {
        const int fd = std::atoi(entry->d_name);
        int type = 0, domain = 0;
        socklen_t length = sizeof type;
        if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0)
            continue;
        length = sizeof domain;
        ::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length);
        count += type == SOCK_RAW || domain == AF_PACKET;
    }
    if (fds)
        ::closedir(fds);
    return count;
}

template <class Widget>
Widget* find(const char* name)
{
    for (QWidget* widget : QApplication::allWidgets())
        if (widget->objectName() == QLatin1String(name))
            if (auto* found = qobject_cast<Widget*>(widget))
                return found;
    return nullptr;
}

void report()
{
    QFile file(qEnvironmentVariable("QUORVEX_PROBE_REPORT"));
    if (!file.open(QIODevice::WriteOnly))
        ::_exit(3);
    QTextStream out(&file);
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("Cap"))
            out << line << '\n';
    out << "raw socket: " << tryOpen(AF_INET, IPPROTO_ICMP) << '\n';
    out << "packet socket: " << tryOpen(AF_PACKET, htons(ETH_P_ALL)) << '\n';
    auto* host = find<QLineEdit>("txtHost");
    auto* ping = find<QPushButton>("cmdManPing");
    auto* verdict = find<QLabel>("Label6");
    if (host && ping && verdict) {
        host->setText(QStringLiteral("127.0.0.1"));
        ping->click();
        out << "manual ping: " << verdict->text() << '\n';
    } else {
        out << "manual ping: the window's controls were not found\n";
    }
    out << "raw descriptors: " << rawDescriptors() << '\n';
    out.flush();
    QCoreApplication::exit(0);
}

}  // namespace

class QuorvexProbe : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "probe.json")
public:
    QObject* create(const QString&, const QString&) override
    {
        QTimer::singleShot(0, &report);
        // The application keeps it, and deletes it at its end.
        return new QObject;
    }
};

#include "probe.moc"
