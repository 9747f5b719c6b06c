#pragma once
// The encoding registry: decoders for character encodings named as documents name them
// ("ISO-8859-5", "windows-1252", "Shift_JIS"), backed by ICU converters.
//
// Thread-safety: a decoder is used by one thread at a time; opening decoders is safe from any
// thread.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

// Turns bytes of one encoding into UTF-16, keeping the state of a sequence cut between calls.
class TEncodingDecoder {
public:
    // A decoder for the encoding called `name` (any letter case, with the aliases the registry
    // knows), or none when the registry does not know the name.
    static std::unique_ptr<TEncodingDecoder> Open(std::string_view name);
    ~TEncodingDecoder();
    TEncodingDecoder(const TEncodingDecoder&) = delete;
    TEncodingDecoder& operator=(const TEncodingDecoder&) = delete;

    struct TResult {
        size_t BytesRead = 0;    // input consumed
        size_t CharsWritten = 0; // UTF-16 units produced
        bool Invalid = false;    // stopped before a byte sequence the encoding does not define
    };
    // Decodes as much of the input as fits into the output. `last` says no more input follows, so
    // an incomplete sequence at its end is invalid. After Invalid the decoder is not used again.
    TResult Decode(const uint8_t* input, size_t inputSize, char16_t* output, size_t outputSize, bool last);
    // The registry's own name of the encoding.
    std::string Name() const;

private:
    explicit TEncodingDecoder(void* converter) : FConverter(converter) {}
    void* FConverter;
};

// The legacy 8-bit code page: the one TUNEDEX_CODEPAGE names when the registry knows it, else
// windows-1252.
std::string LegacyCodePage();
// Text to and from the legacy code page; characters it lacks become its substitute, bytes it does
// not define U+FFFD.
std::string ToLegacy(std::u16string_view text);
std::u16string FromLegacy(std::string_view bytes);
// The same with a substitute of our choosing for characters the code page lacks.
std::string ToLegacy(std::u16string_view text, char substitute);
// Whether the legacy code page maps every character to one byte.
bool LegacyCodePageIsSingleByte();

} // namespace platform
