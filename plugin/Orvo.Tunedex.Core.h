#pragma once
// The station catalogue: one SQLite file holding every known station (table Entries), tagged
// with the identifier of the provider that supplied it, and one row per configured provider
// (table Providers).

#include "nuv/Nuv.Listeners.h"
#include "nuv/Nuv.SQLite3.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One station; a value copied by assignment.
//
// Thread-safety: a plain value.
struct TOrvoRadioStationInfo {
    int32_t Bitrate = 0;
    // Key list (";"-separated).
    std::u16string Country;
    std::u16string Description;
    std::u16string FileFormat;
    // Key list.
    std::u16string Genre;
    std::u16string Name;
    // Key list.
    std::u16string Tags;
    // The stream's address; unique in the catalogue.
    std::u16string FileName;
    std::u16string HomeURL;
    std::u16string Logo;
    // Width of the logo chosen so far while a document is parsed; never stored.
    int32_t LogoWidth = 0;

    // Empties every text and zeroes the numbers.
    void Reset();

    bool operator==(const TOrvoRadioStationInfo&) const = default;
};

// What the catalogue tells the parts of the plug-in that show it. Calls arrive on whichever
// thread raised them; a listener moves its user-interface work to the main thread itself.
class IOrvoStationCatalogListener {
public:
    // The catalogue's content or its provider list changed.
    virtual void CatalogChanged() = 0;
    // A background update run begins.
    virtual void AsyncUpdateStarted() = 0;
    // Download progress of the provider being updated; `total` <= 0 when the size is unknown.
    virtual void UpdateProgress(std::u16string_view title, int64_t received, int64_t total) = 0;
    // The run starts on the provider with this identifier.
    virtual void ProviderUpdateStarted(std::u16string_view providerId) = 0;
    // The run has ended.
    virtual void AsyncUpdateFinished() = 0;

protected:
    ~IOrvoStationCatalogListener() = default;
};

// The catalogue's listeners; each notification calls every listener in the order of addition.
//
// Thread-safety: as TNuvListenerList: any thread; a notification holds the list's own recursive
// lock for its walk, and a listener may remove itself or others while being called.
class TOrvoStationCatalogListeners : public TNuvListenerList<IOrvoStationCatalogListener> {
public:
    void CatalogChanged();
    void AsyncUpdateStarted();
    void UpdateProgress(std::u16string_view title, int64_t received, int64_t total);
    void ProviderUpdateStarted(std::u16string_view providerId);
    void AsyncUpdateFinished();
};

// The catalogue database ("Tunedex.db"). Opening creates the schema when it is missing and
// changes nothing otherwise. Statement failures raise ENuvSQLiteError to the caller.
//
// Thread-safety: every operation may be called from any thread; statements are serialised by
// the database lock, so readers wait while another thread's transaction runs.
class TOrvoStationCatalog : public TNuvSQLiteBase {
public:
    explicit TOrvoStationCatalog(std::u16string fileName);
    ~TOrvoStationCatalog() override;

    // Writes one station for the provider. A row with the same stream address is replaced,
    // whichever provider it belonged to.
    void AddEntry(const TOrvoRadioStationInfo& info, std::u16string_view providerId);
    // Fills `info` from the first row whose column equals the value; false (and `info`
    // untouched) when there is none. A column name that is not a column raises.
    bool FindEntry(std::u16string_view column, std::u16string_view value, TOrvoRadioStationInfo& info);
    // FindEntry on the stream address.
    bool FindEntryByFileName(std::u16string_view fileName, TOrvoRadioStationInfo& info);
    // Number of stations of one provider.
    int32_t EntriesCount(std::u16string_view providerId);
    // Deletes the stations of one provider.
    void EntriesDelete(std::u16string_view providerId);
    // True when there are no stations at all.
    bool IsEmpty();
    // Replaces the file with a fresh, empty catalogue and tells every listener.
    void Reset();

    TOrvoStationCatalogListeners& Listeners() { return FListeners; }

    // The statements, exactly as the catalogue runs them.
    static std::vector<std::u16string> SchemaStatements();
    static std::u16string SqlAddEntry(const TOrvoRadioStationInfo& info, std::u16string_view providerId);
    static std::u16string SqlFindEntry(std::u16string_view column, std::u16string_view value);
    static std::u16string SqlEntriesCount(std::u16string_view providerId);
    static std::u16string SqlEntriesDelete(std::u16string_view providerId);
    static std::u16string SqlEntriesTotal();
    static std::u16string SqlLoadProvider(std::u16string_view providerId);
    static std::u16string SqlEnumProviders();
    static std::u16string SqlProvidersByTitle(std::u16string_view title);
    static std::u16string SqlProviderDelete(std::u16string_view providerId);
    // `date` is a day count since 30 December 1899 (0 = never updated).
    static std::u16string SqlProviderStore(std::u16string_view providerId, std::u16string_view className,
                                           double date, std::u16string_view data, std::u16string_view title,
                                           int32_t count);

protected:
    void InitializeTables() override;

private:
    TOrvoStationCatalogListeners FListeners;
};
