#include "filesystems/found_object_tree.h"

#include <algorithm>
#include <set>

#include "core/app.h"
#include "core/string_table.h"

namespace duzez::filesystems {
namespace {

std::int64_t Key(std::uint64_t value) {
    return static_cast<std::int64_t>(value);
}

constexpr char kSeparator = '/';

}  // namespace

FoundObjectTree::FoundObjectTree(TreeVolume* volume, const SignatureCatalog* catalog,
                                 core::CApp* app)
    : volume_(volume), catalog_(catalog), app_(app) {
    SetUpSpecialFolders();
}

FoundObjectTree::~FoundObjectTree() = default;

std::string FoundObjectTree::Text(std::uint32_t id, std::string_view fallback) const {
    if (app_ != nullptr)
        return app_->Languages().GetString(id);
    return std::string(core::BuiltinText(id).value_or(fallback));
}

void FoundObjectTree::SetUpSpecialFolders() {
    const std::uint64_t volumeId = volume_ != nullptr ? volume_->NodeId() : 0;
    lostFragments_ = FoundObject{};
    lostFragments_.Id = SpecialIds::LostFragments;
    lostFragments_.Flags = ObjectFlags::Deleted | ObjectFlags::Folder | ObjectFlags::HasDeleted;
    lostFragments_.ParentId = volumeId;
    lostFiles_ = lostFragments_;
    lostFiles_.Id = SpecialIds::LostFiles;
    lostFragments_.SetName(
        Text(static_cast<std::uint32_t>(core::StringId::LostFragmentsFolder), ""));
    lostFiles_.SetName(Text(static_cast<std::uint32_t>(core::StringId::LostFilesFolder), ""));
    root_ = FoundObject{};
    root_.Flags = ObjectFlags::Folder;
    root_.SetName("Filesystem");
    root_.ParentId = volumeId;
}

void FoundObjectTree::Notify(FoundObject* object, std::int64_t code) const {
    if (app_ == nullptr)
        return;
    if (auto window = app_->MainWindow()) {
        window->Post({WM_FOUND_OBJECT, reinterpret_cast<std::uintptr_t>(object), code, {}});
    }
}

FoundObject* FoundObjectTree::FirstWith(const OrderedIndex& index, std::int64_t key) const {
    const auto entry = index.First(key);
    return entry ? slots_[entry->slot] : nullptr;
}

FoundObject* FoundObjectTree::CarvedAtLocked(const FoundObject& record) const {
    if (!startIndexOn_ || record.Is(ObjectFlags::Folder) || record.Size == 0)
        return nullptr;
    for (auto entry = byStart_.First(Key(record.Start)); entry && entry->key == Key(record.Start);
         entry = byStart_.After(*entry)) {
        FoundObject* object = slots_[entry->slot];
        if (object->Is(ObjectFlags::FoundBySignature) && !object->Is(ObjectFlags::Folder))
            return object;
    }
    return nullptr;
}

std::uint32_t FoundObjectTree::SlotOf(const FoundObject* object) const {
    for (auto entry = byStart_.First(Key(object->Start)); entry && entry->key == Key(object->Start);
         entry = byStart_.After(*entry)) {
        if (slots_[entry->slot] == object)
            return entry->slot;
    }
    return 0;
}

FoundObject* FoundObjectTree::ParentLocked(std::uint64_t id) const {
    // Ids are not unique (a FAT id is a first cluster, which a deleted file and a later
    // folder can share): a live folder comes first, then a deleted one; a file never.
    FoundObject* deletedFolder = nullptr;
    for (auto entry = byId_.First(Key(id)); entry && entry->key == Key(id);
         entry = byId_.After(*entry)) {
        FoundObject* candidate = slots_[entry->slot];
        if (!candidate->Is(ObjectFlags::Folder))
            continue;
        if (!candidate->Is(ObjectFlags::Deleted))
            return candidate;
        deletedFolder = deletedFolder != nullptr ? deletedFolder : candidate;
    }
    return deletedFolder;
}

FoundObject* FoundObjectTree::FolderWithId(std::uint64_t id) const {
    std::shared_lock lock(mutex_);
    return ParentLocked(id);
}

std::uint32_t FoundObjectTree::AddLocked(FoundObject* object, bool listed) {
    const auto slot = static_cast<std::uint32_t>(slots_.size());
    slots_.push_back(object);
    if (listed)
        listed_.push_back(object);
    byId_.Insert(Key(object->Id), slot);
    byParent_.Insert(Key(object->ParentId), slot);
    if (startIndexOn_)
        InsertIntoStartIndex(slot);
    return slot;
}

void FoundObjectTree::InsertIntoStartIndex(std::uint32_t slot) {
    FoundObject& object = *slots_[slot];
    // Nodes that are no data of this volume (the volume's own node, whose Start is its
    // place on the disk; the special and group folders) neither hide nor end a file.
    if (object.IsSpecial())
        return;
    const OrderedIndex::Entry entry{Key(object.Start), slot};
    byStart_.Insert(entry.key, slot);
    // A file whose end is unknown reaches exactly to whatever was found after it.
    if (object.Is(ObjectFlags::ExtentToNext)) {
        if (const auto next = byStart_.After(entry)) {
            object.Size = slots_[next->slot]->Start - object.Start;
        }
    }
    if (const auto previous = byStart_.Before(entry)) {
        FoundObject& before = *slots_[previous->slot];
        if (before.Is(ObjectFlags::ExtentToNext))
            before.Size = object.Start - before.Start;
    }
}

void FoundObjectTree::AddObject(FoundObject* object, bool listed) {
    std::unique_lock lock(mutex_);
    AddLocked(object, listed);
}

FoundObject* FoundObjectTree::MergeObject(const FoundObject& record) {
    FoundObject copy = record;
    if (catalog_ != nullptr) {
        if (const auto format = catalog_->FindFormatForObject(copy)) {
            copy.SignatureId = static_cast<std::int16_t>(format->formatId);
            if (!format->searchEnabled)
                return nullptr;
        }
    }
    std::unique_lock lock(mutex_);
    FoundObject* placeholder = nullptr;
    std::uint32_t placeholderSlot = 0;
    // A placeholder stands for a folder: only a folder takes its place.
    for (auto entry = byId_.First(Key(copy.Id));
         copy.Is(ObjectFlags::Folder) && entry && entry->key == Key(copy.Id);
         entry = byId_.After(*entry)) {
        if (slots_[entry->slot]->ParentId == SpecialIds::LostFragments) {
            placeholder = slots_[entry->slot];
            placeholderSlot = entry->slot;
            break;
        }
    }
    // The scan met this file's first cluster before its entry was read (a directory the
    // sector phase finds later): the entry names it, and it is listed once.
    FoundObject* carved = placeholder == nullptr ? CarvedAtLocked(copy) : nullptr;
    std::uint32_t carvedSlot = 0;
    if (placeholder != nullptr) {
        byParent_.Erase(Key(placeholder->ParentId), placeholderSlot);
        Notify(placeholder, TreeNotice::PlaceholderCompleting);
    } else if (carved != nullptr) {
        carvedSlot = SlotOf(carved);
        byParent_.Erase(Key(carved->ParentId), carvedSlot);
        byId_.Erase(Key(carved->Id), carvedSlot);
        // Announced as a file found by signature under its group folder: the views take
        // it out of there before it reappears where the entry puts it.
        Notify(carved, TreeNotice::PlaceholderCompleting);
    }

    bool hasParent = false;
    for (auto entry = byId_.First(Key(copy.ParentId)); entry && entry->key == Key(copy.ParentId);
         entry = byId_.After(*entry)) {
        if (slots_[entry->slot]->Is(ObjectFlags::Folder)) {
            hasParent = true;
            break;
        }
    }
    if (!hasParent && copy.ParentId != 0 && copy.Id != 0 && copy.Id != root_.Id &&
        copy.ParentId != root_.Id) {
        CreateLostFolderLocked(copy);
    }

    if (carved != nullptr) {
        if (copy.SignatureId == 0)
            copy.SignatureId = carved->SignatureId;
        const std::uint32_t viewItem = carved->ViewItem;
        *carved = std::move(copy);
        carved->ViewItem = viewItem;
        byParent_.Insert(Key(carved->ParentId), carvedSlot);
        byId_.Insert(Key(carved->Id), carvedSlot);
        Notify(carved, TreeNotice::Added);
        return carved;
    }
    if (placeholder == nullptr) {
        owned_.push_back(std::move(copy));
        FoundObject* added = &owned_.back();
        AddLocked(added, true);
        Notify(added, TreeNotice::Added);
        return added;
    }
    const std::uint64_t oldStart = placeholder->Start;
    const std::uint32_t viewItem = placeholder->ViewItem;
    *placeholder = std::move(copy);
    placeholder->ViewItem = viewItem;
    byParent_.Insert(Key(placeholder->ParentId), placeholderSlot);
    if (startIndexOn_ && oldStart != placeholder->Start) {
        byStart_.Erase(Key(oldStart), placeholderSlot);
        InsertIntoStartIndex(placeholderSlot);
    }
    Notify(placeholder, TreeNotice::Added);
    return placeholder;
}

FoundObject* FoundObjectTree::CreateLostFolderLocked(const FoundObject& record) {
    FoundObject folder;
    folder.Flags = ObjectFlags::Deleted | ObjectFlags::Folder | ObjectFlags::HasDeleted |
                   ObjectFlags::LostFolder;
    folder.Id = record.ParentId;
    folder.ParentId = SpecialIds::LostFragments;
    const auto number = static_cast<std::int32_t>(static_cast<std::uint32_t>(record.ParentId));
    if (app_ != nullptr) {
        folder.SetName(app_->Languages().Format(core::StringId::LostFolderName, {number}));
    } else {
        folder.SetName("lost_folder_" + std::to_string(number));
    }
    owned_.push_back(std::move(folder));
    FoundObject* added = &owned_.back();
    AddLocked(added, true);
    Notify(added, TreeNotice::PlaceholderCreated);
    return added;
}

void FoundObjectTree::NameFoundFile(FoundObject& object,
                                    const std::optional<FormatInfo>& format) const {
    if (object.Is(ObjectFlags::Named) && !object.Name.empty())
        return;
    const auto start = static_cast<long long>(object.Start);
    if (format) {
        object.SetName(format->prefix + "_" + std::to_string(start) + "." + format->firstExtension);
    } else if (app_ != nullptr) {
        object.SetName(app_->Languages().Format(core::StringId::LostFileName, {start}));
    } else {
        object.SetName("lost_file_" + std::to_string(start));
    }
}

FoundObject* FoundObjectTree::EnsureGroupFolderLocked(const FoundObject& object) {
    if (catalog_ == nullptr)
        return nullptr;
    const auto format = catalog_->FindFormatById(object.SignatureId);
    if (!format)
        return nullptr;
    // Group ids are node ids of the machine's counter; sign-extended they are again.
    const auto id = static_cast<std::uint64_t>(static_cast<std::int64_t>(format->groupId));
    if (FoundObject* existing = FirstWith(byId_, Key(id)))
        return existing;
    FoundObject folder;
    folder.Flags = ObjectFlags::Folder | ObjectFlags::HasDeleted;
    folder.Id = id;
    folder.ParentId = SpecialIds::LostFiles;
    if (const auto title = catalog_->GroupTitle(format->groupId))
        folder.SetName(*title);
    owned_.push_back(std::move(folder));
    FoundObject* added = &owned_.back();
    AddLocked(added, false);
    return added;
}

FoundObjectTree::FoundFileResult FoundObjectTree::AddFoundFile(FoundObject item) {
    std::optional<FormatInfo> format;
    if (catalog_ != nullptr)
        format = catalog_->FindFormatForObject(item);
    std::unique_lock lock(mutex_);
    if (const auto entry = byStart_.First(Key(item.Start)); entry && startIndexOn_) {
        // What the file system lists stays as it lists it (name, size, the map its data
        // is read through, "Live"): the hit may only tell a type it did not know.
        FoundObject* existing = slots_[entry->slot];
        if (format && (existing->SignatureId == 0 || existing->Is(ObjectFlags::FoundBySignature)))
            existing->SignatureId = static_cast<std::int16_t>(format->formatId);
        Notify(existing, TreeNotice::FoundAgain);
        return {FoundFileResult::Outcome::FoundAgain, existing};
    }
    if (format) {
        item.ParentId = static_cast<std::uint64_t>(static_cast<std::int64_t>(format->groupId));
        if (!format->searchEnabled)
            return {FoundFileResult::Outcome::Disabled, nullptr};
    }
    NameFoundFile(item, format);
    item.Flags |= ObjectFlags::FoundBySignature;
    owned_.push_back(std::move(item));
    FoundObject* added = &owned_.back();
    AddLocked(added, true);
    EnsureGroupFolderLocked(*added);
    if (volume_ != nullptr)
        volume_->CountSectorPhaseFile();
    Notify(added, TreeNotice::FoundBySignature);
    return {FoundFileResult::Outcome::Added, added};
}

FoundObject* FoundObjectTree::FindById(std::uint64_t id, Cursor& cursor) const {
    std::shared_lock lock(mutex_);
    const auto entry = cursor == kFreshCursor
                           ? byId_.First(Key(id))
                           : byId_.After({Key(id), static_cast<std::uint32_t>(cursor)});
    if (!entry || entry->key != Key(id))
        return nullptr;
    cursor = entry->slot;
    return slots_[entry->slot];
}

FoundObject* FoundObjectTree::NextChild(std::uint64_t parentId, Cursor& cursor) const {
    std::shared_lock lock(mutex_);
    const auto entry = cursor == kFreshCursor
                           ? byParent_.First(Key(parentId))
                           : byParent_.After({Key(parentId), static_cast<std::uint32_t>(cursor)});
    if (!entry || entry->key != Key(parentId))
        return nullptr;
    cursor = entry->slot;
    return slots_[entry->slot];
}

void FoundObjectTree::GetChildren(std::uint64_t parentId, std::vector<FoundObject*>& out) const {
    std::shared_lock lock(mutex_);
    for (auto entry = byParent_.First(Key(parentId)); entry && entry->key == Key(parentId);
         entry = byParent_.After(*entry)) {
        out.push_back(slots_[entry->slot]);
    }
}

FoundObject* FoundObjectTree::FindAtStart(std::uint64_t start) const {
    std::shared_lock lock(mutex_);
    return FirstWith(byStart_, Key(start));
}

FoundObject* FoundObjectTree::NextAfterStart(std::uint64_t start) const {
    std::shared_lock lock(mutex_);
    const auto first = byStart_.First(Key(start));
    if (!first)
        return nullptr;
    const auto next = byStart_.After(*first);
    return next ? slots_[next->slot] : nullptr;
}

FoundObject* FoundObjectTree::NextOfSameType(const FoundObject& object) const {
    std::shared_lock lock(mutex_);
    auto entry = byStart_.First(Key(object.Start));
    if (!entry)
        return nullptr;
    for (entry = byStart_.After(*entry); entry; entry = byStart_.After(*entry)) {
        if (slots_[entry->slot]->SignatureId == object.SignatureId)
            return slots_[entry->slot];
    }
    return nullptr;
}

std::vector<FoundObject*> FoundObjectTree::ListedObjects() const {
    std::shared_lock lock(mutex_);
    return std::vector<FoundObject*>(listed_.begin(), listed_.end());
}

std::size_t FoundObjectTree::ObjectCount() const {
    std::shared_lock lock(mutex_);
    return slots_.size();
}

void FoundObjectTree::Clear(TreeVolume* volume) {
    std::unique_lock lock(mutex_);
    if (volume != nullptr)
        volume_ = volume;
    listed_.clear();
    slots_.clear();
    byId_.Clear();
    byParent_.Clear();
    byStart_.Clear();
    owned_.clear();
    startIndexOn_ = false;
}

void FoundObjectTree::BuildStartIndex() {
    std::unique_lock lock(mutex_);
    startIndexOn_ = true;
    byStart_.Clear();
    byId_.ForEach([this](const OrderedIndex::Entry& entry) {
        if (!slots_[entry.slot]->IsSpecial())
            byStart_.Insert(Key(slots_[entry.slot]->Start), entry.slot);
    });
}

bool FoundObjectTree::StartIndexOn() const {
    std::shared_lock lock(mutex_);
    return startIndexOn_;
}

void FoundObjectTree::MarkDeletedPath(FoundObject& object) {
    std::unique_lock lock(mutex_);
    if (object.Is(ObjectFlags::Folder))
        object.Flags |= ObjectFlags::HasDeleted;
    std::set<const FoundObject*> visited;
    FoundObject* folder = ParentLocked(object.ParentId);
    while (folder != nullptr && folder->Is(ObjectFlags::Folder) && visited.insert(folder).second) {
        if (folder->Is(ObjectFlags::HasDeleted)) {
            if (folder == &root_)
                break;
        } else {
            folder->Flags |= ObjectFlags::HasDeleted;
        }
        folder = ParentLocked(folder->ParentId);
    }
}

std::string FoundObjectTree::GetTypeName(const FoundObject& object) const {
    if (object.Is(ObjectFlags::Folder)) {
        return Text(static_cast<std::uint32_t>(core::StringId::Folder), "Folder");
    }
    if (catalog_ != nullptr && object.SignatureId != 0) {
        if (const auto format = catalog_->FindFormatById(object.SignatureId);
            format && !format->title.empty()) {
            return format->title;
        }
    }
    const std::string_view name = object.GetName();
    const std::size_t dot = name.rfind('.');
    if (!object.Is(ObjectFlags::Named) || dot == std::string_view::npos || dot + 1 == name.size()) {
        return "File";
    }
    std::string extension(name.substr(dot + 1));
    for (char& c : extension) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return extension + " File";
}

std::string FoundObjectTree::GetFolderPath(const FoundObject& object) const {
    const FolderNames folders = GetFolderNames(object);
    std::string path;
    if (folders.fromRoot) {
        path = std::string(1, kSeparator);
        if (volume_ != nullptr && volume_->DriveLetterOrZero() != 0)
            path = std::string(1, volume_->DriveLetterOrZero()) + ":" + kSeparator;
    }
    for (const std::string& name : folders.names)
        path += name + kSeparator;
    return path;
}

FoundObjectTree::FolderNames FoundObjectTree::GetFolderNames(const FoundObject& object) const {
    std::shared_lock lock(mutex_);
    FolderNames folders;
    if (object.Id == root_.Id) {
        folders.fromRoot = true;
        return folders;
    }
    std::set<const FoundObject*> visited;
    // The walk starts at the object itself: another object with the same id (a deleted
    // entry whose first cluster a live one reuses) has a parent of its own.
    const FoundObject* current = &object;
    visited.insert(current);
    while (true) {
        const FoundObject* parent = ParentLocked(current->ParentId);
        if (parent == nullptr || !visited.insert(parent).second)
            break;
        if (parent == &root_ || parent->Id == root_.Id || parent->Id == parent->ParentId) {
            folders.fromRoot = true;
            break;
        }
        // The lost-files and lost-fragments folders hold the group folders and the
        // placeholders, whose names start the path; they add nothing themselves.
        if (parent->Id == SpecialIds::LostFiles || parent->Id == SpecialIds::LostFragments)
            break;
        folders.names.emplace_back(parent->GetName());
        current = parent;
    }
    std::reverse(folders.names.begin(), folders.names.end());
    return folders;
}

}  // namespace duzez::filesystems
