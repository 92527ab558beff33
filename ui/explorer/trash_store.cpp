#include "ui/explorer/trash_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <sstream>
#include <string_view>
#include <system_error>
#include <utility>

#include "platform/folder_fd.h"

namespace duzez::ui {

namespace {

using Fd = platform::UniqueFd;
using platform::FolderNames;
using platform::OpenFolder;
using platform::OpenSubfolder;

namespace fs = std::filesystem;

constexpr const char* kInfoSuffix = ".trashinfo";
// A real info file is a few hundred bytes; anything bigger is not one.
constexpr off_t kMaxInfoBytes = 64 * 1024;
// Names tried under "(restored N)" before giving up on a crowded folder.
constexpr int kMaxAttempts = 1000;

QString ErrorText(int error) {
    return QString::fromStdString(std::generic_category().message(error));
}

QString Shown(const fs::path& path) {
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

bool ValidItemName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::optional<std::string> PercentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        const int high = HexDigit(text[i + 1]);
        const int low = HexDigit(text[i + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    if (out.find('\0') != std::string::npos)
        return std::nullopt;
    return out;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

struct TrashInfo {
    std::string path;  // still percent-encoded
    std::string date;
};

// The keys of the "[Trash Info]" group; nothing when there is no such group or no Path.
std::optional<TrashInfo> ParseInfo(std::string_view text) {
    if (text.find('\0') != std::string_view::npos)
        return std::nullopt;
    TrashInfo info;
    bool inGroup = false;
    bool sawGroup = false;
    bool havePath = false;
    bool haveDate = false;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = Trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == '#')
            continue;
        if (line.front() == '[') {
            inGroup = line == "[Trash Info]";
            sawGroup = sawGroup || inGroup;
            continue;
        }
        if (!inGroup)
            continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            continue;
        const std::string_view key = Trim(line.substr(0, equals));
        const std::string_view value = Trim(line.substr(equals + 1));
        if (key == "Path" && !havePath) {
            info.path = value;
            havePath = true;
        } else if (key == "DeletionDate" && !haveDate) {
            info.date = value;
            haveDate = true;
        }
    }
    if (!sawGroup || !havePath || info.path.empty())
        return std::nullopt;
    return info;
}

// The info file's bytes, when it is a regular file of a sensible size.
std::optional<std::string> ReadInfoFile(int infoDir, const std::string& fileName) {
    const Fd fd = platform::OpenFileIn(infoDir, fileName.c_str());
    if (!fd)
        return std::nullopt;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxInfoBytes)
        return std::nullopt;
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(got));
        if (text.size() > static_cast<std::size_t>(kMaxInfoBytes))
            return std::nullopt;
    }
    return text;
}

// Where an item goes back: a folder trusted as the start, the folders below it and the
// item's own name.
struct Place {
    fs::path anchor;
    std::vector<std::string> parents;
    std::string leaf;

    fs::path Full() const {
        fs::path full = anchor;
        for (const auto& part : parents)
            full /= part;
        return full / leaf;
    }
};

std::vector<std::string> Components(std::string_view text) {
    std::vector<std::string> parts;
    while (!text.empty()) {
        const std::size_t slash = text.find('/');
        const std::string_view part = text.substr(0, slash);
        if (!part.empty())
            parts.emplace_back(part);
        text.remove_prefix(slash == std::string_view::npos ? text.size() : slash + 1);
    }
    return parts;
}

std::optional<Place> ResolvePlace(const TrashRoot& root, const std::string& pathValue) {
    const auto decoded = PercentDecode(pathValue);
    if (!decoded || decoded->empty())
        return std::nullopt;
    std::vector<std::string> parts = Components(*decoded);
    for (const auto& part : parts) {
        if (part == "." || part == "..")
            return std::nullopt;
    }
    Place place;
    const fs::path top = root.topDir.lexically_normal();
    if (decoded->front() == '/') {
        if (root.home) {
            place.anchor = "/";
        } else {
            // An absolute path in a mount's trash must still lie below the mount.
            const std::vector<std::string> topParts = Components(top.native());
            if (parts.size() <= topParts.size() ||
                !std::equal(topParts.begin(), topParts.end(), parts.begin()))
                return std::nullopt;
            parts.erase(parts.begin(),
                        parts.begin() + static_cast<std::ptrdiff_t>(topParts.size()));
            place.anchor = top;
        }
    } else {
        if (top.empty() || !top.is_absolute())
            return std::nullopt;
        place.anchor = top;
    }
    if (parts.empty())
        return std::nullopt;
    place.leaf = parts.back();
    parts.pop_back();
    place.parents = std::move(parts);
    // Restoring into the trash itself would hide the item without its info file.
    const std::vector<std::string> trashParts = Components(root.folder.lexically_normal().native());
    const std::vector<std::string> fullParts = Components(place.Full().native());
    if (fullParts.size() >= trashParts.size() &&
        std::equal(trashParts.begin(), trashParts.end(), fullParts.begin()))
        return std::nullopt;
    return place;
}

bool IsPseudoFileSystem(const std::string& type) {
    static const std::set<std::string> kPseudo = {
        "proc",    "sysfs",       "cgroup",   "cgroup2",   "devpts",     "securityfs", "debugfs",
        "tracefs", "autofs",      "mqueue",   "hugetlbfs", "pstore",     "bpf",        "configfs",
        "fusectl", "binfmt_misc", "efivarfs", "nsfs",      "rpc_pipefs", "selinuxfs",  "devtmpfs",
    };
    return kPseudo.count(type) != 0;
}

std::string UnescapeMountField(std::string_view field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const auto octal = [](char c) { return c >= '0' && c <= '7'; };
            if (octal(field[i + 1]) && octal(field[i + 2]) && octal(field[i + 3])) {
                out.push_back(static_cast<char>((field[i + 1] - '0') * 64 +
                                                (field[i + 2] - '0') * 8 + (field[i + 3] - '0')));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

// --- moving without replacing -------------------------------------------------------

// Moves srcDir/srcName to dstDir/dstName unless something is there; an errno value.
int MoveNoReplace(int srcDir, const std::string& srcName, int dstDir, const std::string& dstName,
                  bool folder) {
    if (::renameat2(srcDir, srcName.c_str(), dstDir, dstName.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    const int error = errno;
    if (error != EINVAL && error != ENOSYS && error != EOPNOTSUPP)
        return error;
    // A file system without the no-replace flag: claim the name first, then move over
    // our own placeholder.
    if (folder) {
        if (::mkdirat(dstDir, dstName.c_str(), 0700) != 0)
            return errno;
    } else {
        if (!platform::CreateFileIn(dstDir, dstName.c_str(), 0600))
            return errno;
    }
    if (::renameat(srcDir, srcName.c_str(), dstDir, dstName.c_str()) == 0)
        return 0;
    const int moveError = errno;
    ::unlinkat(dstDir, dstName.c_str(), folder ? AT_REMOVEDIR : 0);
    return moveError;
}

// Removes dir/name and all below it without following links; whether all went.
bool RemoveTree(int dir, const std::string& name) {
    struct stat st {};
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    if (S_ISDIR(st.st_mode)) {
        Fd sub = OpenSubfolder(dir, name.c_str());
        if (!sub)
            return false;
        bool all = true;
        for (const auto& child : FolderNames(sub.get()))
            all = RemoveTree(sub.get(), child) && all;
        if (!all)
            return false;
        return ::unlinkat(dir, name.c_str(), AT_REMOVEDIR) == 0;
    }
    return ::unlinkat(dir, name.c_str(), 0) == 0;
}

int CopyFileData(int in, int out) {
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return errno;
        if (got == 0)
            return 0;
        ssize_t done = 0;
        while (done < got) {
            const ssize_t put = ::write(out, buffer + done, static_cast<std::size_t>(got - done));
            if (put < 0 && errno == EINTR)
                continue;
            if (put < 0)
                return errno;
            done += put;
        }
    }
}

// Copies srcDir/srcName to a new dstDir/dstName; an errno value, EEXIST only when the
// name is taken. A failed copy leaves nothing behind.
int CopyTree(int srcDir, const std::string& srcName, int dstDir, const std::string& dstName) {
    struct stat st {};
    if (::fstatat(srcDir, srcName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno;
    const mode_t mode = st.st_mode & 0777;
    const timespec times[2] = {st.st_atim, st.st_mtim};
    if (S_ISREG(st.st_mode)) {
        const Fd in = platform::OpenFileIn(srcDir, srcName.c_str());
        if (!in)
            return errno;
        Fd out = platform::CreateFileIn(dstDir, dstName.c_str(), 0600);
        if (!out)
            return errno;
        int error = CopyFileData(in.get(), out.get());
        if (error == 0 && ::fsync(out.get()) != 0)
            error = errno;
        if (error != 0) {
            out.reset();
            ::unlinkat(dstDir, dstName.c_str(), 0);
            return error == EEXIST ? EIO : error;
        }
        ::fchmod(out.get(), mode);
        ::futimens(out.get(), times);
        return 0;
    }
    if (S_ISLNK(st.st_mode)) {
        std::string target(static_cast<std::size_t>(st.st_size) + 1, '\0');
        const ssize_t length = ::readlinkat(srcDir, srcName.c_str(), target.data(), target.size());
        if (length < 0)
            return errno;
        if (static_cast<std::size_t>(length) >= target.size())
            return EIO;  // the link changed while we read it
        target.resize(static_cast<std::size_t>(length));
        if (::symlinkat(target.c_str(), dstDir, dstName.c_str()) != 0)
            return errno;
        return 0;
    }
    if (!S_ISDIR(st.st_mode))
        return EOPNOTSUPP;  // devices, pipes and sockets are not copied
    Fd in = OpenSubfolder(srcDir, srcName.c_str());
    if (!in)
        return errno;
    if (::mkdirat(dstDir, dstName.c_str(), 0700) != 0)
        return errno;
    Fd out = OpenSubfolder(dstDir, dstName.c_str());
    int error = out ? 0 : errno;
    if (error == 0) {
        for (const auto& child : FolderNames(in.get())) {
            error = CopyTree(in.get(), child, out.get(), child);
            if (error != 0)
                break;
        }
    }
    if (error != 0) {
        out.reset();
        RemoveTree(dstDir, dstName);
        return error == EEXIST ? EIO : error;
    }
    ::fchmod(out.get(), mode);
    ::futimens(out.get(), times);
    return 0;
}

// Moves, or across file systems copies; an errno value as MoveNoReplace. `copied` tells
// the caller that the trash still holds the original.
int PutBack(int filesDir, const std::string& name, int dstDir, const std::string& dstName,
            bool folder, bool& copied) {
    copied = false;
    const int error = MoveNoReplace(filesDir, name, dstDir, dstName, folder);
    if (error != EXDEV)
        return error;
    const int copyError = CopyTree(filesDir, name, dstDir, dstName);
    copied = copyError == 0;
    return copyError;
}

// The folders on the way back, opened one by one without following links unasked, and
// created where missing.
class ParentWalk {
  public:
    enum class Outcome { Open, Cancelled, Failed };

    Outcome Walk(const TrashItem& item, const Place& place, const RestoreAnswers& answers) {
        shown_ = place.anchor;
        parent_ = OpenFolder(place.anchor);
        if (!parent_)
            return Fail(errno);
        for (const auto& part : place.parents) {
            Fd next = OpenSubfolder(parent_.get(), part.c_str());
            if (!next && errno == ENOENT) {
                if (::mkdirat(parent_.get(), part.c_str(), 0777) == 0)
                    created_.emplace_back(platform::Duplicate(parent_.get()), part);
                else if (errno != EEXIST)
                    return Fail(errno);
                next = OpenSubfolder(parent_.get(), part.c_str());
            }
            if (!next) {
                const int error = errno;
                struct stat st {};
                if (::fstatat(parent_.get(), part.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
                    !S_ISLNK(st.st_mode))
                    return Fail(error);
                // Links the system owns (such as a moved /home) are part of the machine;
                // anyone else's could send the item somewhere unexpected.
                const bool systemLink = st.st_uid == 0 && ::geteuid() != 0;
                if (!systemLink) {
                    std::string target(4096, '\0');
                    const ssize_t length =
                        ::readlinkat(parent_.get(), part.c_str(), target.data(), target.size());
                    target.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
                    if (!answers.followLink || !answers.followLink(item, shown_ / part, target))
                        return Outcome::Cancelled;
                }
                next = OpenSubfolder(parent_.get(), part.c_str(), true);
                if (!next)
                    return Fail(errno);
            }
            parent_ = std::move(next);
            shown_ /= part;
        }
        return Outcome::Open;
    }

    // Takes away the folders made for a restore that did not happen.
    void RemoveCreated() {
        for (auto it = created_.rbegin(); it != created_.rend(); ++it)
            ::unlinkat(it->first.get(), it->second.c_str(), AT_REMOVEDIR);
        created_.clear();
    }

    int Parent() const { return parent_.get(); }
    const fs::path& Folder() const { return shown_; }
    int Error() const { return error_; }

  private:
    Outcome Fail(int error) {
        error_ = error;
        return Outcome::Failed;
    }

    Fd parent_;
    fs::path shown_;
    std::vector<std::pair<Fd, std::string>> created_;
    int error_ = 0;
};

bool Exists(int dir, const std::string& name) {
    struct stat st {};
    return ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT;
}

}  // namespace

std::vector<MountPoint> ParseMountInfo(const std::string& text) {
    std::vector<MountPoint> mounts;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::vector<std::string> parts;
        std::string field;
        while (fields >> field)
            parts.push_back(field);
        // id, parent, major:minor, root, mount point, options, optional fields..., "-", type
        const auto dash = std::find(parts.begin(), parts.end(), "-");
        if (parts.size() < 5 || dash == parts.end() || dash - parts.begin() < 6 ||
            std::next(dash) == parts.end())
            continue;
        MountPoint mount;
        mount.path = UnescapeMountField(parts[4]);
        mount.fsType = *std::next(dash);
        if (mount.path.is_absolute())
            mounts.push_back(std::move(mount));
    }
    return mounts;
}

std::vector<MountPoint> MountPoints() {
    std::ifstream file("/proc/self/mountinfo");
    std::ostringstream text;
    text << file.rdbuf();
    return ParseMountInfo(text.str());
}

fs::path HomeTrashFolder() {
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && data[0] == '/')
        return fs::path(data) / "Trash";
    fs::path home;
    if (const char* env = std::getenv("HOME"); env != nullptr && env[0] == '/') {
        home = env;
    } else if (const passwd* user = ::getpwuid(::getuid()); user != nullptr && user->pw_dir) {
        home = user->pw_dir;
    }
    if (home.empty())
        return {};
    return home / ".local" / "share" / "Trash";
}

std::vector<TrashRoot> FindTrashRoots(const fs::path& homeTrash,
                                      const std::vector<MountPoint>& mounts, uid_t uid) {
    std::vector<TrashRoot> roots;
    std::set<std::pair<dev_t, ino_t>> seen;
    const auto add = [&](const fs::path& folder, const fs::path& top, bool home) {
        struct stat st {};
        if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            return;
        if (!seen.insert({st.st_dev, st.st_ino}).second)
            return;
        roots.push_back(TrashRoot{folder, top, home});
    };
    // Ours, a folder and no link: a planted link could show someone else's files.
    const auto ownFolder = [uid](const fs::path& path) {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == uid;
    };
    if (!homeTrash.empty()) {
        const fs::path folder = homeTrash.lexically_normal();
        const fs::path trimmed = folder.has_filename() ? folder : folder.parent_path();
        add(trimmed, trimmed.parent_path(), true);
    }
    const std::string uidText = std::to_string(uid);
    for (const auto& mount : mounts) {
        if (IsPseudoFileSystem(mount.fsType))
            continue;
        const fs::path top = mount.path.lexically_normal();
        const fs::path shared = top / ".Trash";
        struct stat st {};
        if (::lstat(shared.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
            (st.st_mode & S_ISVTX) != 0 && ownFolder(shared / uidText))
            add(shared / uidText, top, false);
        const fs::path own = top / (".Trash-" + uidText);
        if (ownFolder(own))
            add(own, top, false);
    }
    return roots;
}

std::vector<TrashRoot> FindTrashRoots() {
    return FindTrashRoots(HomeTrashFolder(), MountPoints(), ::getuid());
}

fs::path ResolveTrashPath(const TrashRoot& root, const std::string& pathValue) {
    const auto place = ResolvePlace(root, pathValue);
    return place ? place->Full() : fs::path();
}

std::vector<TrashItem> ListTrash(const TrashRoot& root) {
    std::vector<TrashItem> items;
    const Fd trash = OpenFolder(root.folder);
    if (!trash)
        return items;
    const Fd info = OpenSubfolder(trash.get(), "info");
    const Fd files = OpenSubfolder(trash.get(), "files");
    if (!info || !files)
        return items;
    const std::string_view suffix = kInfoSuffix;
    for (const auto& fileName : FolderNames(info.get())) {
        if (fileName.size() <= suffix.size() ||
            fileName.compare(fileName.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        const std::string name = fileName.substr(0, fileName.size() - suffix.size());
        if (!ValidItemName(name))
            continue;
        const auto text = ReadInfoFile(info.get(), fileName);
        if (!text)
            continue;
        const auto parsed = ParseInfo(*text);
        if (!parsed)
            continue;
        struct stat st {};
        if (::fstatat(files.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;  // an info file whose item is gone
        TrashItem item;
        item.name = name;
        item.root = root;
        item.originalPath = ResolveTrashPath(root, parsed->path);
        const auto decoded = PercentDecode(parsed->path);
        item.pathText = decoded ? QFile::decodeName(QByteArray::fromStdString(*decoded))
                                : QString::fromUtf8(parsed->path.data(),
                                                    static_cast<qsizetype>(parsed->path.size()));
        item.deletionDate = QDateTime::fromString(
            QString::fromLatin1(parsed->date.data(), static_cast<qsizetype>(parsed->date.size())),
            Qt::ISODate);
        item.folder = S_ISDIR(st.st_mode);
        item.size = item.folder ? 0 : static_cast<std::uint64_t>(st.st_size);
        items.push_back(std::move(item));
    }
    std::sort(items.begin(), items.end(),
              [](const TrashItem& a, const TrashItem& b) { return a.name < b.name; });
    return items;
}

std::vector<TrashItem> ListTrash(const std::vector<TrashRoot>& roots) {
    std::vector<TrashItem> items;
    for (const auto& root : roots) {
        auto more = ListTrash(root);
        std::move(more.begin(), more.end(), std::back_inserter(items));
    }
    return items;
}

std::string RestoredName(const std::string& name, bool folder, int attempt) {
    const std::string suffix =
        attempt <= 1 ? " (restored)" : " (restored " + std::to_string(attempt) + ")";
    const std::size_t dot = folder ? std::string::npos : name.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return name + suffix;
    return name.substr(0, dot) + suffix + name.substr(dot);
}

RestoreResult RestoreTrashItem(const TrashItem& item, const RestoreAnswers& answers) {
    RestoreResult result;
    const QString shownName = QFile::decodeName(QByteArray::fromStdString(item.name));
    const auto fail = [&result](RestoreStatus status, QString error) {
        result.status = status;
        result.error = std::move(error);
        return result;
    };
    if (!ValidItemName(item.name))
        return fail(RestoreStatus::Refused,
                    QStringLiteral("\"%1\" is not a trash item name.").arg(shownName));
    const Fd trash = OpenFolder(item.root.folder);
    const Fd files = trash ? OpenSubfolder(trash.get(), "files") : Fd();
    const Fd info = trash ? OpenSubfolder(trash.get(), "info") : Fd();
    if (!files || !info)
        return fail(RestoreStatus::Failed,
                    QStringLiteral("The trash folder %1 cannot be opened: %2")
                        .arg(Shown(item.root.folder), ErrorText(errno)));
    const auto text = ReadInfoFile(info.get(), item.name + kInfoSuffix);
    const auto parsed = text ? ParseInfo(*text) : std::nullopt;
    if (!text)
        return fail(RestoreStatus::Failed,
                    QStringLiteral("\"%1\" is no longer in the trash.").arg(shownName));
    const auto place = parsed ? ResolvePlace(item.root, parsed->path) : std::nullopt;
    if (!place)
        return fail(RestoreStatus::Refused,
                    QStringLiteral("The trash does not record a safe place to put \"%1\" back.")
                        .arg(shownName));
    struct stat st {};
    if (::fstatat(files.get(), item.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return fail(RestoreStatus::Failed,
                    QStringLiteral("\"%1\" is no longer in the trash.").arg(shownName));
    const bool folder = S_ISDIR(st.st_mode);

    ParentWalk walk;
    switch (walk.Walk(item, *place, answers)) {
        case ParentWalk::Outcome::Open:
            break;
        case ParentWalk::Outcome::Cancelled:
            walk.RemoveCreated();
            result.status = RestoreStatus::Cancelled;
            return result;
        case ParentWalk::Outcome::Failed:
            walk.RemoveCreated();
            return fail(RestoreStatus::Failed,
                        QStringLiteral("The folder %1 cannot be made or opened: %2")
                            .arg(Shown(place->Full().parent_path()), ErrorText(walk.Error())));
    }

    std::string target = place->leaf;
    bool copied = false;
    int error = PutBack(files.get(), item.name, walk.Parent(), target, folder, copied);
    if (error == EEXIST || error == ENOTEMPTY) {
        int attempt = 1;
        while (attempt <= kMaxAttempts &&
               Exists(walk.Parent(), RestoredName(place->leaf, folder, attempt)))
            ++attempt;
        const std::string proposed = RestoredName(place->leaf, folder, attempt);
        if (attempt > kMaxAttempts || !answers.anotherName ||
            !answers.anotherName(item, walk.Folder() / place->leaf, walk.Folder() / proposed)) {
            walk.RemoveCreated();
            result.status = RestoreStatus::Cancelled;
            return result;
        }
        // Someone may take the proposed name meanwhile; the next free one is as agreed.
        for (; attempt <= kMaxAttempts; ++attempt) {
            target = RestoredName(place->leaf, folder, attempt);
            error = PutBack(files.get(), item.name, walk.Parent(), target, folder, copied);
            if (error != EEXIST && error != ENOTEMPTY)
                break;
        }
    }
    if (error != 0) {
        walk.RemoveCreated();
        return fail(RestoreStatus::Failed,
                    QStringLiteral("\"%1\" could not be put back in %2: %3")
                        .arg(shownName, Shown(walk.Folder()), ErrorText(error)));
    }
    result.status = RestoreStatus::Restored;
    result.restoredTo = walk.Folder() / target;
    if (copied && !RemoveTree(files.get(), item.name)) {
        // The copy is whole; keep the info file so the remains in the trash stay listed.
        result.leftInTrash = true;
        result.error = QStringLiteral(
                           "\"%1\" was restored, but its copy in the trash could not be "
                           "removed.")
                           .arg(shownName);
        return result;
    }
    if (::unlinkat(info.get(), (item.name + kInfoSuffix).c_str(), 0) != 0)
        result.error =
            QStringLiteral("\"%1\" was restored, but its trash record could not be removed: %2")
                .arg(shownName, ErrorText(errno));
    return result;
}

}  // namespace duzez::ui
