#include "filesystems/found_object.h"

namespace duzez::filesystems {

std::string_view FoundObject::GetName() const {
    return Is(ObjectFlags::Named) ? std::string_view(Name) : std::string_view("Unknown");
}

void FoundObject::SetName(std::string_view name) {
    Name.assign(name);
    Flags |= ObjectFlags::Named | ObjectFlags::NameOwned;
}

}  // namespace duzez::filesystems
