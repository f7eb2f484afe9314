#include "filesystem/FoundTree.h"
