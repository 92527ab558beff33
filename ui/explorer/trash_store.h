#pragma once

// The desktop trash of this user: where its folders are, what is in them, and putting an
// item back where it came from. Everything in a trash folder is read as untrusted: an
// info file may be broken or point anywhere, and a restore never replaces an existing
// file nor loses the item when the move fails.

#include <sys/types.h>

#include <QDateTime>
#include <QString>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace duzez::ui {

// One trash folder (the one holding "files" and "info").
struct TrashRoot {
    std::filesystem::path folder;
    // The folder that relative "Path=" values start from: the mount's top folder for a
    // per-mount trash, the data folder the home trash sits in.
    std::filesystem::path topDir;
    // Per-mount trashes only restore below topDir; the home trash restores anywhere.
    bool home = false;
};

struct MountPoint {
    std::filesystem::path path;
    std::string fsType;
};

// The mounts listed by a /proc/self/mountinfo text (escapes like "\040" decoded).
std::vector<MountPoint> ParseMountInfo(const std::string& text);
// This process's mounts.
std::vector<MountPoint> MountPoints();

// $XDG_DATA_HOME/Trash, or ~/.local/share/Trash.
std::filesystem::path HomeTrashFolder();

// The trash folders that exist: the home trash, then per mount "$top/.Trash/$uid" (when
// ".Trash" is a real sticky folder) and "$top/.Trash-$uid". The same folder reached
// twice is listed once.
std::vector<TrashRoot> FindTrashRoots(const std::filesystem::path& homeTrash,
                                      const std::vector<MountPoint>& mounts, uid_t uid);
// The same for this user and this machine.
std::vector<TrashRoot> FindTrashRoots();

struct TrashItem {
    // The name under "files" (and of the info file, without ".trashinfo").
    std::string name;
    // Where it came from, when the info file names a safe place; empty otherwise.
    std::filesystem::path originalPath;
    // The "Path=" value as written, for showing when originalPath is empty.
    QString pathText;
    QDateTime deletionDate;  // invalid when the info file's date is unreadable
    std::uint64_t size = 0;  // bytes of a file; folders are not counted
    bool folder = false;
    TrashRoot root;

    bool Restorable() const { return !originalPath.empty(); }
    std::filesystem::path FilePath() const { return root.folder / "files" / name; }
    std::filesystem::path InfoPath() const { return root.folder / "info" / (name + ".trashinfo"); }
};

// The items of one trash; info files that cannot be read as such, or without their
// item under "files", are left out.
std::vector<TrashItem> ListTrash(const TrashRoot& root);
std::vector<TrashItem> ListTrash(const std::vector<TrashRoot>& roots);

// Where a "Path=" value puts the item back; empty when the value is broken, holds "." or
// "..", or leaves a per-mount trash's top folder.
std::filesystem::path ResolveTrashPath(const TrashRoot& root, const std::string& pathValue);

// "photo (restored).jpg", then "photo (restored 2).jpg"...; `attempt` counts from 1.
std::string RestoredName(const std::string& name, bool folder, int attempt);

// What a restore asks the person. A missing answer counts as no.
struct RestoreAnswers {
    // Something exists at `taken`: restore under `proposed` instead?
    std::function<bool(const TrashItem& item, const std::filesystem::path& taken,
                       const std::filesystem::path& proposed)>
        anotherName;
    // A folder on the way back is a symbolic link to `target`: go through it?
    std::function<bool(const TrashItem& item, const std::filesystem::path& link,
                       const std::string& target)>
        followLink;
};

enum class RestoreStatus {
    Restored,
    Cancelled,  // the person declined; nothing changed
    Refused,    // the info file names no safe place
    Failed,     // the move failed; the item is still in the trash
};

struct RestoreResult {
    RestoreStatus status = RestoreStatus::Failed;
    std::filesystem::path restoredTo;
    QString error;             // why it failed, or a note on a restore that left something behind
    bool leftInTrash = false;  // restored by copying, but the trash copy could not go
};

// Moves the item back and then removes its info file. The info file is read again, so a
// change since the listing is seen.
RestoreResult RestoreTrashItem(const TrashItem& item, const RestoreAnswers& answers);

}  // namespace duzez::ui
