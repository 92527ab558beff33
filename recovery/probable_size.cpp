#include "recovery/probable_size.h"

#include <limits>

#include "filesystems/found_object_tree.h"
#include "signatures/signature_database.h"

namespace duzez::recovery {
namespace {

using filesystems::FoundObject;
using filesystems::kUnknownSize;

// Whole KiB from `object` to `next`, or 0 when nothing follows.
std::int64_t DistanceKB(const FoundObject& object, const FoundObject* next) {
    if (next == nullptr || next->Start < object.Start)
        return 0;
    return static_cast<std::int64_t>((next->Start - object.Start) / 1024);
}

}  // namespace

std::uint64_t UnitBytes(SizeUnit unit) {
    switch (unit) {
        case SizeUnit::Bytes:
            return 1;
        case SizeUnit::KB:
            return 1024;
        case SizeUnit::MB:
            return 1024 * 1024;
        case SizeUnit::GB:
            return 1024 * 1024 * 1024;
    }
    return 1;
}

CustomSize LargestFittingUnit(std::uint64_t bytes) {
    if (bytes == kUnknownSize)
        return {-1, SizeUnit::Bytes};
    for (SizeUnit unit : {SizeUnit::GB, SizeUnit::MB, SizeUnit::KB}) {
        if (bytes > UnitBytes(unit))
            return {static_cast<std::int64_t>(bytes / UnitBytes(unit)), unit};
    }
    return {static_cast<std::int64_t>(bytes), SizeUnit::Bytes};
}

std::uint64_t CustomBytes(std::int64_t number, SizeUnit unit) {
    const std::uint64_t factor = UnitBytes(unit);
    if (number < 0 || static_cast<std::uint64_t>(number) > kUnknownSize / factor)
        return kUnknownSize;
    return static_cast<std::uint64_t>(number) * factor;
}

std::uint64_t SizeByMethod(SizeMethod method, const FoundObject& object,
                           const filesystems::FoundObjectTree& tree,
                           const signatures::Signature* signature, std::uint64_t customBytes) {
    const std::uint64_t fallback =
        signature != nullptr ? std::uint64_t{signature->DefaultSize} * 1024 : kUnknownSize;
    const auto distance = [&](const FoundObject* next) {
        return next != nullptr && next->Start >= object.Start ? next->Start - object.Start
                                                              : fallback;
    };
    switch (method) {
        case SizeMethod::Default:
            return fallback;
        case SizeMethod::NextAny:
            return distance(tree.NextAfterStart(object.Start));
        case SizeMethod::NextSame:
            return distance(tree.NextOfSameType(object));
        case SizeMethod::Custom:
            return customBytes;
        case SizeMethod::None:
            break;
    }
    return kUnknownSize;
}

signatures::Signature* SignatureOf(const signatures::SignatureDatabase& signatures,
                                   const FoundObject& object) {
    // The lookup by extension writes the type it finds into the object: a copy keeps the
    // listed object as the tree holds it.
    FoundObject copy = object;
    return signatures.FindSignatureForObject(copy);
}

ProbableSize::ProbableSize(const FoundObject& object, const filesystems::FoundObjectTree& tree,
                           const signatures::SignatureDatabase* signatures)
    : object_(object), tree_(tree) {
    if (signatures != nullptr) {
        signature_ = signatures->FindSignatureForObject(object_);
    }
    typeName_ = tree_.GetTypeName(object_);
    defaultKB_ = signature_ != nullptr ? std::int64_t{signature_->DefaultSize} : 0;
    nextAnyKB_ = DistanceKB(object_, tree_.NextAfterStart(object_.Start));
    nextSameKB_ = DistanceKB(object_, tree_.NextOfSameType(object_));
}

std::string ProbableSize::KBText(std::int64_t kb, const std::string& word) {
    return std::to_string(kb) + " " + word;
}

SizeAnswer ProbableSize::Ok(const Choice& choice) {
    SizeAnswer answer;
    answer.result = SizeAnswer::Result::Ok;
    const int option = choice.sizeOption >= 0 && choice.sizeOption <= 3 ? choice.sizeOption : 0;
    answer.method = static_cast<SizeMethod>(option + 1);
    answer.customBytes = CustomBytes(choice.custom.number, choice.custom.unit);
    switch (choice.scope) {
        case 1:
            answer.scope = SizeScope::ThisType;
            break;
        case 2:
            answer.scope = SizeScope::AnyType;
            break;
        default:
            answer.scope = SizeScope::ThisFile;
            break;
    }
    return answer;
}

SizeAnswer ProbableSize::Skip() {
    SizeAnswer answer;
    answer.result = SizeAnswer::Result::Skip;
    return answer;
}

SizeAnswer ProbableSize::Cancel() {
    SizeAnswer answer;
    answer.result = SizeAnswer::Result::Cancel;
    return answer;
}

std::uint64_t ProbableSize::SizeFor(const SizeAnswer& answer) const {
    if (answer.result != SizeAnswer::Result::Ok)
        return kUnknownSize;
    return SizeByMethod(answer.method, object_, tree_, signature_, answer.customBytes);
}

}  // namespace duzez::recovery
