#include "recovery/photo_verdicts.h"

#include <algorithm>
#include <thread>
#include <vector>

#include "filesystems/found_object_stream.h"

namespace duzez::recovery {

bool IsJudgedFormat(std::int32_t format) {
    return format == 300 || format == 301 || format == 302 || format == 303 || format == 310 ||
           format == 312 || format == 313 || format == 317 || format == 400 || format == 401 ||
           format == 402;
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
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        std::vector<std::uint8_t> bytes;
        for (std::size_t i = next++; i < photos.size(); i = next++) {
            if (stop != nullptr && stop->load())
                return;
            filesystems::FoundObject& photo = *photos[i];
            filesystems::FoundObjectStream stream(volume, &photo);
            bytes.resize(photo.Size);
            const std::uint32_t got = stream.Read(bytes);
            // Unreadable sectors read as zeros: what is judged then is not the photo.
            if (got != bytes.size() || stream.Damage.unreadableSectors != 0)
                continue;
            photo.Verdict =
                static_cast<std::uint8_t>(signatures::JudgePhoto(photo.SignatureId, bytes).verdict);
        }
    };
    const unsigned workers = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
    std::vector<std::jthread> threads;
    for (unsigned n = 1; n < std::min<std::size_t>(workers, photos.size()); ++n)
        threads.emplace_back(work);
    work();
}

}  // namespace duzez::recovery
