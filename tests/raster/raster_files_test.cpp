// Byte layouts of the rasters and text layouts of the headers.
#include "nrutil.h"
#include "raster/raster_files.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// A temporary in-memory-backed file holding `bytes`, positioned at its start.
std::FILE* file_with(const std::string& bytes)
{
    std::FILE* f = std::tmpfile();
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::rewind(f);
    return f;
}

std::string contents(std::FILE* f)
{
    std::fflush(f);
    std::rewind(f);
    std::string s;
    int c;
    while ((c = std::getc(f)) != EOF) s.push_back(static_cast<char>(c));
    return s;
}

struct Header_case {
    const char* name;
    const char* text;
    int count;
    std::vector<int> values;
};

} // namespace

TEST(HeaderValues, ReadLikeSixDecimalConversions)
{
    const Header_case cases[] = {
        {"six_lines", "2\n3\n2\n0\n65535\n25\n", 6, {2, 3, 2, 0, 65535, 25}},
        {"crlf", "2\r\n3\r\n4\r\n-99999\r\n10\r\n5\r\n", 6, {2, 3, 4, -99999, 10, 5}},
        {"tabs_and_signs", "\t+7 -8\t9 \f10\v11 12", 6, {7, -8, 9, 10, 11, 12}},
        {"extra_text_ignored", "1 2 3 4 5 6 7 text", 6, {1, 2, 3, 4, 5, 6}},
        {"three_values", "2 3 4\n", 3, {2, 3, 4}},
        {"stops_at_word", "2 3 x 5 6 7", 2, {2, 3}},
        {"digits_then_letters", "12abc 5", 1, {12}},
        {"sign_alone", "4 - 5", 1, {4}},
        {"int_limits", "2147483647 -2147483648", 2, {2147483647, -2147483648}},
        {"too_large_stops", "5 2147483648 7", 1, {5}},
        {"huge_stops", "5 -99999999999999999999999 7", 1, {5}},
        {"empty", "", 0, {}},
    };
    for (const Header_case& c : cases) {
        SCOPED_TRACE(c.name);
        int out[6] = {-1, -1, -1, -1, -1, -1};
        const std::string text = c.text;
        ASSERT_EQ(parse_header_values(text.data(), text.size(), out), c.count);
        for (int k = 0; k < c.count; ++k) EXPECT_EQ(out[k], c.values[static_cast<std::size_t>(k)]);
        for (int k = c.count; k < 6; ++k) EXPECT_EQ(out[k], -1) << "value " << k << " written";
    }
}

TEST(InputHeader, FieldsNotReadKeepTheirContents)
{
    Program_state s;
    s.val = 2;
    std::FILE* f = file_with("7 9 4");
    EXPECT_EQ(read_input_header(f, s), 3);
    std::fclose(f);
    EXPECT_EQ(s.nb_lig, 7);
    EXPECT_EQ(s.nb_col, 9);
    EXPECT_EQ(s.val, 4);
    EXPECT_EQ(s.min_al, 0);
    EXPECT_EQ(s.max_al, 0);
    EXPECT_EQ(s.taille_pix, 0);
}

TEST(DemHeader, HasItsLinesAndReadsBackAsAnInputHeader)
{
    std::FILE* f = std::tmpfile();
    ASSERT_TRUE(write_dem_header_start(f, 2, 3, 2));
    ASSERT_TRUE(write_dem_header_end(f, 12, 980, 25, "/home/u/images/maps/ex_c2.raw", 3));
    const std::string text = contents(f);
    EXPECT_EQ(text, "2 \n3 \n2 \n12\n980\n25\n\n\tName of the input file : "
                    "/home/u/images/maps/ex_c2.raw \n\n\tSize of the window smoothing : 3 "
                    "\n\n\n\t\t\t\t\tDEM built by relief_forge");

    std::rewind(f);
    Program_state s;
    EXPECT_EQ(read_input_header(f, s), 6);
    std::fclose(f);
    EXPECT_EQ(s.nb_lig, 2);
    EXPECT_EQ(s.nb_col, 3);
    EXPECT_EQ(s.val, 2);
    EXPECT_EQ(s.min_al, 12);
    EXPECT_EQ(s.max_al, 980);
    EXPECT_EQ(s.taille_pix, 25);
}

TEST(CreatedHeader, IsTwoGroupsOfThreeLines)
{
    std::FILE* f = std::tmpfile();
    ASSERT_TRUE(write_input_header_group(f, 2, 3, 2));
    ASSERT_TRUE(write_input_header_group(f, 0, 65535, 25));
    EXPECT_EQ(contents(f), "2\n3\n2\n0\n65535\n25\n");
    std::fclose(f);
}

TEST(Raster16, ReadsLittleEndianUnsignedAndWidensWithoutSign)
{
    std::FILE* f = file_with(std::string("\x64\x00\xC8\x00\x2C\x01\x00\x00\xFF\xFF\xE8\x03", 12));
    unsigned short** j = usmatrice(3, 2);
    int** itab = imatrice(3, 2);
    ASSERT_TRUE(read_rows16(f, j, 2, 3));
    std::fclose(f);
    widen16(j, itab, 2, 3);
    const int expected[2][3] = {{100, 200, 300}, {0, 65535, 1000}};
    for (int i = 0; i < 2; ++i)
        for (int c = 0; c < 3; ++c) EXPECT_EQ(itab[i][c], expected[i][c]);
    frusmatrice(j, 2);
    frimatrice(itab, 2);
}

TEST(Raster16, NarrowingKeepsTheLow16Bits)
{
    int** itab = imatrice(3, 1);
    unsigned short** j = usmatrice(3, 1);
    itab[0][0] = -1;
    itab[0][1] = 70000;
    itab[0][2] = 65536;
    narrow16(itab, j, 1, 3);
    std::FILE* f = std::tmpfile();
    ASSERT_TRUE(write_rows16(f, j, 1, 3));
    EXPECT_EQ(contents(f), std::string("\xFF\xFF\x70\x11\x00\x00", 6));
    std::fclose(f);
    frimatrice(itab, 1);
    frusmatrice(j, 1);
}

TEST(Raster32, NoDataAndNegativeValuesRoundTrip)
{
    const std::string bytes("\xFA\x00\x00\x00\x61\x79\xFE\xFF\x2C\x01\x00\x00", 12);
    std::FILE* f = file_with(bytes);
    int** itab = imatrice(3, 1);
    ASSERT_TRUE(read_rows32(f, itab, 1, 3));
    std::fclose(f);
    EXPECT_EQ(itab[0][0], 250);
    EXPECT_EQ(itab[0][1], -99999);
    EXPECT_EQ(itab[0][2], 300);

    itab[0][0] = -1;
    itab[0][2] = 70000;
    std::FILE* g = std::tmpfile();
    ASSERT_TRUE(write_rows32(g, itab, 1, 3));
    EXPECT_EQ(contents(g), std::string("\xFF\xFF\xFF\xFF\x61\x79\xFE\xFF\x70\x11\x01\x00", 12));
    std::fclose(g);
    frimatrice(itab, 1);
}

TEST(Raster32, ShortFileIsReportedAndSizeIsKnown)
{
    std::FILE* f = file_with(std::string(11, '\0'));
    EXPECT_EQ(file_size(f), 11);
    int** itab = imatrice(3, 1);
    EXPECT_FALSE(read_rows32(f, itab, 1, 3));
    std::fclose(f);
    frimatrice(itab, 1);
}

// Rows move in transfers that follow the memory: lines 0-1 and 3-4 lie side
// by side, line 2 apart; a grid block larger than one transfer takes several.
TEST(Raster32, RowsTransferredAsTheyLieInMemory)
{
    std::vector<int> first(6), apart(3), last(6);
    int* mixed[5] = {first.data(), first.data() + 3, apart.data(), last.data(), last.data() + 3};
    std::string bytes;
    for (int i = 0; i < 5; ++i)
        for (int c = 0; c < 3; ++c) {
            const int v = i * 3 + c + 1;
            bytes += std::string{static_cast<char>(v), 0, 0, 0};
        }
    std::FILE* f = file_with(bytes);
    ASSERT_TRUE(read_rows32(f, mixed, 5, 3));
    std::fclose(f);
    for (int i = 0; i < 5; ++i)
        for (int c = 0; c < 3; ++c) EXPECT_EQ(mixed[i][c], i * 3 + c + 1);
    std::FILE* g = std::tmpfile();
    ASSERT_TRUE(write_rows32(g, mixed, 5, 3));
    EXPECT_EQ(contents(g), bytes);
    std::fclose(g);

    const int cols = 1024, lines = 2051;
    int** grid = igrille(cols, lines);
    int** rows = imatrice(cols, lines);
    ASSERT_TRUE(grid && rows);
    for (int i = 0; i < lines; ++i)
        for (int c = 0; c < cols; ++c) grid[i][c] = i * cols + c;
    std::FILE* h = std::tmpfile();
    ASSERT_TRUE(write_rows32(h, grid, lines, cols));
    std::rewind(h);
    ASSERT_TRUE(read_rows32(h, rows, lines, cols));
    for (int i = 0; i < lines; ++i) ASSERT_EQ(rows[i][cols - 1], i * cols + cols - 1) << i;
    std::fclose(h);
    // One pixel missing at the end fails the last transfer.
    std::FILE* cut = std::tmpfile();
    ASSERT_TRUE(write_rows32(cut, grid, lines - 1, cols));
    std::fwrite(grid[lines - 1], sizeof(int), cols - 1, cut);
    std::rewind(cut);
    EXPECT_FALSE(read_rows32(cut, grid, lines, cols));
    std::fclose(cut);
    frigrille(grid, lines);
    frimatrice(rows, lines);
}

TEST(FileNames, SuffixesFollowThePixelType)
{
    EXPECT_STREQ(contour_raster_suffix(0), "_c2.raw");
    EXPECT_STREQ(input_header_suffix(0), "_c2.txt");
    EXPECT_STREQ(dem_raster_suffix(0), "_m2.raw");
    EXPECT_STREQ(dem_header_suffix(0), "_m2.txt");
    for (int itype : {1, 2, -1}) {
        EXPECT_STREQ(contour_raster_suffix(itype), "_c4.raw");
        EXPECT_STREQ(input_header_suffix(itype), "_c4.txt");
        EXPECT_STREQ(dem_raster_suffix(itype), "_m4.raw");
        EXPECT_STREQ(dem_header_suffix(itype), "_m4.txt");
        EXPECT_EQ(bytes_per_pixel(itype), 4);
    }
    EXPECT_EQ(bytes_per_pixel(0), 2);
}
