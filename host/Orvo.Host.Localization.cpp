#include "host/Orvo.Host.Localization.h"

#include "host/Orvo.Host.String.h"
#include "sdk/apiWrappers.Streams.h"

ComPtr<TOrvoHostLocalization> TOrvoHostLocalization::Create(std::string_view languageFile) {
    return MakeInterfaced<TOrvoHostLocalization>(languageFile);
}

ComPtr<TOrvoHostLocalization> TOrvoHostLocalization::CreateDefault() {
    const TOrvoResource* file = TOrvoResources::Find(u"english", u"LNG");
    if (!file)
        throw EInvalidOperation(u"The host's language file is missing");
    return Create(std::string_view(reinterpret_cast<const char*>(file->Data), file->Size));
}

TOrvoHostLocalization::TOrvoHostLocalization(std::string_view languageFile) {
    if (languageFile.starts_with("\xEF\xBB\xBF"))
        languageFile.remove_prefix(3);
    std::u16string section;
    for (const std::u16string& rawLine : Split(FromUtf8(languageFile), u"\n")) {
        const std::u16string line = Trim(rawLine);
        if (line.empty() || line[0] == u';')
            continue;
        if (line.front() == u'[') {
            section =
                line.back() == u']' ? AsciiUpper(Trim(line.substr(1, line.size() - 2))) : std::u16string();
            continue;
        }
        const size_t equals = line.find(u'=');
        if (section.empty() || equals == std::u16string::npos)
            continue;
        const std::u16string name = AsciiUpper(Trim(line.substr(0, equals)));
        if (!name.empty())
            FTexts[section + u'\\' + name] = ReplaceAll(Trim(line.substr(equals + 1)), u"\\n", u"\n");
    }
}

const std::u16string* TOrvoHostLocalization::Find(std::u16string_view key) const {
    auto it = FTexts.find(AsciiUpper(key));
    return it == FTexts.end() ? nullptr : &it->second;
}

std::u16string TOrvoHostLocalization::Text(std::u16string_view key) const {
    const std::u16string* text = Find(key);
    return text ? *text : std::u16string();
}

HRESULT ORVO_CALL TOrvoHostLocalization::LanguageName(IOrvoString** name) {
    if (!name)
        return E_INVALIDARG;
    try {
        *name = TOrvoHostString::Create(Text(u"Language\\Name")).Detach();
        return S_OK;
    } catch (...) {
        *name = nullptr;
        return E_UNEXPECTED;
    }
}

HRESULT ORVO_CALL TOrvoHostLocalization::LookupText(IOrvoString* key, IOrvoString** text) {
    if (!key || !text)
        return E_INVALIDARG;
    *text = nullptr;
    try {
        const std::u16string* found = Find(FromHostString(key));
        if (!found)
            return E_FAIL;
        *text = TOrvoHostString::Create(*found).Detach();
        return S_OK;
    } catch (...) {
        return E_UNEXPECTED;
    }
}
