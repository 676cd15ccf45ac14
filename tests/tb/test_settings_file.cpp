// The settings file: defaults, line rules, single pairs, handles, round trips.
#include "Qel_Tb.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <string>

namespace
{
const char* const kKeys[EN_QEL_TB_CONFIG_FILE_ATTRIBUTES] = {
    "ContinueCancelDialogTimeoutMs",
    "NumberOfPagesToContinueCancelDialog",
    "LogEnabled",
    "MaxNumberOfPages",
    "ResetPageCountOnJob",
    "AdditionalDialogDisplayTimeMs",
    "Language",
    "StatusInquiryIntervalMs",
    "LogDays",
    "WidgetAlwaysOnTop",
    "WidgetBorderType",
    "WidgetBorderWidthPixels",
    "ShowDateAndTime",
    "MaximumDialogDisplayTimeMm",
};
const char* const kDefaults[EN_QEL_TB_CONFIG_FILE_ATTRIBUTES] = {
    "10000", "10", "0", "100", "1", "7000", "0", "10000", "7", "1", "1", "5", "1", "60"};

std::string DefaultFileText()
{
    std::string text;
    for (int i = 0; i < EN_QEL_TB_CONFIG_FILE_ATTRIBUTES; ++i)
        text += std::string(kKeys[i]) + "=" + kDefaults[i] + "\n";
    return text;
}

class SettingsFile : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.ok());
        path = dir.file("monitor.conf");
    }

    // Value of key in a file holding content, looked up through readPair.
    std::string Lookup(const std::string& content, const char* key, const char* fallback = "DEF")
    {
        test_support::write_file(path, content);
        const int file = qel_tb_config_file_open(path.c_str(), EV_QEL_TB_CONFIG_ACCESS_READ);
        EXPECT_NE(file, 0);
        char value[QEL_TB_CONFIG_FIELD_SIZE];
        std::memset(value, 'Z', sizeof value);
        qel_tb_config_file_readPair(file, key, value, fallback);
        qel_tb_config_file_close(file);
        return value;
    }

    test_support::TempDir dir;
    std::string path;
};
} // namespace

TEST_F(SettingsFile, InitSetsTheFourteenKeysAndDefaults)
{
    TS_QEL_TB_CONFIG_FILE set;
    std::memset(&set, 'X', sizeof set);
    qel_tb_config_file_init(&set);
    for (int i = 0; i < EN_QEL_TB_CONFIG_FILE_ATTRIBUTES; ++i)
    {
        EXPECT_STREQ(set.attributes[i].key, kKeys[i]) << i;
        EXPECT_STREQ(set.attributes[i].value, kDefaults[i]) << i;
    }
    EXPECT_STREQ(set.attributes[EV_QEL_TB_CONFIG_FILE_KEY_WIDGET_BODER_WIDTH].key,
                 "WidgetBorderWidthPixels");
}

TEST_F(SettingsFile, MissingFileIsCreatedEmptyAndGivesDefaults)
{
    TS_QEL_TB_CONFIG_FILE set;
    qel_tb_config_file_read(path.c_str(), &set);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
    for (int i = 0; i < EN_QEL_TB_CONFIG_FILE_ATTRIBUTES; ++i)
        EXPECT_STREQ(set.attributes[i].value, kDefaults[i]) << i;
}

TEST_F(SettingsFile, ReadThenWriteStoresExactlyTheFourteenLines)
{
    test_support::write_file(path, "# old comment\nUnknownKey=1\nLogDays = 30\n");
    TS_QEL_TB_CONFIG_FILE set;
    qel_tb_config_file_read(path.c_str(), &set);
    EXPECT_STREQ(set.attributes[EV_QEL_TB_CONFIG_FILE_KEY_LOG_FILE_LIFE].value, "30");
    std::strcpy(set.attributes[EV_QEL_TB_CONFIG_FILE_KEY_LOG_FILE_LIFE].value, "7");
    qel_tb_config_file_write(path.c_str(), &set);
    EXPECT_EQ(test_support::read_file(path), DefaultFileText());
}

TEST_F(SettingsFile, WriteReadRoundTripKeepsChangedValues)
{
    TS_QEL_TB_CONFIG_FILE set;
    qel_tb_config_file_init(&set);
    std::strcpy(set.attributes[EV_QEL_TB_CONFIG_FILE_KEY_LANGUAGE].value, "de");
    std::strcpy(set.attributes[EV_QEL_TB_CONFIG_FILE_KEY_MAXIMUM_DIALOG_TIME].value, "120");
    std::strcpy(set.attributes[EV_QEL_TB_CONFIG_FILE_KEY_PAUSE_TIME].value, "");
    qel_tb_config_file_write(path.c_str(), &set);

    TS_QEL_TB_CONFIG_FILE back;
    qel_tb_config_file_read(path.c_str(), &back);
    for (int i = 0; i < EN_QEL_TB_CONFIG_FILE_ATTRIBUTES; ++i)
        EXPECT_STREQ(back.attributes[i].value, set.attributes[i].value) << i;
}

TEST_F(SettingsFile, KeysAndValuesAreTrimmedAndMatchedExactly)
{
    EXPECT_EQ(Lookup("  LogEnabled \t=  1 \r\n", "LogEnabled"), "1");
    EXPECT_EQ(Lookup("logenabled=1\n", "LogEnabled"), "DEF");
    EXPECT_EQ(Lookup("LogEnabledX=1\n", "LogEnabled"), "DEF");
    EXPECT_EQ(Lookup("LogEnabled=1\nLogEnabled=2\n", "LogEnabled"), "1");
    EXPECT_EQ(Lookup("Other=5\nLogEnabled=2", "LogEnabled"), "2");
}

TEST_F(SettingsFile, EqualsSignsDelimitRuns)
{
    EXPECT_EQ(Lookup("Language=de=x\n", "Language"), "de");
    EXPECT_EQ(Lookup("==Language==fr\n", "Language"), "fr");
    // A bare "=" and its line end yield an empty value...
    EXPECT_EQ(Lookup("Language=\n", "Language"), "");
    // ...but at the very end of the file nothing follows the "=".
    EXPECT_EQ(Lookup("Language=", "Language"), "DEF");
    EXPECT_EQ(Lookup("Language\nLanguage 3\n", "Language"), "DEF");
}

TEST_F(SettingsFile, CommentsAndBlankLines)
{
    EXPECT_EQ(Lookup("#Language=1\n\nLanguage=2\n", "Language"), "2");
    // Only a '#' in the first column makes a comment; " #Language" trims to
    // "#Language", which is a key of its own.
    EXPECT_EQ(Lookup(" #Language=1\n", "Language"), "DEF");
    EXPECT_EQ(Lookup(" #Language=1\n", "#Language"), "1");
}

TEST_F(SettingsFile, LongLinesAreReadInPieces)
{
    // 255 characters of filler end the first piece; the rest is a line of its own.
    const std::string filler = "Filler=" + std::string(248, 'f');
    ASSERT_EQ(filler.size(), 255u);
    EXPECT_EQ(Lookup(filler + "Language=it\n", "Language"), "it");

    // A value longer than the field is cut to 254 characters.
    const std::string big = "LogDays=" + std::string(240, '9') + "\n";
    EXPECT_EQ(Lookup(big, "LogDays"), std::string(240, '9'));
    TS_QEL_TB_CONFIG_FILE set;
    test_support::write_file(path, "Language=" + std::string(600, 'L') + "\n");
    qel_tb_config_file_read(path.c_str(), &set);
    const std::string got = set.attributes[EV_QEL_TB_CONFIG_FILE_KEY_LANGUAGE].value;
    EXPECT_LE(got.size(), 254u);
    EXPECT_EQ(got, std::string(got.size(), 'L'));
}

TEST_F(SettingsFile, DefaultMayBeTheOutputField)
{
    test_support::write_file(path, "LogDays=3\n");
    const int file = qel_tb_config_file_open(path.c_str(), EV_QEL_TB_CONFIG_ACCESS_READ);
    ASSERT_NE(file, 0);
    char value[QEL_TB_CONFIG_FIELD_SIZE] = "kept";
    qel_tb_config_file_readPair(file, "Language", value, value);
    EXPECT_STREQ(value, "kept");
    // Each call rewinds: the order of lookups does not matter.
    qel_tb_config_file_readPair(file, "LogDays", value, value);
    EXPECT_STREQ(value, "3");
    qel_tb_config_file_readPair(file, "LogDays", value, "x");
    EXPECT_STREQ(value, "3");
    qel_tb_config_file_close(file);
}

TEST_F(SettingsFile, WritePairWritesPairsAndComments)
{
    const int file = qel_tb_config_file_open(path.c_str(), EV_QEL_TB_CONFIG_ACCESS_WRITE);
    ASSERT_NE(file, 0);
    qel_tb_config_file_writePair(file, "# written by hand", "ignored");
    qel_tb_config_file_writePair(file, "Language", "en");
    qel_tb_config_file_writePair(file, nullptr, "lost");
    qel_tb_config_file_close(file);
    EXPECT_EQ(test_support::read_file(path), "# written by hand\nLanguage=en\n");

    // Write mode cuts an existing file to nothing.
    const int again = qel_tb_config_file_open(path.c_str(), EV_QEL_TB_CONFIG_ACCESS_WRITE);
    ASSERT_NE(again, 0);
    qel_tb_config_file_close(again);
    EXPECT_EQ(test_support::read_file(path), "");
}

TEST_F(SettingsFile, StaleAndUnknownHandlesAreRefused)
{
    const int file = qel_tb_config_file_open(path.c_str(), EV_QEL_TB_CONFIG_ACCESS_WRITE);
    ASSERT_NE(file, 0);
    qel_tb_config_file_writePair(file, "LogDays", "1");
    qel_tb_config_file_close(file);

    // The closed handle, a handle never issued and 0 do nothing at all.
    for (int bad : {file, 0, -1, 12345, 0x7FFFFFFF})
    {
        qel_tb_config_file_writePair(bad, "Language", "xx");
        char value[QEL_TB_CONFIG_FIELD_SIZE] = "";
        qel_tb_config_file_readPair(bad, "LogDays", value, "fallback");
        EXPECT_STREQ(value, "fallback") << bad;
        qel_tb_config_file_close(bad);
    }
    EXPECT_EQ(test_support::read_file(path), "LogDays=1\n");

    // A new stream on the reused slot gets a different handle.
    const int next = qel_tb_config_file_open(path.c_str(), EV_QEL_TB_CONFIG_ACCESS_READ);
    ASSERT_NE(next, 0);
    EXPECT_NE(next, file);
    char value[QEL_TB_CONFIG_FIELD_SIZE] = "";
    qel_tb_config_file_readPair(file, "LogDays", value, "stale");
    EXPECT_STREQ(value, "stale");
    qel_tb_config_file_readPair(next, "LogDays", value, "stale");
    EXPECT_STREQ(value, "1");
    qel_tb_config_file_close(next);
}

TEST_F(SettingsFile, UnopenableFilesAreSilent)
{
    const std::string nowhere = dir.file("none/monitor.conf");
    EXPECT_EQ(qel_tb_config_file_open(nowhere.c_str(), EV_QEL_TB_CONFIG_ACCESS_READ), 0);
    EXPECT_EQ(qel_tb_config_file_open(nowhere.c_str(), EV_QEL_TB_CONFIG_ACCESS_WRITE), 0);
    EXPECT_EQ(qel_tb_config_file_open(path.c_str(), static_cast<ET_QEL_TB_CONFIG_ACCESS>(2)), 0);
    EXPECT_EQ(qel_tb_config_file_open(nullptr, EV_QEL_TB_CONFIG_ACCESS_READ), 0);

    TS_QEL_TB_CONFIG_FILE set;
    std::memset(&set, 0, sizeof set);
    qel_tb_config_file_read(nowhere.c_str(), &set);
    EXPECT_STREQ(set.attributes[EV_QEL_TB_CONFIG_FILE_KEY_LOG_STATUS].value, "0");
    qel_tb_config_file_write(nowhere.c_str(), &set);
    struct stat st;
    EXPECT_NE(stat(nowhere.c_str(), &st), 0);
}

TEST(Trim, RemovesWhiteSpaceAtBothEnds)
{
    char words[] = "  a b  ";
    EXPECT_EQ(qel_tb_trim(words), words);
    EXPECT_STREQ(words, "a b");
    char blank[] = " \t\n\v\f\r ";
    EXPECT_STREQ(qel_tb_trim(blank), "");
    char empty[] = "";
    EXPECT_STREQ(qel_tb_trim(empty), "");
    char inner[] = "\tx\ty\r\n";
    EXPECT_STREQ(qel_tb_trim(inner), "x\ty");
    EXPECT_EQ(qel_tb_trim(nullptr), nullptr);
}
