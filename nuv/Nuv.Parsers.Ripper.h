#pragma once
// Extraction rules for pages written for people: a rule is given a text and returns the pieces of
// it that lie between a chain of start markers and a chain of finish markers; another rule removes
// the markup from what an inner rule found. Rules are built once and applied to any number of
// texts; they keep no state between applications, and every application ends after a number of
// steps bounded by the text's length, whatever the markers.
//
// Thread-safety: a built rule may be applied from several threads at once.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// An ordered list of texts: what rules take and give.
using TNuvListOfString = std::vector<std::u16string>;

// The base rule: gives every text unchanged, after its inner rule (if any) ran.
class TNuvRipperRule {
public:
    // Owns `inner`, which is applied first.
    explicit TNuvRipperRule(std::unique_ptr<TNuvRipperRule> inner = nullptr);
    virtual ~TNuvRipperRule();
    TNuvRipperRule(const TNuvRipperRule&) = delete;
    TNuvRipperRule& operator=(const TNuvRipperRule&) = delete;

    // Runs the inner rule on the list, then replaces every text by what Extract makes of it.
    void Apply(TNuvListOfString& list) const;
    // Apply on a list holding only `text`.
    TNuvListOfString Rip(std::u16string_view text) const;
    // The first text of Rip, or "" when there is none.
    std::u16string RipFirst(std::u16string_view text) const;

protected:
    // Adds what the rule makes of one text to `output`.
    virtual void Extract(TNuvListOfString& output, std::u16string_view text) const;

private:
    std::unique_ptr<TNuvRipperRule> FInner;
};

// Pieces between markers. Markers are written as one text with "|" between them; a marker written
// "+N:text" stands for the N-th occurrence of text (N at least 1), any other for its first.
// Start marker i and then finish marker i are looked for in turn: each start marker moves the
// piece's beginning past itself, each finish marker ends the piece where it begins, and later
// markers are looked for only inside that range. So start "bitrate|<td|>" with finish "</tr|</td"
// gives the content of the table cell that follows a "bitrate" label in the same row.
class TNuvRipperRuleAimingByTags : public TNuvRipperRule {
public:
    enum TOption : uint8_t {
        // Every occurrence, each pass starting where the previous one's first finish marker was.
        roRepeat = 1,
        // Markers match whatever the letter case; pieces keep the case of the text.
        roIgnoreCase = 2,
    };
    struct TMarker {
        std::u16string Text;
        int32_t Count = 1;
        bool operator==(const TMarker&) const = default;
    };

    TNuvRipperRuleAimingByTags(std::u16string_view startMarkers, std::u16string_view finishMarkers,
                               uint8_t options, std::unique_ptr<TNuvRipperRule> inner = nullptr);

    // Calls `piece` with each piece of the text, in order, as Extract finds them (the inner rule
    // is not applied): for readers of large texts that need not hold the pieces.
    void Scan(std::u16string_view text, const std::function<void(std::u16string_view piece)>& piece) const;

    // The markers of a "|"-separated text; "" gives none. A count that does not fit 32 bits is
    // the largest that does; "+0:" counts as 1.
    static std::vector<TMarker> ParseMarkers(std::u16string_view text);

protected:
    void Extract(TNuvListOfString& output, std::u16string_view text) const override;

private:
    std::vector<TMarker> FStart;
    std::vector<TMarker> FFinish;
    uint8_t FOptions;
};

// The text of what the inner rule found, without markup: entities decoded (DecodeMarkupText),
// elements dropped, line breaks of the source dropped, <br> and the escape "\n" turned into CR LF,
// "\uXXXX" escapes decoded; a NUL ends the text.
class TNuvRipperRuleRemoveHtmlTags : public TNuvRipperRule {
public:
    explicit TNuvRipperRuleRemoveHtmlTags(std::unique_ptr<TNuvRipperRule> inner);

protected:
    void Extract(TNuvListOfString& output, std::u16string_view text) const override;
};

// Decodes backslash escapes of tab, LF, CR, apostrophe, quotation mark, "&", "<" and ">", and
// references "&name;" whose name is made of ASCII letters, digits and "#": apos, quot, amp, lt and
// gt give their characters, "#" with a decimal (or "x" and a hexadecimal) number the character of
// that code, any other name the name itself. A code that is 0, a surrogate or above U+10FFFF gives
// U+FFFD; one above U+FFFF a surrogate pair. An "&" that starts no reference stays.
std::u16string DecodeMarkupText(std::u16string_view text);
