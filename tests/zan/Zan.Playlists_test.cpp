#include "zan/Zan.Playlists.h"

#include "platform/Platform.Paths.h"
#include "zan/Zan.FileFormats.M3U.h"
#include "zan/Zan.FileFormats.PLS.h"
#include "zan/Zan.FileFormats.XSPF.h"

#include "tests/TestSupport.h"
#include "tests/zan/Zan.TestSupport.h"

#include <fstream>

using zantest::Read;
using namespace std::string_literals;
namespace paths = platform::nativepaths;

TEST(ZanTextDecoding, MarksDefaultsAndFallback) {
    struct TCase {
        std::string Bytes;
        TZanTextEncoding Fallback;
        std::u16string Text;
    } cases[] = {
        {"\xEF\xBB\xBF#EXTM3U \xC3\xA9", TZanTextEncoding::None, u"#EXTM3U \u00e9"},
        {"\xFF\xFE"
         "a\0\xE9\0"s,
         TZanTextEncoding::Utf8, u"a\u00e9"},
        {"\xFE\xFF\0a\0\xE9"s, TZanTextEncoding::Utf8, u"a\u00e9"},
        // An odd byte count loses the last byte, nothing else.
        {"\xFF\xFE"
         "a\0b"s,
         TZanTextEncoding::Utf8, u"a"},
        {"caf\xC3\xA9", TZanTextEncoding::Utf8, u"caf\u00e9"},
        // ISO-8859-1 bytes that are not UTF-8 fall back to the legacy 8-bit code page.
        {"caf\xE9 \x80", TZanTextEncoding::Utf8, u"caf\u00e9 \u20ac"},
        {"caf\xE9", TZanTextEncoding::None, u"caf\u00e9"},
        {"", TZanTextEncoding::Utf8, u""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ZanDecodeText(c.Bytes, c.Fallback), c.Text) << c.Bytes;
    // What the 8-bit code page cannot hold is written as '?', predictably.
    EXPECT_EQ(ZanEncodeText(u"\u00e9\u20ac\u65e5", TZanTextEncoding::Default8Bit), "\xE9\x80?");
}

TEST(ZanPlaylistFormats, RegistryOrderMasksAndDetection) {
    TZanPlaylistFormats empty;
    TNuvMemoryStream stream("#EXTM3U\n", 8);
    std::unique_ptr<TZanPlaylistReader> reader;
    EXPECT_EQ(empty.GetReadableMasks(), u"");
    EXPECT_FALSE(empty.Detect(stream, reader));

    const auto& formats = ZanPlaylistFormats();
    EXPECT_EQ(formats.GetReadableMasks(), u"*.m3u;*.m3u8;*.pls;*.xspf;");
    TZanPlaylistFormats::TFormatInfo info;
    ASSERT_TRUE(formats.FindByExtension(u".M3U8", info));
    EXPECT_EQ(info.WriterClass, &kM3U8PlaylistWriterClass);

    struct TCase {
        std::string Bytes;
        const TZanPlaylistReaderClass* Reader;
    } cases[] = {
        {"\xEF\xBB\xBF#EXTM3U\nx.mp3\n", &kM3UPlaylistReaderClass},
        {std::string(200, ' ') + "[playlist]\nNumberOfEntries=0\n", &kPLSPlaylistReaderClass},
        {"<playlist xmlns=\"http://xspf.org/ns/0/\"/>", &kXSPFReaderClass},
        {std::string(250, '\n') + "#EXTM3U\n", nullptr}, // beyond the 256-byte window
        {"x.mp3\n", nullptr},
        {"", nullptr},
    };
    for (const auto& c : cases) {
        TNuvMemoryStream input(c.Bytes.data(), c.Bytes.size());
        input.SetPosition(int64_t(c.Bytes.size())); // detection reads from the start regardless
        const bool found = formats.Detect(input, reader);
        EXPECT_EQ(found, c.Reader != nullptr) << c.Bytes;
        if (found) {
            EXPECT_TRUE(formats.FindBySignature(ZanDecodeText(c.Bytes, TZanTextEncoding::None), info) &&
                        info.ReaderClass == c.Reader);
        }
    }
    // The mark is not part of the reader's text.
    const std::string marked = "\xEF\xBB\xBF#EXTM3U\n";
    TNuvMemoryStream input(marked.data(), marked.size());
    ASSERT_TRUE(formats.Detect(input, reader));
    EXPECT_EQ(static_cast<TZanPlaylistTextReader&>(*reader).Text(), u"#EXTM3U\n");
}

TEST(ZanNameResolution, BaseFoldersChosenOnceAndWebAddresses) {
    testsupport::TScopedFolder folder;
    std::filesystem::create_directories(folder.Path() / "lists" / "music");
    std::filesystem::create_directories(folder.Path() / "other" / "music");
    std::ofstream(folder.Path() / "other" / "music" / "x.mp3") << "x";
    std::ofstream(folder.Path() / "lists" / "a.m3u") << "#EXTM3U\n";
    // Names in the system's own form, with '\' between the folders on Windows.
    const std::u16string lists = paths::ToNative(folder.File("lists/")),
                         other = paths::ToNative(folder.File("other/")), music = paths::ToNative(u"music/");

    TM3UPlaylistReader reader(paths::ToNative(folder.File("lists/a.m3u")));
    reader.AddBaseFolder(other);
    // The folder holding the first name wins and stays chosen.
    EXPECT_EQ(reader.ResolveFileName(music + u"x.mp3"), other + music + u"x.mp3");
    EXPECT_EQ(reader.ResolveFileName(music + u"y.mp3"), other + music + u"y.mp3");
    EXPECT_EQ(reader.ResolveFileName(paths::ToNative(u"../z.mp3")), paths::ToNative(folder.File("z.mp3")));
    EXPECT_EQ(reader.ResolveFileName(u"http://h/x"), u"http://h/x");
    struct TAbsolute {
        std::u16string Name, Resolved;
    } absolutes[] = {
#ifdef _WIN32
        {u"D:\\abs\\x", u"D:\\abs\\x"},
        {u"\\\\server\\share\\x", u"\\\\server\\share\\x"},
        // Rooted without a drive: on the playlist's drive, whichever folder was chosen.
        {u"\\abs\\x", paths::Drive(other) + u"\\abs\\x"},
        {u"/abs/x", paths::Drive(other) + u"/abs/x"},
#else
        {u"/abs/x", u"/abs/x"},
#endif
    };
    for (const auto& c : absolutes)
        EXPECT_EQ(reader.ResolveFileName(c.Name), c.Resolved) << ToUtf8(c.Name);

    TM3UPlaylistReader alone(paths::ToNative(folder.File("lists/a.m3u")));
    EXPECT_EQ(alone.ResolveFileName(music + u"x.mp3"), lists + music + u"x.mp3");

    struct TCase {
        std::u16string Base, Name, Resolved;
    } cases[] = {
        {u"http://www.foo.com/mp3/list.m3u", u"file1.mp3", u"http://www.foo.com/mp3/file1.mp3"},
        {u"http://www.foo.com/mp3/list.m3u", u"/x/../file2.mp3", u"http://www.foo.com/file2.mp3"},
        {u"http://www.foo.com/mp3/list.m3u", u"../../a.mp3?x=1", u"http://www.foo.com/a.mp3?x=1"},
        {u"http://www.foo.com", u"a.mp3", u"http://www.foo.com/a.mp3"},
        {u"https://h/l.pls?id=3", u"//cdn/s", u"https://cdn/s"},
        {u"https://h/l.pls?id=3", u"?id=4", u"https://h/l.pls?id=4"},
        {u"https://h/l.pls", u"rtsp://other/s", u"rtsp://other/s"},
        {u"https://h/l.pls", u"", u""},
#ifdef _WIN32
        {u"file:///C:/srv/lists/l.m3u", u"a.mp3", u"C:\\srv\\lists\\a.mp3"},
        {u"file:////server/share/l.m3u", u"a.mp3", u"\\\\server\\share\\a.mp3"},
#else
        {u"file:///srv/lists/l.m3u", u"a.mp3", u"/srv/lists/a.mp3"},
#endif
    };
    for (const auto& c : cases) {
        TM3UPlaylistReader web(new TNuvMemoryStream(), true);
        web.SetBaseAddress(c.Base);
        EXPECT_EQ(web.ResolveFileName(c.Name), c.Resolved) << ToUtf8(c.Base) << " " << ToUtf8(c.Name);
    }
}

TEST(ZanNameResolution, WritersStoreNamesRelativeToTheBasePath) {
    struct TCase {
        std::u16string Base, Name, Stored;
    } cases[] = {
#ifdef _WIN32
        {u"C:\\Users\\u\\Lists", u"C:\\Users\\u\\Lists\\a.mp3", u"a.mp3"},
        {u"C:\\Users\\u\\Lists\\", u"c:\\users\\u\\Music\\a.mp3", u"..\\Music\\a.mp3"},
        {u"C:\\Users\\u\\Lists\\2024", u"C:\\Users\\u\\Music\\a.mp3", u"..\\..\\Music\\a.mp3"},
        {u"C:\\a\\b", u"C:\\x\\a.mp3", u"..\\..\\x\\a.mp3"},
        {u"C:\\a\\b\\c\\d", u"C:\\x\\a.mp3", u"\\x\\a.mp3"}, // more than two levels up to the drive root
        {u"C:\\a\\b", u"D:\\x\\a.mp3", u"D:\\x\\a.mp3"},
        {u"\\\\server\\share\\lists", u"\\\\server\\share\\music\\a.mp3", u"..\\music\\a.mp3"},
        {u"C:\\Users\\u\\Lists", u"http://h/a.mp3", u"http://h/a.mp3"},
        {u"C:\\Users\\u\\Lists", u"rel\\a.mp3", u"rel\\a.mp3"},
#else
        {u"/home/u/lists", u"/home/u/lists/a.mp3", u"a.mp3"},
        {u"/home/u/lists/", u"/home/u/music/a.mp3", u"../music/a.mp3"},
        {u"/home/u/lists/2024", u"/home/u/music/a.mp3", u"../../music/a.mp3"},
        {u"/a/b/c/d", u"/x/a.mp3", u"/x/a.mp3"}, // more than two levels up to the root: absolute
        {u"/home/u/lists", u"http://h/a.mp3", u"http://h/a.mp3"},
        {u"/home/u/lists", u"rel/a.mp3", u"rel/a.mp3"},
#endif
    };
    for (const auto& c : cases)
        EXPECT_EQ(TZanPlaylistWriter::MakeRelative(c.Base, c.Name), c.Stored) << ToUtf8(c.Name);
}
