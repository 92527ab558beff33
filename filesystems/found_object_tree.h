#pragma once

// Everything an analysis found on one volume: folders and files from its file system,
// files found by signature, placeholder folders for parents not (yet) found, and three
// special folders. The tree is flat; the hierarchy is the relation ParentId -> Id, served
// by ordered indexes by Id, ParentId and Start (newest first within a key).
//
// Threads: the analysis thread adds while the interface thread reads. Every operation
// takes the tree's lock (shared for lookups, exclusive for changes) for its own duration.
// Objects are complete before they are indexed and announced, and are freed only by
// Clear, which runs when no phase runs. Fields an announced object may still change
// (Size, Flags, SignatureId, and a placeholder becoming its folder) change under the
// exclusive lock; a reader that needs them consistent holds ReadLock() while reading.

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "filesystems/found_object.h"
#include "filesystems/ordered_index.h"
#include "filesystems/signature_catalog.h"
#include "filesystems/tree_volume.h"

namespace duzez::core {
class CApp;
}

namespace duzez::filesystems {

// Codes of the WM_APP+500 notification.
namespace TreeNotice {
constexpr std::int64_t Added = 1;
constexpr std::int64_t FoundBySignature = 2;
constexpr std::int64_t FoundAgain = 4;
constexpr std::int64_t PlaceholderCreated = 16;
constexpr std::int64_t PlaceholderCompleting = 32;
}  // namespace TreeNotice

constexpr std::uint32_t WM_FOUND_OBJECT = 0x8000 + 500;

class FoundObjectTree {
  public:
    using Cursor = std::uint64_t;
    static constexpr Cursor kFreshCursor = ~Cursor{0};

    // A tree of a volume has the special folders; without a volume it is only its list
    // and indexes. `app` gives the texts and the window to notify; `catalog` the formats.
    FoundObjectTree(TreeVolume* volume, const SignatureCatalog* catalog, core::CApp* app);
    ~FoundObjectTree();
    FoundObjectTree(const FoundObjectTree&) = delete;
    FoundObjectTree& operator=(const FoundObjectTree&) = delete;

    std::shared_lock<std::shared_mutex> ReadLock() const { return std::shared_lock(mutex_); }
    // For changing fields of objects the views may be reading.
    std::unique_lock<std::shared_mutex> WriteLock() { return std::unique_lock(mutex_); }

    FoundObject& RootFolder() { return root_; }
    // The file-format database the tree names and files objects by; may be null.
    const SignatureCatalog* Catalog() const { return catalog_; }
    FoundObject& LostFragmentsFolder() { return lostFragments_; }
    FoundObject& LostFilesFolder() { return lostFiles_; }

    // Indexes an object that its caller keeps owning (the root folder, a volume node).
    void AddObject(FoundObject* object, bool listed);
    // A directory entry or file record from a file-system analyser; the tree keeps a copy.
    // Null when the object's format is switched off.
    FoundObject* MergeObject(const FoundObject& record);

    struct FoundFileResult {
        enum class Outcome { Added, FoundAgain, Disabled } outcome;
        FoundObject* object;  // the new object, or the one already at that Start
    };
    // A file found by signature; the tree takes it unless an object sits at its Start.
    FoundFileResult AddFoundFile(FoundObject item);

    FoundObject* FindById(std::uint64_t id, Cursor& cursor) const;
    FoundObject* NextChild(std::uint64_t parentId, Cursor& cursor) const;
    void GetChildren(std::uint64_t parentId, std::vector<FoundObject*>& out) const;
    // The folder the objects with ParentId `id` lie in (a live folder before a deleted one,
    // never a file); null when none is indexed.
    FoundObject* FolderWithId(std::uint64_t id) const;
    FoundObject* FindAtStart(std::uint64_t start) const;
    FoundObject* NextAfterStart(std::uint64_t start) const;
    FoundObject* NextOfSameType(const FoundObject& object) const;
    std::vector<FoundObject*> ListedObjects() const;
    std::size_t ObjectCount() const;

    void Clear(TreeVolume* volume = nullptr);
    void BuildStartIndex();
    bool StartIndexOn() const;
    void MarkDeletedPath(FoundObject& object);
    // "Folder" for folders, else the format's title or "<EXT> File".
    std::string GetTypeName(const FoundObject& object) const;
    // The folder that holds the object, ending in '/': "/A/B/" below the root folder,
    // "Images/" in a group folder, the part that could be followed when the chain of
    // parents breaks or loops.
    std::string GetFolderPath(const FoundObject& object) const;
    // The names GetFolderPath joins, outermost first, each as the volume holds it (it may
    // contain the separator); `fromRoot` when the chain of parents reached the root.
    struct FolderNames {
        std::vector<std::string> names;
        bool fromRoot = false;
    };
    FolderNames GetFolderNames(const FoundObject& object) const;

  private:
    std::uint32_t AddLocked(FoundObject* object, bool listed);
    void InsertIntoStartIndex(std::uint32_t slot);
    FoundObject* FirstWith(const OrderedIndex& index, std::int64_t key) const;
    // The folder an object with ParentId `id` lies in; see the .cpp for the order.
    FoundObject* ParentLocked(std::uint64_t id) const;
    // A file only the scan found, at the start of the file `record` lists; null when none.
    FoundObject* CarvedAtLocked(const FoundObject& record) const;
    // The slot of an object in the start index.
    std::uint32_t SlotOf(const FoundObject* object) const;
    FoundObject* CreateLostFolderLocked(const FoundObject& record);
    FoundObject* EnsureGroupFolderLocked(const FoundObject& object);
    void NameFoundFile(FoundObject& object, const std::optional<FormatInfo>& format) const;
    void Notify(FoundObject* object, std::int64_t code) const;
    std::string Text(std::uint32_t id, std::string_view fallback) const;
    void SetUpSpecialFolders();

    TreeVolume* volume_;
    const SignatureCatalog* catalog_;
    core::CApp* app_;
    mutable std::shared_mutex mutex_;

    FoundObject root_;
    FoundObject lostFragments_;
    FoundObject lostFiles_;

    std::deque<FoundObject> owned_;    // copies, carved files, placeholders, group folders
    std::deque<FoundObject*> slots_;   // every indexed object, by slot number
    std::deque<FoundObject*> listed_;  // the object list, in the order added
    OrderedIndex byId_;
    OrderedIndex byParent_;
    OrderedIndex byStart_;
    bool startIndexOn_ = false;
};

}  // namespace duzez::filesystems
