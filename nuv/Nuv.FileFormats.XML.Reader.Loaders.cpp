#include "nuv/Nuv.FileFormats.XML.Reader.h"

TNuvXMLNodeLoader::~TNuvXMLNodeLoader() = default;
void TNuvXMLNodeLoader::OnBegin(void*&) {}
void TNuvXMLNodeLoader::OnAttributes(void*, TNuvXMLTextReader&) {}
void TNuvXMLNodeLoader::OnText(void*, TNuvXMLTextReader&) {}
void TNuvXMLNodeLoader::OnEnd(void*) {}

TNuvXMLNodeLoaders& TNuvXMLNodeLoader::ChildLoaders() {
    if (!FLoaders)
        FLoaders = std::make_unique<TNuvXMLNodeLoaders>(FNames);
    return *FLoaders;
}

void TNuvXMLCallbackLoader::OnAttributes(void* context, TNuvXMLTextReader& reader) {
    if (FOnAttributes)
        FOnAttributes(context, reader);
}

void TNuvXMLCallbackLoader::OnText(void* context, TNuvXMLTextReader& reader) {
    if (FOnText)
        FOnText(context, reader.GetValue());
}

// ---------------------------------------------------------------------------------------------

TNuvXMLNodeLoaders::~TNuvXMLNodeLoaders() {
    for (auto& holder : FHolders)
        delete holder->Instance.load();
    if (FDefaultOwned)
        delete FDefault.Instance.load();
}

TNuvXMLNodeLoaders::THolder& TNuvXMLNodeLoaders::Add(std::u16string_view name,
                                                     const TNuvXMLNodeLoaderClass& cls) {
    auto holder = std::make_unique<THolder>();
    holder->Name = &FNames.Add(name);
    holder->Class = &cls;
    FHolders.push_back(std::move(holder));
    return *FHolders.back();
}

TNuvXMLNodeLoaders::THolder& TNuvXMLNodeLoaders::Add(std::u16string_view prefix,
                                                     std::u16string_view localName,
                                                     const TNuvXMLNodeLoaderClass& cls) {
    std::u16string name(prefix);
    name += u':';
    name += localName;
    return Add(name, cls);
}

TNuvXMLNodeLoaders::THolder& TNuvXMLNodeLoaders::Add(std::u16string_view name,
                                                     std::unique_ptr<TNuvXMLNodeLoader> loader) {
    auto holder = std::make_unique<THolder>();
    holder->Name = &FNames.Add(name);
    holder->Instance = loader.release();
    FHolders.push_back(std::move(holder));
    return *FHolders.back();
}

TNuvXMLNodeLoaders::THolder& TNuvXMLNodeLoaders::AddText(std::u16string_view name,
                                                         TNuvXMLTextCallback onText) {
    return Add(name, std::make_unique<TNuvXMLCallbackLoader>(FNames, nullptr, std::move(onText)));
}

TNuvXMLNodeLoaders::THolder& TNuvXMLNodeLoaders::AddText(std::u16string_view prefix,
                                                         std::u16string_view localName,
                                                         TNuvXMLTextCallback onText) {
    std::u16string name(prefix);
    name += u':';
    name += localName;
    return AddText(name, std::move(onText));
}

TNuvXMLNodeLoaders::THolder& TNuvXMLNodeLoaders::AddAttributes(std::u16string_view name,
                                                               TNuvXMLAttributesCallback onAttributes) {
    return Add(name, std::make_unique<TNuvXMLCallbackLoader>(FNames, std::move(onAttributes), nullptr));
}

void TNuvXMLNodeLoaders::SetDefault(const TNuvXMLNodeLoaderClass& cls) {
    TNuvXMLNodeLoader* old = FDefault.Instance.exchange(nullptr);
    if (FDefaultOwned)
        delete old;
    FDefaultOwned = true;
    FDefault.Class = &cls;
}

void TNuvXMLNodeLoaders::SetDefault(TNuvXMLNodeLoader& loader) {
    TNuvXMLNodeLoader* old = FDefault.Instance.exchange(&loader);
    if (FDefaultOwned)
        delete old;
    FDefaultOwned = false;
    FDefault.Class = nullptr;
}

void TNuvXMLNodeLoaders::SetDefault(std::unique_ptr<TNuvXMLNodeLoader> loader) {
    TNuvXMLNodeLoader* old = FDefault.Instance.exchange(loader.release());
    if (FDefaultOwned)
        delete old;
    FDefaultOwned = true;
    FDefault.Class = nullptr;
}

void TNuvXMLNodeLoaders::SetCapacity(int32_t delta) {
    if (delta > 0 && FHolders.capacity() < FHolders.size() + size_t(delta))
        FHolders.reserve(FHolders.size() + size_t(delta));
}

TNuvXMLNodeLoader* TNuvXMLNodeLoaders::Instance(THolder& holder, TNuvXMLNameTable& names) {
    TNuvXMLNodeLoader* instance = holder.Instance.load(std::memory_order_acquire);
    if (instance || !holder.Class)
        return instance;
    std::unique_ptr<TNuvXMLNodeLoader> made = holder.Class->Create(names);
    if (holder.Instance.compare_exchange_strong(instance, made.get(), std::memory_order_acq_rel))
        return made.release();
    return instance; // another thread was first; ours goes
}

TNuvXMLNodeLoader* TNuvXMLNodeLoaders::Find(TNuvXMLTextReader& reader, const std::u16string& name) {
    TNuvXMLNodeLoaders* table = this;
    const std::u16string* atom = &name;
    for (;;) {
        THolder* holder = nullptr;
        for (auto it = table->FHolders.rbegin(); it != table->FHolders.rend(); ++it)
            if ((*it)->Name == atom) {
                holder = it->get();
                break;
            }
        if (!holder)
            holder = &table->FDefault;
        TNuvXMLNodeLoader* loader = Instance(*holder, table->FNames);
        if (!loader || loader->AttributeSelector().empty())
            return loader;
        std::u16string value;
        if (!loader->Loaders() || !reader.TryGetAttribute(loader->AttributeSelector(), value))
            return nullptr;
        table = loader->Loaders();
        atom = &table->FNames.Add(value);
    }
}

// ---------------------------------------------------------------------------------------------

TNuvXMLDocumentLoader::TNuvXMLDocumentLoader() : FLoaders(FNames) {
    FSettings.SkipComments = true;
    FSettings.SkipWhitespace = true;
    FSettings.NameTable = &FNames;
}

void TNuvXMLDocumentLoader::Load(void* context, TNuvStream& stream, std::u16string* stoppedAt) {
    if (stream.Position() >= stream.Size())
        return;
    TNuvXMLTextReader reader(FSettings, &stream);
    struct TLevel {
        TNuvXMLNodeLoader* Loader;
        void* Context;
    };
    std::vector<TLevel> stack;
    stack.reserve(16);
    TNuvXMLNodeLoader* current = nullptr;
    void* currentContext = context;
    for (;;) {
        try {
            if (!reader.Read())
                break;
        } catch (const Exception& e) {
            // Malformed input ends the load quietly; what was delivered stays delivered.
            if (stoppedAt)
                *stoppedAt = e.Message();
            break;
        } catch (...) {
            break;
        }
        switch (reader.NodeType()) {
        case TNuvXMLNodeType::Element: {
            const bool empty = reader.IsEmptyElement();
            TNuvXMLNodeLoader* loader = nullptr;
            if (stack.empty())
                loader = FLoaders.Find(reader, reader.QualifiedName());
            else if (current && current->Loaders())
                loader = current->Loaders()->Find(reader, reader.QualifiedName());
            void* newContext = currentContext;
            if (loader) {
                loader->OnBegin(newContext);
                loader->OnAttributes(newContext, reader);
            }
            if (!empty) {
                stack.push_back({current, currentContext});
                current = loader;
                currentContext = newContext;
            } else if (loader)
                loader->OnEnd(newContext);
            break;
        }
        case TNuvXMLNodeType::Text:
        case TNuvXMLNodeType::CDATA:
        case TNuvXMLNodeType::SignificantWhitespace:
            if (current)
                current->OnText(currentContext, reader);
            break;
        case TNuvXMLNodeType::EndElement:
            if (!stack.empty()) {
                if (current)
                    current->OnEnd(currentContext);
                current = stack.back().Loader;
                currentContext = stack.back().Context;
                stack.pop_back();
            }
            break;
        default:
            break;
        }
    }
}
