#include "host/Orvo.Host.UI.MessageDialog.h"

ComPtr<TOrvoHostMessageDialog> TOrvoHostMessageDialog::Create(TObserver observer) {
    return MakeInterfaced<TOrvoHostMessageDialog>(std::move(observer));
}

int32_t TOrvoHostMessageDialog::DefaultAnswer(int32_t flags) {
    switch (flags & 0x0F) {
    case ORVO_MSG_YES_NO:
        return ORVO_MSG_RESULT_YES;
    default:
        return ORVO_MSG_RESULT_OK;
    }
}

HRESULT ORVO_CALL TOrvoHostMessageDialog::Execute(TOrvoUIWindowHandle owner, IOrvoString* caption,
                                                  IOrvoString* text, int32_t flags, int32_t* result) {
    if (result)
        *result = 0;
    try {
        TOrvoHostMessage message{owner, FromHostString(caption), FromHostString(text), flags};
        TObserver observer;
        {
            std::lock_guard lock(FLock);
            FMessages.push_back(message);
            observer = FObserver;
        }
        if (observer)
            observer(message);
        if (result)
            *result = DefaultAnswer(flags);
        return S_OK;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

std::vector<TOrvoHostMessage> TOrvoHostMessageDialog::Messages() const {
    std::lock_guard lock(FLock);
    return FMessages;
}

void TOrvoHostMessageDialog::ClearMessages() {
    std::lock_guard lock(FLock);
    FMessages.clear();
}

void TOrvoHostMessageDialog::SetObserver(TObserver observer) {
    std::lock_guard lock(FLock);
    FObserver = std::move(observer);
}
