#pragma once
// The provider for the Radio Browser community directory: a catalogue is one API server, a query
// kind (country, language or tag) and a value, and its document is the server's JSON list of
// matching stations. The class also answers the station editor's look-ups: the API servers (a DNS
// SRV query) and the countries, languages and tags a server knows.

#include "nuv/Nuv.Threading.Pool.h"
#include "plugin/Orvo.Tunedex.Core.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class TNuvJSONNode;
class TNuvStream;

// Data: "server;kind;value", as the editor writes it with "%s;%d;%s".
//
// Thread-safety: a provider object belongs to one thread at a time. The class operations may be
// called from any thread; DiscoverServers and QueryValues block while they ask the network, so a
// dialog runs them through StartQuery.
class TOrvoTunedexRadioBrowser : public TOrvoTunedexProvider {
public:
    // The service's fixed addresses.
    static constexpr std::u16string_view SrvName = u"_api._tcp.radio-browser.info";
    static constexpr std::u16string_view AllServersHost = u"all.api.radio-browser.info";
    static constexpr std::u16string_view ServiceHomePage = u"https://www.radio-browser.info/";
    // The resolver asked for the SRV records unless TUNEDEX_DNS_SERVER names another ("address"
    // or "address:port", an IPv6 address in brackets when it has a port).
    static constexpr std::u16string_view DefaultNameServer = u"1.1.1.1";

    // Query kinds stored in a catalogue's settings.
    enum TAddressKind : int32_t { akCountry = 0, akLanguage = 1, akTag = 2 };
    // What a TQueryTask looks up (numbered differently from the address kinds).
    enum TQueryKind : uint8_t { qkServers = 0, qkCountries = 1, qkLanguages = 2, qkTags = 3 };

    // A catalogue's settings ("server;kind;value") taken apart.
    struct TAddress {
        std::u16string Server;
        int32_t Kind = akCountry;
        std::u16string Value;
    };

    // The result of a look-up; valid during the call only, so a callback copies what it keeps.
    using TQueryCallback = std::function<void(const std::vector<std::u16string>& values)>;
    // Called for each object of a top-level JSON array.
    using TObjectProc = std::function<void(const TNuvJSONNode& object)>;
    // Whether a value object belongs in the list.
    using TObjectFilter = std::function<bool(const TNuvJSONNode& object)>;

    // One look-up run on the dispatcher. Its callback runs on the main thread while the worker
    // waits, and never once the task has been cancelled.
    class TQueryTask final : public TNuvTask {
    public:
        TQueryTask(std::u16string server, TQueryKind kind, TQueryCallback callback);
        void Execute() override;
        void Complete() override;

    private:
        std::u16string FServer;
        TQueryKind FQueryKind;
        std::vector<std::u16string> FResult;
        TQueryCallback FCallback;
    };

    static const TOrvoTunedexProviderClass& Class();
    const TOrvoTunedexProviderClass& ClassType() const override { return Class(); }
    static std::u16string DisplayName() { return u"Radio Browser"; }
    static std::u16string HomePageURL() { return std::u16string(ServiceHomePage); }

    // "http://<server>/json/stations", narrowed to the value by the kind unless the value is
    // empty; the value is percent-encoded, so any text the service knows can be asked for.
    // Raises EInvalidOperation "Address was not set" without a server.
    std::u16string DocumentURL() const override;
    using TOrvoTunedexProvider::AsyncFetch;
    // ParseStations; the content type is not looked at.
    void AsyncFetch(TNuvStream& stream, std::u16string_view contentType,
                    const TOrvoStationReceiver& receiver) override;

    // Splits "server;kind;value" at every ";": a missing or non-numeric kind reads 0, a missing
    // value is empty, and a value holding ";" is cut there.
    static TAddress SplitAddress(std::u16string_view data);

    // Cancels the query of `handle` without waiting, starts a new one and stores its handle.
    // A dialog keeps one handle and cancels it with waiting when it closes.
    static void StartQuery(TaskHandle& handle, TQueryKind kind, TQueryCallback callback,
                           std::u16string_view server);
    // Adds the "name" of every object of the server's "/json/<kindName>" list that the filter
    // accepts, then removes duplicates and sorts in the locale, case included. Does nothing
    // without a server or kind name; a failed download or an unreadable document adds nothing
    // and is logged with its reason.
    static void QueryValues(std::vector<std::u16string>& list, std::u16string_view kindName,
                            std::u16string_view server, const TObjectFilter& filter = {});
    // Adds the all-servers host followed by the SRV targets in natural order. Raises Exception
    // when the DNS query fails or times out, or the task it runs in is cancelled; the list is
    // left as it was then.
    static void DiscoverServers(std::vector<std::u16string>& list);
    // Calls proc for every object of the stream's top-level JSON array, in order; any other
    // document gives no call. Answers whether the stream held a JSON array; when it did not and
    // `reason` is given, says why there.
    static bool ForEachObject(TNuvStream& stream, const TObjectProc& proc, std::u16string* reason = nullptr);
    // Turns a station list document into stations, each handed over as soon as it is read; a
    // null member reads as empty. Raises EOrvoTunedexDocumentError with the reason when the
    // document is no JSON array (not JSON, cut short, followed by more, an error object, too
    // large), before any station is handed over; "[]" is a list without stations.
    static void ParseStations(TNuvStream& stream, const TOrvoStationReceiver& receiver);
};
