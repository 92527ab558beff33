#include "ui/explorer/display_filter.h"

#include "ui/explorer/find_in_found.h"

#include <ctime>
#include <vector>

#include "signatures/signature_database.h"

namespace duzez::ui {
namespace {

constexpr std::uint64_t kTicksPerSecond = 10000000;
constexpr std::uint64_t kUnixEpochTicks = 116444736000000000;  // 1970-01-01 as a file time

// Code points, so that '?' takes one character of a UTF-8 name rather than one byte.

}  // namespace

bool MatchesWildcard(std::string_view name, std::string_view pattern) {
    // The display filter's match counts case; the find bar's does not.
    return WildcardMatch(pattern.empty() ? std::string_view("*") : pattern, name, false);
}

std::uint64_t FileTimeToLocal(std::uint64_t fileTime) {
    if (fileTime < kUnixEpochTicks)
        return fileTime;
    const auto seconds = static_cast<std::time_t>((fileTime - kUnixEpochTicks) / kTicksPerSecond);
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr)
        return fileTime;
    const std::int64_t shift =
        static_cast<std::int64_t>(local.tm_gmtoff) * static_cast<std::int64_t>(kTicksPerSecond);
    return static_cast<std::uint64_t>(static_cast<std::int64_t>(fileTime) + shift);
}

bool PassesDisplayFilter(const filesystems::FoundObject& object, const core::CFileFilter& filter,
                         const signatures::SignatureDatabase* formats) {
    using filesystems::ObjectFlags::Deleted;
    using filesystems::ObjectFlags::Folder;
    using filesystems::ObjectFlags::HasDeleted;
    using filesystems::ObjectFlags::Named;

    if (object.IsSpecial())
        return true;
    if (filter.DeletedOnly() && !object.Is(Deleted) && !object.Is(HasDeleted))
        return false;
    const bool folder = object.Is(Folder);
    if (filter.ByWildcards() && object.Is(Named) && !folder &&
        !MatchesWildcard(object.Name, filter.WildcardPattern()))
        return false;
    if (filter.ByDate() && object.Modified != 0) {
        const std::uint64_t when =
            filter.LocalTimeDates() ? FileTimeToLocal(object.Modified) : object.Modified;
        if (when > filter.DateTo() || when < filter.DateFrom())
            return false;
    }
    const auto types = filter.Types();
    if (formats != nullptr && !folder && types != core::CFileFilter::FileTypes::All) {
        // The lookup may fill in the format number; the caller's object stays as it is.
        filesystems::FoundObject probe;
        probe.Flags = object.Flags;
        probe.SignatureId = object.SignatureId;
        probe.Name = object.Name;
        const signatures::Signature* format = formats->FindSignatureForObject(probe);
        if (types == core::CFileFilter::FileTypes::KnownOnly && format == nullptr)
            return false;
        if (types == core::CFileFilter::FileTypes::Custom && format != nullptr &&
            format->View.load() == 0)
            return false;
    }
    return true;
}

}  // namespace duzez::ui
