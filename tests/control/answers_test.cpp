// The answer reader: words, whole numbers, refusals and the end of input.
#include "base/console.h"
#include "control/control.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>

namespace {

// Feeds `input` as the answers and captures the console.
class Answers : public ::testing::Test {
  protected:
    std::FILE* in = nullptr;
    std::FILE* out = nullptr;

    void feed(const std::string& input)
    {
        if (in) std::fclose(in);
        in = std::tmpfile();
        std::fwrite(input.data(), 1, input.size(), in);
        std::rewind(in);
        answers_from(in);
        if (!out) {
            out = std::tmpfile();
            console_redirect(out);
        }
    }
    // Everything said so far; the sink stays at its end for what follows.
    std::string console()
    {
        std::fflush(out);
        std::string said(static_cast<std::size_t>(std::ftell(out)), '\0');
        std::rewind(out);
        said.resize(std::fread(said.data(), 1, said.size(), out));
        // A write after a read needs a seek in between.
        std::fseek(out, 0, SEEK_END);
        return said;
    }
    void TearDown() override
    {
        answers_from(nullptr);
        console_redirect(nullptr);
        if (in) std::fclose(in);
        if (out) std::fclose(out);
    }
};

} // namespace

TEST_F(Answers, NamesAreWordsAndLeaveTheRestOfTheLine)
{
    feed("  maps hills\n\n  1\n");
    EXPECT_EQ(read_name_answer(), "maps");
    EXPECT_EQ(read_name_answer(), "hills");
    EXPECT_EQ(ask_number("? "), 1);
    EXPECT_EQ(console(), "? ");
}

TEST_F(Answers, NumbersAcceptSignsAndTheIntRange)
{
    feed("-5 +7 0 2147483647 -2147483648\n");
    EXPECT_EQ(ask_number("a"), -5);
    EXPECT_EQ(ask_number("b"), 7);
    EXPECT_EQ(ask_number("c"), 0);
    EXPECT_EQ(ask_number("d"), 2147483647);
    EXPECT_EQ(ask_number("e"), -2147483647 - 1);
    EXPECT_EQ(console(), "abcde");
}

TEST_F(Answers, RefusedNumberDiscardsItsLineAndAsksAgain)
{
    // "12abc" is no whole number; "9" after it on the same line is dropped.
    feed("12abc 9\n2147483648\n--1\n\n\n  42 8\n");
    EXPECT_EQ(ask_number("? "), 42);
    EXPECT_EQ(console(), "? \n\tNot a whole number : 12abc \n? \n\tNot a whole number : 2147483648 "
                         "\n? \n\tNot a whole number : --1 \n? ");
    EXPECT_EQ(ask_number(": "), 8);
}

TEST_F(Answers, RefusalEndingItsLineDoesNotEatTheNextLine)
{
    feed("x\n5\n");
    EXPECT_EQ(ask_number("? "), 5);
}

TEST_F(Answers, EndOfInputStopsTheRun)
{
    feed("  \n\t");
    EXPECT_THROW(ask_number("? "), Run_error);
    feed("");
    EXPECT_THROW(read_name_answer(), Run_error);
    // A refusal at the end of the input must not loop.
    feed("abc");
    EXPECT_THROW(ask_number("? "), Run_error);
}

TEST_F(Answers, WaitForKeyTakesOneCharacterOrNone)
{
    feed("xy");
    wait_for_key();
    EXPECT_EQ(read_name_answer(), "y");
    feed("");
    wait_for_key();
}
