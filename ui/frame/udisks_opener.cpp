#include "ui/frame/udisks_opener.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>
#include <QVariantMap>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/device_helper_client.h"
#include "platform/folder_fd.h"
#include "platform/unique_fd.h"

namespace duzez::ui {

namespace {

constexpr char kService[] = "org.freedesktop.UDisks2";
// The user may take a while to type a password into polkit's dialog.
constexpr int kOpenTimeoutMs = 120000;

}  // namespace

std::string UdisksObjectPath(const std::string& devicePath) {
    std::error_code ec;
    const std::filesystem::path resolved = std::filesystem::canonical(devicePath, ec);
    if (ec || resolved.parent_path() != "/dev")
        return {};
    // udisks2 names objects by the kernel name, with what D-Bus does not allow as '_'.
    std::string name = resolved.filename().string();
    for (char& c : name) {
        if (std::isalnum(static_cast<unsigned char>(c)) == 0)
            c = '_';
    }
    return name.empty() ? std::string() : "/org/freedesktop/UDisks2/block_devices/" + name;
}

bool UdisksAvailable() {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected() || bus.interface() == nullptr)
        return false;
    const QString service = QString::fromLatin1(kService);
    if (bus.interface()->isServiceRegistered(service).value())
        return true;
    const QDBusReply<QStringList> activatable =
        bus.interface()->call(QStringLiteral("ListActivatableNames"));
    return activatable.isValid() && activatable.value().contains(service);
}

std::unique_ptr<platform::BlockDevice> UdisksDeviceOpener::Open(const std::string& path,
                                                                std::string& error) {
    errno = 0;
    if (auto device = local_->Open(path, error))
        return device;
    const int openError = errno;  // the open's own: the local opener leaves it so
    struct stat info {};
    if ((openError != EACCES && openError != EPERM) || !askingAllowed_ ||
        ::stat(path.c_str(), &info) != 0 || !S_ISBLK(info.st_mode)) {
        return nullptr;
    }
    if (!UdisksAvailable())
        return platform::OpenThroughPkexecHelper(path, error);
    const std::string object = UdisksObjectPath(path);
    if (object.empty())
        return nullptr;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(kService), QString::fromStdString(object),
        QStringLiteral("org.freedesktop.UDisks2.Block"), QStringLiteral("OpenDevice"));
    call << QStringLiteral("r") << QVariantMap{};
    call.setInteractiveAuthorizationAllowed(true);
    const QDBusReply<QDBusUnixFileDescriptor> reply =
        QDBusConnection::systemBus().call(call, QDBus::Block, kOpenTimeoutMs);
    if (!reply.isValid() || !reply.value().isValid()) {
        error = "permission denied; udisks2 gave no access (" +
                reply.error().message().toStdString() + ")";
        return nullptr;
    }
    // The reply's descriptor closes with it: this copy is ours.
    platform::UniqueFd copy = platform::Duplicate(reply.value().fileDescriptor());
    if (!copy) {
        error = std::strerror(errno);
        return nullptr;
    }
    return platform::DeviceFromDescriptor(std::move(copy), error);
}

}  // namespace duzez::ui
