#pragma once

// The file formats the scanner looks for, loaded from the per-user store (one subkey per
// format under "Signatures"), with their groups and the index of extensions.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <string>
#include <vector>

#include "filesystems/signature_catalog.h"
#include "signatures/signature.h"

namespace duzez::platform {
class RegistryStore;
}

namespace duzez::signatures {

class SignatureDatabase : public filesystems::SignatureCatalog {
  public:
    static constexpr std::string_view kSubkey = "Signatures";
    static constexpr std::size_t kMaxPatterns = 99;
    static constexpr std::size_t kMaxSubkeys = 32767;

    // `nextId` hands out the machine's descending node ids, for the groups.
    SignatureDatabase(platform::RegistryStore& store, std::string programKey,
                      std::function<std::uint64_t()> nextId);

    void LoadDatabase();
    bool SaveSignature(const Signature& signature);
    void SaveAll();

    // The list is fixed after loading, so it can be read from any thread.
    const std::vector<std::unique_ptr<Signature>>& Signatures() const { return signatures_; }
    Signature* FindSignatureById(std::int32_t formatId) const;
    Signature* FindSignatureForObject(filesystems::FoundObject& object) const;
    const Signature* FindGroup(std::int32_t groupId) const;
    static std::string FirstExtension(const Signature& signature);
    // Extension (upper case, no dot) -> the signature that claimed it first.
    const std::map<std::string, Signature*>& ExtensionIndex() const { return extensions_; }

    static bool MatchSector(const Signature& signature,
                            std::span<const std::uint8_t, kSectorBytes> sector);

    // Pattern editing of the signature property page. The scanner reads patterns under
    // PatternsReadLock (once per block); edits take the lock exclusively.
    std::shared_lock<std::shared_mutex> PatternsReadLock() const;
    std::optional<SignaturePattern> GetPattern(const Signature& signature, std::size_t index) const;
    bool SetPatternOptions(Signature& signature, std::size_t index, std::uint16_t compareLength,
                           bool checkByBits);
    void AppendPattern(Signature& signature);
    bool RemovePattern(Signature& signature, std::size_t index);

    // SignatureCatalog, for the found-object tree.
    std::optional<filesystems::FormatInfo> FindFormatById(std::int32_t formatId) const override;
    std::optional<filesystems::FormatInfo> FindFormatForObject(
        filesystems::FoundObject& object) const override;
    std::optional<std::string> GroupTitle(std::int32_t groupId) const override;
    std::optional<bool> SectorFitsName(const filesystems::FoundObject& object,
                                       std::span<const std::uint8_t> sector) const override;

  private:
    void BuildGroups();
    void BuildExtensionIndex();
    std::string SignaturesKey() const;

    platform::RegistryStore& store_;
    std::string programKey_;
    std::function<std::uint64_t()> nextId_;
    std::vector<std::unique_ptr<Signature>> signatures_;
    std::map<std::int32_t, std::unique_ptr<Signature>> groups_;
    std::map<std::string, Signature*> extensions_;
    mutable std::shared_mutex patternsMutex_;
};

filesystems::FormatInfo FormatInfoOf(const Signature& signature);

}  // namespace duzez::signatures
