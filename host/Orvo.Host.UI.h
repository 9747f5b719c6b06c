#pragma once
// The user-interface service ("ORVOServiceUI"): makes the forms and controls of the in-memory
// model, keeps the live forms, hands out window handles, takes captions from the language file,
// and runs the scripts that act on a form while it is shown modally.
//
// Thread-safety: main thread only, like the forms; references may be released anywhere.

#include "host/Orvo.Host.UI.Controls.h"

#include <deque>
#include <exception>
#include <functional>
#include <string>
#include <vector>

class TOrvoHostUI : public TOrvoInterfaces<TInterfacedObjectEx, IOrvoServiceUI> {
public:
    // The caption of "<form name>\<control name>" or "<form name>\Caption", empty when none.
    using TCaptionLookup = std::function<std::u16string(std::u16string_view key)>;
    // What a person does with a form shown modally.
    using TModalScript = std::function<void(TOrvoHostForm& form)>;

    static ComPtr<TOrvoHostUI> Create(TCaptionLookup captions = {});

    HRESULT ORVO_CALL CreateControl(IOrvoUIForm* owner, IUnknown* parent, IOrvoString* name, IUnknown* events,
                                    const TGUID& kind, IOrvoUIControl** control) override;
    HRESULT ORVO_CALL CreateForm(TOrvoUIWindowHandle owner, int32_t flags, IOrvoString* name,
                                 IUnknown* events, IOrvoUIForm** form) override;

    // ---- the host's side

    // The live forms in creation order (shown or not).
    std::vector<TOrvoHostForm*> Forms() const { return FForms; }
    // The last live form of that name, or null.
    TOrvoHostForm* FindForm(std::u16string_view name) const;
    // Names of the forms shown modally so far, in order.
    const std::vector<std::u16string>& ModalHistory() const { return FModalHistory; }

    // Queues a script for the next modal showing of a form of that name (empty: any form); scripts
    // for one name run in the order queued, one per showing. The script runs inside the form's
    // modal loop, as a person acts while the form waits; when it returns with the form still
    // shown, the form is closed as its close box does. A form shown modally with no script
    // waiting is closed at once, as by a person who does not want it. An error the script raises
    // closes the form and is kept for RethrowScriptError; it never reaches the plug-in.
    void WhenShownModally(std::u16string formName, TModalScript script);
    // Scripts queued and not yet run.
    size_t PendingScripts() const { return FScripts.size(); }
    // Raises the first error a script raised since the last call, if any, and forgets it.
    void RethrowScriptError();

    // Failed events: the handler's result and what raised it, in order.
    struct TEventFailure {
        HRESULT Result;
        std::u16string Source;
    };
    const std::vector<TEventFailure>& EventFailures() const { return FEventFailures; }

    // ---- for the model
    TOrvoUIWindowHandle NewWindowHandle() { return FNextHandle++; }
    std::u16string LookupCaption(std::u16string_view formName, std::u16string_view name) const;
    void FormCreated(TOrvoHostForm* form);
    void FormGone(TOrvoHostForm* form);
    // Called by ShowModal before its loop: arranges for the script of that form to run.
    void ModalShowing(TOrvoHostForm& form);
    void EventFailed(HRESULT result, std::u16string source);

protected:
    explicit TOrvoHostUI(TCaptionLookup captions) : FCaptions(std::move(captions)) {}
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);

private:
    struct TScript {
        std::u16string FormName;
        TModalScript Script;
    };
    void RunScript(ComPtr<TOrvoHostForm> form, TModalScript script);

    TCaptionLookup FCaptions;
    std::vector<TOrvoHostForm*> FForms;
    std::deque<TScript> FScripts;
    std::vector<std::u16string> FModalHistory;
    std::vector<TEventFailure> FEventFailures;
    std::exception_ptr FScriptError;
    TOrvoUIWindowHandle FNextHandle = 0x20000;
};
