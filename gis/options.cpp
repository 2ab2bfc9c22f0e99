// The command line: a command, then GNU-style options and one operand.
#include "gis/gis.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <utility>

namespace {

// Codes of the long options that have no short form.
enum : int {
    opt_cell = 1000,
    opt_like,
    opt_bits16,
    opt_crs,
    opt_empty,
    opt_band,
    opt_preview,
    opt_preview_contours,
    opt_to,
    opt_version,
    opt_extent,
    opt_tap,
    opt_burn,
    opt_clip,
    opt_format,
    opt_z_scale,
    opt_t_srs,
    opt_where,
    opt_spot_heights,
    opt_float,
    opt_co,
    opt_type,
    opt_nodata,
    opt_tr,
    opt_config,
    opt_oversample,
    opt_cutline,
    opt_cl,
    opt_cwhere,
};

// GDAL's single-dash spellings and the long options they stand for.
constexpr std::pair<const char*, const char*> kGdal_spellings[] = {
    {"-of", "--format"},       {"-co", "--co"},           {"-ot", "--type"},
    {"-a_nodata", "--nodata"}, {"-tr", "--tr"},           {"-te", "--extent"},
    {"-tap", "--tap"},         {"-where", "--where"},     {"-t_srs", "--t_srs"},
    {"-a_srs", "--crs"},       {"-cutline", "--cutline"}, {"-cl", "--cl"},
    {"-cwhere", "--cwhere"},
};

struct Command_form {
    Command command;
    const char* name;
    const char* shorts; // getopt's short options, ':' first so a missing argument is told apart
    std::vector<option> longs;
};

const option kHelp = {"help", no_argument, nullptr, 'h'};
const option kQuiet = {"quiet", no_argument, nullptr, 'q'};
const option kEnd = {nullptr, 0, nullptr, 0};
const option kConfig = {"config", required_argument, nullptr, opt_config};

// The import options, shared by import and build.
std::vector<option> import_options(std::vector<option> more)
{
    std::vector<option> v = {
        {"attribute", required_argument, nullptr, 'a'},
        {"layer", required_argument, nullptr, 'l'},
        {"cell", required_argument, nullptr, opt_cell},
        {"like", required_argument, nullptr, opt_like},
        {"16bit", no_argument, nullptr, opt_bits16},
        {"crs", required_argument, nullptr, opt_crs},
        {"empty", required_argument, nullptr, opt_empty},
        {"band", required_argument, nullptr, opt_band},
        {"extent", required_argument, nullptr, opt_extent},
        {"tap", no_argument, nullptr, opt_tap},
        {"burn", required_argument, nullptr, opt_burn},
        {"out", required_argument, nullptr, 'o'},
        {"z-scale", required_argument, nullptr, opt_z_scale},
        {"t_srs", required_argument, nullptr, opt_t_srs},
        {"where", required_argument, nullptr, opt_where},
        {"spot-heights", no_argument, nullptr, opt_spot_heights},
        {"tr", required_argument, nullptr, opt_tr},
        {"a_srs", required_argument, nullptr, opt_crs},
        kConfig,
        kQuiet,
        kHelp,
    };
    v.insert(v.end(), more.begin(), more.end());
    v.push_back(kEnd);
    return v;
}

const std::vector<option> kPreview = {
    {"preview", required_argument, nullptr, opt_preview},
    {"preview-contours", no_argument, nullptr, opt_preview_contours},
};

std::vector<option> with_preview(std::vector<option> v)
{
    v.insert(v.end(), kPreview.begin(), kPreview.end());
    return v;
}

Command_form form_of(Command c)
{
    switch (c) {
    case Command::import:
        return {c, "import", ":a:l:o:qh", import_options({})};
    case Command::build:
        return {c, "build", ":a:l:o:e:s:qh",
                import_options(with_preview({
                    {"equidistance", required_argument, nullptr, 'e'},
                    {"smoothing", required_argument, nullptr, 's'},
                    {"clip", no_argument, nullptr, opt_clip},
                    {"format", required_argument, nullptr, opt_format},
                    {"co", required_argument, nullptr, opt_co},
                    {"type", required_argument, nullptr, opt_type},
                    {"nodata", required_argument, nullptr, opt_nodata},
                    {"float", no_argument, nullptr, opt_float},
                    {"oversample", required_argument, nullptr, opt_oversample},
                    {"cutline", required_argument, nullptr, opt_cutline},
                    {"cl", required_argument, nullptr, opt_cl},
                    {"cwhere", required_argument, nullptr, opt_cwhere},
                }))};
    case Command::export_dem: {
        std::vector<option> v = with_preview({{"to", required_argument, nullptr, opt_to},
                                              {"out", required_argument, nullptr, 'o'},
                                              {"format", required_argument, nullptr, opt_format},
                                              {"co", required_argument, nullptr, opt_co}});
        v.push_back(kConfig);
        v.push_back(kQuiet);
        v.push_back(kHelp);
        v.push_back(kEnd);
        return {c, "export", ":o:qh", v};
    }
    case Command::none:
        break;
    }
    return {c, "", ":hq", {kHelp, {"version", no_argument, nullptr, opt_version}, kEnd}};
}

[[noreturn]] void usage_fail(const std::string& command, const char* fmt, ...)
    __attribute__((format(printf, 2, 3)));

void usage_fail(const std::string& command, const char* fmt, ...)
{
    char text[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    throw Usage_error(text, command);
}

int int_argument(const std::string& cmd, const char* opt, const char* text)
{
    int v = 0;
    if (!parse_int(text, v)) usage_fail(cmd, "invalid number '%s' for %s", text, opt);
    return v;
}

bool is_power_of_ten(int v)
{
    for (int p = 1; p <= kMax_z_factor; p *= 10)
        if (v == p) return true;
    return false;
}

double positive_real_argument(const std::string& cmd, const char* opt, const char* text)
{
    double v = 0;
    if (!parse_real(text, v) || !(v > 0))
        usage_fail(cmd, "invalid size '%s' for %s: a positive number is needed", text, opt);
    return v;
}

// The long options that `seen` ("--c" or "--c=5") abbreviates, each after a
// space, to tell an ambiguous abbreviation from an unknown option.
std::string long_options_starting(const std::vector<option>& longs, const char* seen)
{
    std::string word = seen;
    if (word.rfind("--", 0) != 0) return "";
    word = word.substr(2, word.find('=') == std::string::npos ? std::string::npos
                                                              : word.find('=') - 2);
    std::string found;
    for (const option& o : longs)
        if (o.name && std::strncmp(o.name, word.c_str(), word.size()) == 0)
            found += std::string(" '--") + o.name + "'";
    return found;
}

// Applies one option of a command to `cli`.
void apply_option(Cli& cli, const std::string& cmd, int code, const char* arg)
{
    switch (code) {
    case 'h':
        cli.help = true;
        break;
    case 'q':
        cli.quiet = true;
        break;
    case opt_version:
        cli.version = true;
        break;
    case 'a':
        cli.in.attribute = arg;
        break;
    case 'l':
        cli.in.layers.emplace_back(arg);
        break;
    case opt_cell:
        cli.in.cell = positive_real_argument(cmd, "--cell", arg);
        cli.in.cell_y = 0;
        break;
    case opt_like:
        cli.in.like = arg;
        break;
    case opt_bits16:
        cli.in.bits16 = true;
        break;
    case opt_crs:
        cli.in.crs = arg;
        break;
    case opt_empty:
        cli.in.empty = int_argument(cmd, "--empty", arg);
        cli.in.has_empty = true;
        break;
    case opt_band:
        cli.in.band = int_argument(cmd, "--band", arg);
        if (cli.in.band < 1) usage_fail(cmd, "invalid band '%s': bands are counted from 1", arg);
        break;
    case 'o':
        cli.out = arg;
        break;
    case opt_to:
        cli.out = arg;
        break;
    case 'e':
        if (!parse_real(arg, cli.in.equidistance))
            usage_fail(cmd, "invalid number '%s' for --equidistance", arg);
        if (!(cli.in.equidistance > 0))
            usage_fail(cmd, "invalid equidistance '%s': it must be a positive number", arg);
        break;
    case opt_z_scale:
        cli.in.z_scale = int_argument(cmd, "--z-scale", arg);
        if (!is_power_of_ten(cli.in.z_scale))
            usage_fail(cmd, "invalid --z-scale '%s': a power of ten from 1 to %d is needed", arg,
                       kMax_z_factor);
        break;
    case opt_t_srs:
        cli.in.t_srs = arg;
        break;
    case opt_where:
        cli.in.where = arg;
        break;
    case opt_spot_heights:
        cli.in.spot_heights = true;
        break;
    case opt_float:
        cli.type = "Float32";
        break;
    case opt_type:
        cli.type = arg;
        break;
    case opt_co:
        if (!std::strchr(arg, '=') || *arg == '=')
            usage_fail(cmd, "invalid creation option '%s': NAME=VALUE is needed", arg);
        cli.creation_options.emplace_back(arg);
        break;
    case opt_nodata:
        if (!parse_real(arg, cli.nodata)) usage_fail(cmd, "invalid nodata value '%s'", arg);
        cli.has_nodata = true;
        break;
    case opt_oversample:
        if (std::strcmp(arg, "auto") == 0)
            cli.in.oversample = 0;
        else if (!parse_int(arg, cli.in.oversample) || cli.in.oversample < 1 ||
                 cli.in.oversample > kMax_oversample)
            usage_fail(cmd, "invalid --oversample '%s': auto, or a whole number from 1 to %d", arg,
                       kMax_oversample);
        break;
    case opt_cutline:
        cli.cutline.path = arg;
        break;
    case opt_cl:
        cli.cutline.layer = arg;
        break;
    case opt_cwhere:
        cli.cutline.where = arg;
        break;
    case 's':
        cli.maille = int_argument(cmd, "--smoothing", arg);
        break;
    case opt_preview:
        cli.preview.path = arg;
        break;
    case opt_preview_contours:
        cli.preview.contours = true;
        break;
    case opt_tap:
        cli.in.tap = true;
        break;
    case opt_burn:
        if (std::strcmp(arg, "line") == 0)
            cli.in.all_touched = false;
        else if (std::strcmp(arg, "all-touched") == 0)
            cli.in.all_touched = true;
        else
            usage_fail(cmd, "invalid burn mode '%s': line or all-touched", arg);
        break;
    case opt_clip:
        cli.clip = true;
        break;
    case opt_format:
        cli.format = arg;
        break;
    default:
        break;
    }
}

// --extent XMIN YMIN XMAX YMAX: the first number is the option's argument
// and the next three words follow it, or all four are in the argument,
// separated by commas. Returns the index of the word after them.
int read_extent(Import_options& in, const std::string& cmd, const char* first,
                const std::vector<char*>& args, int next, int n)
{
    std::vector<std::string> words;
    std::string text = first;
    if (text.find(',') != std::string::npos) {
        std::size_t start = 0;
        for (std::size_t comma; (comma = text.find(',', start)) != std::string::npos;
             start = comma + 1)
            words.push_back(text.substr(start, comma - start));
        words.push_back(text.substr(start));
    } else {
        words.push_back(text);
        for (; words.size() < 4 && next < n; ++next)
            words.emplace_back(args[static_cast<std::size_t>(next)]);
    }
    if (words.size() != 4) usage_fail(cmd, "--extent needs four numbers: XMIN YMIN XMAX YMAX");
    for (std::size_t k = 0; k < 4; ++k)
        if (!parse_real(words[k], in.extent[k]))
            usage_fail(cmd, "invalid number '%s' for --extent", words[k].c_str());
    if (!(in.extent[0] < in.extent[2]) || !(in.extent[1] < in.extent[3]))
        usage_fail(cmd, "invalid --extent %s %s %s %s: XMIN must be below XMAX and YMIN below YMAX",
                   words[0].c_str(), words[1].c_str(), words[2].c_str(), words[3].c_str());
    in.has_extent = true;
    return next;
}

// What must be there once the options are read; --help needs nothing.
void check_complete(const Cli& cli, const std::string& cmd,
                    const std::vector<std::string>& operands)
{
    if (cli.help || cli.command == Command::none) return;
    const char* what = cli.command == Command::export_dem ? "DEM" : "contour file";
    if (operands.empty()) usage_fail(cmd, "missing %s operand", what);
    if (operands.size() > 1) usage_fail(cmd, "extra operand '%s'", operands[1].c_str());
    if (cli.out.empty())
        usage_fail(cmd, "missing %s",
                   cli.command == Command::export_dem ? "--to DEM.tif"
                   : cli.command == Command::build    ? "--out DEM.tif"
                                                      : "--out DIR/NAME");
    if (cli.in.cell > 0 && !cli.in.like.empty())
        usage_fail(cmd, "--cell and --like both give the grid: choose one");
    if (cli.preview.contours && cli.preview.path.empty())
        usage_fail(cmd, "--preview-contours needs --preview");
    if ((cli.in.has_extent || cli.in.tap) && !(cli.in.cell > 0))
        usage_fail(cmd, "--extent and --tap shape the grid made on cells of --cell: give --cell");
    if ((!cli.cutline.layer.empty() || !cli.cutline.where.empty()) && cli.cutline.path.empty())
        usage_fail(cmd, "-cl and -cwhere choose the polygons of --cutline: give --cutline");
}

// Whether `word`, an option of `form` written without its argument, takes
// the next word as its argument.
bool takes_separate_argument(const Command_form& form, const std::string& word)
{
    if (word.size() == 2 && word[0] == '-' && word[1] != '-') {
        const char* at = std::strchr(form.shorts, word[1]);
        return at && at[1] == ':';
    }
    if (word.rfind("--", 0) != 0 || word.find('=') != std::string::npos) return false;
    for (const option& o : form.longs)
        if (o.name && word.substr(2) == o.name) return o.has_arg == required_argument;
    return false;
}

} // namespace

bool parse_int(const std::string& text, int& value)
{
    const char* first = text.c_str();
    const char* last = first + text.size();
    if (first != last && *first == '+') ++first;
    int v = 0;
    const auto r = std::from_chars(first, last, v);
    if (first == last || r.ec != std::errc() || r.ptr != last) return false;
    value = v;
    return true;
}

bool parse_real(const std::string& text, double& value)
{
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return false;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(v)) return false;
    value = v;
    return true;
}

const char* command_name(Command c) { return form_of(c).name; }

Cli parse_command_line(int argc, char** argv)
{
    Cli cli;
    std::string first = argc > 0 ? argv[0] : "";
    if (first == "import") cli.command = Command::import;
    if (first == "build") cli.command = Command::build;
    if (first == "export") cli.command = Command::export_dem;
    if (cli.command == Command::none && argc > 0 && first[0] != '-')
        usage_fail("", "unknown command '%s'", first.c_str());

    const Command_form form = form_of(cli.command);
    const std::string cmd = form.name;
    // getopt_long reads from argv[1]: the command (or a placeholder) takes argv[0].
    std::vector<char*> args;
    static char placeholder[] = "relief_forge_gis";
    args.push_back(cli.command == Command::none ? placeholder : argv[0]);
    // GDAL's single-dash spellings become their long options, except where
    // a word is the argument of the option before it.
    std::vector<std::string> spelled;
    spelled.reserve(static_cast<std::size_t>(argc));
    bool argument_next = false;
    for (int k = cli.command == Command::none ? 0 : 1; k < argc; ++k) {
        std::string word = argv[k];
        if (!argument_next)
            for (const auto& [gdal, ours] : kGdal_spellings)
                if (word == gdal) word = ours;
        argument_next = takes_separate_argument(form, word);
        spelled.push_back(word);
    }
    for (std::string& word : spelled) args.push_back(word.data());
    args.push_back(nullptr);
    const int n = static_cast<int>(args.size()) - 1;

    opterr = 0;
    optind = 0; // 0 makes glibc start afresh, so the parser can run more than once
    std::vector<std::string> operands;
    for (;;) {
        const int code = getopt_long(n, args.data(), form.shorts, form.longs.data(), nullptr);
        if (code == -1) break;
        const char* seen = args[static_cast<std::size_t>(optind - 1)];
        if (code == '?') {
            if (optopt != 0 && optopt < 256) usage_fail(cmd, "invalid option -- '%c'", optopt);
            const std::string choices = long_options_starting(form.longs, seen);
            if (choices.find(' ', 1) != std::string::npos)
                usage_fail(cmd, "option '%s' is ambiguous; possibilities:%s", seen,
                           choices.c_str());
            usage_fail(cmd, "unrecognized option '%s'", seen);
        }
        if (code == ':') {
            if (optopt != 0 && optopt < 256 && seen[1] != '-')
                usage_fail(cmd, "option requires an argument -- '%c'", optopt);
            usage_fail(cmd, "option '%s' requires an argument", seen);
        }
        if (code == opt_extent) {
            optind = read_extent(cli.in, cmd, optarg, args, optind, n);
            continue;
        }
        if (code == opt_tr || code == opt_config) {
            const bool tr = code == opt_tr;
            if (optind >= n)
                usage_fail(cmd, tr ? "-tr needs two numbers: XRES YRES"
                                   : "--config needs a key and a value: --config KEY VALUE");
            const char* second = args[static_cast<std::size_t>(optind++)];
            if (tr) {
                cli.in.cell = positive_real_argument(cmd, "-tr", optarg);
                cli.in.cell_y = positive_real_argument(cmd, "-tr", second);
            } else {
                cli.config.emplace_back(optarg, second);
            }
            continue;
        }
        apply_option(cli, cmd, code, optarg);
    }
    for (int k = optind; k < n; ++k) operands.push_back(args[static_cast<std::size_t>(k)]);
    if (cli.command == Command::none && !operands.empty())
        usage_fail("", "unknown command '%s'", operands[0].c_str());
    if (cli.command == Command::none && !cli.help && !cli.version)
        usage_fail("", "missing command");

    check_complete(cli, cmd, operands);
    if (!operands.empty()) {
        if (cli.command == Command::export_dem)
            cli.dem = operands[0];
        else
            cli.in.contours = operands[0];
    }
    return cli;
}
