#pragma once
// The message dialog service ("auiMsgDlg"). Nobody sits at the reference host's screen: a message
// is recorded, handed to an observer (the command line prints it on the error stream), and
// answered with the dialog's default button, as by a person pressing Enter.
//
// Thread-safety: every operation may be called from any thread; the observer runs on the caller's.

#include "sdk/api/OrvoAPI.UI.h"
#include "sdk/apiWrappers.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct TOrvoHostMessage {
    TOrvoUIWindowHandle Owner = 0;
    std::u16string Caption;
    std::u16string Text;
    int32_t Flags = 0;
};

class TOrvoHostMessageDialog : public TOrvoInterfaces<TInterfacedObjectEx, IOrvoUIMessageDialog> {
public:
    using TObserver = std::function<void(const TOrvoHostMessage& message)>;

    static ComPtr<TOrvoHostMessageDialog> Create(TObserver observer = {});

    HRESULT ORVO_CALL Execute(TOrvoUIWindowHandle owner, IOrvoString* caption, IOrvoString* text,
                              int32_t flags, int32_t* result) override;

    // The messages shown so far, in order.
    std::vector<TOrvoHostMessage> Messages() const;
    void ClearMessages();
    void SetObserver(TObserver observer);
    // The answer of the default button of a flags value's button set.
    static int32_t DefaultAnswer(int32_t flags);

protected:
    explicit TOrvoHostMessageDialog(TObserver observer) : FObserver(std::move(observer)) {}
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);

private:
    mutable std::mutex FLock;
    std::vector<TOrvoHostMessage> FMessages;
    TObserver FObserver;
};
