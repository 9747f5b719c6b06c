#include "nuv/Nuv.SQLite3.h"

#include "nuv/Nuv.Strings.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <cmath>
#include <fstream>
#include <limits>
#include <thread>

using namespace std::string_literals;

namespace {

using testsupport::TScopedFolder;

std::u16string QueryText(TNuvSQLiteBase& db, std::u16string_view sql) {
    std::unique_ptr<TNuvSQLiteTable> table;
    if (!db.Query(sql, table))
        return u"<no row>";
    if (table->Columns()[0].Kind == TNuvSQLiteColumnKind::Null)
        return u"<null>";
    return std::u16string(table->ReadText(0));
}

struct TDatabaseTest : ::testing::Test {
    TScopedFolder folder;
    TNuvSQLiteBase db{folder.File("test.db")};
};

} // namespace

// ---- key-list functions ----

using SQLiteKeyFunctions = TDatabaseTest;

TEST_F(SQLiteKeyFunctions, AnswerAsKeyListsRequire) {
    struct Case {
        const char16_t* sql;
        const char16_t* expected;
    };
    const Case cases[] = {
        // Whole items only, case counts; two empty texts match.
        {u"SELECT KeyContains('rock;pop', 'pop');", u"1"},
        {u"SELECT KeyContains('rock;pop', 'rock');", u"1"},
        {u"SELECT KeyContains('rock;pop', 'ro');", u"0"},
        {u"SELECT KeyContains('rock;pop', 'op');", u"0"},
        {u"SELECT KeyContains('rock;pop', 'Pop');", u"0"},
        {u"SELECT KeyContains('', '');", u"1"},
        {u"SELECT KeyContains(NULL, '');", u"1"},
        {u"SELECT KeyContains('rock', '');", u"0"},
        {u"SELECT KeyContains('rock', 'rock;pop');", u"0"},
        {u"SELECT KeyContains('a;;b', '');", u"0"},
        {u"SELECT KeyContainsOneFrom('jazz;blues', 'pop', 'blues');", u"1"},
        {u"SELECT KeyContainsOneFrom('jazz;blues', 'pop', 'Blues');", u"0"},
        {u"SELECT KeyContainsOneFrom('jazz;blues');", u"0"},
        // Items read as integers; anything but [-]digits counts as 0.
        {u"SELECT KeyContainsOneFromRange('64;128', 100, 200);", u"1"},
        {u"SELECT KeyContainsOneFromRange('64;96', 100, 200);", u"0"},
        {u"SELECT KeyContainsOneFromRange('abc', 0, 10);", u"1"},
        {u"SELECT KeyContainsOneFromRange('abc', 1, 10);", u"0"},
        {u"SELECT KeyContainsOneFromRange('', 0, 0);", u"1"},
        {u"SELECT KeyContainsOneFromRange('-5', -10, -1);", u"1"},
        {u"SELECT KeyContainsOneFromRange('\uFF11\uFF12\uFF18', 128, 128);", u"1"},
        {u"SELECT KeyContainsOneFromRange('12a', 12, 12);", u"0"},
        {u"SELECT KeyContainsOneFromRange('99999999999999999999', 1, 9223372036854775807);", u"0"},
        {u"SELECT KeyExclude('a;b;c', 'b');", u"a;c"},
        {u"SELECT KeyExclude('a;b', 'b');", u"a"},
        {u"SELECT KeyExclude('a;b', 'a');", u"b"},
        {u"SELECT KeyExclude('a;b', 'x');", u"a;b"},
        {u"SELECT KeyExclude('ab;b', 'b');", u"ab"},
        {u"SELECT KeyExclude('a;;b;c', 'c');", u"a;b"},
        {u"SELECT KeyInclude('', 'x');", u"x"},
        {u"SELECT KeyInclude(NULL, 'x');", u"x"},
        {u"SELECT KeyInclude('a', 'x');", u"a;x"},
        {u"SELECT KeyInclude('a;x', 'x');", u"a;x"},
        {u"SELECT KeyInclude('a;', 'x');", u"a;x"},
#ifdef _WIN32
        // The system maps case one character for one: sharp s stays.
        {u"SELECT Upper('Stra\u00dfe \u00e9t\u00e9');", u"STRA\u00dfE \u00c9T\u00c9"},
#else
        {u"SELECT Upper('Stra\u00dfe \u00e9t\u00e9');", u"STRASSE \u00c9T\u00c9"},
#endif
        {u"SELECT Lower('\u00c9T\u00c9 ABC');", u"\u00e9t\u00e9 abc"},
        {u"SELECT Upper(NULL);", u""},
        {u"SELECT Upper(128);", u"128"},
        {u"SELECT Base64('');", u""},
        {u"SELECT Base64('Radio');", u"UmFkaW8="},
        {u"SELECT Base64('M\u00e4r');", u"TcOkcg=="},
    };
    for (const Case& c : cases)
        EXPECT_EQ(QueryText(db, c.sql), c.expected) << ToUtf8(c.sql);
}

TEST_F(SQLiteKeyFunctions, WrongArgumentCountsFailToCompile) {
    EXPECT_THROW(db.Exec(u"SELECT KeyContains('a');"), ENuvSQLiteError);
    EXPECT_THROW(db.Exec(u"SELECT KeyExclude('a', 'b', 'c');"), ENuvSQLiteError);
}

// ---- collations ----

using SQLiteCollations = TDatabaseTest;

TEST_F(SQLiteCollations, CompareAsTheirNamesPromise) {
    struct Case {
        const char16_t* a;
        const char16_t* b;
        const char16_t* collation;
        int expected;
    };
    const Case cases[] = {
        {u"Track 9", u"Track 10", u"LOGICAL", -1},
        {u"a", u"A", u"LOGICAL", 0},
        {u"007", u"7", u"LOGICAL", 0},
        {u"x2y", u"x10", u"LOGICAL", -1},
        {u"Track \uFF19", u"Track 10", u"LOGICAL", -1},
        {u"Track", u"Track 1", u"LOGICAL", -1},
        {u"b1", u"a2", u"LOGICAL", 1},
        {u"1", u"a", u"LOGICAL", -1},
        {u"123456789012345678901234567890", u"99999999999999999999", u"LOGICAL", 1},
        {u"", u"", u"LOGICAL", 0},
        {u"rock", u"ROCK", u"NOCASE", 0},
        {u"\u00e9t\u00e9", u"\u00c9T\u00c9", u"NOCASE", 0},
        {u"ete", u"\u00e9t\u00e9", u"NOCASE", -1},
        {u"apple", u"Banana", u"UNICODE", -1},
        {u"Zebra", u"apple", u"UNICODE", 1},
    };
    for (const Case& c : cases) {
        const std::u16string sql = u"SELECT CASE WHEN " + QuoteValue(c.a) + u" = " + QuoteValue(c.b) +
                                   u" COLLATE " + c.collation + u" THEN 0 WHEN " + QuoteValue(c.a) + u" < " +
                                   QuoteValue(c.b) + u" COLLATE " + c.collation + u" THEN -1 ELSE 1 END;";
        EXPECT_EQ(db.ExecInt(sql), c.expected) << ToUtf8(sql);
    }
}

TEST_F(SQLiteCollations, LogicalOrdersARealList) {
    db.Exec(u"CREATE TABLE T (Name TEXT);");
    for (const char16_t* name : {u"Track 10", u"track 2", u"Track 1", u"Track 02b", u"Album"})
        db.Exec(u"INSERT INTO T VALUES (" + QuoteValue(name) + u");");
    std::unique_ptr<TNuvSQLiteTable> table;
    ASSERT_TRUE(db.Query(u"SELECT Name FROM T ORDER BY Name COLLATE LOGICAL;", table));
    std::vector<std::u16string> order;
    do
        order.emplace_back(table->ReadText(0));
    while (table->NextRow());
    EXPECT_EQ(order,
              (std::vector<std::u16string>{u"Album", u"Track 1", u"track 2", u"Track 02b", u"Track 10"}));
}

// ---- literals and the builder ----

TEST(SQLiteQuoteValue, WritesLiteralsSQLiteReadsBack) {
    struct Case {
        std::u16string got;
        std::u16string expected;
    };
    const Case cases[] = {
        {QuoteValue(u"plain"), u"'plain'"},
        {QuoteValue(u""), u"''"},
        {QuoteValue(u"Rock'n'Roll ''FM''"), u"'Rock''n''Roll ''''FM'''''"},
        {QuoteValue(u"a\U0001F3B5b\U0001F4FBc"), u"'a b c'"},
        {QuoteValue(u"\uFF71\uFF9F"), u"' '"},
        // Unpaired surrogates are not pairs: they stay.
        {QuoteValue(std::u16string{char16_t(0xD800), u'x'}),
         std::u16string{u'\'', char16_t(0xD800), u'x', u'\''}},
        {QuoteValue(std::u16string{u'e', char16_t(0xD83C)}),
         std::u16string{u'\'', u'e', char16_t(0xD83C), u'\''}},
        {QuoteValue(std::u16string{char16_t(0xDC00), char16_t(0xDC00), char16_t(0xDC00)}),
         std::u16string{u'\'', u' ', char16_t(0xDC00), u'\''}},
        {QuoteValue(std::u16string(u"a\0b", 3)), u"'a b'"},
        {QuoteValue(u"\u00e9\u65e5\uFFFD"), u"'\u00e9\u65e5\uFFFD'"},
        {QuoteValue(nullptr), u"NULL"},
        {QuoteValue(128), u"128"},
        {QuoteValue(int64_t(-9223372036854775807 - 1)), u"-9223372036854775808"},
        {QuoteValue(uint8_t(7)), u"7"},
        {QuoteValue(0.5), u"0.5"},
        {QuoteValue(45123.541666666664), u"45123.541666666664"},
        {QuoteValue(-2.0), u"-2"},
        {QuoteValue(std::nan("")), u"NULL"},
        {QuoteValue(-std::numeric_limits<double>::infinity()), u"-9e999"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.got, c.expected) << ToUtf8(c.expected);
}

TEST(SQLiteQuoteValue, HostileTextsStayInsideTheirLiteral) {
    TScopedFolder folder;
    TNuvSQLiteBase db(folder.File("quote.db"));
    db.Exec(u"CREATE TABLE T (V TEXT);");
    const std::u16string hostile[] = {u"'); DROP TABLE T; --", u"''", u"'", u"\\'",
                                      u"x\0'); DELETE FROM T; --"s};
    for (const std::u16string& text : hostile)
        db.Exec(TNuvSQLQueryBuilder().Raw(u"INSERT INTO T VALUES (").Value(text).Raw(u")").Build());
    EXPECT_EQ(db.ExecInt(u"SELECT Count(*) FROM T;"), 5);
    EXPECT_EQ(QueryText(db, u"SELECT V FROM T WHERE rowid = 1;"), hostile[0]);
    EXPECT_EQ(QueryText(db, u"SELECT V FROM T WHERE rowid = 5;"), u"x '); DELETE FROM T; --");
    EXPECT_EQ(db.ExecInt(u"SELECT " + QuoteValue(45123.541666666664) + u" = 45123.541666666664;"), 1);
}

TEST(SQLQueryBuilder, JoinsPiecesWithTheRightSeparators) {
    EXPECT_EQ(TNuvSQLQueryBuilder()
                  .Raw(u"SELECT * ")
                  .Raw(u" FROM ")
                  .Item(u"Entries")
                  .Raw(u" WHERE ")
                  .Item(u"CatUIID")
                  .Raw(u" = ")
                  .Item(QuoteValue(u"value"))
                  .Build(),
              u"SELECT *  FROM Entries WHERE CatUIID = 'value';");
    EXPECT_EQ(TNuvSQLQueryBuilder()
                  .Raw(u"SELECT ")
                  .Item(u"A")
                  .Item(u"B")
                  .Suffix(u" DESC")
                  .Item(u"C")
                  .From()
                  .Table(u"T")
                  .Raw(u"(x)")
                  .Build(),
              u"SELECT A, B DESC, C FROM T (x);");
    TNuvSQLQueryBuilder builder;
    builder.Raw(u"X ").Item(u"a").Value(1).Value(nullptr);
    EXPECT_EQ(builder.Build(), u"X a, 1, NULL;");
    EXPECT_EQ(builder.Build(), u";");
}

TEST(SQLQueryBuilder, RefusesAnEmptyItem) {
    try {
        TNuvSQLQueryBuilder().Raw(u"SELECT ").Item(u"");
        FAIL() << "no error";
    } catch (const EArgumentError& e) {
        EXPECT_EQ(e.Message(), u"Value cannot be set to an empty value");
    }
}

// ---- the database object ----

using SQLiteDatabase = TDatabaseTest;

TEST_F(SQLiteDatabase, RunsStatementsAndReadsResultSets) {
    db.Exec(u"CREATE TABLE T (ID INTEGER, Name TEXT, Rate DOUBLE, Data BLOB);");
    db.Exec(u"INSERT INTO T VALUES (1, 'one', 1.5, x'00'), (2, NULL, 2.5, NULL);");
    std::unique_ptr<TNuvSQLiteTable> table;
    ASSERT_TRUE(db.Query(u"SELECT * FROM T ORDER BY ID;", table));
    EXPECT_EQ(table->ColumnIndex(u"name"), 1);
    EXPECT_EQ(table->ColumnIndex(u"RATE"), 2);
    EXPECT_EQ(table->ColumnIndex(u"Nam"), -1);
    const auto& columns = table->Columns();
    ASSERT_EQ(columns.size(), 4u);
    EXPECT_EQ(columns[0].Kind, TNuvSQLiteColumnKind::Integer);
    EXPECT_EQ(columns[1].Kind, TNuvSQLiteColumnKind::Text);
    EXPECT_EQ(columns[2].Kind, TNuvSQLiteColumnKind::Float);
    EXPECT_EQ(columns[3].Kind, TNuvSQLiteColumnKind::Blob);
    EXPECT_EQ(columns[1].NameHash, NuvSQLiteNameHash(u"NAME"));
    EXPECT_EQ(table->ReadInt64(0), 1);
    EXPECT_EQ(table->ReadText(1), u"one");
    EXPECT_EQ(table->ReadDouble(2), 1.5);
    ASSERT_TRUE(table->NextRow());
    EXPECT_EQ(table->ReadText(1), u"");
    EXPECT_EQ(table->ReadString(u"ID"), u"2");
    EXPECT_FALSE(table->NextRow());
    table.reset();

    EXPECT_EQ(db.ExecInt(u"SELECT Count(*) FROM T;"), 2);
    EXPECT_EQ(db.ExecInt(u"SELECT ID FROM T WHERE ID > 5;"), -1);
    EXPECT_FALSE(db.Query(u"SELECT ID FROM T WHERE ID > 5;", table));
    EXPECT_EQ(table, nullptr);
    // A statement that yields rows is not an error for Exec.
    EXPECT_NO_THROW(db.Exec(u"SELECT * FROM T;"));
}

TEST_F(SQLiteDatabase, FailuresCarryTheMessageCodeAndQuery) {
    try {
        db.Exec(u"SELEC nothing;");
        FAIL() << "no error";
    } catch (const ENuvSQLiteError& e) {
        EXPECT_EQ(e.ErrorCode(), SQLITE_ERROR);
        EXPECT_EQ(e.Message(), u"Error: near \"SELEC\": syntax error (1)\r\nLast query:\r\nSELEC nothing;");
    }
    db.Exec(u"CREATE TABLE U (K TEXT UNIQUE);");
    db.Exec(u"INSERT INTO U VALUES ('k');");
    try {
        db.Exec(u"INSERT INTO U VALUES ('k');");
        FAIL() << "no error";
    } catch (const ENuvSQLiteError& e) {
        // Step errors of Exec carry no query text.
        EXPECT_EQ(e.ErrorCode(), SQLITE_CONSTRAINT);
        EXPECT_EQ(e.Message(), u"Error: UNIQUE constraint failed: U.K (19)\r\nLast query:\r\n");
    }
    EXPECT_THROW(db.Query(u"SELECT * FROM Missing;", *std::make_unique<std::unique_ptr<TNuvSQLiteTable>>()),
                 ENuvSQLiteError);
}

TEST_F(SQLiteDatabase, AFailingFirstStepIsAnErrorNotAnEmptyResult) {
    // The statement compiles; the overflow is found while stepping.
    const std::u16string query = u"SELECT abs(-9223372036854775807 - 1);";
    std::unique_ptr<TNuvSQLiteTable> table;
    try {
        db.Query(query, table);
        FAIL() << "no error";
    } catch (const ENuvSQLiteError& e) {
        EXPECT_EQ(e.ErrorCode(), SQLITE_ERROR);
        EXPECT_NE(e.Message().find(u"integer overflow"), std::u16string::npos);
        EXPECT_NE(e.Message().find(query), std::u16string::npos);
    }
    EXPECT_THROW(db.ExecInt(query), ENuvSQLiteError);
}

TEST_F(SQLiteDatabase, ALockedDatabaseIsReportedNotShownEmpty) {
    db.Exec(u"CREATE TABLE T (V INTEGER);");
    db.Exec(u"INSERT INTO T VALUES (1);");
    // Another connection holds an exclusive lock; ours gives up after its busy time-out, which
    // is shortened here so the test stays quick.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open16(db.FileName().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE;", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_busy_timeout(db.Handle(), 50);
    try {
        db.ExecInt(u"SELECT Count(*) FROM T;");
        ADD_FAILURE() << "no error";
    } catch (const ENuvSQLiteError& e) {
        EXPECT_EQ(e.ErrorCode(), SQLITE_BUSY);
    }
    sqlite3_exec(other, "ROLLBACK;", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_EQ(db.ExecInt(u"SELECT Count(*) FROM T;"), 1);
}

TEST_F(SQLiteDatabase, TransactionsCommitOrRollBackAsAWhole) {
    db.Exec(u"CREATE TABLE T (V INTEGER UNIQUE);");
    db.Transaction([&] {
        db.Exec(u"INSERT INTO T VALUES (1);");
        db.Exec(u"INSERT INTO T VALUES (2);");
    });
    EXPECT_EQ(db.ExecInt(u"SELECT Count(*) FROM T;"), 2);

    EXPECT_THROW(db.Transaction([&] {
        db.Exec(u"INSERT INTO T VALUES (3);");
        db.Exec(u"INSERT INTO T VALUES (1);");
    }),
                 ENuvSQLiteError);
    EXPECT_EQ(db.ExecInt(u"SELECT Count(*) FROM T;"), 2);

    // The closure's own error reaches the caller unchanged, after the rollback.
    try {
        db.Transaction([&] {
            db.Exec(u"INSERT INTO T VALUES (4);");
            throw EInvalidOperation(u"stop");
        });
        FAIL() << "no error";
    } catch (const EInvalidOperation& e) {
        EXPECT_EQ(e.Message(), u"stop");
    }
    EXPECT_EQ(db.ExecInt(u"SELECT Count(*) FROM T;"), 2);

    // A closure that already ended the transaction still gets its own error back, not the
    // failure of the rollback that follows.
    EXPECT_THROW(db.Transaction([&] {
        db.Exec(u"ROLLBACK;");
        throw EInvalidOperation(u"after rollback");
    }),
                 EInvalidOperation);
    EXPECT_EQ(sqlite3_get_autocommit(db.Handle()), 1);
}

TEST_F(SQLiteDatabase, RecreateStartsAFreshFile) {
    db.Exec(u"CREATE TABLE T (V INTEGER);");
    db.Recreate();
    EXPECT_EQ(db.ExecInt(u"SELECT Count(*) FROM sqlite_master WHERE name = 'T';"), 0);
    EXPECT_EQ(QueryText(db, u"SELECT KeyInclude('a', 'b');"), u"a;b");
    EXPECT_EQ(db.ExecInt(u"SELECT 'x' = 'X' COLLATE NOCASE;"), 1);
}

TEST(SQLiteOpen, AFileThatIsNotADatabaseIsReported) {
    TScopedFolder folder;
    const std::filesystem::path path = folder.Path() / "garbage.db";
    {
        std::ofstream out(path, std::ios::binary);
        out << std::string(4096, 'x');
    }
    TNuvSQLiteBase db(folder.File("garbage.db"));
    try {
        db.ExecInt(u"SELECT Count(*) FROM sqlite_master;");
        FAIL() << "no error";
    } catch (const ENuvSQLiteError& e) {
        EXPECT_EQ(e.ErrorCode(), SQLITE_NOTADB);
    }
    EXPECT_THROW(TNuvSQLiteBase(folder.File("missing-folder/x.db")), ENuvSQLiteError);
}

// ---- threads ----

TEST(SQLiteThreads, StatementsAndTransactionsFromTwoThreads) {
    ASSERT_EQ(sqlite3_threadsafe(), 1) << "SQLite must run in serialized mode";
    TScopedFolder folder;
    TNuvSQLiteBase db(folder.File("threads.db"));
    // Durability is not under test; without it the test is quick under the sanitizers too.
    db.Exec(u"PRAGMA synchronous = OFF;");
    db.Exec(u"CREATE TABLE T (Thread INTEGER, N INTEGER);");
    constexpr int kRounds = 40;
    std::atomic<bool> failed{false};
    std::atomic<int> partialBatchesSeen{0};

    // One thread writes batches of ten rows per transaction; readers must never see half a batch.
    std::thread writer([&] {
        try {
            for (int round = 0; round < kRounds; ++round)
                db.Transaction([&] {
                    for (int n = 0; n < 10; ++n)
                        db.Exec(TNuvSQLQueryBuilder()
                                    .Raw(u"INSERT INTO T VALUES (")
                                    .Value(1)
                                    .Value(round * 10 + n)
                                    .Raw(u")")
                                    .Build());
                });
        } catch (...) {
            failed = true;
        }
    });
    std::thread reader([&] {
        try {
            for (int round = 0; round < kRounds * 2; ++round) {
                db.Exec(TNuvSQLQueryBuilder()
                            .Raw(u"INSERT INTO T VALUES (")
                            .Value(2)
                            .Value(round)
                            .Raw(u")")
                            .Build());
                if (db.ExecInt(u"SELECT Count(*) FROM T WHERE Thread = 1;") % 10 != 0)
                    ++partialBatchesSeen;
                std::unique_ptr<TNuvSQLiteTable> table;
                if (db.Query(u"SELECT N FROM T WHERE Thread = 2 ORDER BY N;", table)) {
                    int64_t expected = 0;
                    do
                        if (table->ReadInt64(0) != expected++)
                            failed = true;
                    while (table->NextRow());
                }
            }
        } catch (...) {
            failed = true;
        }
    });
    writer.join();
    reader.join();
    EXPECT_FALSE(failed);
    EXPECT_EQ(partialBatchesSeen, 0);
    EXPECT_EQ(db.ExecInt(u"SELECT Count(*) FROM T;"), kRounds * 10 + kRounds * 2);
}
