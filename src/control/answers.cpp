// The one reader of the user's answers.
#include "base/console.h"
#include "base/host.h"
#include "control/control.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

std::FILE* g_in = nullptr;
std::FILE* in() { return g_in ? g_in : stdin; }

// An interrupt can end a read of the answers: it is reported as itself.
[[noreturn]] void answers_ended()
{
    host_settle_input_end(in());
    interruption_point();
    fail("\n\n\tNo more answers : the run stops \n");
}

// The next white-space-delimited word, or an empty text at end of input. The
// character that ends the word is left in the stream.
std::string next_word()
{
    int c;
    do c = std::getc(in());
    while (c != EOF && std::isspace(c));
    std::string word;
    while (c != EOF && !std::isspace(c)) {
        word.push_back(static_cast<char>(c));
        c = std::getc(in());
    }
    if (c != EOF) std::ungetc(c, in());
    return word;
}

void discard_line()
{
    int c;
    do c = std::getc(in());
    while (c != EOF && c != '\n');
}

// A decimal integer with an optional sign and nothing else, in the int range.
bool parse_int(const std::string& word, int& out)
{
    std::size_t p = (word[0] == '+' || word[0] == '-') ? 1 : 0;
    if (p == word.size()) return false;
    for (std::size_t k = p; k < word.size(); ++k)
        if (word[k] < '0' || word[k] > '9') return false;
    errno = 0;
    const long long v = std::strtoll(word.c_str(), nullptr, 10);
    if (errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
    out = static_cast<int>(v);
    return true;
}

} // namespace

void answers_from(std::FILE* stream) { g_in = stream; }

std::string read_name_answer()
{
    say_flush();
    std::string word = next_word();
    if (word.empty()) answers_ended();
    interruption_point();
    return word;
}

int ask_number(const std::string& prompt)
{
    for (;;) {
        say("%s", prompt.c_str());
        say_flush();
        const std::string word = next_word();
        if (word.empty()) answers_ended();
        interruption_point();
        int v = 0;
        if (parse_int(word, v)) return v;
        say("\n\tNot a whole number : %s \n", word.c_str());
        discard_line();
    }
}

void wait_for_key()
{
    say_flush();
    if (!host_wait_for_key(in())) std::getc(in());
    interruption_point();
}
