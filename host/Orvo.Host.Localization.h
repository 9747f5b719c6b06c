#pragma once
// The localisation service ("ORVOSrvMUI"): texts by keys such as "Tunedex\T1" from a language
// file, an INI-style text whose sections and names form the keys ("[Tunedex]" + "T1=...").

#include "sdk/apiWrappers.h"

#include <map>
#include <string>
#include <string_view>

// Thread-safety: the texts are fixed at creation, so every operation may run on any thread.
class TOrvoHostLocalization : public TOrvoInterfaces<TInterfacedObjectEx, IOrvoServiceMUI> {
public:
    // The texts of a language file's content (UTF-8, an optional byte-order mark). Lines are
    // "[Section]", "Name=Text", or comments starting with ";"; "\n" in a text stands for a line
    // break. Section and name are matched without regard to ASCII case.
    static ComPtr<TOrvoHostLocalization> Create(std::string_view languageFile);
    // The language file the host ships.
    static ComPtr<TOrvoHostLocalization> CreateDefault();

    // The text for "Section\Name", or empty when there is none.
    std::u16string Text(std::u16string_view key) const;

    HRESULT ORVO_CALL LanguageName(IOrvoString** name) override;
    // E_FAIL when the key has no text.
    HRESULT ORVO_CALL LookupText(IOrvoString* key, IOrvoString** text) override;

protected:
    explicit TOrvoHostLocalization(std::string_view languageFile);
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);

private:
    const std::u16string* Find(std::u16string_view key) const;
    std::map<std::u16string, std::u16string> FTexts; // upper-case "SECTION\NAME" -> text
};
