#pragma once
// Base of the plug-in object the host obtains from the library's export.

#include "sdk/apiWrappers.h"

// Supplies the plug-in operations every plug-in shares: initialisation keeps the host's core
// for the wrapper functions, finalisation drops it, system notifications are ignored. The info
// texts and the category mask are the derived class's.
//
// Initialize and Finalize are the host boundary: no exception passes them. Derived classes put
// their work in DoInitialize and DoFinalize, which may raise; an error raised by DoInitialize is
// written to the error log and answered with E_UNEXPECTED.
class TOrvoCustomPlugin : public TOrvoInterfaces<TInterfacedObjectEx, IOrvoPlugin> {
public:
    HRESULT ORVO_CALL Initialize(IOrvoCore* core) final;
    void ORVO_CALL Finalize() final;
    void ORVO_CALL SystemNotify(int32_t id, IUnknown* data) override;

protected:
    // Keeps the core for the wrapper functions and answers 0.
    virtual HRESULT DoInitialize(IOrvoCore* core);
    // Drops the core.
    virtual void DoFinalize();
};
