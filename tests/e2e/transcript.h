// Expected console transcripts of relief_forge, written from the program's
// documented texts, and the answers that go with them.
#pragma once

#include "support/run_program.h"

#include <string>
#include <vector>

namespace transcript {

inline std::string fmt(const char* f, long long v)
{
    char buf[512];
    std::snprintf(buf, sizeof buf, f, v);
    return buf;
}
inline std::string fmt(const char* f, const std::string& v)
{
    char buf[512];
    std::snprintf(buf, sizeof buf, f, v.c_str());
    return buf;
}

inline std::string banner()
{
    const std::string stars(62, '*');
    const std::string empty = "\n\t*" + std::string(60, ' ') + "*";
    std::string b = "\n\n\t" + stars + empty;
    b += "\n\t*                      RELIEF_FORGE                          *";
    b += empty + empty + empty + empty;
    b += "\n\t*                   Authors : the relief_forge developers    *";
    b += "\n\t*                           First release : December 2026    *";
    b += empty;
    b += "\n\t*                             Last update : December 2026    *";
    b += empty;
    b += "\n\t" + stars;
    b += "\n\n\n\tDigital Elevation Models Generation by contour lines dilation";
    b += "\n\n\tNote : the contour lines used must be provided by Zorvak program";
    return b;
}

const std::string kImage_prompt =
    "\n\tName of the input contour lines image (without extension _c2.raw o _c4.raw) ? ";
const std::string kType_prompt =
    "\n\tType of input image :\n\t\t0 ====> 16 bits (_c2.raw)\n\t\t1 ====> 32 bits (_c4.raw)\n\t\t";
const std::string kLines_prompt = "\n\tNumber of lines   ? ";
const std::string kColumns_prompt = "\n\tNumber of columns ? ";
const std::string kPixel_prompt = "\n\tPixel size        ? ";
const std::string kPixel_again = "\n\tPixel size ? ";
const std::string kResult_name_prompt =
    "\n\tName of the resulting DEM (without extension _m2.raw o _m4.raw) ? ";
const std::string kEquid_prompt =
    "\n\tEquidistance of the contour lines (see original .dxf or .kzl files) ? ";
const std::string kMesh_prompt = "\n\tSize of the smoothing mesh (1, 3, 5 or larger odd value) ? ";

inline std::string folder_prompt(const std::string& base)
{
    return "\n\n\tName of the File Folder located in the Directory " + base + " : ";
}
inline std::string no_header(const std::string& path)
{
    return "\n\n\tNo Header File named " + path + " \n\n";
}
inline std::string size_report(int lines, int cols)
{
    return "\n\tTHE INPUT IMAGE HAS : " + fmt("\n\t           %lld LINES", lines) +
           fmt("\n\t       AND %lld COLUMNS\n", cols);
}
inline std::string result_choice(const std::string& image)
{
    return fmt("\n\n\t\t0 -----> Using the generic name %s ? ", image) +
           "\n\t\t1 -----> Creating a file ? \n\t\t";
}
// The dilation lines for passes that inserted `counts` pixels, the last
// count being the final pass's, which is never printed.
inline std::string passes(const std::vector<int>& counts)
{
    std::string s;
    for (std::size_t k = 0; k < counts.size(); ++k) {
        if (k > 0) s += fmt("\n\tnumber of modified pixels = %lld ", counts[k - 1]);
        s += fmt("\n\n\tIterative process number %lld ", static_cast<long long>(k + 1));
    }
    return s;
}
inline std::string saving(int lines, int min, int max)
{
    std::string s = "\n\n\tSaving the result\n\n";
    for (int l = 200; l <= lines; l += 200) s += fmt("\tline %lld\n", l);
    char buf[128];
    std::snprintf(buf, sizeof buf, "\n\tMin = %d  Max = %d", min, max);
    return s + buf + "\n";
}
// The DEM header file's bytes, with the host's line ends.
inline std::string dem_header(int lines, int cols, int val, int min, int max, int pix,
                              const std::string& input, int maille)
{
    char buf[1024];
    std::snprintf(buf, sizeof buf,
                  "%d \n%d \n%d \n%d\n%d\n%d\n\n\tName of the input file : %s \n\n\tSize of the "
                  "window smoothing : %d \n\n\n\t\t\t\t\tDEM built by relief_forge",
                  lines, cols, val, min, max, pix, input.c_str(), maille);
    return host_text(buf);
}

// A dialogue being written: the answers typed and the console text expected.
struct Script {
    std::string in;
    std::string out;
    // Shows `prompt` and types `answer` with its line end.
    Script& ask(const std::string& prompt, const std::string& answer)
    {
        out += prompt;
        in += answer + "\n";
        return *this;
    }
    Script& show(const std::string& text)
    {
        out += text;
        return *this;
    }
};

} // namespace transcript
