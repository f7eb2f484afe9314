#include "volume/DriveContext.h"

namespace vm {

std::shared_ptr<CDriveContext> StandaloneDriveContext() {
    static const std::shared_ptr<CDriveContext> context =
        std::make_shared<CDriveContext>(std::make_shared<ProgressBlock>());
    return context;
}

}  // namespace vm
