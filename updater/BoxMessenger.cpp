#include "BoxMessenger.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QString>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <ostream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace calmora::update {

namespace {

bool IsSet(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// Platforms that start without a screen: a box there would wait for a click nobody can give.
bool Headless(const QString& platform)
{
    return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

constexpr unsigned kProbeSeconds = 10;

}  // namespace

bool DisplayAvailable(int argc, char** argv)
{
    if (!IsSet("DISPLAY") && !IsSet("WAYLAND_DISPLAY")) {
        return false;
    }
    const pid_t child = ::fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        // Quietly: the platform plugin's complaint about an unreachable display is no news to the user.
        const int devNull = ::open("/dev/null", O_WRONLY);
        if (devNull >= 0) {
            ::dup2(devNull, STDOUT_FILENO);
            ::dup2(devNull, STDERR_FILENO);
        }
        const rlimit noCore{0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        ::alarm(kProbeSeconds);
        std::vector<char*> args(argv, argv + argc);
        args.push_back(nullptr);
        int probeArgc = argc;
        QGuiApplication probe(probeArgc, args.data());
        ::_exit(Headless(QGuiApplication::platformName()) ? 1 : 0);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void BoxMessenger::Show(std::string_view text)
{
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kMessageTitle.data(), kMessageTitle.size()),
                    QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())), QMessageBox::Ok);
    box.exec();
}

void BoxMessenger::ShowError(std::string_view report)
{
    err_ << report << std::endl;
    Show(report);
}

void BoxMessenger::ProcessPendingEvents() { QCoreApplication::processEvents(); }

}  // namespace calmora::update
