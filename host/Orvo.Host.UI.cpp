#include "host/Orvo.Host.UI.h"

#include "host/Orvo.Host.String.h"
#include "host/Orvo.Host.UI.TreeList.h"
#include "platform/Platform.Threads.h"

#include <algorithm>

ComPtr<TOrvoHostUI> TOrvoHostUI::Create(TCaptionLookup captions) {
    return MakeInterfaced<TOrvoHostUI>(std::move(captions));
}

std::u16string TOrvoHostUI::LookupCaption(std::u16string_view formName, std::u16string_view name) const {
    if (!FCaptions || formName.empty() || name.empty())
        return {};
    std::u16string key(formName);
    key += u'\\';
    key += name;
    return FCaptions(key);
}

void TOrvoHostUI::FormCreated(TOrvoHostForm* form) {
    FForms.push_back(form);
}

void TOrvoHostUI::FormGone(TOrvoHostForm* form) {
    FForms.erase(std::remove(FForms.begin(), FForms.end(), form), FForms.end());
}

TOrvoHostForm* TOrvoHostUI::FindForm(std::u16string_view name) const {
    for (auto it = FForms.rbegin(); it != FForms.rend(); ++it)
        if ((*it)->Name() == name)
            return *it;
    return nullptr;
}

void TOrvoHostUI::EventFailed(HRESULT result, std::u16string source) {
    FEventFailures.push_back({result, std::move(source)});
}

HRESULT ORVO_CALL TOrvoHostUI::CreateForm(TOrvoUIWindowHandle owner, int32_t flags, IOrvoString* name,
                                          IUnknown* events, IOrvoUIForm** form) {
    if (!form)
        return E_INVALIDARG;
    *form = nullptr;
    if (!platform::IsMainThread())
        return E_FAIL;
    if (flags != 0)
        return E_INVALIDARG;
    try {
        auto made =
            MakeInterfaced<TOrvoHostForm>(*this, owner, FromHostString(name), ComPtr<IUnknown>(events));
        if (std::u16string caption = LookupCaption(made->Name(), u"Caption"); !caption.empty())
            RaiseIfFailed(made->SetValueAsObject(ORVO_UIP_CAPTION, TOrvoHostString::Create(caption).get()));
        *form = ComPtr<IOrvoUIForm>(made.get()).Detach();
        return S_OK;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT ORVO_CALL TOrvoHostUI::CreateControl(IOrvoUIForm* owner, IUnknown* parent, IOrvoString* name,
                                             IUnknown* events, const TGUID& kind, IOrvoUIControl** control) {
    if (!control)
        return E_INVALIDARG;
    *control = nullptr;
    if (!platform::IsMainThread())
        return E_FAIL;
    // Only the model's own forms and windowed controls are parents; anything else is refused
    // before it is cast.
    TOrvoHostForm* form = nullptr;
    for (TOrvoHostForm* f : FForms)
        if (static_cast<IOrvoUIForm*>(f) == owner)
            form = f;
    if (!form || !form->Alive())
        return E_INVALIDARG;
    TOrvoHostControl* host = form;
    if (parent) {
        ComPtr<IOrvoUIWinControl> windowed = QueryAs<IOrvoUIWinControl>(parent);
        host = nullptr;
        if (windowed) {
            if (static_cast<IOrvoUIWinControl*>(form) == windowed.get())
                host = form;
            for (TOrvoHostControl* c : form->AllControls())
                if (auto* w = dynamic_cast<TOrvoHostWinControl*>(c);
                    w && static_cast<IOrvoUIWinControl*>(w) == windowed.get())
                    host = c;
        }
        if (!host)
            return E_INVALIDARG;
    }
    try {
        std::u16string controlName = FromHostString(name);
        ComPtr<IUnknown> handler(events);
        ComPtr<TOrvoHostControl> made;
        if (kind == ORVO_UI_EDIT)
            made = MakeInterfaced<TOrvoHostEdit>(*this, form, host, kind, controlName, handler);
        else if (kind == ORVO_UI_COMBO)
            made = MakeInterfaced<TOrvoHostComboBox>(*this, form, host, kind, controlName, handler);
        else if (kind == ORVO_UI_BUTTON)
            made = MakeInterfaced<TOrvoHostControl>(*this, form, host, kind, controlName, handler);
        else if (kind == ORVO_UI_GROUP_BOX || kind == ORVO_UI_PANEL || kind == ORVO_UI_BRAND_BOX)
            made = MakeInterfaced<TOrvoHostWinControl>(*this, form, host, kind, controlName, handler);
        else if (kind == ORVO_UI_TREE_LIST)
            made = MakeInterfaced<TOrvoHostTreeList>(*this, form, host, kind, controlName, handler);
        else
            return E_INVALIDARG;
        if (std::u16string caption = LookupCaption(form->Name(), controlName); !caption.empty())
            RaiseIfFailed(made->SetValueAsObject(ORVO_UIP_CAPTION, TOrvoHostString::Create(caption).get()));
        host->AddChild(made);
        *control = ComPtr<IOrvoUIControl>(made.get()).Detach();
        return S_OK;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

void TOrvoHostUI::WhenShownModally(std::u16string formName, TModalScript script) {
    FScripts.push_back({std::move(formName), std::move(script)});
}

void TOrvoHostUI::RethrowScriptError() {
    if (std::exception_ptr error = std::exchange(FScriptError, nullptr))
        std::rethrow_exception(error);
}

void TOrvoHostUI::ModalShowing(TOrvoHostForm& form) {
    FModalHistory.push_back(form.Name());
    ComPtr<TOrvoHostForm> keep(&form);
    ComPtr<TOrvoHostUI> self(this);
    auto it = std::find_if(FScripts.begin(), FScripts.end(),
                           [&](const TScript& s) { return s.FormName.empty() || s.FormName == form.Name(); });
    TModalScript script;
    if (it != FScripts.end()) {
        script = std::move(it->Script);
        FScripts.erase(it);
    }
    // Posted, not run here: the script acts once the form waits in its loop, as a person does.
    platform::PostToMainThread([self, keep, script = std::move(script)] { self->RunScript(keep, script); },
                               this);
}

void TOrvoHostUI::RunScript(ComPtr<TOrvoHostForm> form, TModalScript script) {
    if (!form->Alive() || !form->ShowingModally())
        return;
    if (script) {
        try {
            script(*form);
        } catch (...) {
            if (!FScriptError)
                FScriptError = std::current_exception();
        }
    }
    if (form->Alive() && form->ShowingModally())
        form->CloseWith(ORVO_UI_MODAL_CANCEL);
}
