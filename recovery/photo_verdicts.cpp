#include "recovery/photo_verdicts.h"

#include <vector>

#include "core/work_share.h"
#include "filesystems/found_object_stream.h"
#include "signatures/signature.h"

namespace duzez::recovery {

bool IsJudgedFormat(std::int32_t format) {
    using namespace signatures::FormatIds;
    return format == Jpeg || format == Png || format == Gif || IsTiffPhoto(format) ||
           IsIsoMedia(format);
}

void JudgePhotos(filesystems::TreeVolume& volume,
                 std::span<filesystems::FoundObject* const> objects,
                 const std::atomic<bool>* stop) {
    std::vector<filesystems::FoundObject*> photos;
    for (filesystems::FoundObject* object : objects) {
        if (object != nullptr && IsJudgedFormat(object->SignatureId) &&
            object->Size != filesystems::kUnknownSize && object->Size != 0 &&
            object->Size <= kMaxJudgedBytes && !object->Is(filesystems::ObjectFlags::Folder)) {
            photos.push_back(object);
        }
    }
    core::ShareWork(
        photos.size(),
        [&](std::size_t i) {
            filesystems::FoundObject& photo = *photos[i];
            filesystems::FoundObjectStream stream(volume, &photo);
            std::vector<std::uint8_t> bytes(photo.Size);
            const std::uint32_t got = stream.Read(bytes);
            // Unreadable sectors read as zeros: what is judged then is not the photo.
            if (got != bytes.size() || stream.Damage.unreadableSectors != 0)
                return;
            photo.Verdict =
                static_cast<std::uint8_t>(signatures::JudgePhoto(photo.SignatureId, bytes).verdict);
        },
        [stop] { return stop != nullptr && stop->load(); });
}

}  // namespace duzez::recovery
