#include "host/Orvo.Host.String.h"

ComPtr<TOrvoHostString> TOrvoHostString::Create(std::u16string text) {
    return MakeInterfaced<TOrvoHostString>(std::move(text));
}

HRESULT ORVO_CALL TOrvoHostString::CharAt(int32_t index, char16_t* ch) {
    std::lock_guard lock(FLock);
    if (!ch || index < 0 || size_t(index) >= FText.size())
        return E_INVALIDARG;
    *ch = FText[size_t(index)];
    return S_OK;
}

const char16_t* ORVO_CALL TOrvoHostString::Chars() {
    std::lock_guard lock(FLock);
    return FText.c_str();
}

int32_t ORVO_CALL TOrvoHostString::CharCount() {
    std::lock_guard lock(FLock);
    return int32_t(FText.size());
}

int32_t ORVO_CALL TOrvoHostString::HashCode() {
    std::lock_guard lock(FLock);
    uint32_t hash = 2166136261u; // FNV-1a over the code units
    for (char16_t c : FText)
        hash = (hash ^ c) * 16777619u;
    return int32_t(hash);
}

HRESULT ORVO_CALL TOrvoHostString::SetCharAt(int32_t index, char16_t ch) {
    std::lock_guard lock(FLock);
    if (index < 0 || size_t(index) >= FText.size())
        return E_INVALIDARG;
    FText[size_t(index)] = ch;
    return S_OK;
}

HRESULT ORVO_CALL TOrvoHostString::SetChars(const char16_t* chars, int32_t count) {
    if (count < 0 || (count > 0 && !chars))
        return E_INVALIDARG;
    std::u16string text(chars ? chars : u"", size_t(count));
    std::lock_guard lock(FLock);
    FText.swap(text);
    return S_OK;
}

HRESULT ORVO_CALL TOrvoHostString::Append(const char16_t* chars, int32_t count) {
    if (count < 0 || (count > 0 && !chars))
        return E_INVALIDARG;
    std::lock_guard lock(FLock);
    FText.append(chars ? chars : u"", size_t(count));
    return S_OK;
}

std::u16string TOrvoHostString::Text() const {
    std::lock_guard lock(FLock);
    return FText;
}
