// The drive tree: the computer node, the recycle bin, the disks with their partitions, the
// images and the volumes found on other drives, in that order. Every entry keeps the id it was
// given when it was made, so that its found items stay linked to its node across rebuilds.
#include "volume/LocalComputer.h"

namespace vm {

int CLocalComputer::DriveImage(const CVolume& v) {
    if (v.VolumeKind == VK_FOUND) return 16;
    if (v.VolumeKind == VK_COMPUTER) return 12;
    if (v.VolumeKind == VK_RECYCLE_BIN) return 13;
    int image = 15;
    switch (v.VolumeKind) {
        case VK_PHYSICAL: image = 14; break;
        case VK_LOGICAL: image = v.RootItem.Is(FI_SIGNATURE_MATCH) ? 20 : 15; break;
        case VK_VIRTUAL: image = 16; break;
        case VK_IMAGE: image = 17; break;
        default: break;
    }
    if (v.DriveType == 2) return 19;
    if (v.DriveType == 4 || v.DriveType == 5 || v.DriveType == 6) return 15;
    return image;
}

std::vector<DriveTreeNode> CLocalComputer::BuildDriveTree(RecycleBinPlacement recycleBin) {
    const std::vector<std::shared_ptr<CVolume>> items = Volumes.Snapshot();
    std::vector<DriveTreeNode> nodes;
    auto add = [&](CVolume& v, std::int32_t parentId) {
        v.RootItem.ParentId = std::uint32_t(parentId);
        nodes.push_back({v.weak_from_this().lock(), &v, v.RootItem.SignedId(), parentId, DriveImage(v)});
    };
    add(ComputerNode, ID_COMPUTER);
    if (recycleBin == RecycleBinPlacement::TopLevel) add(RecycleBinNode, ID_COMPUTER);
    for (const auto& v : items)
        if (v->VolumeKind == VK_PHYSICAL) add(*v, ID_COMPUTER);
    for (const auto& v : items) {
        if (v->VolumeKind != VK_LOGICAL) continue;
        std::int32_t parent = ID_COMPUTER;
        for (const auto& d : items)
            if (v->DeviceNumber != -1 && d->VolumeKind == VK_PHYSICAL && d->DeviceNumber == v->DeviceNumber) {
                parent = d->RootItem.SignedId();
                break;
            }
        add(*v, parent);
        if (recycleBin == RecycleBinPlacement::UnderEachLogicalDrive)
            nodes.push_back({nullptr, &RecycleBinNode, ID_RECYCLE_BIN, v->RootItem.SignedId(), DriveImage(RecycleBinNode)});
    }
    for (const auto& v : items)
        if (v->VolumeKind == VK_IMAGE) add(*v, ID_COMPUTER);
    for (const auto& v : items) {
        if (v->VolumeKind != VK_FOUND && v->VolumeKind != VK_VIRTUAL) continue;
        CVolume* parent = v->GetParent();
        add(*v, parent ? parent->RootItem.SignedId() : ID_COMPUTER);
    }
    SelectedVolume = &ComputerNode;
    return nodes;
}

}  // namespace vm
