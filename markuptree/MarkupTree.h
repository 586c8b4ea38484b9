#pragma once

// The xml:: document library: pdocument, pnode, pnodelist and the name holders
// element, attribute and node.
#include "markuptree/Names.h"
#include "markuptree/PDocument.h"
#include "markuptree/PNode.h"
