// `tunedex stations`: the music library's row request from the command line: the fields, the
// conditions, the search text, the sort order and the window, answered by the plug-in's storage.

#include "host/Orvo.Host.Cli.Stations.h"
#include "zan/Zan.Playlists.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <ostream>
#include <string_view>

namespace {

void WriteTable(std::ostream& out, const TOrvoHostMLResult& result) {
    std::vector<std::vector<std::string>> lines;
    lines.emplace_back();
    for (const std::u16string& field : result.Fields)
        lines.back().push_back(TerminalText(field));
    for (const auto& row : result.Rows) {
        lines.emplace_back();
        for (const std::u16string& value : row)
            lines.back().push_back(TerminalText(value));
    }
    std::vector<size_t> widths(result.Fields.size(), 0);
    for (const auto& line : lines)
        for (size_t i = 0; i < line.size(); ++i)
            widths[i] = std::max(widths[i], TerminalWidth(line[i]));
    for (const auto& line : lines) {
        std::string text;
        for (size_t i = 0; i < line.size(); ++i) {
            text += line[i];
            if (i + 1 < line.size())
                text += std::string(widths[i] - TerminalWidth(line[i]) + 2, ' ');
        }
        out << text << '\n';
    }
}

// One object per row; integer fields as numbers where the value is one.
void WriteJson(std::ostream& out, const TOrvoHostMLResult& result,
               const std::vector<TOrvoHostMLField>& fields) {
    const std::vector<bool> integer = NumberColumns(result.Fields, fields);
    for (const auto& row : result.Rows) {
        rapidjson::StringBuffer buffer;
        rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
        writer.StartObject();
        for (size_t i = 0; i < row.size(); ++i) {
            const std::string name = ToUtf8(result.Fields[i]);
            writer.Key(name.c_str(), rapidjson::SizeType(name.size()));
            WriteJsonValue(writer, row[i], integer[i]);
        }
        writer.EndObject();
        out << buffer.GetString() << '\n';
    }
}

class TStationsCommand : public TOrvoCliCommand {
public:
    std::string Name() const override { return "stations"; }
    std::string Description() const override {
        return "List stations as the music library asks for them: fields, conditions, search, sorting, "
               "window";
    }

    void DefineOptions(CLI::App& command) override {
        command
            .add_option("--fields", FFields,
                        "Fields to show, comma-separated or repeated (default: Name, "
                        "Bitrate, FileFormat, Genre, Country, Provider, FileName)")
            ->delimiter(',')
            ->option_text("FIELD[,FIELD...]");
        command.add_option("--search", FSearch, "Text searched in every shown field")->option_text("TEXT");
        // Taken one occurrence at a time: a list of all the values would read an empty VALUE as
        // the boundary between two conditions.
        command
            .add_option_function<std::vector<std::string>>(
                "--where", [this](const std::vector<std::string>& where) { FWhere.push_back(where); },
                "A condition, repeatable. OP: eq, ne, between (VALUE is LOW,HIGH), lt, le, gt, ge, "
                "contains, starts, ends, notcontains, in (VALUE is a comma-separated list)")
            ->type_size(0, 3)
            ->expected(0, 1)
            ->allow_extra_args(false)
            ->trigger_on_parse()
            ->option_text("FIELD OP VALUE");
        command.add_flag("--any", FAny, "Keep stations meeting any condition instead of all of them");
        command.add_option("--sort", FSort, "Sort by the field, repeatable; :desc sorts downwards")
            ->option_text("FIELD[:desc]");
        command.add_option("--offset", FOffset, "Rows to skip")->option_text("N");
        command.add_option("--limit", FLimit, "Rows to show at most (default: all)")->option_text("N");
        command
            .add_option("--format", FFormat,
                        "Output: table, json (one object per line), or a playlist of the stations: m3u "
                        "and pls keep the stream address and name only, in the legacy code page (other "
                        "characters become '?'); m3u8 is m3u in UTF-8; xspf also keeps the genre, "
                        "description, bit rate and home page. Country, tags and catalogue are lost in "
                        "every playlist. --search then also looks in Description")
            ->option_text("FORMAT");
        command.add_option("--output", FOutput, "Write a playlist to FILE instead of the standard output")
            ->option_text("FILE");
    }

    int Run(TOrvoCliContext& context) override {
        try {
            return List(context);
        } catch (const EOrvoCliUsage& e) {
            context.Err << "tunedex stations: " << TerminalMessage(e.what()) << '\n';
            return TUNEDEX_EXIT_USAGE;
        }
    }

private:
    int List(TOrvoCliContext& context) {
        const bool playlist = IsPlaylistFormat(FFormat);
        if (FFormat != "table" && FFormat != "json" && !playlist)
            throw EOrvoCliUsage("unknown --format \"" + FFormat +
                                "\"; use table, json, m3u, m3u8, pls or xspf");
        if (!FOutput.empty() && !playlist)
            throw EOrvoCliUsage("--output takes a playlist format (m3u, m3u8, pls or xspf)");
        TOrvoHostMLRequest request;
        for (const std::string& field : FFields.empty() ? DefaultStationFields() : FFields)
            AddRequestField(request, Trim(FromUtf8(field)));
        if (playlist)
            for (const std::u16string& field : PlaylistExportFields())
                AddRequestField(request, field);
        for (const auto& where : FWhere) {
            if (where.size() != 3)
                throw EOrvoCliUsage(WhereMistake(where));
            request.Conditions.push_back({FromUtf8(where[0]), FromUtf8(where[1]), FromUtf8(where[2])});
        }
        request.Any = FAny;
        request.Search = FromUtf8(FSearch);
        request.Offset = Count("--offset", FOffset);
        const int32_t limit = Count("--limit", FLimit);
        // The library's window needs a count; an offset alone means every row after it.
        request.Limit = limit == 0 && request.Offset > 0 ? INT32_MAX : limit;
        try {
            for (const std::string& sort : FSort)
                request.Sort.push_back(ParseSortSpec(FromUtf8(sort)));
        } catch (const EArgumentError& e) {
            throw EOrvoCliUsage(e.what());
        }

        TOrvoHost host(context.Settings);
        if (!InitializePlugin(host, context))
            return TUNEDEX_EXIT_FAILURE;
        TOrvoHostMLResult result;
        std::vector<TOrvoHostMLField> fields;
        std::string written;
        {
            TOrvoHostMLBrowser browser(host.Core());
            fields = browser.Fields();
            CheckStationRequest(request, fields);
            try {
                result = browser.Query(request);
            } catch (const EArgumentError& e) {
                throw EOrvoCliUsage(e.what());
            }
            if (playlist && !result.IsText)
                written = WriteStationPlaylist(FFormat, result, [&](const std::u16string& address) {
                    ComPtr<IOrvoPropertyList> info;
                    return Succeeded(host.FileManager().DescribeFile(address, info))
                               ? ReadTextProp(info.get(), ORVO_FIP_URL)
                               : std::u16string();
                });
        }
        host.Unload();

        if (result.IsText)
            return Notice(context, result.Text);
        if (playlist)
            return Deliver(context, written);
        if (FFormat == "json")
            WriteJson(context.Out, result, fields);
        else
            WriteTable(context.Out, result);
        return TUNEDEX_EXIT_OK;
    }

    // The playlist to the standard output, or to the --output file, replacing it.
    int Deliver(TOrvoCliContext& context, const std::string& bytes) {
        if (FOutput.empty()) {
            // A full disk or a closed pipe behind the standard output is a playlist not written.
            if (!context.Out.write(bytes.data(), std::streamsize(bytes.size())).flush()) {
                context.Err << "tunedex: the playlist could not be written to the standard output\n";
                return TUNEDEX_EXIT_FAILURE;
            }
            return TUNEDEX_EXIT_OK;
        }
        try {
            TNuvFileStream file(FOutput, TNuvFileMode::Create);
            file.WriteBuffer(bytes.data(), int64_t(bytes.size()));
        } catch (const Exception& e) {
            context.Err << "tunedex: the playlist could not be written: " << TerminalMessage(e.what())
                        << '\n';
            return TUNEDEX_EXIT_FAILURE;
        }
        return TUNEDEX_EXIT_OK;
    }

    // A whole number of rows, 0 or more.
    static int32_t Count(const char* option, const std::string& text) {
        int64_t value = 0;
        if (text.empty())
            return 0;
        if (!TryStrToInt(FromUtf8(text), value) || value < 0 || value > INT32_MAX)
            throw EOrvoCliUsage(std::string(option) + " takes a whole number of rows from 0 to " +
                                std::to_string(INT32_MAX) + ", not \"" + text + "\"");
        return int32_t(value);
    }

    // The storage answered a text instead of rows: its link to the settings means there is
    // nothing to list yet; any other text is what went wrong.
    int Notice(TOrvoCliContext& context, const std::u16string& text) {
        std::vector<TOrvoHostMLLink> links;
        const std::string plain = ToUtf8(PlainLinkText(text, &links));
        const bool empty = std::any_of(links.begin(), links.end(), [](const TOrvoHostMLLink& link) {
            return link.Address == u"tunedex://settings";
        });
        if (!empty) {
            context.Err << "tunedex: " << TerminalMessage(plain) << '\n';
            return TUNEDEX_EXIT_FAILURE;
        }
        // A notice, not a row: scripts reading any format get no rows, people still see it.
        context.Err << "No stations yet. "
                    << (plain.empty() ? std::string("Add radio catalogs") : TerminalText(plain))
                    << ": run 'tunedex add --title TITLE --kind KIND ...' (see 'tunedex add --help').\n";
        return TUNEDEX_EXIT_OK;
    }

    std::vector<std::string> FFields;
    std::string FSearch;
    std::vector<std::vector<std::string>> FWhere;
    bool FAny = false;
    std::vector<std::string> FSort;
    std::string FOffset;
    std::string FLimit;
    std::string FFormat = "table";
    std::string FOutput;
};

} // namespace

const std::vector<std::string>& DefaultStationFields() {
    static const std::vector<std::string> fields = {"Name",    "Bitrate",  "FileFormat", "Genre",
                                                    "Country", "Provider", "FileName"};
    return fields;
}

const std::vector<std::u16string>& PlaylistExportFields() {
    static const std::vector<std::u16string> fields = {u"FileName", u"Name", u"Genre", u"Description",
                                                       u"Bitrate"};
    return fields;
}

bool IsPlaylistFormat(std::string_view format) {
    static const char* const formats[] = {"m3u", "m3u8", "pls", "xspf"};
    return std::find(std::begin(formats), std::end(formats), format) != std::end(formats);
}

void AddRequestField(TOrvoHostMLRequest& request, std::u16string name) {
    if (std::find(request.Fields.begin(), request.Fields.end(), name) == request.Fields.end())
        request.Fields.push_back(std::move(name));
}

std::vector<bool> NumberColumns(const std::vector<std::u16string>& names,
                                const std::vector<TOrvoHostMLField>& fields) {
    std::vector<bool> numbers;
    for (const std::u16string& name : names)
        numbers.push_back(std::any_of(fields.begin(), fields.end(), [&](const TOrvoHostMLField& f) {
            return f.Name == name && f.Type == ORVO_ML_FIELD_TYPE_INTEGER;
        }));
    return numbers;
}

void WriteJsonValue(rapidjson::Writer<rapidjson::StringBuffer>& writer, const std::u16string& value,
                    bool numberColumn) {
    int64_t number = 0;
    if (numberColumn && TryStrToInt(value, number) && IntToStr(number) == value) {
        writer.Int64(number);
    } else {
        const std::string text = ToUtf8(value);
        writer.String(text.c_str(), rapidjson::SizeType(text.size()));
    }
}

std::string WriteStationPlaylist(const std::string& format, const TOrvoHostMLResult& result,
                                 const std::function<std::u16string(const std::u16string&)>& homePage) {
    TZanPlaylistFormats::TFormatInfo info;
    if (!ZanPlaylistFormats().FindByExtension(FromUtf8(format), info) || !info.WriterClass)
        throw EOrvoCliUsage("no playlist writer for --format " + format);
    std::vector<size_t> column;
    for (const std::u16string& field : PlaylistExportFields())
        column.push_back(
            size_t(std::find(result.Fields.begin(), result.Fields.end(), field) - result.Fields.begin()));
    const bool keepsHomePage = format == "xspf";
    TNuvMemoryStream stream;
    {
        std::unique_ptr<TZanPlaylistWriter> writer = info.WriterClass->FromStream(&stream, false);
        writer->WriteHeader();
        for (const auto& row : result.Rows) {
            const auto value = [&](size_t field) -> const std::u16string& { return row[column[field]]; };
            TZanPlaylistItem item;
            item.BeginUpdate();
            item.SetFileName(value(0));
            item.SetValue(zitTitle, value(1));
            item.SetValue(zitGenre, value(2));
            item.SetValue(zitComment, value(3));
            int64_t bitrate = 0;
            if (TryStrToInt(value(4), bitrate) && bitrate > 0 && bitrate <= INT32_MAX)
                item.StreamInfo().Bitrate = int32_t(bitrate);
            if (keepsHomePage)
                item.SetValue(zitLink, homePage(value(0)));
            item.EndUpdate();
            writer->WriteItem(item, -1);
        }
        writer->Finish();
    }
    return std::string(stream.View());
}

std::string WhereMistake(const std::vector<std::string>& where) {
    static const char* const kParts[] = {"FIELD", "OP", "VALUE"};
    std::string given;
    if (std::all_of(where.begin(), where.end(), [](const std::string& part) { return part.empty(); }))
        return "--where takes FIELD OP VALUE, and was given none of them";
    for (const std::string& part : where)
        given += (given.empty() ? "" : " ") + (part.empty() ? std::string("\"\"") : part);
    if (where.size() > 3)
        return "--where takes three values, FIELD OP VALUE, not \"" + given + "\"";
    return "--where takes FIELD OP VALUE, and " +
           (given.empty() ? std::string("nothing was given")
                          : "\"" + given + "\" lacks its " + kParts[where.size()]) +
           " (write \"\" for an empty value)";
}

void CheckStationRequest(const TOrvoHostMLRequest& request, const std::vector<TOrvoHostMLField>& fields) {
    // A name the storage does not know would only come back as a database error.
    std::vector<std::u16string> used = request.Fields;
    for (const TOrvoHostMLCondition& condition : request.Conditions)
        used.push_back(condition.Field);
    for (const TOrvoHostMLSort& sort : request.Sort)
        used.push_back(sort.Field);
    for (const std::u16string& name : used) {
        if (std::any_of(fields.begin(), fields.end(),
                        [&](const TOrvoHostMLField& f) { return f.Name == name; }))
            continue;
        std::vector<std::u16string> known;
        for (const TOrvoHostMLField& field : fields)
            known.push_back(field.Name);
        throw EOrvoCliUsage(
            ToUtf8(Format(u"unknown field \"%s\"; the fields are %s", name, Join(known, u", "))));
    }
    // A condition on a number field compares numbers: a text there would compare as text and
    // quietly match nothing, or everything.
    for (const TOrvoHostMLCondition& condition : request.Conditions) {
        const bool numeric = std::any_of(fields.begin(), fields.end(), [&](const TOrvoHostMLField& f) {
            return f.Name == condition.Field && f.Type == ORVO_ML_FIELD_TYPE_INTEGER;
        });
        const std::u16string& op = condition.Operator;
        if (!numeric || SameTextAscii(op, u"contains") || SameTextAscii(op, u"starts") ||
            SameTextAscii(op, u"ends") || SameTextAscii(op, u"notcontains"))
            continue;
        const bool several = SameTextAscii(op, u"between") || SameTextAscii(op, u"in");
        for (const std::u16string& item :
             several ? Split(condition.Value, u",") : std::vector<std::u16string>{condition.Value}) {
            int64_t number = 0;
            if (!TryStrToInt(Trim(item), number))
                throw EOrvoCliUsage(
                    ToUtf8(Format(u"%s is a number field: \"%s\" in \"--where %s %s %s\" is not a "
                                  u"whole number",
                                  condition.Field, Trim(item), condition.Field, op, condition.Value)));
        }
    }
}

std::unique_ptr<TOrvoCliCommand> NewStationsCommand() {
    return std::make_unique<TStationsCommand>();
}
