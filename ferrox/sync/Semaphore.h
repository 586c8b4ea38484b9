#pragma once

#include "ferrox/sync/Waitable.h"

// A counting semaphore: a successful wait takes one count.
class FERROX_API TSemaphore : public TWaitable
{
public:
    TSemaphore(long initialCount, long maximumCount);
    // Adds count; false (and no change) when that would pass the maximum.
    bool Release(long count = 1, long* previousCount = nullptr);
    long Count() const;

protected:
    bool TryAcquireLocked() override;

private:
    long m_count;
    const long m_maximum;
};
