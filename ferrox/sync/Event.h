#pragma once

#include "ferrox/sync/Waitable.h"

#include <string>

// A manual-reset event stays signalled until Reset; an auto-reset event releases
// one waiter and resets itself.
class FERROX_API TEvent : public TWaitable
{
public:
    TEvent(bool manualReset, bool initialState);
    void Set();
    void Reset();
    bool IsSet() const;

protected:
    bool TryAcquireLocked() override;

private:
    const bool m_manualReset;
    bool m_signalled;
};

// Named manual-reset events shared within the process ("ClientStop"): the first
// request creates it, later ones get the same object.
FERROX_API std::shared_ptr<TEvent> OpenNamedEvent(const std::string& name, bool manualReset,
                                                  bool initialState);
