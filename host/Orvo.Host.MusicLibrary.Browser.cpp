#include "host/Orvo.Host.MusicLibrary.Browser.h"

#include "host/Orvo.Host.Cli.Text.h"
#include "host/Orvo.Host.Core.h"
#include "host/Orvo.Host.h"
#include "nuv/Nuv.Streams.h"
#include "nuv/Nuv.Web.Http.h"
#include "sdk/api/OrvoAPI.UI.h"
#include "sdk/apiWrappers.Streams.h"

#include <algorithm>
#include <optional>
#include <ostream>

// ---- TOrvoHostMLStorageManager

ComPtr<TOrvoHostMLStorageManager> TOrvoHostMLStorageManager::Create() {
    return MakeInterfaced<TOrvoHostMLStorageManager>();
}

HRESULT ORVO_CALL TOrvoHostMLStorageManager::ShowBackgroundTask(int32_t taskId, IOrvoString* caption,
                                                                IUnknown* cancelEvent) {
    TShownTask task{taskId, caption, cancelEvent};
    std::function<void()> observer;
    {
        std::lock_guard guard(FLock);
        ++FShown;
        auto it =
            std::find_if(FTasks.begin(), FTasks.end(), [&](const TShownTask& t) { return t.ID == taskId; });
        if (it != FTasks.end())
            std::swap(*it, task); // the replaced references go after the lock, with `task`
        else
            FTasks.push_back(std::move(task));
        observer = FObserver;
    }
    if (observer)
        observer();
    return S_OK;
}

HRESULT ORVO_CALL TOrvoHostMLStorageManager::HideBackgroundTask(int32_t taskId) {
    std::function<void()> observer;
    {
        std::lock_guard guard(FLock);
        observer = FObserver;
    }
    // The task as it ends, before it goes.
    if (observer)
        observer();
    std::vector<TShownTask> hidden;
    std::lock_guard guard(FLock);
    auto it = std::stable_partition(FTasks.begin(), FTasks.end(),
                                    [&](const TShownTask& t) { return t.ID != taskId; });
    std::move(it, FTasks.end(), std::back_inserter(hidden));
    FTasks.erase(it, FTasks.end());
    return S_OK;
}

void TOrvoHostMLStorageManager::SetTaskObserver(std::function<void()> observer) {
    std::lock_guard guard(FLock);
    FObserver = std::move(observer);
}

HRESULT ORVO_CALL TOrvoHostMLStorageManager::ReloadData() {
    std::lock_guard guard(FLock);
    ++FReloads;
    return S_OK;
}

std::vector<TOrvoHostMLTask> TOrvoHostMLStorageManager::Tasks() const {
    std::vector<TShownTask> shown;
    {
        std::lock_guard guard(FLock);
        shown = FTasks;
    }
    std::vector<TOrvoHostMLTask> tasks;
    for (const TShownTask& task : shown)
        tasks.push_back({task.ID, FromHostString(task.Caption)});
    return tasks;
}

bool TOrvoHostMLStorageManager::HasTasks() const {
    std::lock_guard guard(FLock);
    return !FTasks.empty();
}

bool TOrvoHostMLStorageManager::CancelTask(int32_t taskId) {
    ComPtr<IUnknown> cancel;
    {
        std::lock_guard guard(FLock);
        for (const TShownTask& task : FTasks)
            if (task.ID == taskId)
                cancel = task.CancelEvent;
    }
    ComPtr<IOrvoActionEvent> action = cancel.As<IOrvoActionEvent>();
    if (!action)
        return false;
    action->Execute(nullptr);
    return true;
}

int64_t TOrvoHostMLStorageManager::ReloadRequests() const {
    std::lock_guard guard(FLock);
    return FReloads;
}

int64_t TOrvoHostMLStorageManager::TasksShown() const {
    std::lock_guard guard(FLock);
    return FShown;
}

// ---- TOrvoHostTaskDisplay

void TOrvoHostTaskDisplay::Show(const std::vector<TOrvoHostMLTask>& tasks) {
    if (!FTerminal)
        return;
    std::u16string line;
    for (const TOrvoHostMLTask& task : tasks)
        line += (line.empty() ? u"" : u" | ") + task.Caption;
    const std::string text = TerminalText(line);
    if (text == FShown)
        return;
    if (text.empty()) {
        Clear();
        return;
    }
    // Return to the line's start and blank what the previous text left beyond the new one.
    FOut << '\r' << text;
    if (FShown.size() > text.size())
        FOut << std::string(FShown.size() - text.size(), ' ') << '\r' << text;
    FOut.flush();
    FShown = text;
}

void TOrvoHostTaskDisplay::Clear() {
    if (!FTerminal || FShown.empty())
        return;
    FOut << '\r' << std::string(FShown.size(), ' ') << '\r';
    FOut.flush();
    FShown.clear();
}

// ---- TOrvoHostTaskLog

namespace {

// A size as the storage writes it: a number with a decimal point or comma, a space, a unit.
std::optional<double> ParseSize(std::u16string_view text) {
    const size_t space = text.rfind(u' ');
    if (space == text.npos)
        return std::nullopt;
    const std::u16string_view unit = text.substr(space + 1);
    double scale = 0;
    if (unit == u"B")
        scale = 1;
    else if (unit == u"KB")
        scale = 1024.0;
    else if (unit == u"MB")
        scale = 1024.0 * 1024;
    else if (unit == u"GB")
        scale = 1024.0 * 1024 * 1024;
    std::string number;
    for (const char16_t c : text.substr(0, space)) {
        if (c >= u'0' && c <= u'9')
            number += char(c);
        else if (c == u'.' || c == u',')
            number += '.';
        else
            return std::nullopt;
    }
    if (scale == 0 || number.empty() || number.front() == '.')
        return std::nullopt;
    return std::stod(number) * scale;
}

} // namespace

TOrvoHostTaskProgress ParseTaskCaption(const std::u16string& caption) {
    // "WORDS RECEIVED/TOTAL" or "WORDS RECEIVED": the sizes are the last two words on each side.
    TOrvoHostTaskProgress progress{caption, std::nullopt, std::nullopt};
    const auto lastSize = [](std::u16string_view text, size_t& start) -> std::optional<double> {
        const size_t unitSpace = text.rfind(u' ');
        if (unitSpace == text.npos || unitSpace == 0)
            return std::nullopt;
        const size_t numberSpace = text.rfind(u' ', unitSpace - 1);
        start = numberSpace == text.npos ? 0 : numberSpace + 1;
        return ParseSize(text.substr(start));
    };
    size_t start = 0;
    if (const size_t slash = caption.rfind(u'/'); slash != caption.npos) {
        size_t totalStart = 0;
        progress.Total = lastSize(std::u16string_view(caption).substr(slash + 1), totalStart);
        if (progress.Total && totalStart == 0 &&
            (progress.Received = lastSize(std::u16string_view(caption).substr(0, slash), start)))
            progress.Words = caption.substr(0, start);
        else
            progress.Total.reset();
    }
    if (!progress.Total && (progress.Received = lastSize(caption, start)))
        progress.Words = caption.substr(0, start);
    return progress;
}

void TOrvoHostTaskLog::Show(const std::u16string& caption) {
    if (caption == FShown)
        return;
    FShown = caption;
    const TOrvoHostTaskProgress progress = ParseTaskCaption(caption);
    const std::u16string& words = progress.Words;
    const std::optional<double>& received = progress.Received;
    const std::optional<double>& total = progress.Total;

    const auto now = std::chrono::steady_clock::now();
    const int step = total && *total > 0 ? int(std::min(1.0, *received / *total) * 20) : -1;
    bool write = words != FWords;
    if (!write && total)
        write = step != FStep;
    else if (!write && received)
        write = now - FWritten >= FInterval;
    if (!write)
        return;
    FWords = words;
    FStep = step;
    FWritten = now;
    FOut << TerminalText(caption) << '\n' << std::flush;
}

// ---- TOrvoHostMLAlbumArtRequest

ComPtr<TOrvoHostMLAlbumArtRequest> TOrvoHostMLAlbumArtRequest::Create() {
    return MakeInterfaced<TOrvoHostMLAlbumArtRequest>();
}

HRESULT ORVO_CALL TOrvoHostMLAlbumArtRequest::FetchImage(IOrvoString* address, IUnknown** image) {
    if (!image)
        return E_INVALIDARG;
    *image = nullptr;
    try {
        const std::u16string url = FromHostString(address);
        if (!StartsTextAscii(u"http://", url) && !StartsTextAscii(u"https://", url))
            return E_INVALIDARG;
        auto bytes = std::make_unique<TNuvMemoryStream>();
        TNuvMemoryStream& sink = *bytes;
        // The length a server announces is refused up front; one that sends none is stopped
        // once the body passes the limit.
        const TNuvWebErrorInfo outcome = TNuvHttp::Get(url)
                                             ->OnAccept(MaxImageSize)
                                             .OnData([&sink](const void* buffer, int64_t count) {
                                                 if (sink.Size() + count > MaxImageSize)
                                                     return false;
                                                 sink.Write(buffer, count);
                                                 return true;
                                             })
                                             .RunInCurrentThread();
        if (outcome.ErrorCode != 0 || sink.Size() == 0)
            return E_FAIL;
        bytes->Seek(0, TNuvSeekOrigin::Begin);
        *image = TOrvoStreamAdapter::Create(std::move(bytes)).As<IUnknown>().Detach();
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

// ---- links

std::u16string PlainLinkText(std::u16string_view text, std::vector<TOrvoHostMLLink>* links) {
    static constexpr std::u16string_view open = u"[url=", close = u"[/url]";
    std::u16string plain;
    size_t at = 0;
    for (;;) {
        const size_t start = text.find(open, at);
        const size_t endOfAddress = start == text.npos ? text.npos : text.find(u']', start);
        const size_t end = endOfAddress == text.npos ? text.npos : text.find(close, endOfAddress);
        if (end == text.npos) {
            plain += text.substr(at);
            return plain;
        }
        plain += text.substr(at, start - at);
        const std::u16string_view caption = text.substr(endOfAddress + 1, end - endOfAddress - 1);
        plain += caption;
        if (links)
            links->push_back(
                {std::u16string(text.substr(start + open.size(), endOfAddress - start - open.size())),
                 std::u16string(caption)});
        at = end + close.size();
    }
}

// ---- TOrvoHostMLBrowser

TOrvoHostMLBrowser::TOrvoHostMLBrowser(TOrvoHostCore& core) : FManager(TOrvoHostMLStorageManager::Create()) {
    for (const auto& extension : core.Extensions(IOrvoServiceMusicLibrary::IID))
        if (Succeeded(extension->QueryInterface(IOrvoMLExtensionDataStorage::IID, FStorage.put_void())))
            break;
    if (!FStorage)
        throw EInvalidOperation(u"The plug-in registered no music library storage");
    RaiseIfFailed(FStorage->Initialize(FManager.get()), u"The storage refused to attach (%d)");
}

TOrvoHostMLBrowser::~TOrvoHostMLBrowser() {
    FStorage->Finalize();
}

std::u16string TOrvoHostMLBrowser::StorageName() const {
    return ReadTextProp(FStorage.get(), ORVO_ML_STORAGE_CAPTION);
}

std::vector<TOrvoHostMLField> TOrvoHostMLBrowser::Fields() const {
    ComPtr<IOrvoObjectList> list;
    RaiseIfFailed(FStorage->ListFields(ORVO_ML_SCHEMA_FIELDS, list.put()),
                  u"The storage did not list its fields (%d)");
    std::vector<TOrvoHostMLField> fields;
    for (int32_t i = 0; list && i < list->Count(); ++i) {
        ComPtr<IOrvoMLDataField> field;
        if (Failed(list->Get(i, IOrvoMLDataField::IID, field.put_void())))
            continue;
        fields.push_back({ReadTextProp(field.get(), ORVO_ML_FIELD_NAME),
                          ReadIntProp(field.get(), ORVO_ML_FIELD_TYPE),
                          ReadIntProp(field.get(), ORVO_ML_FIELD_FLAGS)});
    }
    return fields;
}

TOrvoHostMLResult TOrvoHostMLBrowser::Query(const TOrvoHostMLRequest& request) {
    auto provider = ComPtr<IUnknown>(FStorage).As<IOrvoMLDataProvider>();
    if (!provider)
        throw EInvalidOperation(u"The storage offers no rows");
    const TOrvoHostMLQuery query = BuildMLQuery(request);
    FLastRequest = request;
    FAsked = true;
    FReloadsSeen = FManager->ReloadRequests();

    ComPtr<IUnknown> data;
    RaiseIfFailed(provider->QueryRows(query.Fields.get(), query.Filter.get(), data.put()),
                  u"The storage could not answer the request (%d)");
    TOrvoHostMLResult result;
    result.Fields = request.Fields;
    if (auto text = data.As<IOrvoString>()) {
        result.IsText = true;
        result.Text = FromHostString(text);
        return result;
    }
    // No selection: the request selected no rows.
    auto selection = data.As<IOrvoMLDataProviderSelection>();
    if (!selection)
        return result;
    const int32_t columns = int32_t(request.Fields.size());
    do {
        std::vector<std::u16string>& row = result.Rows.emplace_back();
        for (int32_t column = 0; column < columns; ++column) {
            int32_t length = 0;
            const char16_t* chars = selection->GetValueAsString(column, &length);
            row.emplace_back(chars && length > 0 ? std::u16string(chars, size_t(length)) : std::u16string());
        }
    } while (selection->NextRow());
    return result;
}

int64_t TOrvoHostMLBrowser::Count(TOrvoHostMLRequest request) {
    auto provider = ComPtr<IUnknown>(FStorage).As<IOrvoMLDataProvider>();
    if (!provider)
        throw EInvalidOperation(u"The storage offers no rows");
    request.Offset = 0;
    request.Limit = 0;
    request.Sort.clear();
    const TOrvoHostMLQuery query = BuildMLQuery(request);
    ComPtr<IUnknown> data;
    RaiseIfFailed(provider->QueryRows(query.Fields.get(), query.Filter.get(), data.put()),
                  u"The storage could not answer the request (%d)");
    // Only the cursor's steps: no value is read.
    auto selection = data.As<IOrvoMLDataProviderSelection>();
    if (!selection)
        return 0;
    int64_t rows = 1;
    while (selection->NextRow())
        ++rows;
    return rows;
}

bool TOrvoHostMLBrowser::ReloadIfAsked(TOrvoHostMLResult& result) {
    if (!FAsked || FManager->ReloadRequests() == FReloadsSeen)
        return false;
    result = Query(FLastRequest);
    return true;
}

std::string TOrvoHostMLBrowser::FetchAlbumArt(const std::vector<std::u16string>& fieldNames,
                                              const std::vector<std::u16string>& fieldValues) {
    auto art = ComPtr<IUnknown>(FStorage).As<IOrvoMLAlbumArtProvider2>();
    if (!art)
        return {};
    auto names = TOrvoHostObjectList::Create();
    std::vector<ComPtr<TOrvoHostString>> texts;
    std::vector<TOrvoVariant> values;
    for (size_t i = 0; i < fieldNames.size(); ++i) {
        RaiseIfFailed(names->Add(TOrvoHostString::Create(fieldNames[i]).get()));
        TOrvoVariant value{};
        if (i < fieldValues.size()) {
            texts.push_back(TOrvoHostString::Create(fieldValues[i]));
            value.Kind = TOrvoVariant::Text;
            value.AsText = texts.back().get();
        }
        values.push_back(value);
    }
    const TOrvoVariantArray array{values.data(), int32_t(values.size())};
    auto request = TOrvoHostMLAlbumArtRequest::Create();
    ComPtr<IUnknown> image;
    if (Failed(art->FetchAlbumArt(names.get(), &array, request.get(), image.put())))
        return {};
    auto stream = image.As<IOrvoStream>();
    std::string bytes;
    if (!stream)
        return bytes;
    uint8_t buffer[8192];
    for (int32_t read; (read = stream->Read(buffer, sizeof buffer)) > 0;)
        bytes.append(reinterpret_cast<const char*>(buffer), size_t(read));
    return bytes;
}

bool TOrvoHostMLBrowser::WaitForTasks(TOrvoHost& host, TOrvoHostTaskDisplay& display, uint32_t timeoutMs,
                                      int64_t shownBefore) {
    const bool ended = host.RunUntil(
        [&] {
            display.Show(FManager->Tasks());
            return FManager->TasksShown() > shownBefore && !FManager->HasTasks();
        },
        timeoutMs);
    display.Clear();
    return ended;
}
