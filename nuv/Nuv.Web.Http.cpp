#include "nuv/Nuv.Web.Http.h"

#include "nuv/Nuv.Streams.h"
#include "nuv/Nuv.Strings.h"
#include "nuv/Nuv.Web.Http.Transport.h"

#include <algorithm>

using namespace nuv::detail;

// ---- what the transports share

std::u16string_view nuv::detail::HeaderName(std::u16string_view line) {
    const size_t colon = line.find(u':');
    std::u16string_view name = line.substr(0, colon);
    while (!name.empty() && name.back() <= u' ')
        name.remove_suffix(1);
    while (!name.empty() && name.front() <= u' ')
        name.remove_prefix(1);
    return name;
}

bool nuv::detail::HasHeader(const std::vector<std::u16string>& headers, std::u16string_view name) {
    return std::any_of(headers.begin(), headers.end(),
                       [&](const std::u16string& line) { return SameTextAscii(HeaderName(line), name); });
}

std::string nuv::detail::EncodePath(std::u16string_view path) {
    const std::string target = PercentEncode(path, [](unsigned char c) {
        return c > 0x20 && c < 0x7F && c != '"' && c != '<' && c != '>' && c != '\\' && c != '^' &&
               c != '`' && c != '{' && c != '|' && c != '}';
    });
    return target.empty() ? "/" : target;
}

int64_t nuv::detail::ParseLength(std::u16string_view text) {
    const std::u16string digits = Trim(text);
    int64_t value = 0;
    if (digits.empty())
        return 0;
    for (const char16_t c : digits) {
        if (c < u'0' || c > u'9' || value > (INT64_MAX - 9) / 10)
            return 0;
        value = value * 10 + (c - u'0');
    }
    return value;
}

std::vector<std::pair<std::u16string, std::u16string>> nuv::detail::CookiePairs(std::u16string_view value) {
    std::vector<std::pair<std::u16string, std::u16string>> pairs;
    for (const std::u16string& pair : Split(value, u";")) {
        const std::u16string item = Trim(pair);
        const size_t eq = item.find(u'=');
        if (item.empty() || eq == 0)
            continue;
        std::u16string name = Trim(std::u16string_view(item).substr(0, eq));
        std::u16string text =
            eq == item.npos ? std::u16string() : Trim(std::u16string_view(item).substr(eq + 1));
        if ((name + text).find_first_of(u"\t\r\n") != std::u16string::npos)
            continue;
        pairs.emplace_back(std::move(name), std::move(text));
    }
    return pairs;
}

void nuv::detail::PrepareHeaderLines(
    std::vector<std::u16string>& headers, const std::u16string& host,
    const std::function<void(std::u16string_view cookieValue)>& storeCookies) {
    for (size_t i = headers.size(); i-- > 0;) {
        const std::u16string_view line = headers[i];
        const size_t colon = line.find(u':');
        if (colon != line.npos && line.substr(0, colon) == u"Cookie") {
            storeCookies(line.substr(colon + 1));
            headers.erase(headers.begin() + ptrdiff_t(i));
        }
    }
    headers.insert(headers.begin(), u"Host: " + host);
}

void nuv::detail::RaiseInternal(std::u16string_view what) {
    throw EHttpWin32Error(woInternalFailure, Format(u"Internal connection error (%s)", what));
}

EHttpWin32Error nuv::detail::TimeoutError(int32_t code, uint32_t timeoutMs) {
    return EHttpWin32Error(code,
                           Format(u"Operation timed out: no data for %d milliseconds", int64_t(timeoutMs)));
}

// ---- THttpConnection

void THttpConnection::Request(THttpResponse& response, const std::u16string& method,
                              const INuvWebRequestRange* range, TNuvStream* body,
                              bool ignoreCertificateErrors, const THttpAcceptProc& accept,
                              const THttpProgressProc& progress, const THttpDataProc& data) {
    // Lines carried by the address come first and win over the defaults below.
    std::vector<std::u16string> headers;
    for (std::u16string_view line : Split(FURL.CustomHeaders, u"\n")) {
        if (!line.empty() && line.back() == u'\r')
            line.remove_suffix(1);
        const size_t colon = line.find(u':');
        if (colon == line.npos || HeaderName(line).empty())
            continue;
        headers.push_back(std::u16string(HeaderName(line)) + u": " + Trim(line.substr(colon + 1)));
    }
    auto addDefault = [&](std::u16string_view name, std::u16string_view value) {
        if (!HasHeader(headers, name))
            headers.push_back(std::u16string(name) + u": " + std::u16string(value));
    };
    addDefault(u"User-Agent", TNuvWebSettings::UserAgent());
    addDefault(u"Connection", u"keep-alive");
    addDefault(u"Keep-Alive", u"300");
    if (SameTextAscii(method, u"POST"))
        addDefault(u"Content-Type", u"application/x-www-form-urlencoded");
    if (range && (range->Offset() >= 1 || range->Size() >= 1)) {
        std::u16string value = u"bytes=" + IntToStr(range->Offset()) + u"-";
        if (range->Size() >= 0)
            value += IntToStr(range->Offset() + range->Size() - 1);
        addDefault(u"Range", value);
    }

    const THttpAcceptStep step = [&](const THttpResponse& r) {
        const bool partial = r.StatusCode == 206 && !r.ContentRange.empty() && r.ContentLength > 0;
        if (range && range->Offset() >= 1 && !partial)
            throw EHttpError(woRefused, u"Range is not supported by Server");
        if (!r.IsSuccess())
            throw EHttpError(r.StatusCode, r.StatusText);
        if (accept && !accept(r))
            throw EHttpError(woRefused, u"Content type is not accepted");
    };
    RequestCore(response, method, headers, body, ignoreCertificateErrors, step, progress, data);
}

// ---- TNuvDataContainer

TNuvDataContainer::TNuvDataContainer(std::unique_ptr<TNuvStream> stream) : FStream(std::move(stream)) {}
TNuvDataContainer::~TNuvDataContainer() = default;

// ---- TNuvHttp

std::shared_ptr<INuvHttpRequest> TNuvHttp::Get(std::u16string_view address) {
    std::shared_ptr<TNuvHttp> request(new TNuvHttp);
    request->FMethod = u"GET";
    request->FURL = TNuvWebURL::ParseHttp(address);
    return request;
}

void TNuvHttp::RaiseOnError(const TNuvWebErrorInfo& info) {
    if (info.ErrorCode != 0)
        throw ENuvWebError(info);
}

TNuvHttp::~TNuvHttp() = default;

INuvHttpRequest& TNuvHttp::OnAccept(int64_t maxSize) {
    if (maxSize > 0) {
        FAccept = [maxSize](const THttpResponse& response) { return response.ContentLength <= maxSize; };
        FAcceptInMainThread = false;
    }
    return *this;
}

INuvHttpRequest& TNuvHttp::OnAccept(THttpAcceptProc callback, bool inMainThread) {
    FAccept = std::move(callback);
    FAcceptInMainThread = inMainThread;
    return *this;
}

INuvHttpRequest& TNuvHttp::OnComplete(THttpCompleteProc callback, bool inMainThread) {
    FComplete = std::move(callback);
    FCompleteInMainThread = inMainThread;
    return *this;
}

INuvHttpRequest& TNuvHttp::OnData(TNuvDataContainer& container) {
    FData = [&container](const void* buffer, int64_t count) {
        std::lock_guard lock(container);
        return container.Stream().Write(buffer, count) == count;
    };
    return *this;
}

INuvHttpRequest& TNuvHttp::OnData(THttpDataProc callback) {
    FData = std::move(callback);
    return *this;
}

INuvHttpRequest& TNuvHttp::OnData(TNuvStream& stream) {
    FData = [&stream](const void* buffer, int64_t count) { return stream.Write(buffer, count) == count; };
    return *this;
}

void TNuvHttp::SetBody(TNuvStream* stream, bool owned) {
    std::unique_ptr<TNuvStream> previous = std::move(FOwnedBody);
    if (previous.get() == stream)
        (void)previous.release(); // the same stream given again stays alive
    FBody = stream;
    if (owned)
        FOwnedBody.reset(stream);
    // A body sent with GET is meaningless to servers; what a caller means by it is a POST.
    if (stream && SameTextAscii(FMethod, u"GET"))
        FMethod = u"POST";
}

INuvHttpRequest& TNuvHttp::SetPostData(TNuvStream* stream, bool owned) {
    SetBody(stream, owned);
    return *this;
}

INuvHttpRequest& TNuvHttp::SetPostData(std::string_view bytes) {
    SetBody(new TNuvMemoryStream(bytes.data(), bytes.size()), true);
    return *this;
}

INuvHttpRequest& TNuvHttp::OnProgress(THttpProgressProc callback, bool inMainThread) {
    FProgress = std::move(callback);
    FProgressInMainThread = inMainThread;
    return *this;
}

INuvHttpRequest& TNuvHttp::IgnoreCertificateErrors() {
    FIgnoreCertificateErrors = true;
    return *this;
}

INuvHttpRequest& TNuvHttp::SetPriority(TNuvTaskPriority priority) {
    FPriority = priority;
    return *this;
}

INuvHttpRequest& TNuvHttp::SetRange(std::shared_ptr<INuvWebRequestRange> range) {
    FRange = std::move(range);
    return *this;
}

TaskHandle TNuvHttp::Run() {
    return TaskDispatcher().Run(std::make_unique<TNuvHttpRequestTask>(shared_from_this()));
}

TNuvWebErrorInfo TNuvHttp::RunInCurrentThread() {
    TaskDispatcher().RunInCurrentThread(std::make_unique<TNuvHttpRequestTask>(shared_from_this()));
    return FErrorInfo;
}

TNuvWebErrorInfo TNuvHttp::RunInCurrentThread(THttpCheckCanceled checkCanceled) {
    FCheckCanceled = std::move(checkCanceled);
    return RunInCurrentThread();
}

// ---- TNuvHttpRequestTask

TNuvHttpRequestTask::TNuvHttpRequestTask(std::shared_ptr<TNuvHttp> request) : FRequest(std::move(request)) {}

void TNuvHttpRequestTask::Execute() {
    TNuvHttp& r = *FRequest;
    r.FErrorInfo = {}; // a request run again reports its latest outcome only
    try {
        auto connection = THttpConnection::Create(r.FURL);
        connection->SetCancelCheck([this] { return Stopping(); });
        THttpResponse response;
        if (!IsCanceled())
            connection->Request(
                response, r.FMethod, r.FRange.get(), r.FBody, r.FIgnoreCertificateErrors,
                [this](const THttpResponse& response) { return DoAccept(response); },
                [this](int64_t done, int64_t expected) { return DoProgress(done, expected); }, r.FData);
    } catch (const EHttpError& e) {
        r.FErrorInfo = e.Info();
    }
}

bool TNuvHttpRequestTask::Stopping() {
    if (FRequest->FCheckCanceled && FRequest->FCheckCanceled()) {
        FStoppedByCaller = true;
        return true;
    }
    return IsCanceled();
}

namespace {

// Asks a caller's callback, on the main thread (the worker waiting) when it is flagged so.
template <typename F> bool Ask(bool inMainThread, const F& call) {
    if (!inMainThread)
        return call();
    bool answer = false;
    TNuvMainThread::Run([&] { answer = call(); }, true);
    return answer;
}

} // namespace

bool TNuvHttpRequestTask::DoAccept(const THttpResponse& response) {
    if (Stopping())
        return false;
    const THttpAcceptProc& accept = FRequest->FAccept;
    return !accept || Ask(FRequest->FAcceptInMainThread, [&] { return accept(response); });
}

bool TNuvHttpRequestTask::DoProgress(int64_t done, int64_t expected) {
    if (Stopping())
        return false;
    const THttpProgressProc& progress = FRequest->FProgress;
    return !progress || Ask(FRequest->FProgressInMainThread, [&] { return progress(done, expected); });
}

void TNuvHttpRequestTask::Complete() {
    TNuvTask::Complete();
    TNuvHttp& r = *FRequest;
    // A stop asked for by the caller's check is a cancellation too, not a refused response.
    if (IsCanceled() || FStoppedByCaller)
        r.FErrorInfo = {woCanceled, u"The operation has been canceled by user."};
    if (!r.FComplete)
        return;
    if (r.FCompleteInMainThread) {
        TNuvMainThread::Run([&] { r.FComplete(r.FErrorInfo); }, true);
    } else {
        r.FComplete(r.FErrorInfo);
    }
}
