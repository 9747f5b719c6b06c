#pragma once
// The message-dispatcher service ("ORVOSrvMsgDspr"): host messages such as the main window
// handle that dialogs take as their owner.

#include "sdk/apiWrappers.h"

class TOrvoHostMessageDispatcher
    : public TOrvoInterfaces<TInterfacedObjectEx, IOrvoServiceMessageDispatcher> {
public:
    static ComPtr<TOrvoHostMessageDispatcher> Create(TOrvoWindowHandle mainWindow);

    // ORVO_MSG_GET_MAIN_WINDOW with parameter 0 writes the handle to `data` (a 64-bit value);
    // other messages are not implemented.
    HRESULT ORVO_CALL SendHostMessage(uint32_t message, int32_t parameter, void* data) override;

protected:
    explicit TOrvoHostMessageDispatcher(TOrvoWindowHandle mainWindow) : FMainWindow(mainWindow) {}
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);

private:
    const TOrvoWindowHandle FMainWindow;
};
