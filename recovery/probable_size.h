#pragma once

// The question "Enter probable file size" for a file found by its signature, whose end is
// only estimated: the figures the dialog shows, and the dialog's choice turned into the
// answer the recovery applies. No widgets here; the desktop dialog and the tests both sit
// on it, and the recovery computes sizes with the same rules, so what the dialog shows is
// what gets written.

#include <cstdint>
#include <optional>
#include <string>

#include "filesystems/found_object.h"
#include "recovery/recovery.h"

namespace duzez::filesystems {
class FoundObjectTree;
}
namespace duzez::signatures {
class SignatureDatabase;
struct Signature;
}  // namespace duzez::signatures

namespace duzez::recovery {

// The unit list of the custom size, in list order.
enum class SizeUnit : int { Bytes = 0, KB = 1, MB = 2, GB = 3 };

// Bytes per unit: 1, 1024, 1024^2, 1024^3.
std::uint64_t UnitBytes(SizeUnit unit);

struct CustomSize {
    std::int64_t number = 0;
    SizeUnit unit = SizeUnit::Bytes;
    bool operator==(const CustomSize&) const = default;
};

// A size shown in the largest unit it exceeds (more than 1 GiB in GB, more than 1 MiB in
// MB, more than 1 KiB in KB, else bytes), truncated; an unknown size is -1 bytes.
CustomSize LargestFittingUnit(std::uint64_t bytes);

// number x unit in bytes. A negative number or one too large for 64 bits is no size at
// all (unknown), which the recovery then skips; -1 bytes, the prefill of an unknown
// size, gives exactly that.
std::uint64_t CustomBytes(std::int64_t number, SizeUnit unit);

// The size `method` gives `object` of `tree`: the type's default size, the distance to
// the next object of any or of the same type (the default when nothing follows), or
// `customBytes`. `signature` is the object's type record, or null (then the default is
// unknown).
std::uint64_t SizeByMethod(SizeMethod method, const filesystems::FoundObject& object,
                           const filesystems::FoundObjectTree& tree,
                           const signatures::Signature* signature, std::uint64_t customBytes);

// The type record of an object, found by its type or else by its name's extension; the
// object itself is not changed.
signatures::Signature* SignatureOf(const signatures::SignatureDatabase& signatures,
                                   const filesystems::FoundObject& object);

class ProbableSize {
  public:
    // The dialog's state: the selected size option (0 to 3, in the order of SizeMethod
    // 1 to 4), the number and unit of the custom size, the selected scope (0 to 2).
    struct Choice {
        int sizeOption = 0;
        CustomSize custom;
        int scope = 0;
    };

    // Reads what it shows at once: the tree does not change while the question is asked
    // (analysis and recovery never run together). `signatures` may be null.
    ProbableSize(const filesystems::FoundObject& object, const filesystems::FoundObjectTree& tree,
                 const signatures::SignatureDatabase* signatures);

    const filesystems::FoundObject& Object() const { return object_; }
    // "Offset:", "Name:", "Type:", "Condition:" (Deleted or Live).
    std::uint64_t Offset() const { return object_.Start; }
    std::string Name() const { return std::string(object_.GetName()); }
    const std::string& TypeName() const { return typeName_; }
    bool Deleted() const { return object_.Is(filesystems::ObjectFlags::Deleted); }

    // The figures beside the first three options, in KB; 0 where there is nothing to
    // show (no type record, nothing found after the object).
    std::int64_t DefaultSizeKB() const { return defaultKB_; }
    std::int64_t NextAnyKB() const { return nextAnyKB_; }
    std::int64_t NextSameKB() const { return nextSameKB_; }
    // "<figure> <word>", the word being the text of "KBytes" in the interface language.
    static std::string KBText(std::int64_t kb, const std::string& word);

    // The object's current size in its largest fitting unit.
    CustomSize CustomPrefill() const { return LargestFittingUnit(object_.Size); }
    // As the dialog opens: the first size option, "This file only", the prefill.
    Choice InitialChoice() const { return {0, CustomPrefill(), 0}; }
    // The number and unit are editable only while "Custom size:" is selected.
    static bool CustomEnabled(const Choice& choice) { return choice.sizeOption == 3; }

    // OK: method = option + 1, the custom size in bytes, the scope. An option or scope
    // out of range is taken as the first one.
    static SizeAnswer Ok(const Choice& choice);
    static SizeAnswer Skip();
    static SizeAnswer Cancel();

    // The size an answer gives this object, as the recovery will write it: the default
    // and the distances in bytes, the custom size as entered. Unknown for an answer that
    // is not OK.
    std::uint64_t SizeFor(const SizeAnswer& answer) const;

  private:
    filesystems::FoundObject object_;
    const filesystems::FoundObjectTree& tree_;
    const signatures::Signature* signature_ = nullptr;
    std::string typeName_;
    std::int64_t defaultKB_ = 0;
    std::int64_t nextAnyKB_ = 0;
    std::int64_t nextSameKB_ = 0;
};

}  // namespace duzez::recovery
