#include "Common/CriticalSectionWin32.h"

namespace Tav {

// The recursive mutex lives as long as the object, so a section entered
// around a Delete/Create pair stays consistent; created only tracks the life
// the callers see.
CCriticalSectionWin32::~CCriticalSectionWin32()
{
    if (created)
        Delete();
}

void CCriticalSectionWin32::Create()
{
    if (!created)
        created = true;
}

void CCriticalSectionWin32::Delete()
{
    if (created)
        created = false;
}

} // namespace Tav
