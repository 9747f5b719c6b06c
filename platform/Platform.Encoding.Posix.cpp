#include "platform/Platform.Encoding.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>

#include <cstdlib>

namespace platform {

std::unique_ptr<TEncodingDecoder> TEncodingDecoder::Open(std::string_view name) {
    // A name with a NUL or nothing at all would be read by ICU as its default converter.
    if (name.empty() || name.find('\0') != std::string_view::npos)
        return nullptr;
    const std::string text(name);
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(text.c_str(), &status);
    if (U_FAILURE(status) || !converter)
        return nullptr;
    // Undefined bytes stop the conversion instead of becoming substitution characters.
    ucnv_setToUCallBack(converter, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    if (U_FAILURE(status)) {
        ucnv_close(converter);
        return nullptr;
    }
    return std::unique_ptr<TEncodingDecoder>(new TEncodingDecoder(converter));
}

TEncodingDecoder::~TEncodingDecoder() {
    ucnv_close(static_cast<UConverter*>(FConverter));
}

TEncodingDecoder::TResult TEncodingDecoder::Decode(const uint8_t* input, size_t inputSize, char16_t* output,
                                                   size_t outputSize, bool last) {
    TResult result;
    const char* source = reinterpret_cast<const char*>(input);
    const char* sourceLimit = source + inputSize;
    UChar* target = reinterpret_cast<UChar*>(output);
    UChar* targetLimit = target + outputSize;
    UErrorCode status = U_ZERO_ERROR;
    ucnv_toUnicode(static_cast<UConverter*>(FConverter), &target, targetLimit, &source, sourceLimit, nullptr,
                   last, &status);
    result.BytesRead = size_t(source - reinterpret_cast<const char*>(input));
    result.CharsWritten = size_t(target - reinterpret_cast<UChar*>(output));
    result.Invalid = U_FAILURE(status) && status != U_BUFFER_OVERFLOW_ERROR;
    return result;
}

std::string TEncodingDecoder::Name() const {
    UErrorCode status = U_ZERO_ERROR;
    const char* name = ucnv_getName(static_cast<UConverter*>(FConverter), &status);
    return U_SUCCESS(status) && name ? name : "";
}

namespace {

// One converter per thread: converters keep state and are not shared.
UConverter* LegacyConverter(int which = 0) {
    struct TOwner {
        UConverter* Converter = nullptr;
        ~TOwner() {
            if (Converter)
                ucnv_close(Converter);
        }
    };
    thread_local TOwner owners[2];
    TOwner& owner = owners[which];
    if (!owner.Converter) {
        UErrorCode status = U_ZERO_ERROR;
        owner.Converter = ucnv_open(LegacyCodePage().c_str(), &status);
        if (U_FAILURE(status))
            owner.Converter = nullptr;
    }
    return owner.Converter;
}

} // namespace

std::string LegacyCodePage() {
    static const std::string name = [] {
        const char* chosen = std::getenv("TUNEDEX_CODEPAGE");
        if (chosen && *chosen && TEncodingDecoder::Open(chosen))
            return std::string(chosen);
        return std::string("windows-1252");
    }();
    return name;
}

std::string ToLegacy(std::u16string_view text) {
    UConverter* converter = LegacyConverter();
    if (!converter || text.empty())
        return {};
    ucnv_reset(converter);
    std::string out(text.size() * size_t(ucnv_getMaxCharSize(converter)), '\0');
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length =
        ucnv_fromUChars(converter, out.data(), int32_t(out.size()),
                        reinterpret_cast<const UChar*>(text.data()), int32_t(text.size()), &status);
    out.resize(U_FAILURE(status) ? 0 : size_t(length));
    return out;
}

std::string ToLegacy(std::u16string_view text, char substitute) {
    // A converter of its own, so that the other conversions keep the code page's substitute.
    UConverter* converter = LegacyConverter(1);
    if (!converter || text.empty())
        return {};
    ucnv_reset(converter);
    UErrorCode status = U_ZERO_ERROR;
    ucnv_setSubstChars(converter, &substitute, 1, &status);
    std::string out(text.size() * size_t(ucnv_getMaxCharSize(converter)), '\0');
    status = U_ZERO_ERROR;
    const int32_t length =
        ucnv_fromUChars(converter, out.data(), int32_t(out.size()),
                        reinterpret_cast<const UChar*>(text.data()), int32_t(text.size()), &status);
    out.resize(U_FAILURE(status) ? 0 : size_t(length));
    return out;
}

bool LegacyCodePageIsSingleByte() {
    UConverter* converter = LegacyConverter();
    return converter && ucnv_getMaxCharSize(converter) == 1;
}

std::u16string FromLegacy(std::string_view bytes) {
    UConverter* converter = LegacyConverter();
    if (!converter || bytes.empty())
        return {};
    ucnv_reset(converter);
    std::u16string out(bytes.size() * 2, u'\0');
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = ucnv_toUChars(converter, reinterpret_cast<UChar*>(out.data()), int32_t(out.size()),
                                         bytes.data(), int32_t(bytes.size()), &status);
    out.resize(U_FAILURE(status) ? 0 : size_t(length));
    return out;
}

} // namespace platform
