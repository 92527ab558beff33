#include "ui/frame/startup.h"

#include <grp.h>
#include <unistd.h>
#include <zlib.h>

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <fstream>

#include "platform/device_helper_client.h"
#include "platform/program_folders.h"
#include "ui/frame/udisks_opener.h"

namespace duzez::ui {

bool MayReadDrives(unsigned effectiveUid, const std::vector<unsigned>& groups,
                   std::optional<unsigned> diskGroup, bool udisks) {
    if (effectiveUid == 0 || udisks)
        return true;
    return diskGroup && std::find(groups.begin(), groups.end(), *diskGroup) != groups.end();
}

bool ThisUserMayReadDrives() {
    std::vector<gid_t> ids(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)) + 1);
    const int count = ::getgroups(static_cast<int>(ids.size()), ids.data());
    std::vector<unsigned> groups(ids.begin(), ids.begin() + std::max(count, 0));
    groups.push_back(::getegid());
    std::optional<unsigned> disk;
    if (const group* entry = ::getgrnam("disk"))
        disk = entry->gr_gid;
    const bool privileged = MayReadDrives(::geteuid(), groups, disk, false);
    return privileged || UdisksAvailable() || !platform::DeviceHelperPath().empty();
}

Splash::Splash(int lifetimeMs)
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("splash"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(400, 300);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    QTimer::singleShot(lifetimeMs, this, &QWidget::close);
}

void Splash::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QLinearGradient background(0, 0, 0, height());
    background.setColorAt(0, QColor(40, 70, 120));
    background.setColorAt(1, QColor(20, 30, 60));
    painter.fillRect(rect(), background);
    painter.setPen(Qt::white);
    QFont title = font();
    title.setPointSize(22);
    title.setBold(true);
    painter.setFont(title);
    painter.drawText(rect().adjusted(0, 0, 0, -60), Qt::AlignCenter,
                     QStringLiteral("Duzez Quarnel"));
    QFont line = font();
    line.setPointSize(10);
    painter.setFont(line);
    painter.drawText(rect().adjusted(20, 120, -20, 0), Qt::AlignCenter | Qt::TextWordWrap,
                     tr("Finds and recovers deleted photos and files"));
}

void Splash::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton || event->button() == Qt::RightButton)
        close();
}

std::optional<std::filesystem::path> UnpackDemoCard(std::string& error) {
    const auto demo = platform::FindProgramData("demo");
    if (!demo) {
        error = "the demo card is not installed";
        return std::nullopt;
    }
    const std::filesystem::path packed = *demo / "camera-card.img.gz";
    const char* cache = std::getenv("XDG_CACHE_HOME");
    const std::filesystem::path folder =
        (cache != nullptr && *cache == '/' ? std::filesystem::path(cache)
                                           : platform::HomeFolder() / ".cache") /
        "duzez" / "demo";
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const std::filesystem::path card = folder / "camera-card.img";
    const std::filesystem::path part = folder / "camera-card.img.part";
    gzFile in = ::gzopen(packed.c_str(), "rb");
    if (in == nullptr) {
        error = "cannot read " + packed.string();
        return std::nullopt;
    }
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    std::vector<char> buffer(1 << 20);
    int got = 0;
    while ((got = ::gzread(in, buffer.data(), static_cast<unsigned>(buffer.size()))) > 0)
        out.write(buffer.data(), got);
    const bool complete = got == 0;
    ::gzclose(in);
    out.close();
    if (!complete || !out) {
        std::filesystem::remove(part, ec);
        error = "cannot unpack " + packed.string() + " into " + folder.string();
        return std::nullopt;
    }
    // Each start gets the card as it was shipped, whatever a last run did with it.
    std::filesystem::rename(part, card, ec);
    if (ec) {
        error = ec.message();
        return std::nullopt;
    }
    return card;
}

}  // namespace duzez::ui
