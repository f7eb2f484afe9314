#pragma once
// Where volumes found inside a drive go: the drive list adds them as drives of their own. The
// request is a FoundItem of which DataOffset (byte position of the volume within the volume
// named by ParentId), ParentId (that volume's RootItem Id), FileType (a "System" type id or a
// partition type byte) and Size (the partition's length, or unknown for a boot-sector find)
// count.
#include "filesystem/FoundItem.h"

namespace vm {

class IFoundVolumeTarget {
public:
    virtual ~IFoundVolumeTarget() = default;
    virtual void AddFoundVolume(const FoundItem& request) = 0;
};

// The process-wide target (the drive list); none until one is set, and then finds are dropped.
IFoundVolumeTarget* FoundVolumeTarget();
void SetFoundVolumeTarget(IFoundVolumeTarget* target);

}  // namespace vm
