#pragma once
// The host's string object ("ORVOString").

#include "sdk/apiWrappers.h"

#include <mutex>
#include <string>

// Thread-safety: every operation may be called from any thread; Chars() stays valid until the
// next change, as the interface promises, so a reader and a writer on two threads need their
// own agreement.
class TOrvoHostString : public TOrvoInterfaces<TInterfacedObjectEx, IOrvoString> {
public:
    static ComPtr<TOrvoHostString> Create(std::u16string text = {});

    HRESULT ORVO_CALL CharAt(int32_t index, char16_t* ch) override;
    const char16_t* ORVO_CALL Chars() override;
    int32_t ORVO_CALL CharCount() override;
    int32_t ORVO_CALL HashCode() override;
    HRESULT ORVO_CALL SetCharAt(int32_t index, char16_t ch) override;
    HRESULT ORVO_CALL SetChars(const char16_t* chars, int32_t count) override;
    HRESULT ORVO_CALL Append(const char16_t* chars, int32_t count) override;

    std::u16string Text() const;

protected:
    explicit TOrvoHostString(std::u16string text) : FText(std::move(text)) {}
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);

private:
    mutable std::mutex FLock;
    std::u16string FText;
};
